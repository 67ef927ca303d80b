#include "CommandsFixtures.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace cmdtest {

namespace {

void Put(SDL_Surface* s, int x, int y, Uint32 v) {
    std::memcpy(static_cast<Uint8*>(s->pixels) + y * s->pitch + x * 4, &v, 4);
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

SDL_Surface* FontStrip() {
    const int h = 8;
    int width = 1;
    for (int c = 33; c <= 126; ++c) width += 2 + c % 2 + 1;
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, width, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    SDL_FillRect(s, nullptr, 0);
    int x = 1;
    for (int c = 33; c <= 126; ++c) {
        const int w = 2 + c % 2;
        for (int i = 0; i < w; ++i)
            for (int y = 2; y < h; ++y) Put(s, x + i, y, SDL_MapRGB(s->format, 200, 200, static_cast<Uint8>(c)));
        x += w + 1;
    }
    return s;
}

}  // namespace

int Shell(const std::string& command, std::string& out) {
    out.clear();
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SDL_Surface* Rgba(int w, int h, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0x000000FF, 0x0000FF00,
                                          0x00FF0000, 0xFF000000);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(s, x, y,
                SDL_MapRGBA(s->format, static_cast<Uint8>(x * 7 + seed), static_cast<Uint8>(y * 5 + seed * 3),
                            static_cast<Uint8>(x ^ y), static_cast<Uint8>((x + y) * 9 + 1)));
    return s;
}

SDL_Surface* Rgb(int w, int h, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(s, x, y,
                SDL_MapRGB(s->format, static_cast<Uint8>(x * 11 + seed), static_cast<Uint8>(y * 3),
                           static_cast<Uint8>(seed * 17)));
    return s;
}

Package::Package(const std::string& path) {
    id_ = g_pStuffVLT->Create(path.c_str());
    EXPECT_GT(id_, 0) << path;
}

void Package::Close() {
    if (id_ > 0) g_pStuffVLT->Close(id_);
    id_ = 0;
}

void Package::Image(const char* name, SDL_Surface* s) {
    EXPECT_GT(g_pImage->Save(id_, name, s), 0) << name;
    SDL_FreeSurface(s);
}

void Package::Tile(const char* name, SDL_Surface* s, const char* type, int x, int y, bool tileset) {
    CTile t;
    EXPECT_TRUE(t.Create(s, name)) << name;
    SDL_FreeSurface(s);
    t.SetPosition(x, y);
    if (tileset) {
        EXPECT_TRUE(t.SetTileset(1, 8, 4)) << name;
    }
    EXPECT_GT(t.Save(id_, type), 0) << name;
}

void Package::Sprite(const char* name) {
    CSprite sp;
    SDL_Surface* sheet = Rgba(64, 48, 9);
    EXPECT_GT(sp.Create(sheet, name, 16, 16), 0) << name;
    SDL_FreeSurface(sheet);
    EXPECT_TRUE(sp.SetAnimProperties(1, 4, 1, -3, 5, 0, 3));
    EXPECT_TRUE(sp.SetAnimProperties(2, 8, 0, 2, 2, 1, 2));
    EXPECT_TRUE(sp.SetFrame(1, 2, 250));
    EXPECT_TRUE(sp.SetFrame(3, 4, 40));
    EXPECT_GT(sp.Save(id_, "SPR2"), 0) << name;
}

void Package::Font(const char* name, int kerning) {
    CFont f;
    SDL_Surface* s = FontStrip();
    EXPECT_EQ(f.Create(s), CFont::kCreated) << name;
    SDL_FreeSurface(s);
    f.SetKerning(kerning);
    EXPECT_GT(f.Save(id_, name), 0) << name;
}

void Package::Sound(const char* name, const std::string& file) {
    EXPECT_GT(g_pSoundFX->SoundImport(id_, name, file.c_str()), 0) << name;
}

void Package::Music(const char* name, const std::string& file) {
    EXPECT_GT(g_pSoundFX->MusicImport(id_, name, file.c_str()), 0) << name;
}

void Package::Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name);
    std::snprintf(info.type, sizeof info.type, "%s", type);
    info.mode = mode;
    info.size = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> copy = bytes;
    copy.push_back(0);
    info.data = copy.data();
    EXPECT_GT(g_pStuffVLT->AddData(id_, &info), 0) << name;
}

void Package::Widget(const char* name, uint8_t type) {
    const std::vector<std::string> suffixes =
        type == kButtonComplex ? std::vector<std::string>{"_n", "_s", "_p", "_o"} : std::vector<std::string>{"_n", "_p", "_o"};
    uint32_t seed = 20;
    for (const std::string& suffix : suffixes) Tile((name + suffix).c_str(), Rgb(12, 6, seed++), "TILB2", 0, 0);
    ButtonRecord r;
    r.key = 32;
    r.type = type;
    r.selectBox = 0xFF00FF00u;
    r.x = 40;
    r.y = -7;
    r.range = type == kButtonSlider ? 100 : -5;
    r.value = type == kButtonSlider ? 60 : 77;
    EXPECT_GT(g_pButton->Save(id_, name, &r), 0) << name;
}

void Package::LegacyTile(const char* name, const std::string& scratchDir) {
    const std::string scratch = scratchDir + "/legacy-scratch.vlt";
    std::vector<uint8_t> payload;
    {
        Package p(scratch);
        p.Tile(name, Rgb(10, 5, 3), "TILE2", 6, 9);
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        ASSERT_GT(g_pStuffVLT->LoadBlock(p.id(), "TILE2", name, &info), 0);
        payload.assign(info.data, info.data + info.size);
        g_pStuffVLT->FreeBlock(&info);
    }
    std::filesystem::remove(scratch);
    ASSERT_GT(payload.size(), CTile::kTrailerSize);
    payload.resize(payload.size() - CTile::kTrailerSize);
    Raw(name, "TILE", payload, compressed);
}

void Package::LegacyFont(const char* name, const std::string& scratchDir) {
    const std::string scratch = scratchDir + "/legacy-font.vlt";
    std::vector<uint8_t> payload;
    {
        Package p(scratch);
        p.Font(name, 0);
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        ASSERT_GT(g_pStuffVLT->LoadBlock(p.id(), "FONT2", name, &info), 0);
        payload.assign(info.data, info.data + info.size);
        g_pStuffVLT->FreeBlock(&info);
    }
    std::filesystem::remove(scratch);
    ASSERT_GT(payload.size(), CFont::kTailSize);
    payload.resize(payload.size() - CFont::kTailSize);
    Raw(name, "FONT", payload, compressed);
}

void Package::Delete(const char* name, const char* type) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name);
    std::snprintf(info.type, sizeof info.type, "%s", type);
    EXPECT_EQ(g_pStuffVLT->Delete(id_, &info), 1) << name;
}

std::vector<uint8_t> Wav(int samples) {
    const uint32_t data = static_cast<uint32_t>(samples) * 2;
    std::vector<uint8_t> w(44 + data, 0);
    std::memcpy(w.data(), "RIFF", 4);
    StoreLE32(w.data() + 4, 36 + data);
    std::memcpy(w.data() + 8, "WAVEfmt ", 8);
    StoreLE32(w.data() + 16, 16);
    StoreLE16(w.data() + 20, 1);      // PCM
    StoreLE16(w.data() + 22, 1);      // mono
    StoreLE32(w.data() + 24, 11025);  // rate
    StoreLE32(w.data() + 28, 22050);  // bytes per second
    StoreLE16(w.data() + 32, 2);      // block align
    StoreLE16(w.data() + 34, 16);     // bits
    std::memcpy(w.data() + 36, "data", 4);
    StoreLE32(w.data() + 40, data);
    for (int i = 0; i < samples; ++i) StoreLE16(w.data() + 44 + i * 2, static_cast<uint16_t>((i * 397) & 0x7FFF));
    return w;
}

int BuildEveryKind(const std::string& path, const std::string& scratchDir) {
    const std::string wav = scratchDir + "/tone.wav";
    EXPECT_TRUE(testsupport::WriteFile(wav, Wav(400)));
    Package p(path);
    p.Image("logo", Rgba(20, 10, 1));
    SDL_Surface* keyed = Rgb(16, 8, 2);
    SDL_SetColorKey(keyed, SDL_SRCCOLORKEY, SDL_MapRGB(keyed->format, 22, 3, 34));
    SDL_SetAlpha(keyed, SDL_SRCALPHA, 128);
    p.Image("backdrop", keyed);
    p.Tile("ground", Rgb(16, 8, 5), "TILE2", 3, 4, false);
    p.Tile("terrain", Rgba(32, 16, 6), "TILE2", -2, 7, true);
    p.LegacyTile("oldtile", scratchDir);
    p.Sprite("hero");
    p.Font("small", 2);
    p.LegacyFont("oldfont", scratchDir);
    p.Sound("chime", wav);
    p.Music("theme", SourceDir() + "/tests/data/sounds/tone_22050_stereo.ogg");
    p.Raw("readme", "FILE", std::vector<uint8_t>(300, 'r'), compressed);
    p.Raw("config", "FILE", {1, 2, 3, 4, 5}, stored);
    p.Raw("levels/one", "FILE", {9, 8, 7}, crypted);
    p.Raw("gone", "FILE", {1}, stored);
    p.Delete("gone", "FILE");
    p.Widget("play", kButtonNormal);
    return 2 + 3 + 1 + 2 + 1 + 1 + 3 + 3 + 1;
}

std::vector<uint8_t> V3Package() {
    std::vector<uint8_t> f(256, 0);
    std::memcpy(f.data(), "VLTv3.0", 7);
    std::memcpy(f.data() + 8, "old maker", 9);
    std::memcpy(f.data() + 37, "Mon Jan  1 00:00:00 2001", 24);
    auto entry = [&](const char* name, const char* type, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> e(57, 0);
        std::memcpy(e.data(), ".BlockData.", 11);
        std::memcpy(e.data() + 11, name, std::strlen(name));
        std::memcpy(e.data() + 43, type, std::strlen(type));
        e[48] = stored;
        StoreLE32(e.data() + 49, static_cast<uint32_t>(payload.size()));
        StoreLE32(e.data() + 53, static_cast<uint32_t>(payload.size()));
        e.insert(e.end(), payload.begin(), payload.end());
        f.insert(f.end(), e.begin(), e.end());
    };
    entry("notes", "FILE", {'v', '3', '!', '\n'});
    entry("?ld", "DELE", {1, 2, 3});
    return f;
}

void DamageFirstPayload(const std::string& path) {
    // The first entry's payload starts after the head, the header block,
    // its marker and its descriptor.
    constexpr size_t kPayload = 520 + 16 + 64;
    std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    ASSERT_GT(bytes.size(), kPayload + 8);
    ASSERT_EQ(bytes[520 + 16 + 40], compressed);
    const uint32_t packed = LoadLE32(bytes.data() + 520 + 16 + 48);
    ASSERT_LE(kPayload + packed, bytes.size());
    for (uint32_t i = 0; i < packed; ++i) bytes[kPayload + i] = static_cast<uint8_t>(0xFF - i);
    ASSERT_TRUE(testsupport::WriteFile(path, bytes));
    // The manager remembers the file under its path and length and does not
    // test the checksum again; a change (here an entry added and deleted)
    // makes Close write a checksum over the new contents.
    const int id = g_pStuffVLT->Open(path.c_str());
    ASSERT_GT(id, 0);
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "pad");
    std::snprintf(info.type, sizeof info.type, "FILE");
    uint8_t one = 1;
    info.mode = stored;
    info.size = 1;
    info.data = &one;
    ASSERT_GT(g_pStuffVLT->AddData(id, &info), 0);
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "pad");
    std::snprintf(info.type, sizeof info.type, "FILE");
    ASSERT_EQ(g_pStuffVLT->Delete(id, &info), 1);
    g_pStuffVLT->Close(id);
}

int Jq(const std::string& json, const std::string& filter, std::string& out) {
    testsupport::TempDir d;
    if (!testsupport::WriteFile(d / "doc.json", std::vector<uint8_t>(json.begin(), json.end()))) return -1;
    const int rc = Shell("jq -r " + Quote(filter) + " " + Quote(d / "doc.json") + " 2>&1", out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return rc;
}

bool PythonParses(const std::string& json) {
    testsupport::TempDir d;
    if (!testsupport::WriteFile(d / "doc.json", std::vector<uint8_t>(json.begin(), json.end()))) return false;
    std::string out;
    return Shell("python3 -m json.tool " + Quote(d / "doc.json") + " >/dev/null 2>&1", out) == 0;
}

int RunWithTmpdir(const std::vector<std::string>& args, std::string& out, const std::string& dir,
                  const std::string& tmpdir) {
    std::string cmd = "cd " + Quote(dir) + " && TMPDIR=" + Quote(tmpdir) + " " + Quote(BUNDLEX_EXE);
    for (const auto& a : args) cmd += " " + Quote(a);
    return Shell(cmd, out);
}

std::string SourceDir() { return BUNDLEX_SOURCE_DIR; }

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace cmdtest
