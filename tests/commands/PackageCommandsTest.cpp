// bundlex --list, --verify and --check.
#include <cstring>

#include "Support.h"
#include "core/Endian.h"
#include "resources/IButton.h"

using namespace testsupport;

namespace {

std::string Sound(int n, int m) {
    return " - " + std::to_string(n) + " of " + std::to_string(m) + " blocks are sound.\n";
}
std::string Survive(int n, int m) {
    return " - " + std::to_string(n) + " of " + std::to_string(m) + " resources survive the round trip\n";
}

class Commands : public ::testing::Test {
protected:
    TempDir d, scratch;
    std::string out, v;
    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, d.path()); }
    // The package file, after building it in this process.
    template <class Build>
    std::string Make(const char* name, Build build) {
        SdkSession sdk;
        {
            PackageBuilder p(d / name);
            build(p);
        }
        return name;
    }
};

}  // namespace

// Each command refuses a file it cannot read as a 4.0 package with the same
// reason, and leaves it byte for byte as it was with nothing beside it. A
// 3.0 package would be upgraded in place by opening it: only --check, which
// works on copies, may go on.
TEST_F(Commands, UnopenablePackageIsChanged) {
    std::vector<uint8_t> v5(600, 0);
    std::memcpy(v5.data(), "VLTv5.0", 7);
    Make("crc.vlt", [](PackageBuilder& p) { p.Raw("a", "FILE", {1, 2, 3, 4}); });
    std::vector<uint8_t> crc = ReadFile(d / "crc.vlt");
    crc.back() ^= 0x5A;  // outside the manager: the checksum no longer matches
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* reason;
    } damages[] = {
        {"old.vlt", V3Package(),
         "it is a VLT v3.0 package: it needs the upgrade to v4.0, which opening it would do in "
         "place; it was left unchanged.\n"},
        {"text.vlt", Bytes("hello\n"), "it is not a VLT package.\n"},
        {"v5.vlt", v5, "VLT version '5.0' is not supported.\n"},
        {"crc.vlt", crc,
         "it does not open: its header block is damaged or its checksum does not match its contents.\n"},
        {"missing.vlt", {}, "the file cannot be read (No such file or directory).\n"},
    };
    for (const auto& damage : damages) {
        const std::string f = damage.file;
        if (f != "missing.vlt") {
            ASSERT_TRUE(WriteFile(d / f, damage.bytes));
        }
        const std::vector<std::string> before = Listing(d.path());
        const std::pair<const char*, std::string> commands[] = {
            {"--list", " - Error: cannot list '" + f + "': "},
            {"--verify", " - Error: '" + f + "' cannot be verified: "},
            {"--check", " - Error: the round trip of '" + f + "' cannot be checked: "},
        };
        for (const auto& [command, prefix] : commands) {
            SCOPED_TRACE(std::string(command) + " " + f);
            if (f == "old.vlt" && std::string(command) == "--check") {
                EXPECT_EQ(Run({command, f}), 0) << out;
                EXPECT_TRUE(Contains(out, Survive(1, 1))) << out;
            } else {
                EXPECT_EQ(Run({command, f}), 1);
                EXPECT_TRUE(Contains(out, prefix + damage.reason)) << out;
                // The JSON form is still one document that says so.
                EXPECT_EQ(Run({command, "--json", f}), 1);
                EXPECT_TRUE(PythonParses(out)) << out;
                EXPECT_EQ(JqOut(out, "[.ok, .package] | @csv"), "false,\"" + f + "\"") << out;
            }
            if (f != "missing.vlt") {
                EXPECT_EQ(ReadFile(d / f), damage.bytes);
            }
            EXPECT_EQ(Listing(d.path()), before);
        }
    }
    EXPECT_EQ(Run({"--verify", "old.vlt", "--json"}), 1);
    EXPECT_EQ(JqOut(out, ".status"), "needs-upgrade") << out;
}

// The round trip works on copies in a temporary folder, removed afterwards.
TEST_F(Commands, CheckLeavesTheTemporaryFolderOrChangesThePackage) {
    {
        SdkSession sdk;
        BuildEveryKind(d / "all.vlt", scratch.path());
    }
    const auto before = ReadFile(d / "all.vlt");
    TempDir tmp;
    EXPECT_EQ(RunBundlex({"--check", "all.vlt"}, out, d.path(), tmp.path()), 0) << out;
    EXPECT_TRUE(Listing(tmp.path()).empty());
    EXPECT_EQ(ReadFile(d / "all.vlt"), before);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"all.vlt"});
}

TEST_F(Commands, EmptyPackageReportedAsFailing) {
    Make("empty.vlt", [](PackageBuilder&) {});
    EXPECT_EQ(Run({"--list", "empty.vlt"}), 0);
    EXPECT_TRUE(Contains(out, " - 0 entries: 0 live, 0 deleted.\n")) << out;
    EXPECT_EQ(Run({"--list", "empty.vlt", "--json"}), 0);
    EXPECT_EQ(JqOut(out, "[(.entries | length), .live, .ok] | @csv"), "0,0,true") << out;
    EXPECT_EQ(Run({"--check", "empty.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, Survive(0, 0))) << out;
}

TEST_F(Commands, HostileNameLeftUnescaped) {
    const std::vector<std::string> names = {"quo\"te",   "back\\slash", "new\nline",   "esc\x1b[31mred",  "bell\x07",
                                            "latin\xff", "c1\xc2\x9b",  "caf\xc3\xa9", "tab\tcr\rdel\x7f"};
    Make("names.vlt", [&](PackageBuilder& p) {
        for (const std::string& n : names) p.Raw(n.c_str(), "FILE", {1});
    });
    ASSERT_EQ(Run({"--list", "names.vlt"}), 0);
    for (unsigned char c : out) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << "raw control byte " << int(c) << " in\n" << out;
        if (c < 0x20 && c != '\n') break;
    }
    for (const char* shown : {"quo\"te", "back\\\\slash", "new\\nline", "esc\\x1B[31mred", "bell\\x07", "latin\\xFF",
                              "c1\\xC2\\x9B", "caf\xc3\xa9", "tab\\tcr\\rdel\\x7F"})
        EXPECT_TRUE(Contains(out, shown)) << shown << "\n" << out;
    ASSERT_EQ(Run({"--list", "--json", "names.vlt"}), 0);
    EXPECT_TRUE(PythonParses(out)) << out;
    EXPECT_EQ(JqOut(out, "[.entries[].name] | tojson"),
              "[\"quo\\\"te\",\"back\\\\slash\",\"new\\nline\",\"esc\\u001b[31mred\",\"bell\\u0007\","
              "\"latin\xc3\xbf\",\"c1\xc2\x9b\",\"caf\xc3\xa9\",\"tab\\tcr\\rdel\\u007f\"]")
        << out;
}

TEST_F(Commands, DamagedBlockPassesTheVerify) {
    Make("pack.vlt", [](PackageBuilder& p) {
        p.Image("fine", Rgb(4, 4, 1));
        p.Raw("broken", "IMG", {1, 2, 3, 4, 5, 6, 7, 8, 9});  // no image header
        p.Tile("w_n", Rgb(4, 4, 1), "TILB2");
        p.Tile("w_p", Rgb(4, 4, 2), "TILB2");
        std::vector<uint8_t> record(IButton::kBlockSize, 0);
        record[6] = kButtonNormal;
        p.Raw("w", "BUT", record, compressed);
        record[6] = 3;
        p.Raw("odd", "BUT", record, compressed);
    });
    const auto before = ReadFile(d / "pack.vlt");
    EXPECT_EQ(Run({"--verify", "pack.vlt"}), 1);
    EXPECT_FALSE(Contains(out, "'fine'")) << out;
    EXPECT_TRUE(InOrder(out, {" - Error: block 2 'broken' (IMG): the image does not decode",
                              " - Error: block 5 'w' (BUT): its deactivated state image 'w_o' is missing.\n",
                              " - Error: block 6 'odd' (BUT): the widget type code 3 is unknown.\n", Sound(3, 6)}));
    EXPECT_EQ(Run({"--verify", "--json", "pack.vlt"}), 1);
    EXPECT_EQ(JqOut(out, "[.ok, .status, .blocks, .sound, .failures[0].name, .failures[0].index] | @csv"),
              "false,\"damaged\",6,3,\"broken\",2")
        << out;
    EXPECT_EQ(ReadFile(d / "pack.vlt"), before);
}

// A block whose stored data cannot be restored is damage that --verify
// names and the export cannot carry (listing, which reads descriptors only,
// still works); a music block that loads but does not decode is only noted
// and exported as it is.
TEST_F(Commands, BlockWhoseStoredDataCannotBeRestoredIsDamagedUnlikeMusicThatDoesNotDecode) {
    {
        SdkSession sdk;  // the same manager: it takes the damaged file for the one it wrote
        {
            PackageBuilder p(d / "pack.vlt");
            std::vector<uint8_t> xm(4000, 'x');
            std::memcpy(xm.data(), "Extended Module: ", 17);
            p.Raw("tune", "MUS", xm, compressed);
            p.Raw("ogg", "MUS", {'O', 'g', 'g', 'S', 1, 2, 3}, crypted);
        }
        DamageFirstPayload(d / "pack.vlt");
    }
    EXPECT_EQ(Run({"--verify", "pack.vlt"}), 1);
    EXPECT_TRUE(InOrder(
        out, {" - Error: block 1 'tune' (MUS): the block does not load (its stored data is short, or "
              "its compressed data cannot be restored).\n",
              " - Info: block 2 'ogg' (MUS): the music is an Ogg stream, which the SDK cannot decode", Sound(1, 2)}));
    EXPECT_EQ(Run({"--list", "pack.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, "tune"));
    EXPECT_EQ(Run({"pack.vlt"}), 3);
    EXPECT_TRUE(Contains(out, "\n - WARNING: problem found exporting 'tune' music.\n")) << out;
    EXPECT_EQ(ReadFile(d / "pack/mus_ogg.OGG"), (std::vector<uint8_t>{'O', 'g', 'g', 'S', 1, 2, 3}));
}

// Resources the document cannot carry.
TEST_F(Commands, CheckReportsEachResourceThatCannotSurvivePrecisely) {
    Make("lossy.vlt", [](PackageBuilder& p) {
        SDL_Surface* fade = Rgba(8, 4, 2);
        SDL_SetAlpha(fade, SDL_SRCALPHA, 100);
        p.Image("fade", fade);
        p.Widget("icon", kButtonIcon);
        p.Tile("orphan_n", Rgb(4, 4, 1), "TILB2");
        p.Raw("thing", "XYZ", {1, 2, 3});
        p.Raw("keeps", "FILE", {4, 5, 6}, crypted);
    });
    const auto before = ReadFile(d / "lossy.vlt");
    EXPECT_EQ(Run({"--check", "lossy.vlt"}), 1) << out;
    // The first differing pixel, with both values.
    // The icon's state images and the raw file survive.
    EXPECT_TRUE(InOrder(out, {" - Error: image 'fade' (IMG) does not survive the round trip: pixel (0,0) RGBA(2,6,0,1) "
                              "became RGBA(2,6,0,255) (32 pixels differ).\n",
                              " - Error: widget 'icon' (BUT) does not survive the round trip: type code 2 became 1.\n",
                              "state image 'orphan_n' (TILB2) does not survive the round trip: it is missing after the "
                              "round trip: a state image that belongs to no widget is not exported",
                              " - Error: block 'thing' (XYZ) does not survive the round trip: blocks of type 'XYZ' are "
                              "not carried by the interchange document.\n",
                              Survive(4, 8)}));
    EXPECT_EQ(ReadFile(d / "lossy.vlt"), before);

    EXPECT_EQ(Run({"--check", "lossy.vlt", "--json"}), 1);
    EXPECT_TRUE(PythonParses(out)) << out;
    EXPECT_EQ(JqOut(out, "[.ok, .resources, .survived, (.differences | length)] | @csv"), "false,8,4,4") << out;
    EXPECT_EQ(JqOut(out, ".differences[] | select(.name == \"icon\") | .difference"), "type code 2 became 1");
    // The converter's own warnings travel inside the document.
    EXPECT_EQ(JqOut(out, ".messages | map(select(test(\"does not match\"))) | length"), "1");

    // Nothing exported at all: the check still compares, without a document to read.
    Make("odd.vlt", [](PackageBuilder& p) {
        p.Raw("a", "XYZ", {1});
        p.Raw("b", "DATA", {2}, compressed);
    });
    EXPECT_EQ(Run({"--check", "odd.vlt"}), 1);
    EXPECT_TRUE(InOrder(out, {"blocks of type 'DATA' are not carried", Survive(0, 2)}));
    EXPECT_FALSE(Contains(out, "could not open the given XML")) << out;
}
