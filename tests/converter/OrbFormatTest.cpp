// The document format's own rules: prefix tests, value encodings and the
// payload names that must never leave the payload directory.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "OrbFormat.h"
#include "TestSupport.h"

namespace {

TEST(OrbTags, RootChildrenMatchByPrefixInTheImportOrder) {
    ASSERT_NE(orb::MatchRootChild("imagery"), nullptr);
    EXPECT_EQ(orb::MatchRootChild("imagery")->kind, orb::Kind::Image);
    EXPECT_EQ(orb::MatchRootChild("tileset")->kind, orb::Kind::Tile);
    EXPECT_EQ(orb::MatchRootChild("fontX")->kind, orb::Kind::Font);
    EXPECT_EQ(orb::MatchRootChild("sprite")->kind, orb::Kind::Sprite);
    EXPECT_EQ(orb::MatchRootChild("panels")->kind, orb::Kind::Panel);
    EXPECT_EQ(orb::MatchRootChild("picture"), nullptr);
    EXPECT_EQ(orb::MatchRootChild("spr"), nullptr);  // shorter than "sprite"
    EXPECT_EQ(orb::MatchRootChild("imag"), nullptr);
    EXPECT_EQ(orb::MatchRootChild(nullptr), nullptr);
}

TEST(OrbTags, BlockTypesMatchByPrefixAndStateImagesAreNotTiles) {
    EXPECT_EQ(orb::MatchBlockType("TILE")->kind, orb::Kind::Tile);
    EXPECT_EQ(orb::MatchBlockType("TILE2")->kind, orb::Kind::Tile);
    EXPECT_EQ(orb::MatchBlockType("SPR")->kind, orb::Kind::Sprite);
    EXPECT_EQ(orb::MatchBlockType("FONT2")->kind, orb::Kind::Font);
    EXPECT_EQ(orb::MatchBlockType("FILE")->kind, orb::Kind::File);
    EXPECT_EQ(orb::MatchBlockType("TILB2"), nullptr);
    EXPECT_EQ(orb::MatchBlockType("BUT"), nullptr);
    EXPECT_EQ(orb::MatchBlockType("DELETED"), nullptr);
    EXPECT_EQ(orb::MatchBlockType("IM"), nullptr);
}

TEST(OrbValues, PerPixelAndEnabledAreNineAndSevenCharacterPrefixes) {
    EXPECT_TRUE(orb::IsPerPixel("per-pixel"));
    EXPECT_TRUE(orb::IsPerPixel("per-pixelated"));
    EXPECT_FALSE(orb::IsPerPixel("per-pSurface"));
    EXPECT_FALSE(orb::IsPerPixel("per-surface"));
    EXPECT_FALSE(orb::IsPerPixel("per-pixe"));
    EXPECT_FALSE(orb::IsPerPixel(nullptr));
    EXPECT_TRUE(orb::IsTilesetEnabled("enabled"));
    EXPECT_TRUE(orb::IsTilesetEnabled("enabledX"));
    EXPECT_FALSE(orb::IsTilesetEnabled("enable"));
    EXPECT_FALSE(orb::IsTilesetEnabled("disabled"));
}

TEST(OrbValues, StoreMethodsAreExactAndEverythingElseIsRaw) {
    EXPECT_EQ(orb::StoreMethodMode("compressed"), 0);
    EXPECT_EQ(orb::StoreMethodMode("crypted"), 2);
    EXPECT_EQ(orb::StoreMethodMode("raw"), 1);
    EXPECT_EQ(orb::StoreMethodMode("Compressed"), 1);
    EXPECT_EQ(orb::StoreMethodMode("cryptedX"), 1);
    EXPECT_STREQ(orb::StoreMethodName(0), "compressed");
    EXPECT_STREQ(orb::StoreMethodName(1), "raw");
    EXPECT_STREQ(orb::StoreMethodName(2), "crypted");
    EXPECT_STREQ(orb::StoreMethodName(7), "raw");
}

TEST(OrbWidgets, TypeCodesOneTwoAndFourAreButtonsAndUnknownNamesAreRefused) {
    EXPECT_STREQ(orb::WidgetTypeName(1), "button");
    EXPECT_STREQ(orb::WidgetTypeName(2), "button");
    EXPECT_STREQ(orb::WidgetTypeName(4), "button");
    EXPECT_STREQ(orb::WidgetTypeName(64), "inputbox");
    EXPECT_STREQ(orb::WidgetTypeName(3), "unknown");
    EXPECT_EQ(orb::WidgetTypeCode("button"), 1);
    EXPECT_EQ(orb::WidgetTypeCode("hslider"), 8);
    EXPECT_EQ(orb::WidgetTypeCode("unknown"), 0);
    EXPECT_EQ(orb::WidgetTypeCode("buttons"), 0);
    EXPECT_STREQ(orb::StateSuffix("hovered"), "_s");
    EXPECT_STREQ(orb::StateSuffix("deactivated"), "_o");
    EXPECT_STREQ(orb::StateSuffix("glowing"), "");
}

class PayloadNames : public ::testing::Test {
protected:
    testsupport::SdkSession sdk;  // the CRC of the name uses the core object
    orb::PayloadNamer names;
};

TEST_F(PayloadNames, CleanBlockNamesKeepTheDocumentedFileName) {
    EXPECT_EQ(names.Make("img_", "logo", ".png"), "img_logo.png");
    EXPECT_EQ(names.Make("file_", "data-1.bin", ""), "file_data-1.bin");
}

TEST_F(PayloadNames, HostileNamesNeverHoldSeparatorsOrControlCharacters) {
    const char* hostile[] = {"../../etc/passwd", "/tmp/abs", "a\\b", "..", ".", "\x1b[2Jx", "a/../../b",
                             "1234567890123456789012345678901", "tab\there", ""};
    std::set<std::string> seen;
    for (const char* n : hostile) {
        const std::string file = names.Make("file_", n, "");
        EXPECT_EQ(file.find('/'), std::string::npos) << file;
        EXPECT_EQ(file.find('\\'), std::string::npos) << file;
        for (char c : file) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << file;
        EXPECT_NE(file, "..");
        EXPECT_EQ(file.compare(0, 5, "file_"), 0);
        EXPECT_TRUE(seen.insert(file).second) << file;
    }
}

TEST_F(PayloadNames, NamesThatFilterAlikeOrDifferOnlyInCaseStayUnique) {
    const std::string a = names.Make("img_", "a/b", ".png");
    const std::string b = names.Make("img_", "a_b", ".png");
    const std::string c = names.Make("img_", "a\\b", ".png");
    const std::string d = names.Make("img_", "A_B", ".png");
    const std::string e = names.Make("img_", "a_b", ".png");  // the same block name twice
    std::set<std::string> lower;
    for (std::string s : {a, b, c, d, e}) {
        for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(lower.insert(s).second) << s;
    }
    EXPECT_EQ(b, "img_a_b.png");
    EXPECT_EQ(d, "img_A_B~2.png");
}

TEST(OrbDate, DateIsTheTwentyFourCharacterTimeTextWithItsNewline) {
    const std::string d = orb::DateText();
    ASSERT_EQ(d.size(), 25u);
    EXPECT_EQ(d.back(), '\n');
    EXPECT_EQ(d[3], ' ');
    EXPECT_EQ(d[13], ':');
}

}  // namespace

