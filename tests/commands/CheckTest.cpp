// bundlex --check: the round trip of a copy of the package, compared with
// the original resource by resource.
#include <gtest/gtest.h>

#include "CommandsFixtures.h"
#include "core/Endian.h"
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

namespace {

// Audio files that SDL and SDL_mixer cannot decode, as real packages hold
// them: WAV files of u-law (format tag 7), float (3) and 24-bit PCM samples,
// an AIFF-C file, and a 16-bit VOC file whose block length falls 8 bytes
// short of its samples (as sox writes them).
std::vector<uint8_t> Wav(uint16_t tag, uint16_t bits, std::vector<uint8_t> fmtExtra) {
    std::vector<uint8_t> fmt(16), data(96 * bits / 8, 0x5D);
    StoreLE16(&fmt[0], tag);
    StoreLE16(&fmt[2], 1);
    StoreLE32(&fmt[4], 8000);
    StoreLE32(&fmt[8], 8000 * bits / 8);
    StoreLE16(&fmt[12], static_cast<uint16_t>(bits / 8));
    StoreLE16(&fmt[14], bits);
    fmt.insert(fmt.end(), fmtExtra.begin(), fmtExtra.end());
    std::vector<uint8_t> w{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0, 0, 0, 0};
    StoreLE32(&w[16], static_cast<uint32_t>(fmt.size()));
    w.insert(w.end(), fmt.begin(), fmt.end());
    w.insert(w.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
    StoreLE32(&w[w.size() - 4], static_cast<uint32_t>(data.size()));
    w.insert(w.end(), data.begin(), data.end());
    StoreLE32(&w[4], static_cast<uint32_t>(w.size() - 8));
    return w;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Aifc() {
    const std::string comm("\0\1\0\0\0\x40\0\x10\x40\x0B\xFA\0\0\0\0\0\0\0NONE\x0Enot compressed\0", 38);
    std::string body = "AIFCFVER" + std::string("\0\0\0\4\xA2\x80\x51\x40", 8) + "COMM" +
                       std::string("\0\0\0\x26", 4) + comm + "SSND" + std::string("\0\0\0\x88", 4) +
                       std::string(8, '\0') + std::string(128, '\x21');
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

// Sounds the SDK cannot decode were stored by the import and then dropped by
// every export ("problem found exporting"), and --verify called them
// damaged. They are the user's files: exported byte for byte under the
// format their first bytes name (".bin" when none), with a warning; the
// round trip keeps them and --verify and --check call them sound.
TEST(CheckRoundTrip, SoundsTheSdkCannotDecodeAreExportedUnchangedAndAreSound) {
    const struct Kind {
        const char* name;
        const char* element;
        const char* file;
        const char* exported;
        std::vector<uint8_t> bytes;
    } kinds[] = {
        {"ulaw", "sound", "ulaw.wav", "snd_ulaw.WAV", Wav(7, 8, {0, 0})},
        {"float", "sound", "float.wav", "snd_float.WAV", Wav(3, 32, {})},
        {"pcm24", "sound", "pcm24.wav", "snd_pcm24.WAV", Wav(1, 24, {})},
        {"aifc", "sound", "aifc.aiff", "snd_aifc.AIFF", Aifc()},
        {"voc16", "sound", "voc16.voc", "snd_voc16.VOC", ShortBlockVoc16()},
        {"noise", "sound", "noise.snd", "snd_noise.bin", Bytes("\x13\x37 no audio format at all")},
        {"song", "music", "song.ogg", "mus_song.OGG", Bytes("OggS damaged beyond its first page")},
    };
    TempDir d;
    std::string doc = "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"7\">\n";
    for (const Kind& k : kinds) {
        ASSERT_TRUE(testsupport::WriteFile(d / k.file, k.bytes));
        doc += std::string("<") + k.element + " name=\"" + k.name + "\" source=\"" + k.file + "\"/>\n";
    }
    ASSERT_TRUE(testsupport::WriteFile(d / "doc.xml", Bytes(doc + "</ORB>\n")));
    std::string out;
    ASSERT_EQ(RunBundlex({"doc.xml", "pack.vlt"}, out, d.path()), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    // Exported, imported again and exported again: the same bytes each time.
    for (const std::string base : {"pack", "again"}) {
        if (base == "again") {
            ASSERT_EQ(RunBundlex({"pack.xml", "again.vlt"}, out, d.path()), 0) << out;
            EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
        }
        ASSERT_EQ(RunBundlex({base + ".vlt", base + ".xml"}, out, d.path()), 0) << out;
        EXPECT_EQ(out.find("does not match"), std::string::npos) << out;
        for (const Kind& k : kinds) {
            const std::string path = base + "/" + k.exported;
            EXPECT_EQ(ReadFile(d / path), k.bytes) << path;
            EXPECT_NE(out.find("exported unchanged to '" + path + "'.\n"), std::string::npos) << out;
        }
        EXPECT_NE(out.find("\n - WARNING: sound 'ulaw' (WAV) cannot be decoded; its bytes were exported unchanged to '" +
                           base + "/snd_ulaw.WAV'.\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("\n - WARNING: sound 'noise' is in no audio format the SDK knows; its bytes were exported "
                           "unchanged to '" + base + "/snd_noise.bin'.\n"),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(RunBundlex({"--verify", "pack.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(" - Info: block 1 'ulaw' (SND): the sound is not a WAV, AIFF, VOC or Ogg Vorbis file that the "
                       "SDK decodes; its bytes are kept and exported as they are.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" - 7 of 7 blocks are sound.\n"), std::string::npos) << out;
    EXPECT_EQ(RunBundlex({"--check", "pack.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find(Survive(7, 7)), std::string::npos) << out;
}
