// bundlex --verify: every live block decoded through its class; the package
// is never written, whatever it holds.
#include <gtest/gtest.h>

#include <cstring>

#include "CommandsFixtures.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"

using namespace cmdtest;
using testsupport::ReadFile;
using testsupport::RunBundlex;
using testsupport::TempDir;

namespace {

std::string Sound(int n, int m) {
    return " - " + std::to_string(n) + " of " + std::to_string(m) + " blocks are sound.\n";
}

}  // namespace

TEST(Verify, PackageOfEveryKindIsSoundAndLeftByteIdentical) {
    TempDir d, scratch;
    int live = 0;
    {
        testsupport::SdkSession sdk;
        live = BuildEveryKind(d / "all.vlt", scratch.path());
    }
    const auto before = ReadFile(d / "all.vlt");
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "all.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(Sound(live, live)), std::string::npos) << out;
    // The 1.0 tile and font decode from copies of their payloads; loading
    // them through their classes would have upgraded them in the package.
    EXPECT_NE(out.find(" - Info: 2 blocks use the 1.0 layout, which loading through the SDK upgrades in place; they "
                       "were decoded from a copy.\n"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "all.vlt"), before);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"all.vlt"});
}

TEST(Verify, DamagedBlockIsNamedWithItsReasonAndFailsTheRun) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "pack.vlt");
        p.Image("fine", Rgb(4, 4, 1));
        p.Raw("broken", "IMG", {1, 2, 3, 4, 5, 6, 7, 8, 9}, stored);  // no image header
        p.Raw("notes", "FILE", {1}, stored);
    }
    const auto before = ReadFile(d / "pack.vlt");
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: block 2 'broken' (IMG): the image does not decode"), std::string::npos) << out;
    EXPECT_EQ(out.find("'fine'"), std::string::npos) << out;
    EXPECT_NE(out.find(Sound(2, 3)), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "pack.vlt"), before);

    EXPECT_EQ(RunBundlex({"--verify", "--json", "pack.vlt"}, out, d.path()), 1);
    std::string v;
    ASSERT_EQ(Jq(out, "[.ok, .status, .blocks, .sound, .failures[0].name, .failures[0].index] | @csv", v), 0) << out;
    EXPECT_EQ(v, "false,\"damaged\",3,2,\"broken\",2");
}

TEST(Verify, StoredDataThatCannotBeRestoredIsNamedWhileListStillWorks) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        {
            Package p(d / "pack.vlt");
            p.Raw("blob", "FILE", std::vector<uint8_t>(4000, 'x'), compressed);
            p.Raw("other", "FILE", {1, 2}, stored);
        }
        DamageFirstPayload(d / "pack.vlt");
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: block 1 'blob' (FILE): the block does not load (its stored data is short, or its "
                       "compressed data cannot be restored).\n"),
              std::string::npos)
        << out;
    // Listing reads descriptors only: the damaged payload is never touched.
    EXPECT_EQ(RunBundlex({"--list", "pack.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find("blob"), std::string::npos);
}

// A sound or music block that loads but does not decode is only noted by
// --verify and exported as it is; one whose stored data cannot be restored
// is still damage, which verify names and the export cannot carry.
TEST(Verify, MusicBlockThatDoesNotLoadIsStillDamagedUnlikeOneThatDoesNotDecode) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        {
            Package p(d / "pack.vlt");
            std::vector<uint8_t> xm(4000, 'x');
            std::memcpy(xm.data(), "Extended Module: ", 17);
            p.Raw("tune", "MUS", xm, compressed);
            p.Raw("ogg", "MUS", {'O', 'g', 'g', 'S', 1, 2, 3}, crypted);
        }
        DamageFirstPayload(d / "pack.vlt");
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: block 1 'tune' (MUS): the block does not load"), std::string::npos) << out;
    EXPECT_NE(out.find(" - Info: block 2 'ogg' (MUS): the music is not"), std::string::npos) << out;
    EXPECT_NE(out.find(Sound(1, 2)), std::string::npos) << out;
    EXPECT_EQ(RunBundlex({"pack.vlt"}, out, d.path()), 0);
    EXPECT_NE(out.find("\n - WARNING: problem found exporting 'tune' music.\n"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "pack/mus_ogg.OGG"), (std::vector<uint8_t>{'O', 'g', 'g', 'S', 1, 2, 3}));
}

TEST(Verify, V3PackageIsReportedAsNeedingTheUpgradeAndLeftByteIdentical) {
    TempDir d;
    const auto v3 = V3Package();
    ASSERT_TRUE(testsupport::WriteFile(d / "old.vlt", v3));
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "old.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: 'old.vlt' cannot be verified: it is a VLT v3.0 package: it needs the upgrade to "
                       "v4.0"),
              std::string::npos)
        << out;
    EXPECT_EQ(RunBundlex({"--verify", "old.vlt", "--json"}, out, d.path()), 1);
    std::string v;
    ASSERT_EQ(Jq(out, ".status", v), 0) << out;
    EXPECT_EQ(v, "needs-upgrade");
    // No backup, no temporary file, the same bytes.
    EXPECT_EQ(ReadFile(d / "old.vlt"), v3);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"old.vlt"});
}

TEST(Verify, WidgetWithoutItsStateImageOrWithUnknownTypeIsNamed) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "pack.vlt");
        p.Tile("w_n", Rgb(4, 4, 1), "TILB2");
        p.Tile("w_p", Rgb(4, 4, 2), "TILB2");
        std::vector<uint8_t> record(IButton::kBlockSize, 0);
        record[6] = kButtonNormal;
        p.Raw("w", "BUT", record, compressed);
        record[6] = 3;
        p.Raw("odd", "BUT", record, compressed);
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: block 3 'w' (BUT): its deactivated state image 'w_o' is missing.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" - Error: block 4 'odd' (BUT): the widget type code 3 is unknown.\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find(Sound(2, 4)), std::string::npos) << out;
}

TEST(Verify, PackageWhoseChecksumDoesNotMatchIsRefused) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "pack.vlt");
        p.Raw("a", "FILE", {1, 2, 3, 4}, stored);
    }
    auto bytes = ReadFile(d / "pack.vlt");
    bytes.back() ^= 1;
    ASSERT_TRUE(testsupport::WriteFile(d / "pack.vlt", bytes));
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find("its checksum does not match its contents"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "pack.vlt"), bytes);
}

TEST(Verify, FileThatIsNoPackageOrOfAnUnknownVersionIsRefused) {
    TempDir d;
    ASSERT_TRUE(testsupport::WriteFile(d / "text.vlt", {'h', 'e', 'l', 'l', 'o', '\n'}));
    std::vector<uint8_t> v5(600, 0);
    std::memcpy(v5.data(), "VLTv5.0", 7);
    ASSERT_TRUE(testsupport::WriteFile(d / "v5.vlt", v5));
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", "text.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find("it is not a VLT package"), std::string::npos) << out;
    EXPECT_EQ(RunBundlex({"--verify", "v5.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find("VLT version '5.0' is not supported"), std::string::npos) << out;
    EXPECT_EQ(RunBundlex({"--verify", "missing.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find("the file cannot be read (No such file or directory)"), std::string::npos) << out;
}
