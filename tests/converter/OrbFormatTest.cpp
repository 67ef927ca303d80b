// The document format's matching rules (which values are prefixes, which
// exact, what unknown values fall back to) and the payload names that must
// never leave the payload directory.
#include <algorithm>
#include <set>

#include "DocumentWriter.h"
#include "OrbFormat.h"
#include "OutputFolder.h"
#include "Support.h"
#include "core/Trovalis.h"

using namespace testsupport;

namespace {

TEST(OrbValues, ValueMatchedOnTheWrongPartOfTheText) {
    EXPECT_EQ(
        (std::vector<bool>{orb::IsPerPixel("per-pixelated"), orb::IsPerPixel("per-pixe"), orb::IsPerPixel(nullptr),
                           orb::IsTilesetEnabled("enabledX"), orb::IsTilesetEnabled("enable")}),
        (std::vector<bool>{true, false, false, true, false}));
    EXPECT_EQ((std::vector<int>{orb::StoreMethodMode("Compressed"), orb::StoreMethodMode("cryptedX"),
                                orb::WidgetTypeCode("buttons"), orb::WidgetTypeCode("unknown")}),
              (std::vector<int>{stored, stored, 0, 0}));
    EXPECT_EQ((std::vector<std::string>{orb::StoreMethodName(7), orb::WidgetTypeName(3), orb::StateSuffix("glowing")}),
              (std::vector<std::string>{"raw", "unknown", ""}));
    EXPECT_EQ(orb::MatchRootChild(nullptr), nullptr);
}

class PayloadNames : public ::testing::Test {
protected:
    SdkSession sdk;  // the CRC of the name uses the core object
    orb::PayloadNamer names;
};

TEST_F(PayloadNames, HostileNamesNeverHoldSeparatorsOrControlCharacters) {
    EXPECT_EQ(names.Make("img_", "logo", ".png"), "img_logo.png");  // clean names are kept
    EXPECT_EQ(names.Make("file_", "data-1.bin", ""), "file_data-1.bin");
    const char* hostile[] = {
        "../../etc/passwd", "/tmp/abs", "a\\b", "..", ".", "\x1b[2Jx", "a/../../b", "1234567890123456789012345678901",
        "tab\there",        ""};
    std::set<std::string> seen;
    for (const char* n : hostile) {
        const std::string file = names.Make("file_", n, "");
        EXPECT_EQ(file.find_first_of("/\\"), std::string::npos) << file;
        for (char c : file) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << file;
        EXPECT_EQ(file.compare(0, 5, "file_"), 0);
        EXPECT_TRUE(seen.insert(file).second) << file;
    }
}

TEST_F(PayloadNames, NamesThatFilterAlikeOrDifferOnlyInCaseStayUnique) {
    std::set<std::string> lower;
    std::vector<std::string> made;
    for (const char* n : {"a/b", "a_b", "a\\b", "A_B", "a_b"}) {  // the same block name twice, too
        std::string s = names.Make("img_", n, ".png");
        made.push_back(s);
        for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(lower.insert(s).second) << s;
    }
    EXPECT_EQ(made[1], "img_a_b.png");
    EXPECT_EQ(made[3], "img_A_B~2.png");
}

// The document written as the export goes must be, byte for byte, what the
// XML library's printer made of the same tree: every byte value and the
// hostile texts below in attribute values, elements with and without
// children at several depths, and (second run) the elements kept aside in
// the scratch file instead of memory.
TEST(StreamedDocument, BytesDifferFromTheXmlLibrarysPrinter) {
    SdkSession sdk;
    std::vector<std::string> values = {"",      "plain", "a&b",    "&#x41;", "&#x\"x", "&amp;",     "q\"uote",
                                       "ap'os", "\"'",   "<tag/>", "]]>",    "x&#x",   "tab\tnl\n", "\xC3\xA9\xFF"};
    for (int c = 1; c < 256; ++c) values.push_back(std::string("v") + char(c) + "w");
    for (size_t keep : {orb::DocumentWriter::kKeepInMemory, size_t(64)}) {
        TempDir dir;
        outwrite::OutputSet files(dir / "d.xml", dir / "d", false);
        ASSERT_EQ(files.Open(), outwrite::OutputSet::Status::Ok);
        const int tree = Trovalis.XMLCreate("ORB");
        ASSERT_GT(tree, 0);
        orb::DocumentWriter doc("ORB", " comment ");
        doc.SpillTo(&files, keep);
        Trovalis.XMLCommentSet(tree, " comment ");
        auto open = [&](const char* tag) {
            Trovalis.XMLNodeCreate(tree, tag);
            doc.Open(tag);
        };
        auto set = [&](const char* name, const std::string& value) {
            Trovalis.XMLAttributeSet(tree, name, value.c_str());
            doc.SetAttribute(name, value);
        };
        auto close = [&] {
            Trovalis.XMLNodeParent(tree);
            doc.Close();
        };
        set("version", "v1");
        for (const std::string& v : values) {
            open("file");  // no children
            set("name", v);
            set("n", std::to_string(v.size()));
            close();
            open("sprite");  // children two levels down
            set("name", v);
            open("animation");
            open("frame");
            set("ms", v);
            close();
            close();
            close();
        }
        open("panel");  // left open, as the export leaves it
        open("widget");
        set("name", "w");
        set("name", "replaced in place");
        close();
        Trovalis.XMLNodePointTo(tree, 1, "ORB");
        Trovalis.XMLAttributeSet(tree, "totalblocks", 7);
        doc.SetRootAttribute("totalblocks", "7");
        std::string printed, streamed;
        ASSERT_EQ(Trovalis.XMLPrint(tree, &printed), 1);
        Trovalis.XMLClose(tree);
        ASSERT_TRUE(doc.WriteTo([&](const void* p, size_t n) {
            streamed.append(static_cast<const char*>(p), n);
            return true;
        }));
        EXPECT_EQ(streamed, printed) << "kept in memory up to " << keep << " bytes";
    }
}

}  // namespace

// The output folder's record of a large run: past the records it keeps in
// memory it reads them back from its scratch file, for names written in an
// order other than the record's (here reversed). Each line must still hold
// its own file's digest and size.
TEST(OutputRecord, LargeRunRecordsAnotherFilesDigest) {
    TempDir dir;
    const int files = 30000;  // more records than are kept in memory
    std::vector<std::string> lines;
    {
        outwrite::OutputSet out(dir / "d.xml", dir / "d", false);
        ASSERT_EQ(out.Open(), outwrite::OutputSet::Status::Ok);
        for (int i = files; i > 0; --i) {
            const std::string name = "f" + std::to_string(i), data = std::string(size_t(i % 7), 'x') + name;
            ASSERT_TRUE(out.Put(name, data.data(), data.size())) << out.error();
            lines.push_back("file " + outwrite::Sha256Hex(data.data(), data.size()) + " " +
                            std::to_string(data.size()) + " " + name);
        }
        ASSERT_EQ(out.Commit("doc", 3), outwrite::OutputSet::Status::Ok);
    }
    std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.rfind(' ') + 1) < b.substr(b.rfind(' ') + 1);
    });
    std::string expected = "bundlex manifest 1\nmain " + outwrite::Sha256Hex("doc", 3) + " 3 d.xml\n";
    for (const std::string& l : lines) expected += l + "\n";
    const std::vector<uint8_t> manifest = ReadFile(dir / "d/.bundlex-manifest");
    EXPECT_TRUE(std::string(manifest.begin(), manifest.end()) == expected);
}
