// Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/)
// from small resources made with the SDK itself and the project's test data:
//   make_fuzz_corpus SOURCE_DIR OUTPUT_DIR
// SOURCE_DIR is the checkout (for tests/data and examples), OUTPUT_DIR the
// corpus folder to fill (one folder per target is made in it). Run through
// tools/make_fuzz_corpus.sh.
//
// Forms, as the targets read them:
//   package    a 4.0 package file with its header block in plain form
//   package3   a 3.0 package file
//   payload    one byte naming the block type (IMG 0, TILE2 1, TILE 2,
//              TILB2 3, SPR2 4, SPR 5, FONT2 6, FONT 7, BUT 8), then a payload
//   media      an image or audio file
//   document   an ORBv1 document naming the fixed payload files of the
//              document target (p/rgba.png, p/rgb.bmp, ...)
//   xml        document text
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <SDL.h>

#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path g_src, g_out, g_tmp;
int g_written = 0;

Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Put(const std::string& target, const std::string& name, const Bytes& b) {
    const fs::path dir = g_out / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s/%s\n", target.c_str(), name.c_str());
        std::exit(1);
    }
    ++g_written;
}

void PutText(const std::string& target, const std::string& name, const std::string& text) {
    Put(target, name, Bytes(text.begin(), text.end()));
}

SDL_Surface* Pattern(int w, int h, int bpp, bool alpha) {
    SDL_Surface* s = bpp == 8    ? SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0)
                     : bpp == 16 ? SDL_CreateRGBSurface(0, w, h, 16, 0xF800, 0x07E0, 0x001F, 0)
                     : bpp == 24 ? SDL_CreateRGBSurface(0, w, h, 24, 0xFF0000, 0xFF00, 0xFF, 0)
                                 : SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0);
    if (!s) return nullptr;
    if (bpp == 8) {  // SDL cannot convert a surface whose palette is all black
        SDL_Color colors[256];
        for (int i = 0; i < 256; ++i)
            colors[i] = SDL_Color{static_cast<Uint8>(i), static_cast<Uint8>(255 - i), static_cast<Uint8>(i * 3), 0};
        SDL_SetColors(s, colors, 0, 256);
    }
    SDL_LockSurface(s);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
            for (int b = 0; b < s->format->BytesPerPixel; ++b) p[b] = static_cast<uint8_t>(x * 37 + y * 11 + b * 5);
        }
    SDL_UnlockSurface(s);
    if (alpha) SDL_SetAlpha(s, SDL_SRCALPHA, 255);
    return s;
}

// The font sheet of the document target: 95 magenta gaps (even columns of
// row 0) around 94 one-pixel glyphs.
SDL_Surface* FontSheet(int bpp) {
    const int w = 189, h = 3;
    SDL_Surface* s = bpp == 24 ? SDL_CreateRGBSurface(0, w, h, 24, 0xFF0000, 0xFF00, 0xFF, 0)
                               : SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    if (!s) return nullptr;
    SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 0, 0, 0, 0));
    for (int x = 0; x < w; ++x) {
        SDL_Rect r{static_cast<Sint16>(x), 0, 1, 1};
        if (x % 2 == 0) {
            SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 255, 0, 255, 255));
        } else {
            r.y = 1;
            r.h = 2;
            SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 255, 255, 255, 255));
        }
    }
    return s;
}

Bytes Wav(int bits, int channels) {
    const uint32_t frames = 8, align = static_cast<uint32_t>(bits / 8 * channels);
    Bytes w(44 + frames * align);
    std::memcpy(&w[0], "RIFF", 4);
    StoreLE32(&w[4], static_cast<uint32_t>(w.size() - 8));
    std::memcpy(&w[8], "WAVEfmt ", 8);
    StoreLE32(&w[16], 16);
    StoreLE16(&w[20], 1);
    StoreLE16(&w[22], static_cast<uint16_t>(channels));
    StoreLE32(&w[24], 8000);
    StoreLE32(&w[28], 8000 * align);
    StoreLE16(&w[32], static_cast<uint16_t>(align));
    StoreLE16(&w[34], static_cast<uint16_t>(bits));
    std::memcpy(&w[36], "data", 4);
    StoreLE32(&w[40], frames * align);
    for (size_t i = 44; i < w.size(); ++i) w[i] = static_cast<uint8_t>(i * 29);
    return w;
}

// Tracker module heads: just enough for the music identification.
Bytes Module(const char* kind) {
    Bytes m(64, 0);
    if (!std::strcmp(kind, "IT")) std::memcpy(&m[0], "IMPM", 4);
    if (!std::strcmp(kind, "XM")) std::memcpy(&m[0], "Extended Module: ", 17);
    if (!std::strcmp(kind, "S3M")) std::memcpy(&m[44], "SCRM", 4);
    if (!std::strcmp(kind, "MOD")) std::memcpy(&m[0], "tune", 4);
    return m;
}

fs::path TempFile(const std::string& name, const Bytes& b) {
    const fs::path p = g_tmp / name;
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return p;
}

// ---- packages ----------------------------------------------------------

struct Package {
    fs::path path;
    int id = 0;
    explicit Package(const std::string& name) : path(g_tmp / (name + ".vlt")) {
        fs::remove(path);
        id = g_pStuffVLT->Create(path.string().c_str());
        if (id < 1) {
            std::fprintf(stderr, "cannot create %s\n", path.string().c_str());
            std::exit(1);
        }
    }
    // Closes the package and returns its file.
    Bytes Finish() {
        g_pStuffVLT->Close(id);
        return ReadAll(path);
    }
};

void AddRaw(int id, const char* name, const char* type, uint8_t mode, const Bytes& data) {
    BlockInfo info{};
    std::strncpy(info.name, name, sizeof info.name - 1);
    std::strncpy(info.type, type, sizeof info.type - 1);
    info.mode = mode;
    Bytes copy = data;
    info.size = static_cast<uint32_t>(copy.size());
    info.data = copy.data();
    if (g_pStuffVLT->AddData(id, &info) <= 0) {
        std::fprintf(stderr, "AddData %s %s failed\n", type, name);
        std::exit(1);
    }
}

Bytes LoadPayload(int id, const char* type, const char* name) {
    BlockInfo info{};
    Bytes out;
    if (g_pStuffVLT->LoadBlock(id, type, name, &info) > 0 && info.data) out.assign(info.data, info.data + info.size);
    g_pStuffVLT->FreeBlock(&info);
    return out;
}

void SaveTile(int id, const char* name, const char* type, SDL_Surface* s, bool tileset) {
    CTile t;
    t.Create(s, name);
    t.SetPosition(3, -2);
    if (tileset) t.SetTileset(1, 2, 1);
    t.Save(id, type);
}

void SaveSprite(int id, const char* name, SDL_Surface* sheet, int fw, int fh) {
    CSprite sp;
    if (sp.Create(sheet, name, fw, fh) > 0) {
        sp.Save(id, "SPR2");
    }
}

void SaveFont(int id, const char* name, int bpp) {
    SDL_Surface* s = FontSheet(bpp);
    CFont f;
    if (f.Create(s) == CFont::kCreated) {
        f.SetKerning(1);
        f.Save(id, name);
    }
    SDL_FreeSurface(s);
}

void SaveButton(int id, const char* name, bool complex) {
    const std::string n(name);
    SDL_Surface* s = Pattern(3, 2, 24, false);
    for (const char* suffix : {"_n", "_p", "_o", "_s"}) {
        if (!complex && !std::strcmp(suffix, "_s")) continue;
        SaveTile(id, (n + suffix).c_str(), "TILB2", s, false);
    }
    SDL_FreeSurface(s);
    ButtonRecord r;
    r.type = complex ? kButtonComplex : kButtonNormal;
    r.key = 13;
    r.x = 5;
    r.y = 6;
    r.value = 1;
    g_pButton->Save(id, name, &r);
}

// The 1.0 payloads of tiles, sprites and fonts, made from 2.0 ones.
Bytes OldTile(const Bytes& t2) {
    if (t2.size() < CTile::kHeaderSize + CTile::kTrailerSize) return t2;
    Bytes old(t2.begin(), t2.end() - CTile::kTrailerSize);
    if (LoadLE32(&old[24 + 32]) == kNoColorKey) StoreLE32(&old[24 + 32], 0);
    return old;
}

Bytes OldFont(const Bytes& f2) {
    if (f2.size() < CFont::kHeaderSize + CFont::kTailSize) return f2;
    return Bytes(f2.begin(), f2.end() - CFont::kTailSize);
}

Bytes OldSprite(const Bytes& s2) {
    if (s2.size() < CSprite::kHeaderSize) return s2;
    Bytes old(s2.begin(), s2.begin() + CSprite::kHeaderSize);
    const uint32_t n = LoadLE32(&s2[16]);
    size_t at = CSprite::kHeaderSize;
    for (uint32_t a = 0; a < n; ++a) {
        const uint16_t frames = LoadLE16(&s2[at + 4]);
        old.insert(old.end(), s2.begin() + at, s2.begin() + at + CSprite::kOldAnimationSize);
        at += CSprite::kAnimationSize;
        for (uint16_t f = 0; f < frames; ++f) {
            old.insert(old.end(), s2.begin() + at, s2.begin() + at + CSprite::kOldFrameSize);
            at += CSprite::kFrameSize;
        }
    }
    old.insert(old.end(), s2.begin() + at, s2.end());
    if (LoadLE32(&old[old.size() - (s2.size() - at) + 32]) == kNoColorKey)
        StoreLE32(&old[old.size() - (s2.size() - at) + 32], 0);
    return old;
}

PackageCipher g_internal, g_packageKey;  // keyed in main

PackageCipher& Internal() { return g_internal; }
PackageCipher& PackageKey() { return g_packageKey; }

// The package target's form: the header block deciphered.
Bytes PlainHeader(Bytes file) {
    if (file.size() >= vlt::kFirstEntry) Internal().Decipher(file.data() + vlt::kHeadSize, vlt::kHeaderSize);
    return file;
}

struct Entry {
    std::string name, type;
    uint8_t mode;
    uint32_t size, packed;
    Bytes packedBytes;  // as stored, without padding
};

// The entries of a plain 4.0 package file.
std::vector<Entry> Entries(const Bytes& file) {
    std::vector<Entry> out;
    size_t at = vlt::kFirstEntry;
    while (at + vlt::kEntryHeadSize <= file.size()) {
        const uint8_t* d = &file[at + vlt::kMarkerSize];
        Entry e;
        e.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 32));
        e.type.assign(reinterpret_cast<const char*>(d + 32), strnlen(reinterpret_cast<const char*>(d + 32), 8));
        e.mode = d[40];
        e.size = LoadLE32(d + 44);
        e.packed = LoadLE32(d + 48);
        const size_t body = at + vlt::kEntryHeadSize;
        e.packedBytes.assign(file.begin() + body, file.begin() + body + e.packed);
        out.push_back(e);
        at = body + vlt::PaddedLength(e.packed);
    }
    return out;
}

// A protected copy: the flag set, descriptors and padded payloads enciphered
// with the package key, the checksum over the new bytes.
Bytes Protect(Bytes file) {
    Bytes header(file.begin() + vlt::kHeadSize, file.begin() + vlt::kFirstEntry);
    Internal().Decipher(header.data(), header.size());
    header[vlt::kProtectedOffset] = 1;
    size_t at = vlt::kFirstEntry;
    while (at + vlt::kEntryHeadSize <= file.size()) {
        uint8_t* d = &file[at + vlt::kMarkerSize];
        const uint32_t packed = LoadLE32(d + 48);
        const size_t padded = static_cast<size_t>(vlt::PaddedLength(packed));
        PackageKey().Encipher(d, vlt::kDescriptorSize);
        PackageKey().Encipher(d + vlt::kDescriptorSize, padded);
        at += vlt::kEntryHeadSize + padded;
    }
    StoreLE32(&header[vlt::kChecksumOffset],
              Trovalis.CRC32(file.data() + vlt::kFirstEntry, static_cast<int32_t>(file.size() - vlt::kFirstEntry)));
    std::copy(header.begin(), header.end(), file.begin() + vlt::kHeadSize);
    return PlainHeader(file);
}

// The same blocks as a 3.0 file: plain, 256-byte head, 11-byte markers,
// 5-byte types, payloads without padding. Every other entry uses the old
// ".BlockData." marker form.
Bytes AsVersion3(const Bytes& plain4, bool withDeleted) {
    Bytes out(256, 0);
    std::memcpy(out.data(), "VLTv3.0", 8);
    std::memcpy(&out[8], "Trovalis v3 maker", 17);
    std::memcpy(&out[37], "Mon Dec  7 08:00:00 2026", 24);
    int n = 0;
    auto entries = Entries(plain4);
    if (withDeleted && !entries.empty()) {
        Entry dead = entries.front();
        dead.type = "DELE";
        dead.name[0] = '?';
        entries.insert(entries.begin(), dead);
    }
    for (const Entry& e : entries) {
        static const uint8_t dots[11] = {'.', 'B', 'l', 'o', 'c', 'k', 'D', 'a', 't', 'a', '.'};
        static const uint8_t b7[11] = {0xB7, 'B', 'l', 'o', 'c', 'k', 'D', 'a', 't', 'a', 0xB7};
        const uint8_t* m = (n++ % 2) ? dots : b7;
        out.insert(out.end(), m, m + 11);
        uint8_t fields[46] = {};
        std::memcpy(fields, e.name.data(), std::min<size_t>(e.name.size(), 31));
        std::memcpy(fields + 32, e.type.data(), std::min<size_t>(e.type.size(), 5));
        fields[37] = e.mode;
        StoreLE32(fields + 38, e.size);
        StoreLE32(fields + 42, e.packed);
        out.insert(out.end(), fields, fields + 46);
        out.insert(out.end(), e.packedBytes.begin(), e.packedBytes.end());
    }
    return out;
}

void PutPackage(const std::string& name, const Bytes& file, bool v3 = true) {
    const Bytes plain = PlainHeader(file);
    Put("package", name, plain);
    if (v3) Put("package3", name, AsVersion3(plain, false));
}

void PutPayload(const std::string& name, uint8_t kind, const Bytes& payload) {
    Bytes b(1, kind);
    b.insert(b.end(), payload.begin(), payload.end());
    Put("payload", name, b);
}

void MakePackagesAndPayloads() {
    Put("package", "empty.vlt", PlainHeader(Package("empty").Finish()));

    {   // images of every depth
        Package p("img");
        struct {
            const char* name;
            int bpp;
            bool alpha;
        } imgs[] = {{"pal", 8, false}, {"hi", 16, false}, {"rgb", 24, false}, {"rgba", 32, true}};
        for (const auto& i : imgs) {
            SDL_Surface* s = Pattern(3, 2, i.bpp, i.alpha);
            if (i.bpp == 24) {
                SDL_SetColorKey(s, SDL_SRCCOLORKEY, 0x102030);
                SDL_SetAlpha(s, SDL_SRCALPHA, 128);
            }
            g_pImage->Save(p.id, i.name, s);
            SDL_FreeSurface(s);
            PutPayload(std::string("img_") + i.name, 0, LoadPayload(p.id, "IMG", i.name));
        }
        PutPackage("images.vlt", p.Finish());
    }
    {   // tiles, old tiles and a tileset
        Package p("tile");
        SDL_Surface* pal = Pattern(5, 3, 8, false);
        SDL_Surface* rgba = Pattern(4, 2, 32, true);
        SaveTile(p.id, "pal", "TILE2", pal, false);
        SaveTile(p.id, "set", "TILE2", rgba, true);
        const Bytes t2 = LoadPayload(p.id, "TILE2", "pal");
        const Bytes set = LoadPayload(p.id, "TILE2", "set");
        PutPayload("tile2_pal", 1, t2);
        PutPayload("tile2_set", 1, set);
        PutPayload("tilb2_set", 3, set);
        PutPayload("tile_pal", 2, OldTile(t2));
        PutPayload("tile_set", 2, OldTile(set));
        AddRaw(p.id, "old", "TILE", compressed, OldTile(set));
        AddRaw(p.id, "oldb", "TILB", compressed, OldTile(t2));
        SDL_FreeSurface(pal);
        SDL_FreeSurface(rgba);
        PutPackage("tiles.vlt", p.Finish());
    }
    {   // sprites and an old sprite
        Package p("spr");
        SDL_Surface* sheet = Pattern(6, 4, 24, false);
        SDL_SetColorKey(sheet, SDL_SRCCOLORKEY, 0);
        SaveSprite(p.id, "walk", sheet, 2, 2);
        SDL_FreeSurface(sheet);
        SDL_Surface* pal = Pattern(4, 2, 8, false);
        SaveSprite(p.id, "pal", pal, 2, 1);
        SDL_FreeSurface(pal);
        const Bytes s2 = LoadPayload(p.id, "SPR2", "walk");
        PutPayload("spr2_walk", 4, s2);
        PutPayload("spr2_pal", 4, LoadPayload(p.id, "SPR2", "pal"));
        PutPayload("spr_walk", 5, OldSprite(s2));
        AddRaw(p.id, "old", "SPR", compressed, OldSprite(s2));
        PutPackage("sprites.vlt", p.Finish());
    }
    {   // fonts and an old font
        Package p("font");
        SaveFont(p.id, "f32", 32);
        SaveFont(p.id, "f24", 24);
        const Bytes f2 = LoadPayload(p.id, "FONT2", "f24");
        PutPayload("font2_24", 6, f2);
        PutPayload("font2_32", 6, LoadPayload(p.id, "FONT2", "f32"));
        PutPayload("font_24", 7, OldFont(f2));
        AddRaw(p.id, "old", "FONT", compressed, OldFont(f2));
        PutPackage("fonts.vlt", p.Finish());
    }
    {   // widgets with their state images
        Package p("but");
        SaveButton(p.id, "play", false);
        SaveButton(p.id, "menu", true);
        PutPayload("but_play", 8, LoadPayload(p.id, "BUT", "play"));
        PutPayload("but_menu", 8, LoadPayload(p.id, "BUT", "menu"));
        PutPackage("widgets.vlt", p.Finish());
    }
    {   // sounds and music of every format
        Package p("audio");
        const fs::path snd = g_src / "tests/data/sounds";
        g_pSoundFX->SoundImport(p.id, "wav8", TempFile("a.wav", Wav(8, 1)).string().c_str());
        g_pSoundFX->SoundImport(p.id, "wav16", TempFile("b.wav", Wav(16, 2)).string().c_str());
        g_pSoundFX->SoundImport(p.id, "aiff", (snd / "tone_11025_mono16.aiff").string().c_str());
        g_pSoundFX->SoundImport(p.id, "voc", (snd / "tone_8000_mono8.voc").string().c_str());
        for (const char* kind : {"IT", "XM", "S3M", "MOD"})
            g_pSoundFX->MusicImport(p.id, kind, TempFile(std::string("m.") + kind, Module(kind)).string().c_str());
        PutPackage("audio.vlt", p.Finish());
        Package o("ogg");
        g_pSoundFX->MusicImport(o.id, "ogg", (snd / "tone_22050_stereo.ogg").string().c_str());
        PutPackage("ogg.vlt", o.Finish(), false);
    }
    {   // raw files in every mode, a deleted block, and a protected copy
        Package p("files");
        const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o', '\n'};
        AddRaw(p.id, "packed", "FILE", compressed, text);
        AddRaw(p.id, "plain", "FILE", stored, Bytes(text.begin(), text.begin() + 13));
        AddRaw(p.id, "scrambled", "FILE", crypted, text);
        AddRaw(p.id, "gone", "FILE", stored, text);
        BlockInfo gone{};
        std::strcpy(gone.name, "gone");
        std::strcpy(gone.type, "FILE");
        g_pStuffVLT->Delete(p.id, &gone);
        const Bytes file = p.Finish();
        PutPackage("files.vlt", file);
        Put("package3", "files_deleted.vlt", AsVersion3(PlainHeader(file), true));
        Put("package", "files_protected.vlt", Protect(file));
    }
    {   // one of each kind together, protected
        Package p("mixed");
        SDL_Surface* s = Pattern(2, 2, 32, true);
        g_pImage->Save(p.id, "i", s);
        SaveTile(p.id, "t", "TILE2", s, false);
        SaveSprite(p.id, "s", s, 1, 1);
        SDL_FreeSurface(s);
        SaveButton(p.id, "b", false);
        g_pSoundFX->SoundImport(p.id, "w", TempFile("c.wav", Wav(8, 1)).string().c_str());
        const Bytes file = p.Finish();
        PutPackage("mixed.vlt", file);
        Put("package", "mixed_protected.vlt", Protect(file));
    }

    // Payloads that once went wrong, kept by the resource tests.
    const struct {
        const char* folder;
        const char* suffix;
        uint8_t kind;
    } kept[] = {{"tiles", ".tile2", 1}, {"tiles", ".tile", 2}, {"sprites", ".spr2", 4},
                {"sprites", ".spr", 5},  {"fonts", ".bin", 6}};
    for (const auto& k : kept) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(g_src / "tests/data" / k.folder, ec))
            if (e.path().extension() == k.suffix)
                PutPayload(std::string(k.folder) + "_" + e.path().stem().string(), k.kind, ReadAll(e.path()));
    }
}

// ---- media ---------------------------------------------------------------

void MakeMedia() {
    struct {
        const char* name;
        int w, h, bpp;
        bool alpha, png;
    } imgs[] = {{"rgba.png", 3, 2, 32, true, true}, {"rgb.png", 3, 2, 24, false, true},
                {"pal.png", 4, 2, 8, false, true},  {"rgb.bmp", 3, 2, 24, false, false},
                {"pal.bmp", 4, 2, 8, false, false}, {"hi.bmp", 3, 2, 16, false, false},
                {"rgbx.bmp", 3, 2, 32, false, false}};
    for (const auto& i : imgs) {
        SDL_Surface* s = Pattern(i.w, i.h, i.bpp, i.alpha);
        const fs::path p = g_tmp / i.name;
        if (i.png)
            g_pImage->SavePNG(p.string().c_str(), s, 9);
        else
            g_pImage->SaveBMP(p.string().c_str(), s);
        SDL_FreeSurface(s);
        Put("media", i.name, ReadAll(p));
    }
    const fs::path snd = g_src / "tests/data/sounds";
    Put("media", "tone.aiff", ReadAll(snd / "tone_11025_mono16.aiff"));
    Put("media", "tone.voc", ReadAll(snd / "tone_8000_mono8.voc"));
    Put("media", "tone.ogg", ReadAll(snd / "tone_22050_stereo.ogg"));
    Put("media", "mono8.wav", Wav(8, 1));
    Put("media", "stereo16.wav", Wav(16, 2));
    for (const char* kind : {"IT", "XM", "S3M"}) Put("media", std::string("head.") + kind, Module(kind));
    // The example's small images.
    for (const char* name : {"img_logo.png", "wid_play_normal.png", "tile_terrain.png"})
        Put("media", std::string("example_") + name, ReadAll(g_src / "examples/demo" / name));
}

// ---- documents -----------------------------------------------------------

const char* kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
    "<ORB version=\"v1\" source=\"fuzz.vlt\" date=\"Mon Dec  7 08:00:00 2026&#x0A;\" creator=\"Bundlex v2.0\" "
    "totalblocks=\"%d\">\n";

std::string Doc(int total, const std::string& body) {
    char head[512];
    std::snprintf(head, sizeof head, kHead, total);
    return std::string(head) + body + "</ORB>\n";
}

void MakeDocuments() {
    const std::string image =
        "    <image name=\"logo\" source=\"p/rgba.png\" alphablending=\"per-pixel\" />\n"
        "    <image name=\"back\" source=\"p/rgb.bmp\" alphablending=\"per-surface\" alphamod=\"128\" "
        "colorkey=\"16711935\" />\n"
        "    <image name=\"pal\" source=\"p/pal.bmp\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"-1\" />\n";
    const std::string tile =
        "    <tile name=\"ground\" source=\"p/rgb.bmp\" alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"-1\" "
        "xposition=\"10\" yposition=\"20\" tileset=\"disabled\" />\n"
        "    <tile name=\"set\" source=\"p/sheet.png\" alphablending=\"per-pixel\" xposition=\"0\" yposition=\"100\" "
        "tileset=\"enabled\" xoffset=\"4\" yoffset=\"4\" />\n";
    const std::string sprite =
        "    <sprite name=\"hero\" source=\"p/sheet.bmp\" alphablending=\"per-surface\" alphamod=\"255\" "
        "colorkey=\"0\" xoffset=\"4\" yoffset=\"4\">\n"
        "        <animation id=\"0\" type=\"2\" status=\"32768\" frames=\"2\" hotx=\"1\" hoty=\"3\" starframe=\"0\" "
        "endframe=\"1\">\n"
        "            <frame id=\"0\" ms=\"120\" />\n"
        "            <frame id=\"1\" ms=\"80\" />\n"
        "        </animation>\n"
        "        <animation id=\"1\" type=\"8\" status=\"1\" frames=\"2\" hotx=\"-4\" hoty=\"3\" starframe=\"1\" "
        "endframe=\"1\">\n"
        "            <frame id=\"0\" ms=\"500\" />\n"
        "            <frame id=\"1\" ms=\"250\" />\n"
        "        </animation>\n"
        "    </sprite>\n";
    const std::string font =
        "    <font name=\"small\" source=\"p/font.bmp\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"0\" "
        "kerning=\"1\" />\n"
        "    <font name=\"clear\" source=\"p/font.png\" alphablending=\"per-pixel\" kerning=\"-1\" />\n";
    const std::string audio =
        "    <music name=\"theme\" source=\"p/tune.mod\" />\n"
        "    <sound name=\"chime\" source=\"p/tone.wav\" />\n";
    const std::string files =
        "    <file name=\"readme\" source=\"p/raw\" storemethod=\"compressed\" />\n"
        "    <file name=\"config\" source=\"p/raw\" storemethod=\"raw\" />\n"
        "    <file name=\"levels/one\" source=\"p/raw\" storemethod=\"crypted\" />\n"
        "    <file name=\"nothing\" source=\"p/empty\" storemethod=\"raw\" />\n";
    const std::string panel =
        "    <panel name=\"default\" xposition=\"0\" yposition=\"0\" width=\"800\" height=\"600\" alphamod=\"0\">\n"
        "        <widget name=\"play\" type=\"button\" id=\"1\" xposition=\"350\" yposition=\"260\" key=\"13\" "
        "selectboxRGB=\"16763904\" value=\"0\" range=\"0\">\n"
        "            <image state=\"normal\" source=\"p/rgba.png\" alphablending=\"per-pixel\" />\n"
        "            <image state=\"hovered\" source=\"p/rgba.png\" alphablending=\"per-pixel\" />\n"
        "            <image state=\"pressed\" source=\"p/rgba.png\" alphablending=\"per-pixel\" />\n"
        "            <image state=\"deactivated\" source=\"p/rgb.bmp\" alphablending=\"per-surface\" alphamod=\"255\" "
        "colorkey=\"-1\" />\n"
        "        </widget>\n"
        "        <widget name=\"volume\" type=\"hslider\" id=\"2\" xposition=\"300\" yposition=\"340\" key=\"0\" "
        "selectboxRGB=\"0\" value=\"50\" range=\"100\">\n"
        "            <image state=\"normal\" source=\"p/rgb.bmp\" alphablending=\"per-surface\" alphamod=\"200\" "
        "colorkey=\"0\" />\n"
        "            <image state=\"pressed\" source=\"p/rgb.bmp\" alphablending=\"per-surface\" alphamod=\"255\" "
        "colorkey=\"-1\" />\n"
        "            <image state=\"deactivated\" source=\"p/pal.bmp\" alphablending=\"per-surface\" alphamod=\"255\" "
        "colorkey=\"-1\" />\n"
        "        </widget>\n"
        "        <widget name=\"bar\" type=\"progressbar\" xposition=\"1\" yposition=\"2\" key=\"0\" selectboxRGB=\"0\" "
        "value=\"3\" range=\"10\" />\n"
        "        <widget name=\"tick\" type=\"checkbox\" xposition=\"1\" yposition=\"2\" key=\"32\" selectboxRGB=\"0\" "
        "value=\"1\" range=\"0\" />\n"
        "        <widget name=\"text\" type=\"inputbox\" xposition=\"1\" yposition=\"2\" key=\"0\" selectboxRGB=\"0\" "
        "value=\"0\" range=\"0\" />\n"
        "    </panel>\n";
    PutText("document", "images.xml", Doc(3, image));
    PutText("document", "tiles.xml", Doc(2, tile));
    PutText("document", "sprite.xml", Doc(1, sprite));
    PutText("document", "fonts.xml", Doc(2, font));
    PutText("document", "audio.xml", Doc(2, audio));
    PutText("document", "files.xml", Doc(4, files));
    PutText("document", "panel.xml", Doc(12, panel));
    const std::string all = Doc(26, image + tile + sprite + font + audio + files + panel);
    PutText("document", "all.xml", all);
    PutText("document", "empty.xml", Doc(0, ""));
    PutText("xml", "all.xml", all);
    PutText("xml", "sprite.xml", Doc(1, sprite));
    const Bytes example = ReadAll(g_src / "examples/demo.xml");
    Put("xml", "example.xml", example);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[3]) == "-v") {
        TheLog().Activate(5, Log::kStdout);  // the SDK's messages, to see why a seed is missing
        --argc;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_corpus SOURCE_DIR OUTPUT_DIR [-v]\n");
        return 2;
    }
    g_src = argv[1];
    g_out = argv[2];
    g_tmp = fs::temp_directory_path() / ("bundlex-corpus-" + std::to_string(getpid()));
    fs::remove_all(g_tmp);
    fs::create_directories(g_tmp);
    if (Trovalis.Init(0) != 1 || !PackageCipher::KeyWithInternalKey(g_internal, g_packageKey)) return 1;
    MakePackagesAndPayloads();
    MakeMedia();
    MakeDocuments();
    Trovalis.Quit();
    fs::remove_all(g_tmp);
    std::printf("%d seed files written under %s\n", g_written, g_out.string().c_str());
    return 0;
}
