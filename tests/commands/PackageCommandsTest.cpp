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

TEST_F(Commands, SoundPackageReportedAsDamaged) {
    int live = 0;
    {
        SdkSession sdk;
        live = BuildEveryKind(d / "all.vlt", scratch.path());
    }
    const auto before = ReadFile(d / "all.vlt");
    ASSERT_EQ(Run({"--list", "all.vlt", "--json"}), 0) << out;
    EXPECT_TRUE(PythonParses(out)) << out;
    EXPECT_EQ(JqOut(out, "[.entries[] | .name + \":\" + .type] | join(\",\")"),
              "logo:IMG,backdrop:IMG,ground:TILE2,terrain:TILE2,oldtile:TILE,hero:SPR2,small:FONT2,oldfont:FONT,"
              "chime:SND,theme:MUS,readme:FILE,config:FILE,levels/one:FILE,?one:DELETED,play_n:TILB2,play_p:TILB2,"
              "play_o:TILB2,play:BUT")
        << out;
    EXPECT_EQ(JqOut(out, ".entries[] | select(.name == \"config\") | [.mode, .size, .packed_size, .deleted] | @csv"),
              "\"stored\",5,5,false");
    EXPECT_EQ(JqOut(out, ".entries[] | select(.name == \"readme\") | [.mode, .size, (.packed_size < .size)] | @csv"),
              "\"compressed\",300,true");
    EXPECT_EQ(JqOut(out, ".entries[] | select(.type == \"DELETED\") | [.deleted, .kind, .size] | @csv"),
              "true,\"deleted\",1");
    EXPECT_EQ(JqOut(out, "[.entry_count, .live, .deleted] | @csv"), "18,17,1");
    EXPECT_EQ(JqOut(out, ".totals | map(.kind + \"=\" + (.blocks | tostring)) | join(\",\")"),
              "image=2,tile=3,state image=3,sprite=1,font=2,sound=1,music=1,widget=1,file=3,deleted=1");
    ASSERT_EQ(Run({"--list", "all.vlt"}), 0);
    EXPECT_TRUE(ContainsAll(out, {" - 18 entries: 17 live, 1 deleted.\n", "   file                3 blocks"}));

    EXPECT_EQ(Run({"--verify", "all.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, Sound(live, live))) << out;
    // The 1.0 tile and font decode from copies of their payloads.
    EXPECT_TRUE(Contains(out,
                         " - Info: 2 blocks use the 1.0 layout, which loading through the SDK upgrades in "
                         "place; they were decoded from a copy.\n"))
        << out;

    TempDir tmp;
    EXPECT_EQ(RunBundlex({"--check", "all.vlt"}, out, d.path(), tmp.path()), 0) << out;
    EXPECT_TRUE(Contains(out, Survive(live, live))) << out;
    EXPECT_FALSE(Contains(out, " - Error")) << out;
    EXPECT_TRUE(Listing(tmp.path()).empty());  // its temporary folder is gone
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

namespace {

// Audio files that SDL and SDL_mixer cannot decode, as real packages hold them.
std::vector<uint8_t> Aifc() {
    const std::string comm("\0\1\0\0\0\x40\0\x10\x40\x0B\xFA\0\0\0\0\0\0\0NONE\x0Enot compressed\0", 38);
    std::string body = "AIFCFVER" + std::string("\0\0\0\4\xA2\x80\x51\x40", 8) + "COMM" + std::string("\0\0\0\x26", 4) +
                       comm + "SSND" + std::string("\0\0\0\x88", 4) + std::string(8, '\0') + std::string(128, '\x21');
    const uint32_t n = static_cast<uint32_t>(body.size());
    return Bytes("FORM" + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + body);
}

std::vector<uint8_t> ShortBlockVoc16() {
    std::vector<uint8_t> v = Bytes(std::string("Creative Voice File\x1a\x1a\0\x0a\x01\x29\x11", 26));
    v.insert(v.end(), {9, 12 + 92, 0, 0, 0x22, 0x56, 0, 0, 16, 1, 4, 0, 0, 0, 0, 0});
    for (int i = 0; i < 100; ++i) v.push_back(static_cast<uint8_t>(0xC0 + i));
    v.push_back(0);
    return v;
}

}  // namespace

// Sounds the SDK cannot decode are the user's files.
TEST_F(Commands, UndecodableSoundIsChangedOrCalledDamaged) {
    const struct Kind {
        const char* name;
        const char* element;
        const char* file;
        const char* exported;
        std::vector<uint8_t> bytes;
    } kinds[] = {
        {"ulaw", "sound", "ulaw.wav", "snd_ulaw.WAV", Wav(96, 8000, 1, 8, 7, {0, 0})},
        {"float", "sound", "float.wav", "snd_float.WAV", Wav(96, 8000, 1, 32, 3)},
        {"pcm24", "sound", "pcm24.wav", "snd_pcm24.WAV", Wav(96, 8000, 1, 24)},
        {"aifc", "sound", "aifc.aiff", "snd_aifc.AIFF", Aifc()},
        {"voc16", "sound", "voc16.voc", "snd_voc16.VOC", ShortBlockVoc16()},
        {"noise", "sound", "noise.snd", "snd_noise.bin", Bytes("\x13\x37 no audio format at all")},
        {"song", "music", "song.ogg", "mus_song.OGG", Bytes("OggS damaged beyond its first page")},
        {"kbounce", "sound", "kbounce.wav", "snd_kbounce.WAV",
         ReadFile(SourceDir() + "/tests/data/realworld/kbounce/ulaw.wav")},
    };
    // Said once, at import, with what the file is.
    const std::vector<std::string> notices = {
        "\n - Info: sound 'ulaw' is a WAV file of u-law samples: stored byte for byte; the SDK cannot decode it.\n",
        "\n - Info: sound 'float' is a WAV file of 32-bit float samples: stored",
        "\n - Info: sound 'pcm24' is a WAV file of 24-bit PCM samples: stored",
        "\n - Info: sound 'aifc' is an AIFF-C file ('NONE' compression): stored",
        "\n - Info: sound 'voc16' is a VOC file: stored",
        "\n - Info: sound 'noise' is data in no audio format the SDK knows: stored",
        "\n - Info: music 'song' is an Ogg stream: stored",
        "\n - Info: sound 'kbounce' is a WAV file of u-law samples: stored"};
    std::string doc = "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"8\">\n";
    for (const Kind& k : kinds) {
        ASSERT_TRUE(WriteFile(d / k.file, k.bytes));
        doc += std::string("<") + k.element + " name=\"" + k.name + "\" source=\"" + k.file + "\"/>\n";
    }
    ASSERT_TRUE(WriteFile(d / "doc.xml", Bytes(doc + "</ORB>\n")));
    ASSERT_EQ(Run({"doc.xml", "pack.vlt"}), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << out;
    EXPECT_TRUE(ContainsAll(out, notices));
    EXPECT_EQ(Count(out, " - Info: "), 8) << out;
    // Exported, imported again and exported again: the same bytes each time.
    for (const std::string base : {"pack", "again"}) {
        if (base == "again") {
            ASSERT_EQ(Run({"pack.xml", "again.vlt"}), 0) << out;
            EXPECT_FALSE(Contains(out, "WARNING")) << out;
        }
        ASSERT_EQ(Run({base + ".vlt", base + ".xml"}), 0) << out;
        EXPECT_FALSE(Contains(out, "does not match")) << out;
        // The export does not say it again.
        EXPECT_FALSE(Contains(out, "WARNING")) << out;
        EXPECT_FALSE(Contains(out, "decode")) << out;
        for (const Kind& k : kinds) {
            const std::string path = base + "/" + k.exported;
            EXPECT_EQ(ReadFile(d / path), k.bytes) << path;
        }
    }
    EXPECT_EQ(Run({"--verify", "pack.vlt"}), 0) << out;
    EXPECT_TRUE(ContainsAll(out, {" - Info: block 1 'ulaw' (SND): the sound is a WAV file of u-law samples, which the "
                                  "SDK cannot decode; its bytes are kept and exported as they are.\n",
                                  Sound(8, 8)}));
    EXPECT_EQ(Run({"--check", "pack.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, Survive(8, 8))) << out;
}
