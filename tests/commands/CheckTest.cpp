// bundlex --check: the round trip of a copy of the package, compared with
// the original resource by resource.
#include <gtest/gtest.h>

#include "CommandsFixtures.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"
#include "resources/IImage.h"

using namespace cmdtest;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::RunBundlex;
using testsupport::TempDir;

namespace {

std::string Survive(int n, int m) {
    return " - " + std::to_string(n) + " of " + std::to_string(m) + " resources survive the round trip\n";
}

// A package with resources that the document cannot carry: a per-surface
// image whose surface has an alpha channel (the BMP payload keeps no
// alpha), an icon widget (written as "button", read back as a plain one),
// a state image that belongs to no widget (never exported), and a block of
// a type no class owns; beside them one resource that does survive.
void BuildLossy(const std::string& path) {
    testsupport::SdkSession sdk;
    Package p(path);
    SDL_Surface* fade = Rgba(8, 4, 2);
    SDL_SetAlpha(fade, SDL_SRCALPHA, 100);
    p.Image("fade", fade);
    p.Widget("icon", kButtonIcon);
    p.Tile("orphan_n", Rgb(4, 4, 1), "TILB2");
    p.Raw("thing", "XYZ", {1, 2, 3}, stored);
    p.Raw("keeps", "FILE", {4, 5, 6}, crypted);
}

}  // namespace

TEST(CheckRoundTrip, PackageOfEveryKindSurvivesAndIsLeftByteIdentical) {
    TempDir d, scratch;
    int live = 0;
    {
        testsupport::SdkSession sdk;
        live = BuildEveryKind(d / "all.vlt", scratch.path());
    }
    const auto before = ReadFile(d / "all.vlt");
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "all.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(Survive(live, live)), std::string::npos) << out;
    EXPECT_EQ(out.find(" - Error"), std::string::npos) << out;
    // The 1.0 tile was upgraded on the copy only.
    EXPECT_EQ(ReadFile(d / "all.vlt"), before);
}

TEST(CheckRoundTrip, WritesNothingOutsideItsTemporaryFolderAndRemovesIt) {
    TempDir d, scratch, tmp;
    {
        testsupport::SdkSession sdk;
        BuildEveryKind(d / "all.vlt", scratch.path());
    }
    std::string out;
    EXPECT_EQ(RunWithTmpdir({"--check", "all.vlt"}, out, d.path(), tmp.path()), 0) << out;
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"all.vlt"});
    EXPECT_TRUE(Listing(tmp.path()).empty());
}

TEST(CheckRoundTrip, ResourcesThatCannotSurviveAreReportedPrecisely) {
    TempDir d;
    BuildLossy(d / "lossy.vlt");
    const auto before = ReadFile(d / "lossy.vlt");
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "lossy.vlt"}, out, d.path()), 1) << out;
    // The first differing pixel, with both values.
    EXPECT_NE(out.find(" - Error: image 'fade' (IMG) does not survive the round trip: pixel (0,0) RGBA(2,6,0,1) "
                       "became RGBA(2,6,0,255) (32 pixels differ).\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" - Error: widget 'icon' (BUT) does not survive the round trip: type code 2 became 1.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("state image 'orphan_n' (TILB2) does not survive the round trip: it is missing after the "
                       "round trip: a state image that belongs to no widget is not exported"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("block 'thing' (XYZ) does not survive the round trip: blocks of type 'XYZ' are not carried"),
              std::string::npos)
        << out;
    // The icon's state images and the raw file survive: 4 of 8.
    EXPECT_NE(out.find(Survive(4, 8)), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "lossy.vlt"), before);
}

TEST(CheckRoundTrip, JsonReportIsOneDocumentNamingEachDifference) {
    TempDir d;
    BuildLossy(d / "lossy.vlt");
    std::string out, v;
    EXPECT_EQ(RunBundlex({"--check", "lossy.vlt", "--json"}, out, d.path()), 1);
    EXPECT_TRUE(PythonParses(out)) << out;
    ASSERT_EQ(Jq(out, "[.ok, .resources, .survived, (.differences | length)] | @csv", v), 0) << out;
    EXPECT_EQ(v, "false,8,4,4");
    ASSERT_EQ(Jq(out, ".differences[] | select(.name == \"icon\") | .difference", v), 0);
    EXPECT_EQ(v, "type code 2 became 1");
    // The converter's own warnings travel inside the document.
    ASSERT_EQ(Jq(out, ".messages | map(select(test(\"does not match\"))) | length", v), 0);
    EXPECT_EQ(v, "1");
}

TEST(CheckRoundTrip, V3PackageIsUpgradedOnItsCopiesOnly) {
    TempDir d;
    const auto v3 = V3Package();
    ASSERT_TRUE(testsupport::WriteFile(d / "old.vlt", v3));
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "old.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(Survive(1, 1)), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "old.vlt"), v3);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"old.vlt"});
}

TEST(CheckRoundTrip, PackageThatDoesNotOpenIsRefusedWithoutWriting) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "bad.vlt");
        p.Raw("a", "FILE", {1, 2, 3, 4}, stored);
    }
    auto bytes = ReadFile(d / "bad.vlt");
    bytes.back() ^= 0x5A;  // outside the manager: the checksum no longer matches
    ASSERT_TRUE(testsupport::WriteFile(d / "bad.vlt", bytes));
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "bad.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: the round trip of 'bad.vlt' cannot be checked: it does not open"), std::string::npos)
        << out;
    EXPECT_EQ(ReadFile(d / "bad.vlt"), bytes);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"bad.vlt"});
}

TEST(CheckRoundTrip, EmptyPackageHasNothingToLose) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "empty.vlt");
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "empty.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(Survive(0, 0)), std::string::npos) << out;
}

TEST(CheckRoundTrip, PackageWhoseBlocksNoDocumentCarriesLosesThemAll) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "odd.vlt");
        p.Raw("a", "XYZ", {1}, stored);
        p.Raw("b", "DATA", {2}, compressed);
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--check", "odd.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: block 'a' (XYZ) does not survive the round trip: blocks of type 'XYZ' are not "
                       "carried by the interchange document.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("blocks of type 'DATA' are not carried"), std::string::npos) << out;
    EXPECT_EQ(out.find("could not open the given XML"), std::string::npos) << out;
    EXPECT_NE(out.find(Survive(0, 2)), std::string::npos) << out;
}
