// The bundled example through the real executable, both ways twice.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <tinyxml.h>

#include "Support.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class RoundTrip : public ::testing::Test {
protected:
    SdkSession sdk;
    TempDir dir;
    std::string out;

    void SetUp() override { fs::copy(SourceDir() + "/examples", dir.path(), fs::copy_options::recursive); }
    void Step(const std::string& from, const std::string& to) {
        ASSERT_EQ(RunBundlex({from, to}, out, dir.path()), 0) << out;
        EXPECT_FALSE(Contains(out, "WARNING")) << Lines(out);
    }
    // The payload path without its directory B (which differs per export).
    static std::string FileOf(const char* source) {
        const std::string s = source ? source : "";
        return s.substr(s.find('/') + 1);
    }
    void CompareElements(const TiXmlElement* a, const TiXmlElement* b, bool payloads = true) {
        ASSERT_STREQ(a->Value(), b->Value());
        auto aa = Attributes(a), ba = Attributes(b);
        ASSERT_EQ(aa.size(), ba.size()) << a->Value();
        for (size_t i = 0; i < aa.size(); ++i) {
            EXPECT_EQ(aa[i].first, ba[i].first);
            if (aa[i].first == "source" && a->Parent() != a->GetDocument() && payloads) {
                EXPECT_EQ(FileOf(aa[i].second.c_str()), FileOf(ba[i].second.c_str()));
                // The payload files themselves, byte for byte.
                EXPECT_EQ(ReadFile(dir / aa[i].second), ReadFile(dir / ba[i].second)) << aa[i].second;
                EXPECT_FALSE(ReadFile(dir / aa[i].second).empty()) << aa[i].second;
            } else if (aa[i].first != "date" && aa[i].first != "source") {
                EXPECT_EQ(aa[i].second, ba[i].second) << a->Value() << " " << aa[i].first;
            }
        }
        const auto ac = Children(a), bc = Children(b);
        ASSERT_EQ(ac.size(), bc.size()) << a->Value();
        for (size_t i = 0; i < ac.size(); ++i) CompareElements(ac[i], bc[i], payloads);
    }
};

TEST_F(RoundTrip, ExampleComesBackUnchangedThroughTwoFullCycles) {
    Step("demo.xml", "p1.vlt");
    Step("p1.vlt", "d1.xml");
    Step("d1.xml", "p2.vlt");
    Step("p2.vlt", "d2.xml");

    // Independent readers accept what was written.
    std::string text;
    EXPECT_EQ(Shell("xmllint --noout '" + dir / "d1.xml" + "' '" + dir / "d2.xml" + "' 2>&1", text), 0) << text;
    int pngs = 0;
    for (const auto& e : fs::directory_iterator(dir / "d1"))
        if (e.path().extension() == ".png") {
            ++pngs;
            EXPECT_EQ(Shell("pngcheck -q '" + e.path().string() + "' 2>&1", text), 0) << text;
        }
    EXPECT_GT(pngs, 0);

    // Both packages hold the same blocks, in the same order, with the same payloads.
    const auto e1 = Entries(dir / "p1.vlt"), e2 = Entries(dir / "p2.vlt");
    ASSERT_EQ(e1.size(), 28u);
    ASSERT_EQ(e1.size(), e2.size());
    for (size_t i = 0; i < e1.size(); ++i) {
        EXPECT_EQ(e1[i].name, e2[i].name);
        EXPECT_EQ(e1[i].type, e2[i].type);
        const auto b1 = Block(dir / "p1.vlt", e1[i].type.c_str(), e1[i].name.c_str());
        EXPECT_FALSE(b1.empty()) << e1[i].name;
        EXPECT_EQ(b1, Block(dir / "p2.vlt", e2[i].type.c_str(), e2[i].name.c_str())) << e1[i].name;
    }
    // Sounds, music and raw files are the example's own files, byte for byte.
    EXPECT_EQ(Block(dir / "p2.vlt", "SND", "chime"), ReadFile(dir / "demo/snd_chime.WAV"));
    EXPECT_EQ(Block(dir / "p2.vlt", "MUS", "theme"), ReadFile(dir / "demo/mus_theme.MOD"));
    EXPECT_EQ(Block(dir / "p2.vlt", "FILE", "config"), ReadFile(dir / "demo/file_config"));
    EXPECT_EQ(Block(dir / "p2.vlt", "FILE", "levels/one"), ReadFile(dir / "demo/file_levels_one~312c0683"));

    // The two exported documents agree attribute for attribute.
    TiXmlDocument d1((dir / "d1.xml").c_str()), d2((dir / "d2.xml").c_str()), demo((dir / "demo.xml").c_str());
    ASSERT_TRUE(d1.LoadFile());
    ASSERT_TRUE(d2.LoadFile());
    ASSERT_TRUE(demo.LoadFile());
    CompareElements(d1.RootElement(), d2.RootElement());
    // And the first export says what the example said.
    CompareElements(demo.RootElement(), d1.RootElement(), false);
    EXPECT_STREQ(d1.RootElement()->Attribute("totalblocks"), demo.RootElement()->Attribute("totalblocks"));
    EXPECT_STREQ(d1.RootElement()->Attribute("source"), "p1.vlt");
    // The widget whose "hovered" image came along was stored as a complex button.
    const auto but = Block(dir / "p1.vlt", "BUT", "play");
    ASSERT_EQ(but.size(), 24u);
    EXPECT_EQ(but[6], 4);
    EXPECT_EQ(Block(dir / "p1.vlt", "BUT", "volume").at(6), 8);
}

}  // namespace
