// The document format's matching rules (which values are prefixes, which
// exact, what unknown values fall back to) and the payload names that must
// never leave the payload directory.
#include <set>

#include "OrbFormat.h"
#include "Support.h"

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

}  // namespace
