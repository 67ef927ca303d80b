// Sound and music blocks: identification of every format from real or
// hand-made data, storage modes, byte-exact export, and the tables' release.

#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/ISoundFX.h"
#include "resources/MixerLibrary.h"
#include "resources/VocFile.h"

using namespace testsupport;

namespace {

const std::string kData = std::string(BUNDLEX_SOURCE_DIR) + "/tests/data/sounds/";

std::vector<uint8_t> Header(const char* text, size_t at, size_t size) {
    std::vector<uint8_t> b(size, 0x11);
    std::memcpy(&b[at], text, std::strlen(text));
    return b;
}

std::string Format(const AudioInfo& r) { return std::string(r.format, strnlen(r.format, sizeof r.format)); }
// Format, channels, frequency, sample format and size.
std::tuple<std::string, int, uint32_t, int, uint32_t> Fields(const AudioInfo& r) {
    return {Format(r), r.channels, r.frequency, r.sampleFormat, r.size};
}

// Runs the body with the current directory set to dir.
struct InDir {
    explicit InDir(const std::string& dir) {
        char* cwd = getcwd(nullptr, 0);
        old = cwd ? cwd : ".";
        free(cwd);
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~InDir() { EXPECT_EQ(chdir(old.c_str()), 0); }
    std::string old;
};

class SoundPackage : public PackageTest {
protected:
    std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string f = dir / name;
        EXPECT_TRUE(WriteFile(f, bytes));
        return f;
    }
    uint8_t StoredMode(const char* type, const char* name) {
        BlockInfo bi{};
        if (g_pStuffVLT->FindFirst(id, &bi) != 1) return 0xFF;
        do {
            if (!std::strcmp(bi.type, type) && !std::strcmp(bi.name, name)) return bi.mode;
        } while (g_pStuffVLT->FindNext(id, &bi) == 1);
        return 0xFF;
    }
    const int& pkg = id;
};

}  // namespace

// Decoding needs neither an open audio device nor an explicit Mix_Init.
namespace {
// The sound interface alone (no SDK started, no audio device), and a folder for the files.
class SoundFile : public ::testing::Test {
protected:
    ISoundFX fx;
    TempDir dir;
};
using SoundInfoFile = SoundFile;
using MusicInfoFile = SoundFile;
}  // namespace

namespace {

// A VOC file: the 26-byte header (check word from version, or as given)
// and the blocks as given, each a type byte, a 24-bit length and its body.
struct Voc {
    std::vector<uint8_t> b;
    explicit Voc(uint16_t version = 0x010A, int check = -1) {
        b.assign(26, 0);
        std::memcpy(&b[0], "Creative Voice File\x1a", 20);
        StoreLE16(&b[20], 26);
        StoreLE16(&b[22], version);
        StoreLE16(&b[24], static_cast<uint16_t>(check < 0 ? ~version + 0x1234 : check));
    }
    Voc& Block(uint8_t type, const std::vector<uint8_t>& body, size_t samples = 0, int length = -1) {
        const uint32_t n = length < 0 ? static_cast<uint32_t>(body.size() + samples) : static_cast<uint32_t>(length);
        b.insert(b.end(), {type, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16)});
        b.insert(b.end(), body.begin(), body.end());
        for (size_t i = 0; i < samples; ++i) b.push_back(static_cast<uint8_t>(0x80 + i % 7));
        return *this;
    }
    Voc& Sound(uint8_t code, size_t samples, uint8_t codec = 0) { return Block(1, {code, codec}, samples); }
    Voc& NewSound(uint32_t freq, uint8_t bits, uint8_t channels, uint16_t codec, size_t bytes, int length = -1) {
        return Block(9,
                     {uint8_t(freq), uint8_t(freq >> 8), uint8_t(freq >> 16), uint8_t(freq >> 24), bits, channels,
                      uint8_t(codec), uint8_t(codec >> 8), 0, 0, 0, 0},
                     bytes, length);
    }
    Voc& Silence(uint16_t samples, uint8_t code) { return Block(3, {uint8_t(samples), uint8_t(samples >> 8), code}); }
    Voc& Stereo(uint16_t timeConstant, uint8_t mode = 1) {
        return Block(8, {uint8_t(timeConstant), uint8_t(timeConstant >> 8), 0, mode});
    }
    Voc& End(std::vector<uint8_t> after = {}) {
        b.push_back(0);
        b.insert(b.end(), after.begin(), after.end());
        return *this;
    }
};

}  // namespace

// VOC files are never given to SDL_mixer's loader.
TEST_F(SoundInfoFile, VocFormatFromItsBlocksIsWhatSdlMixerReports) {
    const struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"8-bit mono", Voc().Sound(131, 200).End().b},
        {"text, silence and continuation",
         Voc().Block(5, {'h', 'i', 0}).Sound(156, 50).Silence(900, 156).Block(2, {}, 70).Silence(500, 100).End().b},
        {"no end block", Voc().Sound(131, 64).b},
        {"new 8-bit", Voc().NewSound(22050, 8, 1, 0, 300).End().b},
        {"new 16-bit mono", Voc().NewSound(22050, 16, 1, 4, 300).Block(2, {}, 100).End().b},
        {"new 16-bit stereo", Voc().NewSound(44100, 16, 2, 4, 400).End({0}).b},
        {"stereo through an extended block", Voc().Stereo(59732).Sound(0, 200).End().b},
        {"real file from sox", ReadFile(kData + "tone_8000_mono8.voc")},
    };
    for (const Case& c : cases) {
        vocfile::Format f;
        const char* why = nullptr;
        ASSERT_TRUE(vocfile::ReadFormat(c.bytes.data(), c.bytes.size(), f, why)) << c.what << ": " << why;
        SDL_RWops* rw = SDL_RWFromConstMem(c.bytes.data(), static_cast<int>(c.bytes.size()));
        SDL_AudioSpec spec{};
        Uint8* buf = nullptr;
        Uint32 len = 0;
        const mixer::Functions* mix = mixer::Library();
        ASSERT_TRUE(mix) << SDL_GetError();
        ASSERT_TRUE(mix->loadVOC(rw, 1, &spec, &buf, &len)) << c.what << ": " << SDL_GetError();
        SDL_FreeWAV(buf);
        EXPECT_EQ(f.decodedBytes, len) << c.what;
        const std::string file = dir / "a.voc";
        ASSERT_TRUE(WriteFile(file, c.bytes));
        AudioInfo r{};
        ASSERT_TRUE(fx.SoundInfo(0, file.c_str(), &r)) << c.what;
        EXPECT_EQ(Fields(r), std::make_tuple(std::string("VOC"), int(spec.channels), uint32_t(spec.freq),
                                             int(spec.format), uint32_t(c.bytes.size())))
            << c.what;
    }
}

// Each of these made SDL_mixer's VOC loader write past its buffer, allocate
// far more than the file holds, divide by zero, leak, or read the samples
// as something they are not (tests/data/fuzz/media). They are refused
// before any loader sees them, still named "VOC".
TEST_F(SoundInfoFile, VocThatSdlMixerWouldMisreadOrBeHarmedByIsRefused) {
    Voc silences;
    silences.Sound(131, 10);
    for (int i = 0; i < 200; ++i) silences.Silence(65535, 131);  // 13 MB of silence from 1.4 kB
    const struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"sound block shorter than its header: 4 GiB", Voc().Block(1, {131}).End().b},
        {"sound block without samples, then more", Voc().Sound(131, 0).Sound(131, 50).End().b},
        {"blocks after the end block", Voc().Sound(131, 50).End({3, 3, 0, 0, 0x48, 0x76, 0x8D}).b},
        {"continuation without samples", Voc().Sound(131, 50).Block(2, {}).Sound(131, 5).End().b},
        {"silence rescaled to nothing", Voc().Sound(131, 50).Silence(1, 255).Sound(131, 5).End().b},
        {"silence only: division by zero", Voc().Silence(8000, 131).End().b},
        {"silence before sound data", Voc().Silence(100, 131).Sound(131, 50).End().b},
        {"silence beside a frequency", Voc().NewSound(22050, 8, 1, 0, 50).Silence(100, 131).End().b},
        {"silence expanding far beyond the file", silences.End().b},
        {"mono extended block: division by zero", Voc().Stereo(59732, 0).Sound(0, 200).End().b},
        {"extended block without sound data", Voc().Stereo(59732).Silence(100, 131).End().b},
        {"marker block", Voc().Sound(131, 50).Block(4, {1, 0}).Sound(131, 50).End().b},
        {"rate codes differ (loader leaked its buffer)", Voc().Sound(131, 50).Sound(0x50, 50).End().b},
        {"rate code above 65535 Hz", Voc().Sound(250, 50).End().b},
        {"u-law samples read as PCM", Voc().NewSound(8000, 8, 1, 7, 50).End().b},
        {"16-bit samples in a classic sound block", Voc().Sound(131, 50, 4).End().b},
        {"16-bit block 8 bytes short, as sox writes it", Voc().NewSound(22050, 16, 1, 4, 300, 12 + 292).End().b},
        {"half a 16-bit sample", Voc().NewSound(22050, 16, 1, 4, 301).End().b},
        {"no channels", Voc().NewSound(22050, 8, 0, 0, 50).End().b},
        {"frequency beyond SDL's int", Voc().NewSound(0xFFFFFFFF, 8, 1, 0, 50).End().b},
        {"block longer than the file", Voc().Block(1, {131, 0}, 10, 40).b},
        {"check word does not match", Voc(0x010A, 0x1234).Sound(131, 50).End().b},
        {"unknown block type", Voc().Sound(131, 50).Block(10, {1, 2}).End().b},
        {"cut inside its header", std::vector<uint8_t>(silences.b.begin(), silences.b.begin() + 20)},
    };
    for (const Case& c : cases) {
        const std::string f = dir / "bad.voc";
        ASSERT_TRUE(WriteFile(f, c.bytes));
        AudioInfo r{};
        EXPECT_FALSE(fx.SoundInfo(0, f.c_str(), &r)) << c.what;
        EXPECT_EQ(Format(r), "VOC") << c.what;
    }
}

TEST(SoundInfoHandle, NegativeHandleOrMissingFileIsRefused) {
    SdkSession session;
    AudioInfo r{};
    EXPECT_FALSE(g_pSoundFX->SoundInfo(-3, "x", &r));
    EXPECT_FALSE(g_pSoundFX->MusicInfo(-3, "x", &r));
    EXPECT_FALSE(g_pSoundFX->SoundInfo(0, "/no/such/file.wav", &r));
}

TEST_F(SoundPackage, ImportFailuresReturnZero) {
    LogCapture cap;
    EXPECT_EQ(g_pSoundFX->SoundImport(0, "a", (dir / "x").c_str()), 0);
    EXPECT_EQ(cap.Take(), "");
    EXPECT_EQ(g_pSoundFX->SoundImport(pkg, "a", (dir / "missing.wav").c_str()), 0);
    EXPECT_EQ(cap.Take(), " . [ISoundFX->SoundImport('" + dir / "test.vlt" + "','a','" + dir / "missing.wav" +
                              "'] Error: sound not found.\n");
    EXPECT_EQ(g_pSoundFX->MusicImport(pkg, "a", (dir / "missing.xm").c_str()), 0);
    EXPECT_TRUE(Contains(cap.Take(), "')] Error: music not found.\n"));
    // A name cut to 31 characters would land on another block.
    const std::string wav = File("w.wav", Wav(10, 8000, 1, 8));
    EXPECT_EQ(g_pSoundFX->SoundImport(pkg, std::string(40, 'n').c_str(), wav.c_str()), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Error"));
}

TEST_F(SoundPackage, ExportWritesTheImportedBytesExactly) {
    const std::string aiff = kData + "tone_11025_mono16.aiff";
    const std::string xm = File("tune.xm", Header("Extended Module: t", 0, 5000));
    ASSERT_GT(g_pSoundFX->SoundImport(pkg, "boom", aiff.c_str()), 0);
    ASSERT_GT(g_pSoundFX->MusicImport(pkg, "tune", xm.c_str()), 0);
    const std::string out = dir / "new/deeper/boom.aiff";
    ASSERT_TRUE(g_pSoundFX->Export(pkg, "boom", 0, out.c_str()));
    EXPECT_EQ(ReadFile(out), ReadFile(aiff));
    ASSERT_TRUE(g_pSoundFX->Export(pkg, "tune", 1, (dir / "t.xm").c_str()));
    EXPECT_EQ(ReadFile(dir / "t.xm"), ReadFile(xm));

    LogCapture cap;
    EXPECT_FALSE(g_pSoundFX->Export(pkg, "tune", 0, (dir / "x").c_str()));  // a MUS, not a SND
    EXPECT_TRUE(Contains(cap.Take(), "Error: sound block not found.\n"));
    EXPECT_FALSE(FileExists(dir / "x"));
    EXPECT_FALSE(g_pSoundFX->Export(0, "boom", 0, (dir / "x").c_str()));
}

TEST_F(SoundPackage, UnnamedExportLeavesTheCurrentDirectory) {
    const std::string aiff = kData + "tone_11025_mono16.aiff";
    const std::string junk = File("junk.bin", Header("JUNK", 0, 32));
    ASSERT_GT(g_pSoundFX->SoundImport(pkg, "boom", aiff.c_str()), 0);
    ASSERT_GT(g_pSoundFX->SoundImport(pkg, "../../escape", aiff.c_str()), 0);
    ASSERT_GT(g_pSoundFX->SoundImport(pkg, "odd", junk.c_str()), 0);
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    InDir in(dir / "out");
    EXPECT_TRUE(g_pSoundFX->Export(pkg, "boom", 0, nullptr));
    EXPECT_EQ(ReadFile("boom.AIFF"), ReadFile(aiff));
    EXPECT_TRUE(g_pSoundFX->Export(pkg, "../../escape", 0, nullptr));
    EXPECT_TRUE(FileExists(".._.._escape.AIFF"));
    EXPECT_FALSE(FileExists(dir / "escape.AIFF"));
    // Format not recognised: the block type names the extension; a WAV
    // that does not decode (u-law samples) is still named by its head.
    EXPECT_TRUE(g_pSoundFX->Export(pkg, "odd", 0, nullptr));
    EXPECT_EQ(ReadFile("odd.SND"), ReadFile(junk));
    std::vector<uint8_t> ulaw = Wav(40, 8000, 1, 8);
    StoreLE16(&ulaw[20], 7);
    ASSERT_GT(g_pSoundFX->SoundImport(pkg, "ulaw", File("ulaw.wav", ulaw).c_str()), 0);
    EXPECT_TRUE(g_pSoundFX->Export(pkg, "ulaw", 0, nullptr));
    EXPECT_EQ(ReadFile("ulaw.WAV"), ulaw);
    // A name nobody gave never replaces an existing file.
    ASSERT_TRUE(WriteFile("boom.AIFF", {1, 2, 3}));
    LogCapture cap;
    EXPECT_FALSE(g_pSoundFX->Export(pkg, "boom", 0, nullptr));
    EXPECT_EQ(ReadFile("boom.AIFF"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(Contains(cap.Take(), "Error"));
}

namespace {
Mix_Chunk* FakeChunk() {
    auto* c = static_cast<Mix_Chunk*>(SDL_malloc(sizeof(Mix_Chunk)));
    c->allocated = 1;
    c->abuf = static_cast<Uint8*>(SDL_malloc(16));
    c->alen = 16;
    c->volume = 128;
    return c;
}
}  // namespace

// Free outside the tables does nothing.
TEST(SoundTables, FreeOutsideTheTablesOrLeftoverLeaks) {
    {
        ISoundFX fx;
        fx.Free(256, 1);
        fx.Free(32, 0);
        fx.Free(-1, 1);
        fx.Free(-1, 0);
        fx.Free(5, 1);  // empty slot
        for (Mix_Chunk* c : ISoundFX::sounds) EXPECT_EQ(c, nullptr);
    }
    LogCapture cap;
    {
        ISoundFX fx;
        ISoundFX::sounds[3] = FakeChunk();
        ISoundFX::sounds[255] = FakeChunk();
        MusicEntry& m = ISoundFX::music[31];
        m.inUse = 1;
        m.source = 1;
        m.buffer = SDL_malloc(64);
        m.stream = SDL_RWFromMem(m.buffer, 64);
        cap.Take();
    }
    EXPECT_TRUE(InOrder(cap.Take(), {"left 2 sounds without deleting.", "left 1 music without deleting."}));
    EXPECT_TRUE(!ISoundFX::sounds[3] && !ISoundFX::music[31].inUse && !ISoundFX::music[31].stream);
}
