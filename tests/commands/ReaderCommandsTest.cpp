// The readers of the edit loop.

#include <filesystem>
#include <limits>
#include <map>

#include <tinyxml.h>

#include "CommandsSupport.h"
#include "JsonWriter.h"
#include "Progress.h"
#include "Support.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/Kinds.h"

using namespace testsupport;

namespace {

class Readers : public ::testing::Test {
protected:
    TempDir d, scratch;
    std::string out;
    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, d.path()); }
    void SetUp() override {
        SdkSession sdk;
        BuildEveryKind(d / "p.vlt", scratch.path());
    }
};

// An element as text: tag, attributes (without the payload path, which
// names the document's own folder, and a widget's number in its panel),
// the bytes of its payload file, and its children.
std::string Canon(const TiXmlElement* e, const std::string& dir) {
    std::string text = std::string("<") + e->Value();
    for (const auto& [k, v] : Attributes(e)) {
        if (k == "source") {
            const auto bytes = ReadFile(dir + "/" + v);
            text += " payload=" + std::to_string(bytes.size()) + ":" + std::string(bytes.begin(), bytes.end());
        } else if (!(k == "id" && std::string(e->Value()) == "widget")) {
            text += " " + k + "=" + v;
        }
    }
    for (const TiXmlElement* c : Children(e)) text += Canon(c, dir);
    return text + ">";
}

// The resources of a document by kind and name (widgets out of their panel).
std::map<std::string, std::string> Resources(const std::string& dir, const std::string& doc, int* total) {
    TiXmlDocument x((dir + "/" + doc).c_str());
    EXPECT_TRUE(x.LoadFile()) << doc;
    std::map<std::string, std::string> r;
    if (!x.RootElement()) return r;
    x.RootElement()->QueryIntAttribute("totalblocks", total);
    for (const TiXmlElement* e : Children(x.RootElement())) {
        for (const TiXmlElement* w : std::string(e->Value()) == "panel" ? Children(e) : std::vector{e})
            r[std::string(w->Value()) + ":" + w->Attribute("name")] = Canon(w, dir);
    }
    return r;
}

}  // namespace

// Into a pipe or a file a run of thousands of blocks must leave one progress state, not one per step.
TEST(ProgressLine, OnlyATerminalGetsEveryStateAFileGetsTheLastOnce) {
    for (const bool terminal : {false, true}) {
        TempDir d;
        commands::StdoutCapture capture(d / "out.txt");
        ProgressLine progress(terminal);
        orb::Counters c;
        for (int step = 1; step <= 3; ++step) {
            ++c.done;
            ++c.img;
            progress.Show(c, 3);
        }
        progress.Finish();
        progress.Finish();
        const std::string out = capture.Finish();
        EXPECT_EQ(Count(out, "\r"), terminal ? 3 : 1) << out;
        EXPECT_TRUE(Contains(out, " - 3/3: IMG 3 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r")) << out;
    }
}

TEST_F(Readers, ExtractDiffersFromTheFullExport) {
    ASSERT_EQ(Run({"p.vlt", "full.xml"}), 0) << out;
    // A state image names its widget; a wildcard crosses '/'.
    ASSERT_EQ(Run({"--extract", "p.vlt", "part.xml", "he*", "play_p", "chime", "lev*"}), 0) << out;
    int fullTotal = 0, partTotal = 0;
    auto full = Resources(d.path(), "full.xml", &fullTotal);
    const auto part = Resources(d.path(), "part.xml", &partTotal);
    std::vector<std::string> keys;
    for (const auto& [key, text] : part) {
        keys.push_back(key);
        EXPECT_EQ(text, full[key]) << key;
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"file:levels/one", "sound:chime", "sprite:hero", "widget:play"}));
    EXPECT_EQ(partTotal, 1 + 1 + 1 + 1 + 3);  // the widget and its three state images
    EXPECT_TRUE(Contains(out, " - Extracted 7 of 7 blocks into 'part.xml'.\n")) << out;
    // What it counts is what an import of it finds.
    ASSERT_EQ(Run({"part.xml", "q.vlt"}), 0) << out;
    EXPECT_FALSE(Contains(out, "does not match")) << out;
    SdkSession sdk;
    EXPECT_EQ(Entries(d / "q.vlt").size(), 7u);
}

TEST_F(Readers, ExtractOfNothingWritesADocument) {
    const auto before = Listing(d.path());
    // "gone" is a deleted entry: nothing live matches it.
    for (const std::vector<std::string>& names : {std::vector<std::string>{"nope"}, {"hero", "h?ro2"}, {"gone"}}) {
        std::vector<std::string> args{"--extract", "p.vlt", "x.xml"};
        args.insert(args.end(), names.begin(), names.end());
        EXPECT_EQ(Run(args), 1) << out;
        EXPECT_TRUE(Contains(out, " - Error: no resource matches '" + names.back() + "'.\n")) << out;
        EXPECT_EQ(Listing(d.path()), before);
    }
    EXPECT_EQ(Run({"--extract", "p.vlt", "x.xml", "nope", "--json"}), 1);
    EXPECT_EQ(JqOut(out, ".ok, .messages[0]"), "false\n - Error: no resource matches 'nope'.") << out;
    EXPECT_EQ(Run({"--extract", "p.vlt", "x.json", "hero"}), 1) << out;
    EXPECT_EQ(Listing(d.path()), before);
}

// A resource left behind makes the run incomplete (exit 3) and says why on the line after its warning.
TEST(ExportOutcome, ResourceLeftBehindExitsThreeWithItsCauseAfterItsWarning) {
    const struct {
        const char* type;
        std::vector<uint8_t> payload;
        bool blockPayloadPath;
        int code;
        const char* text;
    } rows[] = {
        {"IMG", std::vector<uint8_t>(30, 0xEE), false, 3,
         "problem found exporting 'r' image.\n\n - Info: the block could not be read from the package"},
        {"IMG", {}, true, 1, "'pack/img_r.png' (not written by an earlier run)"},
        {"BUT", {1, 2, 3}, false, 3, "panel, widget 'r'.\n\n - Info: the widget record could not be read"},
        {"SND", Bytes("RIFF....WAVEjunk"), false, 0, " - 1/1: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 1 - FIL 0"},
    };
    for (const auto& row : rows) {
        TempDir d;
        {
            SdkSession sdk;
            PackageBuilder p(d / "pack.vlt");
            if (row.payload.empty())
                p.Image("r", Rgba(4, 4, 1));
            else
                p.Raw("r", row.type, row.payload, compressed);
        }
        if (row.blockPayloadPath) std::filesystem::create_directories(d / "pack/img_r.png");
        std::string out;
        EXPECT_EQ(RunBundlex({"pack.vlt"}, out, d.path()), row.code) << out;
        EXPECT_TRUE(Contains(out, row.text)) << out;
        EXPECT_EQ(RunBundlex({"--extract", "pack.vlt", "pack.xml", "r"}, out, d.path()), row.code) << out;
        EXPECT_TRUE(Contains(out, row.text)) << out;
    }
}

// What the readers print for a package of every kind, compared whole with
// the files of tests/data/commands.
TEST_F(Readers, ReaderOutputOfAKindChanged) {
    const std::pair<std::vector<std::string>, const char*> runs[] = {
        {{"--list", "p.vlt"}, "every_kind.list"},
        {{"--list", "--long", "p.vlt"}, "every_kind_long.list"},
        {{"--list", "--json", "p.vlt"}, "every_kind_list.json"},
        {{"--verify", "p.vlt"}, "every_kind.verify"},
        {{"--check", "p.vlt"}, "every_kind.check"}};
    for (const auto& [args, file] : runs) {
        EXPECT_EQ(Run(args), 0) << file;
        EXPECT_EQ(out, Golden(std::string("commands/") + file)) << file;
    }
}

// Export and import in two folders with a source date, one run on one
// thread and one on worker threads: the same document,
// payload files and package, byte for byte; the package carries that date,
// which its own export then writes.
TEST_F(Readers, SourceDateOutputDependsOnTheFolderOrTheJobs) {
    TempDir other;
    ASSERT_TRUE(WriteFile(other / "p.vlt", ReadFile(d / "p.vlt")));
    const std::pair<std::string, const char*> runs[] = {{d.path(), "1"}, {other.path(), "2"}};
    for (const auto& [dir, jobs] : runs) {
        ASSERT_EQ(Shell("cd '" + dir + "' && '" + BUNDLEX_EXE + "' --jobs " + jobs +
                            " p.vlt doc.xml && SOURCE_DATE_EPOCH=1700000000 '" + BUNDLEX_EXE +
                            "' doc.xml q.vlt --jobs " + jobs,
                        out),
                  0)
            << out;
    }
    EXPECT_EQ(ReadFile(d / "doc.xml"), ReadFile(other / "doc.xml"));
    ASSERT_EQ(Listing(d / "doc"), Listing(other / "doc"));
    for (const std::string& name : Listing(d / "doc"))
        EXPECT_EQ(ReadFile(d / ("doc/" + name)), ReadFile(other / ("doc/" + name))) << name;
    EXPECT_EQ(ReadFile(d / "q.vlt"), ReadFile(other / "q.vlt"));
    ASSERT_EQ(Run({"q.vlt", "q.xml"}), 0) << out;
    const std::vector<uint8_t> doc = ReadFile(d / "q.xml");
    EXPECT_TRUE(Contains(std::string(doc.begin(), doc.end()), "date=\"Tue Nov 14 22:13:20 2023&#x0A;\""));
}

// What --diff reports from a package to an edited copy, in package order:
// deleted entries and storage alone are no difference.
TEST_F(Readers, DiffMissesAChangeOrReportsStorage) {
    ASSERT_EQ(Run({"--compact", "p.vlt"}), 0) << out;  // the deleted entry goes
    ASSERT_TRUE(WriteFile(d / "e.vlt", ReadFile(d / "p.vlt")));
    EXPECT_EQ(Run({"--diff", "p.vlt", "e.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - The two packages hold the same 17 resources.\n")) << out;
    {
        SdkSession sdk;
        const int id = g_pStuffVLT->Open((d / "e.vlt").c_str());
        ASSERT_GT(id, 0);
        SurfacePtr logo(g_pImage->Load(id, "logo"));
        ASSERT_TRUE(logo);
        std::memset(logo->pixels, 0, 3 * 4);  // three pixels
        EXPECT_EQ(DeleteBlock(id, "IMG", "logo"), 1);
        EXPECT_GT(g_pImage->Save(id, "logo", logo.get()), 0);
        const std::vector<uint8_t> chime = Block(d / "p.vlt", "SND", "chime");
        EXPECT_EQ(DeleteBlock(id, "SND", "chime"), 1);
        EXPECT_GT(AddBlock(id, "SND", "chime", chime, compressed), 0);  // stored otherwise: the same sound
        EXPECT_EQ(DeleteBlock(id, "FILE", "config"), 1);
        EXPECT_GT(AddBlock(id, "FILE", "extra", {7}), 0);
        g_pStuffVLT->Close(id);
    }
    EXPECT_EQ(Run({"--diff", "p.vlt", "e.vlt", "--json"}), 1) << out;
    EXPECT_EQ(JqOut(out, ".differences[] | [.change, .name, (.details | join(\"; \"))] | join(\" \")"),
              "changed logo pixel (0,0) RGBA(1,3,0,1) became RGBA(0,0,0,0) (3 pixels differ)\n"
              "removed config \nadded extra ")
        << out;
    EXPECT_EQ(Run({"--diff", "p.vlt", "doc.xml"}), 2) << out;
}

// Blocks whose heads lie: every reader stays inside the bytes it has and
// gives properties or a reason, never a crash or an oversized allocation.
TEST_F(PackageTest, PropertyReadersStayInsideHostileBlocks) {
    std::vector<uint8_t> wav = Wav(10);
    StoreLE32(wav.data() + 40, 0xFFFFFFF0u);  // a data chunk far beyond the file
    std::vector<uint8_t> ogg(60, 0);
    std::memcpy(ogg.data(), "OggS", 4);
    ogg[26] = 255;                                          // a segment table longer than the file
    std::vector<uint8_t> aiff = Bytes("FORM....AIFFCOMM");  // a COMM chunk claiming 4 GiB, cut after its size
    aiff.insert(aiff.end(), {0xFF, 0xFF, 0xFF, 0xF0, 0, 1});
    const struct {
        const char* type;
        std::vector<uint8_t> bytes;
        bool read;
    } rows[] = {
        {"IMG", std::vector<uint8_t>(47, 0xFF), false},
        {"BUT", {1, 2, 3}, false},
        {"SND", wav, true},
        {"MUS", ogg, true},
        {"SND", aiff, true},
        {"SND", Bytes("Creative Voice File\x1a"), true},
        {"SPR2", std::vector<uint8_t>(24, 0xFF), false},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = "b" + std::to_string(n++);
        ASSERT_GT(Put(row.type, name.c_str(), row.bytes), 0);
        kinds::Properties props;
        std::string why;
        EXPECT_EQ(kinds::ReadProperties(id, {name, row.type}, props, why), row.read) << row.type << " " << why;
        EXPECT_EQ(why.empty(), row.read) << row.type;
    }
    // Every kind over runs of bytes of every length up to past a head.
    uint32_t seed = 7;
    for (const kinds::KindRow& kind : kinds::Rows()) {
        if (kind.kind == kinds::Kind::Deleted) continue;
        for (size_t size = 1; size < 200; size += 13) {
            std::vector<uint8_t> bytes(size);
            for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
            const std::string name = "r" + std::to_string(n++);
            ASSERT_GT(Put(kind.type, name.c_str(), bytes), 0);
            kinds::Properties props;
            std::string why;
            kinds::ReadProperties(id, {name, kind.type}, props, why);
        }
    }
    EXPECT_GT(n, 140);
}

TEST(JsonQuote, NonUtf8ByteGivesInvalidJson) {
    EXPECT_EQ(json::Quote("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    EXPECT_EQ(json::Quote("\xff"), "\"\\u00ff\"");
    EXPECT_EQ(json::Quote("\xc2\x9b"), "\"\\u009b\"");                               // C1 control
    EXPECT_EQ(json::Quote("\xc0\xaf"), "\"\\u00c0\\u00af\"");                        // overlong "/"
    EXPECT_EQ(json::Quote("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");             // surrogate
    EXPECT_EQ(json::Quote("\xe2\x82"), "\"\\u00e2\\u0082\"");                        // cut short
    EXPECT_EQ(json::Quote("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");  // above U+10FFFF
}

TEST(JsonWriter, NestedDocumentIsReadBackByIndependentParsers) {
    json::Writer w;
    std::string hostile;
    for (int c = 0; c < 256; ++c) hostile += static_cast<char>(c);
    w.BeginObject()
        .Field("name", hostile)
        .Field("big", std::numeric_limits<uint64_t>::max())
        .Field("small", std::numeric_limits<int64_t>::min())
        .Field("flag", false);
    w.Key("empty").BeginArray().EndArray();
    w.Key("none").BeginObject().EndObject();
    w.Key("list").BeginArray().Int(-1).String("x").Null().BeginObject().Field("k", true).EndObject().EndArray();
    w.EndObject();
    ASSERT_TRUE(w.complete());
    const std::string doc = w.str();
    EXPECT_TRUE(PythonParses(doc)) << doc;
    // jq reads numbers as doubles: the extremes are checked in the text.
    EXPECT_TRUE(ContainsAll(doc, {"\"big\": 18446744073709551615,", "\"small\": -9223372036854775808,"}));
    EXPECT_EQ(
        JqOut(doc, "[.flag, (.empty | length), (.none | length), .list[0], .list[1], .list[2], .list[3].k] | @csv"),
        "false,0,0,-1,\"x\",,true")
        << doc;
    // Every byte comes back: ASCII as itself, the rest as Latin-1 code points.
    EXPECT_EQ(JqOut(doc, ".name | explode | (length == 256 and . == [range(256)])"), "true");
}

TEST(JsonWriter, MisplacedCallsLeaveTheDocumentMarkedIncomplete) {
    json::Writer a, b, c, d, e;
    a.BeginObject().Int(1).EndObject();    // a value without a key
    b.BeginArray().Int(1);                 // not closed
    c.BeginArray().EndObject();            // closed by the wrong end
    d.Int(1).Int(2);                       // two values
    e.BeginObject().Key("a").EndObject();  // a key without a value
    for (const json::Writer* w : {&a, &b, &c, &d, &e}) EXPECT_FALSE(w->complete());
}
