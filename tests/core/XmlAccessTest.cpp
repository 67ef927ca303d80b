// The XML access layer: slots and handles, the current element, attribute
// conversions and the file layout of a created document.

#include "Support.h"
#include "core/Trovalis.h"
#include "core/XmlDepth.h"

using namespace testsupport;

namespace {
std::string WriteDoc(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir / name;
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
    return path;
}
}  // namespace

TEST(XmlAccess, EleventhDocumentIsRefusedAndAClosedSlotIsReused) {
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
    ASSERT_EQ(Trovalis.XMLNodePointTo(h, 1, "ORB"), 1);
    EXPECT_EQ(Trovalis.XMLNodePointTo(h, 1, "nope"), 0);
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "ORB");
    EXPECT_EQ(Trovalis.XMLNodeParent(h), 0);  // the root has no element parent
    ASSERT_EQ(Trovalis.XMLNodeChild(h), 1);
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "image");
    ASSERT_EQ(Trovalis.XMLNodeNext(h), 1);  // the comment is passed over
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "tile");
    EXPECT_EQ(Trovalis.XMLNodeNext(h), 0);
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "tile");
    ASSERT_EQ(Trovalis.XMLNodeParent(h), 1);
    EXPECT_STREQ(Trovalis.XMLNodeGetName(h), "ORB");
    Trovalis.XMLClose(h);
    // Invalid handles fail silently.
    EXPECT_EQ(Trovalis.XMLNodeChild(h), 0);
    EXPECT_EQ(Trovalis.XMLNodeChild(0), 0);
    EXPECT_EQ(Trovalis.XMLNodeChild(11), 0);
    EXPECT_EQ(cap.Take(), "");
}

TEST(XmlAccess, IntegerAttributesReadLikePercentDAndMissingOnesKeepTheDefault) {
    TempDir dir;
    const std::string doc =
        WriteDoc(dir, "a.xml", "<ORB n=\"12abc\" m=\"abc\" s=\" -7\" big=\"4294967295\" t=\"text\"/>");
    const int h = Trovalis.XMLOpen(doc.c_str());
    ASSERT_EQ(Trovalis.XMLNodePointTo(h, 1, "ORB"), 1);
    int v = 99;
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "n", &v), 1);
    EXPECT_EQ(v, 12);
    v = 99;
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "m", &v), 0);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "s", &v), 1);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "absent", &v), 0);
    EXPECT_EQ(v, -7);
    const char* text = "preset";
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "absent", &text), 0);
    EXPECT_STREQ(text, "preset");
    EXPECT_EQ(Trovalis.XMLAttributeGet(h, "t", &text), 1);
    EXPECT_STREQ(text, "text");
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
    EXPECT_EQ(Trovalis.XMLCommentSet(h, "first"), 1);
    EXPECT_EQ(Trovalis.XMLAttributeSet(h, "a", "x&y"), 1);
    EXPECT_EQ(Trovalis.XMLAttributeSet(h, "b", -1), 1);
    EXPECT_EQ(Trovalis.XMLNodeCreate(h, "K"), 1);
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
