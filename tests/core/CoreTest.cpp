// The SDK core: start-up and shut-down (order of the interfaces, leak
// warnings), CRC-32 and CreatePath, the log (activity, maximum level, outputs,
// the elapsed-time stamp), processor tables and the copy routines, and the
// XML access layer (slots and handles, the current element, attribute
// conversions, the file layout of a created document, nesting depth).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <regex>
#include <vector>

#include "Support.h"
#include "core/CpuFeatures.h"
#include "core/FileAccess.h"
#include "core/Trovalis.h"
#include "core/WorkerPool.h"
#include "core/XmlDepth.h"
#include "core/XmlSplit.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

using namespace testsupport;

namespace {
bool IsDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TEST(Lifecycle, SecondInitOrQuitRepeatsItsWork) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    IStuffVLT* first = g_pStuffVLT;
    cap.Take();
    // A second Init keeps the running interfaces (and their open packages).
    EXPECT_EQ(Trovalis.Init(0), 1);
    EXPECT_EQ(g_pStuffVLT, first);
    EXPECT_FALSE(Contains(cap.Take(), "Interfaz created"));
    Trovalis.liveTiles += 1;
    Trovalis.liveFonts += 2;
    cap.Take();
    Trovalis.Quit();
    Trovalis.liveTiles -= 1;
    Trovalis.liveFonts -= 2;
    const std::string log = cap.Take();
    EXPECT_TRUE(InOrder(
        log, {"left 1 tiles without deleting.", "left 2 fonts without deleting.", "Trovalis successfully closed"}));
    EXPECT_FALSE(Contains(log, "CSprites"));
    Trovalis.Quit();
    EXPECT_EQ(cap.Take(), "");
}

TEST(Crc32, StandardCheckValueMissed) {
    EXPECT_EQ(Trovalis.CRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Trovalis.CRC32("123456789", 0), 0u);
    EXPECT_EQ(Trovalis.CRC32("123456789", -5), 0u);
}

// Absolute, doubled and relative paths get every missing directory.
// A file longer than the length its reader expected (it grew, or the
// length was short) is read to its end, past the small probe for the end
// too; a shorter one gives what it holds; past the limit it is refused. A
// regular file is read with one byte asked beyond the length, a stream until
// a read gives nothing: both give the same bytes.
TEST(FileAccess, BytesBeyondTheExpectedLengthAreLost) {
    struct Case {
        uint64_t expect;
        size_t actual;
        uint64_t limit;
        bool ok;
    };
    const Case cases[] = {{100, 100, 1000, true},      {0, 100, 1000, true},        {10, 700, 1000, true},
                          {100, 100000, 200000, true}, {100, 100000, 50000, false}, {2000, 1000, 1000, false},
                          {100, 50, 1000, true},       {0, 0, 1000, true},          {1000, 1000, 1000, true},
                          {1000, 1001, 1000, false},   {999, 1000, 1000, true},     {100, 0, 1000, true}};
    TempDir dir;
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.actual);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        const std::string path = dir / "f";
        ASSERT_TRUE(WriteFile(path, bytes));
        for (const bool regular : {true, false}) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            std::vector<uint8_t> out;
            errno = 0;
            const bool ok = files::ReadExpected(fd, c.expect, out, c.limit, regular);
            const int err = errno;
            ::close(fd);
            EXPECT_EQ(ok, c.ok) << c.expect << " " << c.actual << " " << regular;
            EXPECT_EQ(c.ok ? out : std::vector<uint8_t>(), c.ok ? bytes : std::vector<uint8_t>()) << c.expect;
            EXPECT_EQ(c.ok ? 0 : err, c.ok ? 0 : EFBIG) << c.expect << " " << c.actual << " " << regular;
        }
    }
}

TEST(CreatePath, MissingDirectoryLeftOrFileReplaced) {
    TempDir dir;
    Trovalis.CreatePath((dir / "out/a/b/pic.png").c_str());
    EXPECT_TRUE(IsDir(dir / "out/a/b"));
    EXPECT_FALSE(FileExists(dir / "out/a/b/pic.png"));
    Trovalis.CreatePath((dir.path() + "//x\\\\y//z.bin").c_str());
    EXPECT_TRUE(IsDir(dir / "x/y"));
    ASSERT_TRUE(WriteFile(dir / "file", {'x'}));
    Trovalis.CreatePath((dir / "file/a/b/pic.png").c_str());
    EXPECT_EQ(ReadFile(dir / "file").size(), 1u);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Trovalis.CreatePath("pic.png");
    Trovalis.CreatePath("rel/dir/pic.png");
    Trovalis.CreatePath("");
    Trovalis.CreatePath(nullptr);
    std::filesystem::current_path(old);
    EXPECT_TRUE(IsDir(dir / "rel/dir"));
    EXPECT_FALSE(FileExists(dir / "pic.png"));
}

namespace {
struct LogReset {
    ~LogReset() { TheLog().Deactivate(); }
};
}  // namespace

// A failed store was once reported as "a write error, or a full disk"
// whatever the SDK had said, because the inactive log kept nothing.
TEST(Log, FirstErrorReasonIsKeptWhileTheLogIsInactive) {
    LogReset reset;
    TheLog().Deactivate();
    TheLog().ClearFirstError();
    LogTag("X->Save(%d)", 1).Warning("not an error\n");
    LogTag("X->Save(%d)", 1).Error("the data block could not be written: %s\n", "No space left on device");
    LogTag("X->Save(%d)", 1).Error("a later error\n");
    EXPECT_EQ(TheLog().FirstError(), "the data block could not be written: No space left on device");
    TheLog().ClearFirstError();
    EXPECT_EQ(TheLog().FirstError(), "");
}

TEST(Log, FileOutputStampMisplaced) {
    LogReset reset;
    TempDir dir;
    const std::string file = dir / "sdk.log";
    ASSERT_EQ(TheLog().Activate(5, Log::kFileAlt, file.c_str(), 1), 1);
    TheLog().Print(0, "\n . first\n");
    TheLog().Deactivate();
    const auto bytes = ReadFile(file);
    const std::string text(bytes.begin(), bytes.end());
    // "{<seconds>.<3 digits>s}" and then the message with its own leading line end.
    EXPECT_TRUE(std::regex_match(text, std::regex("\\{[0-9]+\\.[0-9]{3}s\\}\n \\. first\n"))) << text;
    // The mask selects the file, but none is open: nothing fails, nothing is written.
    ASSERT_EQ(TheLog().Activate(5, Log::kFile | Log::kCapture, nullptr, 1), 1);
    TheLog().Print(0, "x\n");
    EXPECT_EQ(TheLog().TakeCaptured(), "x\n");
    // A file that cannot be created is reported by Activate.
    EXPECT_EQ(TheLog().Activate(5, Log::kFile, (dir / "missing/dir/sdk.log").c_str(), 1), 0);
}

namespace {
CpuIdentity Cpu(const char* vendor, int family, int model, int ext = 0, bool mmx = true, bool sse = true) {
    CpuIdentity id;
    id.hasCpuid = true;
    id.vendor = vendor;
    id.maxLeaf = 13;
    id.family = family;
    id.model = model;
    id.extendedModel = ext;
    id.mmx = mmx;
    id.sse = sse;
    return id;
}
std::string Joined(const CpuReport& r) {
    std::string s;
    for (const auto& p : r.pieces) s += p;
    return s;
}
}  // namespace

TEST(CpuTables, ProcessorMisnamed) {
    CpuIdentity noLeaf = Cpu("GenuineIntel", 6, 10);
    noLeaf.maxLeaf = 0;
    const CpuIdentity noMmx = Cpu("GenuineIntel", 6, 9, 0, false);
    struct Case {
        CpuIdentity id;
        bool brief;
        std::string line;
        int path;  // -1: refused
    } cases[] = {
        {Cpu("GenuineIntel", 6, 10), false, " . Running on INTEL processor - Core i7 (Sandy Bridge) - MMX - SSE\n", 21},
        {Cpu("AuthenticAMD", 15, 2, 4), false, " . Running on AMD processor - Phenom X3/X4- MMX - SSE\n", 19},
        {Cpu("GenuineIntel", 15, 0), false, " . Running on INTEL processor - Pentium 4(Willamette) - MMX - SSE\n", 0},
        {Cpu("GenuineIntel", 6, 7, 1), false, " . Running on INTEL processor - Core 2 Dual core - MMX - SSE\n", 20},
        {Cpu("GenuineIntel", 6, 7, 0), false, " . Running on INTEL processor - Pentium III - MMX - SSE\n", 14},
        {Cpu("GenuineIntel", 6, 11, 2), false, " . Running on INTEL processor - Pentium (2-11) - MMX - SSE\n", 0},
        {Cpu("AuthenticAMD", 6, 12), false, " . Running on AMD processor - Duron/Athlon (12)- MMX - SSE\n", 10},
        {Cpu("AuthenticAMD", 5, 4, 0, true, false), false, " . Running on AMD processor - K5/K6 (4) - MMX\n", 0},
        {Cpu("AuthenticAMD", 16, 1, 3), false, " . Running on AMD processor - Family 16 - Model: 3-1 - MMX - SSE\n", 0},
        {Cpu("CentaurHauls", 6, 9, 1), false, " . Running on CentaurHauls - Family 6 - Model: 1-9  - MMX - SSE\n", 0},
        {Cpu("AuthenticAMD", 15, 9, 2), true, "AMD - Athlon64 (Model 2-9) - MMX  - SSE", 19},
        {Cpu("GenuineIntel", 5, 2, 0, true, false), true, "INTEL - Pentium - MMX ", 0},
        {noLeaf, false, " . [Trovalis.GetCPUFeatures()] Error: CPUID not available! Your CPU must be 486 or less\n",
         -1},
        {noLeaf, true, "CPUID not available! A Pentium class processor is required", -1},
        {noMmx, false,
         " . Running on INTEL processor - Banias  . [Trovalis.GetCPUFeatures()] Error: MMX not present!.\n", -1},
        {noMmx, true, "INTEL - Banias MMX not available! MMX instruction set are required", -1},
    };
    for (const auto& c : cases) {
        const CpuReport r = DescribeCpu(c.id, c.brief);
        EXPECT_EQ(Joined(r), c.line);
        EXPECT_EQ(r.ok ? r.codePath : -1, c.path) << c.line;
    }
}

TEST(CpuFeatures, BufferVariantNeverWritesPastItsCapacity) {
    char small[8];
    std::memset(small, 'Z', sizeof small);
    small[0] = '\0';
    Trovalis.GetCPUFeatures(small, 6);
    EXPECT_LT(std::strlen(small), 6u);
    EXPECT_EQ(small[6], 'Z');
}

TEST(CodePaths, CopyRoutineDiffersFromMemcpy) {
    std::vector<uint8_t> src(3 * 1024 * 1024 + 7);
    std::iota(src.begin(), src.end(), 0);
    for (int id = 0; id <= 25; ++id) {
        const bool valid = (id <= 5) || (id >= 10 && id <= 21);
        EXPECT_EQ(IsValidCodePath(id), valid) << id;
        if (!valid) continue;
        CopyRoutine copy = CodePathRoutine(id);
        for (size_t n : {size_t(0), size_t(1), size_t(63), size_t(257), size_t(1025), size_t(600000), src.size()}) {
            std::vector<uint8_t> dst(n + 1, 0xEE);
            copy(dst.data(), src.data(), n);
            EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + static_cast<long>(n), src.begin())) << id << " " << n;
            EXPECT_EQ(dst[n], 0xEE);
        }
    }
    LogCapture cap;
    const CopyRoutine before = g_CopyRoutine;
    EXPECT_FALSE(SelectCodePath(7));
    EXPECT_EQ(g_CopyRoutine, before);
    EXPECT_EQ(cap.Take(), "");
    EXPECT_TRUE(SelectCodePath(21));
    EXPECT_EQ(cap.Take(), " . Selected 'i5/i7' optimized code path.\n");
}

namespace {
std::string WriteDoc(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir / name;
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    return path;
}
}  // namespace

TEST(XmlAccess, ClosedSlotIsNotReused) {
    TempDir dir;
    const std::string doc = WriteDoc(dir, "a.xml", "<ORB version=\"v1\"/>");
    LogCapture cap;
    int handles[10];
    for (int i = 0; i < 10; ++i) {
        handles[i] = Trovalis.XMLOpen(doc.c_str());
        ASSERT_EQ(handles[i], i + 1);
    }
    EXPECT_EQ(Trovalis.XMLOpen(doc.c_str()), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Error: reached maximum limit of XML opened(10)\n"));
    Trovalis.XMLClose(4);
    EXPECT_EQ(Trovalis.XMLOpen(doc.c_str()), 4);
    for (int h = 1; h <= 10; ++h) Trovalis.XMLClose(h);
}

TEST(XmlAccess, FailedOpensLeaveTheirSlotsFree) {
    TempDir dir;
    const std::string bad = WriteDoc(dir, "bad.xml", "<ORB><unclosed></ORB>");
    LogCapture cap;
    for (int i = 0; i < 11; ++i) EXPECT_EQ(Trovalis.XMLOpen(bad.c_str()), 0);
    EXPECT_EQ(Trovalis.XMLOpen((dir / "missing.xml").c_str()), 0);
    const std::string good = WriteDoc(dir, "good.xml", "<ORB/>");
    const int h = Trovalis.XMLOpen(good.c_str());
    EXPECT_EQ(h, 1);
    EXPECT_TRUE(Contains(cap.Take(), " . [Trovalis.XMLOpen('" + bad + "')] Error: "));
    Trovalis.XMLClose(h);
}

TEST(XmlAccess, OpenedDocumentPointsNowhereUntilPointTo) {
    TempDir dir;
    const std::string doc = WriteDoc(dir, "a.xml", "<ORB a=\"1\"><image/><!-- c --><tile/></ORB>");
    LogCapture cap;
    const int h = Trovalis.XMLOpen(doc.c_str());
    ASSERT_EQ(h, 1);
    EXPECT_EQ(Trovalis.XMLNodeChild(h), 0);
    EXPECT_EQ(cap.Take(), " . [Trovalis.XMLNodeChild(0)] Error: there is not an element pointed.\n");
    EXPECT_EQ(Trovalis.XMLNodePointTo(h, 1, "NOPE"), 0);
    EXPECT_EQ(Trovalis.XMLNodeGetName(h), nullptr);
    EXPECT_EQ(cap.Take(), " . [Trovalis.XMLNodeGetName(0)] Error: there is not an element pointed.\n");
    // Each move's result and where it leaves the pointer: the root has no element parent, the comment is passed over.
    auto at = [&](int moved) {
        const char* name = Trovalis.XMLNodeGetName(h);
        return std::to_string(moved) + (name ? name : "?");
    };
    const std::vector<std::string> walk = {at(Trovalis.XMLNodePointTo(h, 1, "ORB")),
                                           at(Trovalis.XMLNodePointTo(h, 1, "nope")),
                                           at(Trovalis.XMLNodeParent(h)),
                                           at(Trovalis.XMLNodeChild(h)),
                                           at(Trovalis.XMLNodeNext(h)),
                                           at(Trovalis.XMLNodeNext(h)),
                                           at(Trovalis.XMLNodeParent(h))};
    EXPECT_EQ(walk, (std::vector<std::string>{"1ORB", "0ORB", "0ORB", "1image", "1tile", "0tile", "1ORB"}));
    Trovalis.XMLClose(h);
    // Invalid handles fail silently.
    for (int invalid : {h, 0, 11}) EXPECT_EQ(Trovalis.XMLNodeChild(invalid), 0) << invalid;
    EXPECT_EQ(cap.Take(), "");
}

TEST(XmlAccess, IntegerAttributeMisread) {
    TempDir dir;
    const std::string doc =
        WriteDoc(dir, "a.xml", "<ORB n=\"12abc\" m=\"abc\" s=\" -7\" big=\"4294967295\" t=\"text\"/>");
    const int h = Trovalis.XMLOpen(doc.c_str());
    ASSERT_EQ(Trovalis.XMLNodePointTo(h, 1, "ORB"), 1);
    int v = 99;
    std::vector<int> got;  // result and value after each read
    for (const char* a : {"n", "m", "s", "absent"}) got.insert(got.end(), {Trovalis.XMLAttributeGet(h, a, &v), v});
    EXPECT_EQ(got, (std::vector<int>{1, 12, 0, 12, 1, -7, 0, -7}));
    const char* text = "preset";
    std::vector<std::string> texts;
    for (const char* a : {"absent", "t"}) {
        const int found = Trovalis.XMLAttributeGet(h, a, &text);
        texts.push_back(std::to_string(found) + text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"0preset", "1text"}));
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, nullptr, &text), 0);
    Trovalis.XMLClose(h);
}

TEST(XmlAccess, CreatedDocumentHasDeclarationRootAttributesCommentFirstThenChildren) {
    TempDir dir;
    LogCapture cap;
    EXPECT_EQ(Trovalis.XMLCreate("R"), Trovalis.startTick == TrovalisCore::kNotStarted ? 0 : 1);
    if (Trovalis.startTick == TrovalisCore::kNotStarted) {
        EXPECT_EQ(cap.Take(),
                  " . [Trovalis.XMLCreate()] Error: Trovalis was not initialized. Aborting the XML load.\n");
    } else {
        Trovalis.XMLClose(1);
    }
    SdkSession sdk;
    const int h = Trovalis.XMLCreate("R");
    ASSERT_EQ(h, 1);
    EXPECT_EQ((std::vector<int>{Trovalis.XMLCommentSet(h, "first"), Trovalis.XMLAttributeSet(h, "a", "x&y"),
                                Trovalis.XMLAttributeSet(h, "b", -1), Trovalis.XMLNodeCreate(h, "K")}),
              (std::vector<int>{1, 1, 1, 1}));
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "K");
    EXPECT_EQ(Trovalis.XMLCommentSet(h, nullptr), 0);
    const std::string file = dir / "sub/dir/out.xml";
    EXPECT_EQ(Trovalis.XMLSave(h, file.c_str()), 1);
    EXPECT_EQ(Trovalis.XMLSave(h, (dir / "out.xml/").c_str()), 0);  // cannot be written: not a success
    Trovalis.XMLClose(h);
    const auto bytes = ReadFile(file);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_TRUE(InOrder(text, {"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>",
                               "<R a=\"x&amp;y\" b=\"-1\">", "<!--first-->", "<K />"}));
}

namespace {
bool Within(const TempDir& dir, const std::string& text, int limit) {
    return XmlDepthWithin(WriteDoc(dir, "d.xml", text).c_str(), limit);
}
}  // namespace

TEST(XmlDepth, CountsOnlyRealElementNesting) {
    TempDir dir;
    const std::string doc =
        "<?xml version=\"1.0\"?><!DOCTYPE x><ORB a=\"<b><c>\" b='/>'><!-- <d><e><f> --><![CDATA[<g><h>]]>"
        "<sprite><animation><frame/><frame></frame></animation></sprite><empty/></ORB>";
    EXPECT_TRUE(Within(dir, doc, 4));  // ORB, sprite, animation, frame
    EXPECT_FALSE(Within(dir, doc, 3));
}

TEST(XmlDepth, DeeplyNestedDocumentIsRefusedByOpenInsteadOfExhaustingTheStack) {
    TempDir dir;
    std::string deep = "<ORB>";
    for (int i = 0; i < 300000; ++i) deep += "<a>";
    LogCapture cap;
    const std::string path = WriteDoc(dir, "deep.xml", deep);
    EXPECT_EQ(Trovalis.XMLOpen(path.c_str()), 0);
    EXPECT_EQ(cap.Take(), " . [Trovalis.XMLOpen('" + path + "')] Error: elements are nested too deeply\n");
    std::string wide = "<ORB>";
    for (int i = 0; i < 5000; ++i) wide += "<a><b/></a>";
    EXPECT_TRUE(Within(dir, wide + "</ORB>", kMaxXmlDepth));
}

namespace {
// Every element reached by walking from the root: name, place and attribute
// "a", one line each, nesting shown by the walk's own moves.
void Visit(int h, std::string& out) {
    int row = 0, column = 0;
    const char* a = nullptr;
    const int placed = Trovalis.XMLNodeLocation(h, &row, &column);
    out += std::string(Trovalis.XMLNodeGetName(h)) + "@" +
           (placed ? std::to_string(row) + ":" + std::to_string(column) : "?") +
           (Trovalis.XMLAttributeGet(h, "a", &a) == 1 ? std::string(" a=") + a : "") + "\n";
    if (Trovalis.XMLNodeChild(h) != 1) return;
    out += "{\n";
    do Visit(h, out);
    while (Trovalis.XMLNodeNext(h) == 1);
    out += "}\n";
    Trovalis.XMLNodeParent(h);
}

std::string Walked(int (TrovalisCore::*open)(const char*), const std::string& path, std::string& log) {
    LogCapture cap;
    const int h = (Trovalis.*open)(path.c_str());
    std::string out;
    if (h < 1) {
        out = "refused";
    } else if (Trovalis.XMLNodePointTo(h, 1, "ORB") != 1) {
        out = "no root";
    } else {
        for (int pass = 0; pass < 2; ++pass) Visit(h, out);  // the second walk starts again from the first child
        int row = 0, column = 0;
        out += Trovalis.XMLNodePointTo(h, 2, "ORB", "tile") == 1 && Trovalis.XMLNodeLocation(h, &row, &column) == 1
                   ? "tile@" + std::to_string(row) + ":" + std::to_string(column)
                   : "no tile";
    }
    if (h >= 1) Trovalis.XMLClose(h);
    log = cap.Take();
    return out;
}

// Opens the document at path whole and streamed; both walks and both logs
// must be the same.
void ExpectStreamedWalkIsWhole(const std::string& path, const std::string& shown) {
    std::string wholeLog, streamedLog;
    const std::string whole = Walked(&TrovalisCore::XMLOpen, path, wholeLog);
    EXPECT_EQ(Walked(&TrovalisCore::XMLOpenStream, path, streamedLog), whole) << shown;
    EXPECT_EQ(streamedLog, wholeLog) << shown;
}
}  // namespace

// A document read one child at a time gives what the whole parse gives: the
// same elements, attributes and places, the same refusals with the same words.
TEST(XmlAccess, StreamedDocumentWalksAndLocatesLikeTheWholeParse) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";
    const std::vector<std::string> docs = {
        decl +
            "<!-- made -->\n<ORB a='1' b=\"x>y\" c=plain>\n\t<image a=\"i\"/>  <tile a=\"t\">\n"
            "  <frame a=\"f1\"/>text<![CDATA[<raw>]]>\n<frame\ta='f2'/></tile>\r\n<!DOCTYPE x><font/>\n</ORB >\n",
        "\xEF\xBB\xBF<ORB a=\"\xC3\xA9t\xC3\xA9\"><\xC3\xA9l\xC3\xA9ment a=\"\xE2\x82\xAC\"/>\t\xC3\xA9<tile/></ORB>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><ORB>\xE9\n  <tile a=\"\xE9\"/></ORB>",
        "<other><x/></other>\n<ORB a=\"2\"><tile/></ORB><!-- after --><ORB a=\"3\"/> trailing",
        "<ORB a=\"empty\"/>",
        "<ORB/>",
        "<ORB><image><unclosed></image></ORB>",
        "<ORB><image/></ORBX>",
        "<ORB><image/>",
        "<ORB a=b\"c><image/></ORB>",
        "<ORB a=\"1\" a=\"2\"><image/></ORB>",
        "<ORB><image a=\"1/></ORB>",
        "",
        "   \n",
        "just text",
    };
    TempDir dir;
    for (size_t i = 0; i < docs.size(); ++i) {
        const std::string path = WriteDoc(dir, "d" + std::to_string(i) + ".xml", docs[i]);
        ExpectStreamedWalkIsWhole(path, docs[i]);
        // The well-formed documents with one top-level element are indeed
        // read one child at a time (such a document refuses to be printed).
        LogCapture cap;
        const int h = Trovalis.XMLOpenStream(path.c_str());
        std::string text;
        EXPECT_EQ(h >= 1 && Trovalis.XMLPrint(h, &text) == 0, i < 3 || i == 4 || i == 5) << docs[i];
        if (h >= 1) Trovalis.XMLClose(h);
    }
}

// With a second thread, a document's children are read from the start and
// from a line halfway at once; wherever that line lies (a child, a comment,
// a value, a text, past the end, in a malformed part), the walk, the places
// and the refusals are those of the whole parse.
TEST(XmlAccess, DocumentReadFromTwoPlacesAtOnceWalksLikeTheWholeParse) {
    struct Budget {
        Budget() {
            vlt::SetThreadBudget(2);
            SetStreamSplitFrom(16);
        }
        ~Budget() {
            vlt::SetThreadBudget(1);
            SetStreamSplitFrom(256 * 1024);
        }
    } budget;
    std::string many;
    for (int i = 0; i < 40; ++i) many += "\n  <image a=\"" + std::to_string(i) + "\"/>";
    const std::string half = "\n  <tile a=\"fake\"/>\n\t<font a=\"fake\"/>\n";
    const std::vector<std::string> docs = {
        "<ORB>" + many + "\n</ORB>\n",
        "<ORB>" + many + "\n<!--" + half + half + half + "-->" + many + "\n</ORB>",
        "<ORB>" + many + "\n<tile a=\"" + half + half + half + "\"/>" + many + "</ORB>",
        "<ORB>" + many + "<![CDATA[" + half + half + half + "]]>" + many + "</ORB>",
        "<ORB>" + many + " text" + half + many + "</ORB>",
        "<ORB>" + many + "</ORB>\n<!--" + half + half + half + half + many + "-->",
        "<ORB>" + many + many + "\n  <image a=\"bad/>\n</ORB>",
        "<ORB>" + many + many + "\n  <image></imagex>" + many + "\n</ORB>",
        "<ORB>\n  <image></imagex>" + many + many + "\n</ORB>",
        "<ORB>" + many + many + "\n</ORBX>",
        "<ORB>" + many + many,
        "<ORB>\n" + many + "\n</ORB>" + many,
        "<ORB>\r\n\t<image a=\"0\"/>\r\n\t\t<tile a=\"1\">\r\n\t<frame a=\"2\"/></tile>" + many + "</ORB>",
    };
    TempDir dir;
    for (size_t i = 0; i < docs.size(); ++i)
        ExpectStreamedWalkIsWhole(WriteDoc(dir, "d" + std::to_string(i) + ".xml", docs[i]), docs[i]);
}

// A document opened for reading holds one child at a time: printing or
// changing it would lose the others, so it is refused.
TEST(XmlAccess, StreamedDocumentRefusesToBePrintedOrChanged) {
    TempDir dir;
    const std::string doc = WriteDoc(dir, "a.xml", "<ORB><image/><tile/></ORB>");
    LogCapture cap;
    const int h = Trovalis.XMLOpenStream(doc.c_str());
    ASSERT_EQ(Trovalis.XMLNodePointTo(h, 1, "ORB"), 1);
    std::string text;
    const std::vector<int> results = {Trovalis.XMLPrint(h, &text), Trovalis.XMLSave(h, (dir / "b.xml").c_str()),
                                      Trovalis.XMLAttributeSet(h, "a", "1"), Trovalis.XMLNodeCreate(h, "x")};
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_TRUE(Contains(cap.Take(), "[Trovalis.XMLPrint(0)] Error: the document was opened for reading only.\n"));
    Trovalis.XMLClose(h);
}
