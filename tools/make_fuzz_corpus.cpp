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
//   payload    one byte naming the block type (its input code in the kind
//              registry, resources/Kinds.h), then a payload
//   media      an image or audio file
//   document   an ORBv1 document naming the fixed payload files of the
//              document target (p/rgba.png, p/rgb.bmp, ...)
//   xml        document text
//   import     an ORBv1 document of one element, the line "--payload--",
//              then the bytes of the payload file it names (PNGs of every
//              colour type and depth, BMPs of every depth and header, WAV,
//              AIFF, VOC, Ogg, tracker heads, MIDI, raw bytes)
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csetjmp>
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
#include <png.h>

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
#include "resources/Kinds.h"
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
    // The images every button needs, then the one only a complex button has.
    for (bool complexOnly : {false, true})
        for (const ButtonStateImage& image : IButton::kStateImages)
            if (image.complexOnly == complexOnly && (complex || !complexOnly))
                SaveTile(id, (n + image.suffix).c_str(), "TILB2", s, false);
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

void PutPayload(const std::string& name, const char* type, const Bytes& payload) {
    bool older = false;
    const kinds::KindRow* row = kinds::Find(type, &older);
    const int code = row ? (older ? row->olderInputCode : row->inputCode) : -1;
    if (code < 0) {
        std::fprintf(stderr, "make_fuzz_corpus: no payload input code for type '%s'\n", type);
        std::exit(1);
    }
    Bytes b(1, static_cast<uint8_t>(code));
    b.insert(b.end(), payload.begin(), payload.end());
    Put("payload", name, b);
}

void MakePackagesAndPayloads() {
    Put("package", "empty.vlt", PlainHeader(Package("empty").Finish()));

    {  // images of every depth
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
            PutPayload(std::string("img_") + i.name, "IMG", LoadPayload(p.id, "IMG", i.name));
        }
        PutPackage("images.vlt", p.Finish());
    }
    {  // tiles, old tiles and a tileset
        Package p("tile");
        SDL_Surface* pal = Pattern(5, 3, 8, false);
        SDL_Surface* rgba = Pattern(4, 2, 32, true);
        SaveTile(p.id, "pal", "TILE2", pal, false);
        SaveTile(p.id, "set", "TILE2", rgba, true);
        const Bytes t2 = LoadPayload(p.id, "TILE2", "pal");
        const Bytes set = LoadPayload(p.id, "TILE2", "set");
        PutPayload("tile2_pal", "TILE2", t2);
        PutPayload("tile2_set", "TILE2", set);
        PutPayload("tilb2_set", "TILB2", set);
        PutPayload("tile_pal", "TILE", OldTile(t2));
        PutPayload("tile_set", "TILE", OldTile(set));
        AddRaw(p.id, "old", "TILE", compressed, OldTile(set));
        AddRaw(p.id, "oldb", "TILB", compressed, OldTile(t2));
        SDL_FreeSurface(pal);
        SDL_FreeSurface(rgba);
        PutPackage("tiles.vlt", p.Finish());
    }
    {  // sprites and an old sprite
        Package p("spr");
        SDL_Surface* sheet = Pattern(6, 4, 24, false);
        SDL_SetColorKey(sheet, SDL_SRCCOLORKEY, 0);
        SaveSprite(p.id, "walk", sheet, 2, 2);
        SDL_FreeSurface(sheet);
        SDL_Surface* pal = Pattern(4, 2, 8, false);
        SaveSprite(p.id, "pal", pal, 2, 1);
        SDL_FreeSurface(pal);
        const Bytes s2 = LoadPayload(p.id, "SPR2", "walk");
        PutPayload("spr2_walk", "SPR2", s2);
        PutPayload("spr2_pal", "SPR2", LoadPayload(p.id, "SPR2", "pal"));
        PutPayload("spr_walk", "SPR", OldSprite(s2));
        AddRaw(p.id, "old", "SPR", compressed, OldSprite(s2));
        PutPackage("sprites.vlt", p.Finish());
    }
    {  // fonts and an old font
        Package p("font");
        SaveFont(p.id, "f32", 32);
        SaveFont(p.id, "f24", 24);
        const Bytes f2 = LoadPayload(p.id, "FONT2", "f24");
        PutPayload("font2_24", "FONT2", f2);
        PutPayload("font2_32", "FONT2", LoadPayload(p.id, "FONT2", "f32"));
        PutPayload("font_24", "FONT", OldFont(f2));
        AddRaw(p.id, "old", "FONT", compressed, OldFont(f2));
        PutPackage("fonts.vlt", p.Finish());
    }
    {  // widgets with their state images
        Package p("but");
        SaveButton(p.id, "play", false);
        SaveButton(p.id, "menu", true);
        PutPayload("but_play", "BUT", LoadPayload(p.id, "BUT", "play"));
        PutPayload("but_menu", "BUT", LoadPayload(p.id, "BUT", "menu"));
        PutPackage("widgets.vlt", p.Finish());
    }
    {  // sounds and music of every format
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
    {  // raw files in every mode, a deleted block, and a protected copy
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
    {  // one of each kind together, protected
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
        const char* type;
    } kept[] = {{"tiles", ".tile2", "TILE2"},
                {"tiles", ".tile", "TILE"},
                {"sprites", ".spr2", "SPR2"},
                {"sprites", ".spr", "SPR"},
                {"fonts", ".bin", "FONT2"}};
    for (const auto& k : kept) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(g_src / "tests/data" / k.folder, ec))
            if (e.path().extension() == k.suffix)
                PutPayload(std::string(k.folder) + "_" + e.path().stem().string(), k.type, ReadAll(e.path()));
    }
}

// ---- media ---------------------------------------------------------------

void MakeMedia() {
    struct {
        const char* name;
        int w, h, bpp;
        bool alpha, png;
    } imgs[] = {{"rgba.png", 3, 2, 32, true, true},  {"rgb.png", 3, 2, 24, false, true},
                {"pal.png", 4, 2, 8, false, true},   {"rgb.bmp", 3, 2, 24, false, false},
                {"pal.bmp", 4, 2, 8, false, false},  {"hi.bmp", 3, 2, 16, false, false},
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

std::string SpriteElement(const std::string& src, bool perPixel, const char* alphamod = "200");

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
    const std::string sprite = SpriteElement("p/sheet.bmp", false, "255");
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

// ---- import --------------------------------------------------------------
// One element and its payload file: the document, the separator line of the
// import target, then the payload bytes (which the target writes to every
// file the document names).

// A small picture: a grid of indices into a table of RGBA colours, which
// each encoder below writes in its own pixel format (paletted forms keep
// the indices, modulo the palette size).
struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> index;
    std::vector<std::array<uint8_t, 4>> colors;
    const std::array<uint8_t, 4>& At(int x, int y) const { return colors[index[static_cast<size_t>(y * w + x)]]; }
    uint8_t IndexAt(int x, int y, int count) const {
        return static_cast<uint8_t>(index[static_cast<size_t>(y * w + x)] % count);
    }
};

// Sixteen colours: opaque ones first, one fully transparent (3), the rest
// partly transparent.
Picture PatternPicture(int w, int h) {
    Picture p;
    p.w = w;
    p.h = h;
    for (int i = 0; i < 16; ++i)
        p.colors.push_back({static_cast<uint8_t>(i * 17), static_cast<uint8_t>(255 - i * 13),
                            static_cast<uint8_t>(i * 53),
                            static_cast<uint8_t>(i == 3  ? 0
                                                 : i < 2 ? 255
                                                         : 40 + i * 13)});
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.index.push_back(static_cast<uint8_t>((x * 3 + y * 5) % 16));
    return p;
}

// The font sheet of the document target (189x3): magenta gaps in the even
// columns of row 0, white ink below them in the odd columns, the rest clear.
Picture FontPicture() {
    Picture p;
    p.w = 189;
    p.h = 3;
    p.colors = {{0, 0, 0, 0}, {255, 0, 255, 255}, {255, 255, 255, 255}};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.index.push_back(static_cast<uint8_t>(y == 0 ? (x % 2 == 0 ? 1 : 0) : (x % 2 ? 2 : 0)));
    return p;
}

uint16_t Scaled(uint8_t v, int depth) {
    if (depth == 16) return static_cast<uint16_t>(v * 257);
    return static_cast<uint16_t>(v >> (8 - depth));
}
uint8_t Grey(const std::array<uint8_t, 4>& c) {
    return static_cast<uint8_t>((c[0] * 30 + c[1] * 59 + c[2] * 11) / 100);
}

enum class Trns { None, PaletteKey, PaletteAlpha, ColorKey };

void PngToBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void PngNoFlush(png_structp) {}

// A PNG written by libpng in the given colour type and depth. PaletteKey is
// a palette tRNS with exactly one entry 0 (the others opaque), PaletteAlpha
// one with a partly transparent entry, ColorKey the grey or RGB tRNS of
// colour 1.
Bytes Png(const Picture& p, int colorType, int depth, bool interlaced, Trns trns) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "cannot write a PNG of colour type %d, depth %d\n", colorType, depth);
        std::exit(1);
    }
    png_set_write_fn(png, &out, PngToBytes, PngNoFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(p.w), static_cast<png_uint_32>(p.h), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const int count =
        colorType == PNG_COLOR_TYPE_PALETTE ? std::min<int>(1 << depth, static_cast<int>(p.colors.size())) : 0;
    if (count) {
        png_color palette[256];
        for (int i = 0; i < count; ++i) palette[i] = {p.colors[i][0], p.colors[i][1], p.colors[i][2]};
        png_set_PLTE(png, info, palette, count);
        png_byte key[2] = {255, 0}, alpha[3] = {128, 0, 255};
        if (trns == Trns::PaletteKey) png_set_tRNS(png, info, key, std::min(2, count), nullptr);
        if (trns == Trns::PaletteAlpha) png_set_tRNS(png, info, alpha, std::min(3, count), nullptr);
    }
    if (trns == Trns::ColorKey) {
        png_color_16 key{};
        key.gray = Scaled(Grey(p.colors[1]), depth);
        key.red = Scaled(p.colors[1][0], depth);
        key.green = Scaled(p.colors[1][1], depth);
        key.blue = Scaled(p.colors[1][2], depth);
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_GRAY_ALPHA  ? 2
                         : colorType == PNG_COLOR_TYPE_RGB       ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                                                 : 1;
    std::vector<Bytes> rows(static_cast<size_t>(p.h), Bytes((static_cast<size_t>(p.w) * channels * depth + 7) / 8, 0));
    for (int y = 0; y < p.h; ++y) {
        size_t bit = 0;
        for (int x = 0; x < p.w; ++x) {
            const auto& c = p.At(x, y);
            uint16_t samples[4];
            switch (colorType) {
                case PNG_COLOR_TYPE_PALETTE: samples[0] = p.IndexAt(x, y, count); break;
                case PNG_COLOR_TYPE_GRAY: samples[0] = Scaled(Grey(c), depth); break;
                case PNG_COLOR_TYPE_GRAY_ALPHA:
                    samples[0] = Scaled(Grey(c), depth);
                    samples[1] = Scaled(c[3], depth);
                    break;
                default:
                    for (int k = 0; k < channels; ++k) samples[k] = Scaled(c[static_cast<size_t>(k)], depth);
            }
            for (int k = 0; k < channels; ++k, bit += static_cast<size_t>(depth)) {
                uint8_t* at = &rows[static_cast<size_t>(y)][bit / 8];
                if (depth == 16) {
                    at[0] = static_cast<uint8_t>(samples[k] >> 8);
                    at[1] = static_cast<uint8_t>(samples[k]);
                } else {
                    at[0] = static_cast<uint8_t>(at[0] | samples[k] << (8 - depth - bit % 8));
                }
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (Bytes& r : rows) pointers.push_back(r.data());
    png_write_image(png, pointers.data());  // interlaces by itself
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A BMP file written byte by byte: headers of 12 (OS/2 core), 40
// (BITMAPINFOHEADER), 108 (V4) or 124 (V5) bytes; masks after a 40-byte
// header (BI_BITFIELDS) or inside a V4/V5 header; bottom-up rows unless
// topDown (a negative height).
struct BmpForm {
    int bpp;
    uint32_t headerSize;
    bool bitfields;
    bool topDown;
    uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;
};

Bytes Bmp(const Picture& p, const BmpForm& f) {
    const bool core = f.headerSize == 12;
    const int colors = f.bpp <= 8 ? 1 << f.bpp : 0;
    const size_t entry = core ? 3 : 4;
    const bool masksAfter = f.bitfields && f.headerSize == 40;
    const size_t offBits = 14 + f.headerSize + (masksAfter ? 12 : 0) + colors * entry;
    const size_t pitch = (static_cast<size_t>(p.w) * f.bpp + 31) / 32 * 4;
    Bytes b(offBits + pitch * static_cast<size_t>(p.h), 0);
    b[0] = 'B';
    b[1] = 'M';
    StoreLE32(&b[2], static_cast<uint32_t>(b.size()));
    StoreLE32(&b[10], static_cast<uint32_t>(offBits));
    uint8_t* h = &b[14];
    StoreLE32(h, f.headerSize);
    if (core) {
        StoreLE16(h + 4, static_cast<uint16_t>(p.w));
        StoreLE16(h + 6, static_cast<uint16_t>(p.h));
        StoreLE16(h + 8, 1);
        StoreLE16(h + 10, static_cast<uint16_t>(f.bpp));
    } else {
        StoreLE32(h + 4, static_cast<uint32_t>(p.w));
        StoreLE32(h + 8, static_cast<uint32_t>(f.topDown ? -p.h : p.h));
        StoreLE16(h + 12, 1);
        StoreLE16(h + 14, static_cast<uint16_t>(f.bpp));
        StoreLE32(h + 16, f.bitfields ? 3 : 0);
        StoreLE32(h + 20, static_cast<uint32_t>(pitch * static_cast<size_t>(p.h)));
        StoreLE32(h + 24, 2835);
        StoreLE32(h + 28, 2835);
        uint8_t* masks = masksAfter || f.headerSize >= 108 ? h + 40 : nullptr;
        if (masks) {
            StoreLE32(masks, f.redMask);
            StoreLE32(masks + 4, f.greenMask);
            StoreLE32(masks + 8, f.blueMask);
        }
        if (f.headerSize >= 108) {
            StoreLE32(h + 52, f.alphaMask);
            StoreLE32(h + 56, 0x73524742);  // "sRGB"
        }
    }
    uint8_t* pal = &b[14 + f.headerSize + (masksAfter ? 12 : 0)];
    for (int i = 0; i < colors; ++i) {
        const auto& c = p.colors[static_cast<size_t>(i) % p.colors.size()];
        pal[i * entry] = c[2];
        pal[i * entry + 1] = c[1];
        pal[i * entry + 2] = c[0];
    }
    for (int y = 0; y < p.h; ++y) {
        uint8_t* row = &b[offBits + pitch * static_cast<size_t>(f.topDown ? y : p.h - 1 - y)];
        for (int x = 0; x < p.w; ++x) {
            const auto& c = p.At(x, y);
            switch (f.bpp) {
                case 1:
                case 4:
                case 8: {
                    const size_t bit = static_cast<size_t>(x) * f.bpp;
                    row[bit / 8] =
                        static_cast<uint8_t>(row[bit / 8] | p.IndexAt(x, y, colors) << (8 - f.bpp - bit % 8));
                    break;
                }
                case 16: {
                    const bool six = f.greenMask == 0x07E0;
                    const uint16_t v = six ? static_cast<uint16_t>((c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3)
                                           : static_cast<uint16_t>((c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3);
                    StoreLE16(row + x * 2, v);
                    break;
                }
                case 24:
                    row[x * 3] = c[2];
                    row[x * 3 + 1] = c[1];
                    row[x * 3 + 2] = c[0];
                    break;
                case 32:
                    row[x * 4] = c[2];
                    row[x * 4 + 1] = c[1];
                    row[x * 4 + 2] = c[0];
                    row[x * 4 + 3] = f.alphaMask ? c[3] : 0xA5;  // the fourth byte is never 0
                    break;
            }
        }
    }
    return b;
}

void StoreBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void StoreBE32(uint8_t* p, uint32_t v) {
    StoreBE16(p, static_cast<uint16_t>(v >> 16));
    StoreBE16(p + 2, static_cast<uint16_t>(v));
}

// A WAV file of 8 frames in any format tag (1 PCM, 7 u-law).
Bytes WavOf(int tag, int bits, int channels) {
    Bytes w = Wav(bits, channels);
    StoreLE16(&w[20], static_cast<uint16_t>(tag));
    return w;
}

// An AIFF file of 8 frames at 8000 Hz.
Bytes Aiff(int bits, int channels) {
    const uint32_t frames = 8, bytes = frames * static_cast<uint32_t>(channels * bits / 8);
    Bytes a(12 + 8 + 18 + 8 + 8 + bytes, 0);
    std::memcpy(&a[0], "FORM", 4);
    StoreBE32(&a[4], static_cast<uint32_t>(a.size() - 8));
    std::memcpy(&a[8], "AIFFCOMM", 8);
    StoreBE32(&a[16], 18);
    StoreBE16(&a[20], static_cast<uint16_t>(channels));
    StoreBE32(&a[22], frames);
    StoreBE16(&a[26], static_cast<uint16_t>(bits));
    static const uint8_t k8000Hz[10] = {0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0};  // 80-bit extended
    std::memcpy(&a[28], k8000Hz, 10);
    std::memcpy(&a[38], "SSND", 4);
    StoreBE32(&a[42], 8 + bytes);
    for (size_t i = 54; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 41);
    return a;
}

// A VOC file with one sound data block of 8 frames at 8000 Hz: type 1
// (8-bit mono, rate as a time constant) or type 9 (rate, bits, channels
// and an encoding word: 0 unsigned 8-bit, 4 signed 16-bit); then the end
// block.
Bytes Voc(int type, int bits, int channels) {
    const uint32_t samples = 8 * static_cast<uint32_t>(channels * bits / 8);
    Bytes v(26, 0);
    std::memcpy(&v[0], "Creative Voice File\x1a", 20);
    const uint16_t version = type == 9 ? 0x0114 : 0x010A;
    StoreLE16(&v[20], 26);
    StoreLE16(&v[22], version);
    StoreLE16(&v[24], static_cast<uint16_t>(~version + 0x1234));
    const uint32_t head = type == 9 ? 12 : 2;
    const uint32_t length = head + samples;
    v.insert(v.end(), {static_cast<uint8_t>(type), static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                       static_cast<uint8_t>(length >> 16)});
    if (type == 9) {
        Bytes h(12, 0);
        StoreLE32(&h[0], 8000);
        h[4] = static_cast<uint8_t>(bits);
        h[5] = static_cast<uint8_t>(channels);
        StoreLE16(&h[6], bits == 16 ? 4 : 0);
        v.insert(v.end(), h.begin(), h.end());
    } else {
        v.insert(v.end(), {131, 0});  // 256 - 1000000 / 8000; no compression
    }
    for (uint32_t i = 0; i < samples; ++i) v.push_back(static_cast<uint8_t>(128 + (i % 2 ? 50 : -50)));
    v.push_back(0);
    return v;
}

// A MIDI file: the "MThd" head and one track that plays a note.
Bytes Midi() {
    static const uint8_t m[] = {'M', 'T', 'h', 'd', 0,  0, 0,    6,  0,   0,  0,    1,  0, 96, 'M',  'T',  'r',
                                'k', 0,   0,   0,   12, 0, 0x90, 60, 100, 96, 0x80, 60, 0, 0,  0xFF, 0x2F, 0};
    return Bytes(m, m + sizeof m);
}

const char* kImportHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
    "<ORB version=\"v1\" date=\"Mon Dec  7 08:00:00 2026&#x0A;\" creator=\"Bundlex v2.0\" totalblocks=\"%d\">\n";

void PutImport(const std::string& name, int total, const std::string& element, const Bytes& payload) {
    char head[256];
    std::snprintf(head, sizeof head, kImportHead, total);
    const std::string doc = std::string(head) + element + "</ORB>\n--payload--\n";
    Bytes b(doc.begin(), doc.end());
    b.insert(b.end(), payload.begin(), payload.end());
    Put("import", name, b);
}

// The blending attributes of a graphic element: per-pixel, or per-surface
// with alpha and colour key (tiles write "per-pSurface").
std::string Blending(bool perPixel, bool tile, const char* alphamod = "255", const char* colorkey = "-1") {
    if (perPixel) return "alphablending=\"per-pixel\"";
    return std::string("alphablending=\"") + (tile ? "per-pSurface" : "per-surface") + "\" alphamod=\"" + alphamod +
           "\" colorkey=\"" + colorkey + "\"";
}

std::string ImageElement(const std::string& src, bool perPixel) {
    return "    <image name=\"pic\" source=\"" + src + "\" " + Blending(perPixel, false) + " />\n";
}
std::string TileElement(const std::string& src, bool perPixel, bool tileset) {
    return "    <tile name=\"ground\" source=\"" + src + "\" " + Blending(perPixel, true, "128", "1") +
           " xposition=\"3\" yposition=\"-2\" " +
           (tileset ? "tileset=\"enabled\" xoffset=\"4\" yoffset=\"4\"" : "tileset=\"disabled\"") + " />\n";
}
// An 8x8 sheet of 4x4 frames: two animations of two frames.
std::string SpriteElement(const std::string& src, bool perPixel, const char* alphamod) {
    return "    <sprite name=\"hero\" source=\"" + src + "\" " + Blending(perPixel, false, alphamod, "0") +
           " xoffset=\"4\" yoffset=\"4\">\n"
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
}
std::string FontElement(const std::string& src, bool perPixel) {
    return "    <font name=\"small\" source=\"" + src + "\" " + Blending(perPixel, false) + " kerning=\"1\" />\n";
}
// A button with its four state images, all from the one payload (5 blocks).
std::string WidgetElement(const std::string& src, bool perPixel) {
    std::string images;
    for (const ButtonStateImage& image : IButton::kStateImages)
        images += std::string("            <image state=\"") + image.state + "\" source=\"" + src + "\" " +
                  Blending(perPixel, false) + " />\n";
    return "    <panel name=\"default\" xposition=\"0\" yposition=\"0\" width=\"800\" height=\"600\" alphamod=\"0\">\n"
           "        <widget name=\"play\" type=\"button\" id=\"1\" xposition=\"350\" yposition=\"260\" key=\"13\" "
           "selectboxRGB=\"16763904\" value=\"0\" range=\"0\">\n" +
           images + "        </widget>\n    </panel>\n";
}
std::string AudioElement(const char* tag, const std::string& src) {
    return std::string("    <") + tag + " name=\"tune\" source=\"" + src + "\" />\n";
}
std::string FileElement(const std::string& src, const char* method) {
    return "    <file name=\"data\" source=\"" + src + "\" storemethod=\"" + method + "\" />\n";
}

void MakeImportSeeds() {
    struct PngForm {
        std::string name;
        int colorType, depth;
        Trns trns;
    };
    std::vector<PngForm> pngs;
    for (int d : {1, 2, 4, 8, 16}) {
        const std::string n = "grey" + std::to_string(d);
        pngs.push_back({n, PNG_COLOR_TYPE_GRAY, d, Trns::None});
        pngs.push_back({n + "_trns", PNG_COLOR_TYPE_GRAY, d, Trns::ColorKey});
    }
    for (int d : {8, 16}) {
        const std::string s = std::to_string(d);
        pngs.push_back({"greyalpha" + s, PNG_COLOR_TYPE_GRAY_ALPHA, d, Trns::None});
        pngs.push_back({"rgb" + s, PNG_COLOR_TYPE_RGB, d, Trns::None});
        pngs.push_back({"rgb" + s + "_trns", PNG_COLOR_TYPE_RGB, d, Trns::ColorKey});
        pngs.push_back({"rgba" + s, PNG_COLOR_TYPE_RGB_ALPHA, d, Trns::None});
    }
    for (int d : {1, 2, 4, 8}) {
        const std::string n = "pal" + std::to_string(d);
        pngs.push_back({n, PNG_COLOR_TYPE_PALETTE, d, Trns::None});
        pngs.push_back({n + "_trns_key", PNG_COLOR_TYPE_PALETTE, d, Trns::PaletteKey});
        pngs.push_back({n + "_trns_alpha", PNG_COLOR_TYPE_PALETTE, d, Trns::PaletteAlpha});
    }
    const Picture small = PatternPicture(4, 3), sheet = PatternPicture(8, 8), font = FontPicture();
    for (const PngForm& f : pngs) {
        const std::string n = "png_" + f.name;
        for (bool interlaced : {false, true}) {
            const std::string i = interlaced ? "_interlaced" : "";
            PutImport(n + i + "_image", 1, ImageElement("a.png", true),
                      Png(small, f.colorType, f.depth, interlaced, f.trns));
            if (interlaced) continue;
            const Bytes s = Png(sheet, f.colorType, f.depth, false, f.trns);
            PutImport(n + "_tile", 1, TileElement("a.png", true, false),
                      Png(small, f.colorType, f.depth, false, f.trns));
            PutImport(n + "_sprite", 1, SpriteElement("a.png", true), s);
            PutImport(n + "_widget", 5, WidgetElement("a.png", true), Png(small, f.colorType, f.depth, false, f.trns));
        }
    }
    PutImport("png_rgba8_interlaced_sprite", 1, SpriteElement("a.png", true),
              Png(sheet, PNG_COLOR_TYPE_RGB_ALPHA, 8, true, Trns::None));
    PutImport("png_pal4_interlaced_sprite", 1, SpriteElement("a.png", true),
              Png(sheet, PNG_COLOR_TYPE_PALETTE, 4, true, Trns::PaletteKey));
    PutImport("png_rgba8_tileset", 1, TileElement("a.png", true, true),
              Png(sheet, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, Trns::None));
    PutImport("png_rgba8_font", 1, FontElement("f.png", true),
              Png(font, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, Trns::None));
    PutImport("png_rgba16_font", 1, FontElement("f.png", true),
              Png(font, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, Trns::None));
    PutImport("png_rgb8_font", 1, FontElement("f.png", true), Png(font, PNG_COLOR_TYPE_RGB, 8, false, Trns::None));
    PutImport("png_rgb8_trns_font", 1, FontElement("f.png", true),
              Png(font, PNG_COLOR_TYPE_RGB, 8, false, Trns::ColorKey));
    PutImport("png_pal2_font", 1, FontElement("f.png", true), Png(font, PNG_COLOR_TYPE_PALETTE, 2, false, Trns::None));
    PutImport("png_pal8_trns_key_font", 1, FontElement("f.png", true),
              Png(font, PNG_COLOR_TYPE_PALETTE, 8, false, Trns::PaletteKey));
    PutImport("png_rgba8_interlaced_font", 1, FontElement("f.png", true),
              Png(font, PNG_COLOR_TYPE_RGB_ALPHA, 8, true, Trns::None));

    const struct {
        const char* name;
        BmpForm form;
    } bmps[] = {
        {"bmp1", {1, 40, false, false}},
        {"bmp4", {4, 40, false, false}},
        {"bmp8", {8, 40, false, false}},
        {"bmp8_topdown", {8, 40, false, true}},
        {"bmp16_555", {16, 40, false, false}},
        {"bmp16_555_bitfields", {16, 40, true, false, 0x7C00, 0x03E0, 0x001F}},
        {"bmp16_565_bitfields", {16, 40, true, false, 0xF800, 0x07E0, 0x001F}},
        {"bmp24", {24, 40, false, false}},
        {"bmp24_topdown", {24, 40, false, true}},
        {"bmp32_fourth_byte", {32, 40, false, false}},
        {"bmp32_bitfields", {32, 40, true, false, 0xFF0000, 0xFF00, 0xFF}},
        {"bmp24_v4", {24, 108, false, false}},
        {"bmp32_v4_bitfields", {32, 108, true, false, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
        {"bmp16_v5_565", {16, 124, true, true, 0xF800, 0x07E0, 0x001F}},
        {"bmp32_v5_bitfields", {32, 124, true, true, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u}},
        {"bmp8_v5", {8, 124, false, false}},
        {"bmp24_core", {24, 12, false, false}},
        {"bmp8_core", {8, 12, false, false}},
    };
    for (const auto& b : bmps) {
        const std::string n = b.name;
        PutImport(n + "_image", 1, ImageElement("a.bmp", false), Bmp(small, b.form));
        PutImport(n + "_tile", 1, TileElement("a.bmp", false, false), Bmp(small, b.form));
        PutImport(n + "_sprite", 1, SpriteElement("a.bmp", false), Bmp(sheet, b.form));
        PutImport(n + "_widget", 5, WidgetElement("a.bmp", false), Bmp(small, b.form));
    }
    PutImport("bmp24_tileset", 1, TileElement("a.bmp", false, true), Bmp(sheet, {24, 40, false, false}));
    PutImport("bmp24_font", 1, FontElement("f.bmp", false), Bmp(font, {24, 40, false, false}));
    PutImport("bmp32_font", 1, FontElement("f.bmp", false), Bmp(font, {32, 40, false, false}));
    PutImport("bmp8_font", 1, FontElement("f.bmp", false), Bmp(font, {8, 40, false, false}));
    PutImport("bmp4_topdown_font", 1, FontElement("f.bmp", false), Bmp(font, {4, 40, false, true}));

    const fs::path snd = g_src / "tests/data/sounds";
    const struct {
        const char* name;
        Bytes data;
    } sounds[] = {
        {"wav_pcm8_mono", WavOf(1, 8, 1)},
        {"wav_pcm8_stereo", WavOf(1, 8, 2)},
        {"wav_pcm16_mono", WavOf(1, 16, 1)},
        {"wav_pcm16_stereo", WavOf(1, 16, 2)},
        {"wav_ulaw", WavOf(7, 8, 1)},
        {"aiff8_mono", Aiff(8, 1)},
        {"aiff16_stereo", Aiff(16, 2)},
        {"voc_type1", Voc(1, 8, 1)},
        {"voc_type9_8bit", Voc(9, 8, 1)},
        {"voc_type9_16bit_stereo", Voc(9, 16, 2)},
        {"ogg", ReadAll(snd / "tone_22050_stereo.ogg")},
    };
    for (const auto& s : sounds) PutImport(std::string("sound_") + s.name, 1, AudioElement("sound", "s.snd"), s.data);
    const Bytes raw = {'h', 'e', 'l', 'l', 'o', ' ', 'h', 'e', 'l', 'l', 'o', '\n', 0, 1, 2, 0xFF};
    const struct {
        const char* name;
        Bytes data;
    } music[] = {
        {"mod", Module("MOD")},
        {"xm", Module("XM")},
        {"it", Module("IT")},
        {"s3m", Module("S3M")},
        {"midi", Midi()},
        {"raw", raw},
        {"ogg", ReadAll(snd / "tone_22050_stereo.ogg")},
    };
    for (const auto& m : music) PutImport(std::string("music_") + m.name, 1, AudioElement("music", "m.mus"), m.data);
    for (const char* method : {"raw", "compressed", "crypted"})
        PutImport(std::string("file_") + method, 1, FileElement("data.bin", method), raw);
    PutImport("file_empty", 1, FileElement("data.bin", "raw"), Bytes());
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
    MakeImportSeeds();
    Trovalis.Quit();
    fs::remove_all(g_tmp);
    std::printf("%d seed files written under %s\n", g_written, g_out.string().c_str());
    return 0;
}
