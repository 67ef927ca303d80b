// Draws and synthesises the bundled example: examples/demo.xml, an ORBv1
// document, and its payload files under examples/demo/. Every asset is made
// here from nothing but arithmetic, so the example carries no outside work.
//
//   make_examples [output-directory]     (default: examples)
//
// The document holds one resource of every kind: a per-pixel PNG image, a
// per-surface BMP image with colour key and alpha, a tile, a tileset, a sprite
// sheet with three animations and varied frame times, a font strip of the 94
// glyphs, a WAV sound, a tracker-module (MOD) music piece, raw files in each
// store method, and a panel of widgets of four kinds with their state images.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "OrbFormat.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"

namespace {

constexpr const char* kBase = "demo";
int g_doc = 0;
int g_total = 0;

SDL_Surface* NewRGBA(int w, int h) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
}
SDL_Surface* NewRGB(int w, int h) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
}

void Put(SDL_Surface* s, int x, int y, Uint8 r, Uint8 g, Uint8 b, Uint8 a = 255) {
    if (x < 0 || y < 0 || x >= s->w || y >= s->h) return;
    Uint32 v = SDL_MapRGBA(s->format, r, g, b, a);
    std::memcpy(static_cast<Uint8*>(s->pixels) + y * s->pitch + x * 4, &v, 4);
}

void Rect(SDL_Surface* s, int x0, int y0, int w, int h, Uint8 r, Uint8 g, Uint8 b, Uint8 a = 255) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) Put(s, x, y, r, g, b, a);
}

bool Fail(const char* what) {
    std::fprintf(stderr, "make_examples: %s\n", what);
    return false;
}

std::string Payload(const std::string& file) { return std::string(kBase) + "/" + file; }

bool SavePNG(SDL_Surface* s, const std::string& path) {
    const bool ok = s && g_pImage->SavePNG(path.c_str(), s, -1) == 0;
    SDL_FreeSurface(s);
    return ok || Fail(("cannot write " + path).c_str());
}
bool SaveBMP(SDL_Surface* s, const std::string& path) {
    const bool ok = s && g_pImage->SaveBMP(path.c_str(), s) == 1;
    SDL_FreeSurface(s);
    return ok || Fail(("cannot write " + path).c_str());
}

// The colour key value of magenta as the importer will see it: the pixel
// value in the format of the BMP as it loads again.
int MagentaKeyOf(const std::string& bmp) {
    SDL_Surface* s = g_pImage->LoadBMP(bmp.c_str());
    if (!s) return orb::kNoColorKeyValue;
    const int key = static_cast<int>(SDL_MapRGB(s->format, 255, 0, 255));
    SDL_FreeSurface(s);
    return key;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return Fail(("cannot write " + path).c_str());
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0 && ok) || Fail(("cannot write " + path).c_str());
}

// Document helpers: each element is a child of the current one.
void Open(const char* tag) { Trovalis.XMLNodeCreate(g_doc, tag); }
void Close() { Trovalis.XMLNodeParent(g_doc); }
void Set(const char* name, const std::string& v) { Trovalis.XMLAttributeSet(g_doc, name, v.c_str()); }
void Set(const char* name, int v) { Trovalis.XMLAttributeSet(g_doc, name, v); }
void PerPixel(const std::string& source) {
    Set(orb::attr::kSource, source);
    Set(orb::attr::kAlphaBlending, orb::kPerPixel);
}
void PerSurface(const std::string& source, const char* text, int alphamod, int colorkey) {
    Set(orb::attr::kSource, source);
    Set(orb::attr::kAlphaBlending, text);
    Set(orb::attr::kAlphaMod, alphamod);
    Set(orb::attr::kColorKey, colorkey);
}

// A disc with a soft rim, blue to orange: per-pixel alpha.
bool MakeLogo() {
    const int n = 64;
    SDL_Surface* s = NewRGBA(n, n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double dx = x - 31.5, dy = y - 31.5, d = std::sqrt(dx * dx + dy * dy);
            const double a = d < 26 ? 1.0 : d > 31 ? 0.0 : (31 - d) / 5;
            Put(s, x, y, static_cast<Uint8>(40 + 3 * x), static_cast<Uint8>(90 + y), static_cast<Uint8>(230 - 3 * x),
                static_cast<Uint8>(a * 255));
        }
    const std::string src = Payload("img_logo.png");
    if (!SavePNG(s, src)) return false;
    Open("image");
    Set(orb::attr::kName, "logo");
    PerPixel(src);
    Close();
    ++g_total;
    return true;
}

// Stripes on magenta, keyed out and half transparent: per-surface.
bool MakeBackdrop() {
    SDL_Surface* s = NewRGB(80, 48);
    Rect(s, 0, 0, 80, 48, 255, 0, 255);
    for (int i = 0; i < 8; ++i) Rect(s, i * 10 + 2, 4 + (i % 3) * 4, 6, 30, 30 + 25 * i, 160, 200 - 20 * i);
    const std::string src = Payload("img_backdrop.bmp");
    if (!SaveBMP(s, src)) return false;
    Open("image");
    Set(orb::attr::kName, "backdrop");
    PerSurface(src, orb::kPerSurface, 128, MagentaKeyOf(src));
    Close();
    ++g_total;
    return true;
}

// A checkered ground tile (no colour key, opaque) and a 4x2 tileset of
// per-pixel sub-tiles.
bool MakeTiles() {
    SDL_Surface* s = NewRGB(48, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            const bool dark = ((x / 8) + (y / 8)) % 2;
            Put(s, x, y, dark ? 90 : 120, dark ? 60 : 85, dark ? 30 : 45);
        }
    std::string src = Payload("tile_ground.bmp");
    if (!SaveBMP(s, src)) return false;
    Open("tile");
    Set(orb::attr::kName, "ground");
    PerSurface(src, orb::kTilePerSurface, 255, orb::kNoColorKeyValue);
    Set(orb::attr::kXPosition, 10);
    Set(orb::attr::kYPosition, 20);
    Set(orb::attr::kTileset, orb::kDisabled);
    Close();
    ++g_total;

    s = NewRGBA(128, 64);
    for (int t = 0; t < 8; ++t) {
        const int ox = (t % 4) * 32, oy = (t / 4) * 32;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const int d = std::abs(x - 16) + std::abs(y - 16);
                const Uint8 a = d < 10 + t ? 255 : d < 14 + t ? 128 : 0;
                Put(s, ox + x, oy + y, static_cast<Uint8>(30 * t), static_cast<Uint8>(200 - 20 * t), 90, a);
            }
    }
    src = Payload("tile_terrain.png");
    if (!SavePNG(s, src)) return false;
    Open("tile");
    Set(orb::attr::kName, "terrain");
    PerPixel(src);
    Set(orb::attr::kXPosition, 0);
    Set(orb::attr::kYPosition, 100);
    Set(orb::attr::kTileset, orb::kEnabled);
    Set(orb::attr::kXOffset, 32);
    Set(orb::attr::kYOffset, 32);
    Close();
    ++g_total;
    return true;
}

// Three animations of a bouncing ball on magenta, one per row of four 32x32
// frames: a walk, a jump with uneven frame times and an idle loop that plays
// frames 1 to 2 only.
bool MakeSprite() {
    const int fw = 32, fh = 32, cols = 4, rows = 3;
    SDL_Surface* s = NewRGB(fw * cols, fh * rows);
    Rect(s, 0, 0, fw * cols, fh * rows, 255, 0, 255);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int cx = c * fw + 16, cy = r * fh + 12 + (r == 1 ? (c % 2) * 8 : c * 2);
            for (int y = -8; y <= 8; ++y)
                for (int x = -8; x <= 8; ++x)
                    if (x * x + y * y <= 64)
                        Put(s, cx + x, cy + y, static_cast<Uint8>(200 - 50 * r), static_cast<Uint8>(60 + 40 * c),
                            static_cast<Uint8>(80 + 50 * r));
        }
    const std::string src = Payload("spr_hero.bmp");
    if (!SaveBMP(s, src)) return false;
    Open("sprite");
    Set(orb::attr::kName, "hero");
    PerSurface(src, orb::kPerSurface, 255, MagentaKeyOf(src));
    Set(orb::attr::kXOffset, fw);
    Set(orb::attr::kYOffset, fh);
    const struct {
        int type, status, hotx, hoty, start, end;
        std::vector<int> ms;
    } anims[rows] = {
        {2, 0x8000, 16, 30, 0, 3, {120, 80, 120, 80}},
        {4, 0x8001, 16, 28, 0, 3, {60, 60, 200, 400}},
        {8, 0x8002, -4, 30, 1, 2, {500, 250, 250, 500}},
    };
    for (int a = 0; a < rows; ++a) {
        Open(orb::kAnimationTag);
        Set(orb::attr::kId, a);
        Set(orb::attr::kType, anims[a].type);
        Set(orb::attr::kStatus, anims[a].status);
        Set(orb::attr::kFrames, static_cast<int>(anims[a].ms.size()));
        Set(orb::attr::kHotX, anims[a].hotx);
        Set(orb::attr::kHotY, anims[a].hoty);
        Set(orb::attr::kStartFrame, anims[a].start);
        Set(orb::attr::kEndFrame, anims[a].end);
        for (size_t f = 0; f < anims[a].ms.size(); ++f) {
            Open(orb::kFrameTag);
            Set(orb::attr::kId, static_cast<int>(f));
            Set(orb::attr::kMs, anims[a].ms[f]);
            Close();
        }
        Close();
    }
    Close();
    ++g_total;
    return true;
}

// The font strip: a black row with one empty column before every glyph and
// after the last, and 94 glyphs of 3 to 5 columns each. Every glyph column
// holds ink (a frame on the left and right edges and across the top), and
// the inside carries the bits of the character code, so every glyph differs.
bool MakeFont() {
    const int h = 11;  // marker row + 10 glyph rows
    std::vector<int> widths;
    int total = 1;
    for (int c = 33; c <= 126; ++c) {
        widths.push_back(3 + c % 3);
        total += widths.back() + 1;
    }
    SDL_Surface* s = NewRGB(total, h);
    Rect(s, 0, 0, total, h, 0, 0, 0);
    int x = 1;
    for (int c = 33; c <= 126; ++c) {
        const int w = widths[c - 33];
        for (int y = 2; y < h - 1; ++y) {
            Put(s, x, y, 240, 240, 240);
            Put(s, x + w - 1, y, 240, 240, 240);
        }
        for (int i = 0; i < w; ++i) Put(s, x + i, 2, 240, 240, 240);
        for (int bit = 0; bit < 7; ++bit)
            if ((c >> bit) & 1) Put(s, x + 1 + bit % (w - 2), 3 + bit, 255, 200, 80);
        x += w + 1;
    }
    const std::string src = Payload("font_small.bmp");
    if (!SaveBMP(s, src)) return false;
    Open("font");
    Set(orb::attr::kName, "small");
    PerSurface(src, orb::kPerSurface, 255, 0);
    Set(orb::attr::kKerning, 1);
    Close();
    ++g_total;
    return true;
}

// A quarter-second two-tone chime: 22050 Hz, mono, 16-bit PCM.
bool MakeSound() {
    const uint32_t rate = 22050, samples = rate / 4;
    std::vector<uint8_t> wav(44 + samples * 2);
    uint8_t* p = wav.data();
    std::memcpy(p, "RIFF", 4);
    StoreLE32(p + 4, static_cast<uint32_t>(wav.size() - 8));
    std::memcpy(p + 8, "WAVEfmt ", 8);
    StoreLE32(p + 16, 16);
    StoreLE16(p + 20, 1);  // PCM
    StoreLE16(p + 22, 1);  // mono
    StoreLE32(p + 24, rate);
    StoreLE32(p + 28, rate * 2);  // bytes per second
    StoreLE16(p + 32, 2);         // block align
    StoreLE16(p + 34, 16);
    std::memcpy(p + 36, "data", 4);
    StoreLE32(p + 40, samples * 2);
    for (uint32_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = i < samples / 2 ? 880.0 : 1318.5;
        const double env = std::exp(-6.0 * t);
        const int16_t v = static_cast<int16_t>(12000 * env * std::sin(2 * M_PI * f * t));
        StoreLE16(p + 44 + i * 2, static_cast<uint16_t>(v));
    }
    const std::string src = Payload("snd_chime.WAV");
    if (!WriteBytes(src, wav)) return false;
    Open("sound");
    Set(orb::attr::kName, "chime");
    Set(orb::attr::kSource, src);
    Close();
    ++g_total;
    return true;
}

// A four-channel tracker module ("M.K."): one 32-sample square wave and one
// 64-row pattern playing a short arpeggio.
bool MakeMusic() {
    std::vector<uint8_t> mod(1084, 0);
    std::memcpy(mod.data(), "bundlex demo", 12);
    // Sample 1: 32 samples (16 words), volume 48, looping over all of it.
    uint8_t* smp = mod.data() + 20;
    std::memcpy(smp, "square", 6);
    smp[22] = 0;
    smp[23] = 16;  // length in words, big-endian
    smp[24] = 0;   // finetune
    smp[25] = 48;  // volume
    smp[26] = 0;
    smp[27] = 0;  // loop start
    smp[28] = 0;
    smp[29] = 16;                                            // loop length in words
    for (int i = 1; i < 31; ++i) mod[20 + i * 30 + 29] = 1;  // empty samples: loop length 1 word
    mod[950] = 1;                                            // song length: one position
    mod[951] = 127;                                          // restart byte
    mod[952] = 0;                                            // position 0 plays pattern 0
    std::memcpy(mod.data() + 1080, "M.K.", 4);
    // Pattern 0: 64 rows x 4 channels x 4 bytes.
    static const int kPeriods[4] = {428, 339, 285, 214};  // C-2 E-2 G-2 C-3
    std::vector<uint8_t> pattern(64 * 4 * 4, 0);
    for (int row = 0; row < 64; row += 4) {
        const int period = kPeriods[(row / 4) % 4];
        uint8_t* cell = pattern.data() + row * 16;
        cell[0] = static_cast<uint8_t>((0 << 4) | ((period >> 8) & 0x0F));
        cell[1] = static_cast<uint8_t>(period & 0xFF);
        cell[2] = static_cast<uint8_t>(1 << 4);  // sample 1
    }
    mod.insert(mod.end(), pattern.begin(), pattern.end());
    for (int i = 0; i < 32; ++i) mod.push_back(static_cast<uint8_t>(i < 16 ? 0x40 : 0xC0));
    const std::string src = Payload("mus_theme.MOD");
    if (!WriteBytes(src, mod)) return false;
    Open("music");
    Set(orb::attr::kName, "theme");
    Set(orb::attr::kSource, src);
    Close();
    ++g_total;
    return true;
}

bool MakeFiles() {
    const struct {
        const char* name;
        const char* method;
        std::string text;
    } files[] = {
        {"readme", "compressed",
         std::string("Bundlex demo package.\nThis text is stored compressed; it repeats to give the packer work:\n") +
             std::string(200, '=') + "\n"},
        {"config", "raw", "volume=80\nfullscreen=0\nlanguage=en\n"},
        {"levels/one", "crypted", "#####\n#@ $#\n#  .#\n#####\n"},
    };
    for (const auto& f : files) {
        const std::string src = Payload("file_" + orb::SafeComponent(f.name));
        if (!WriteBytes(src, std::vector<uint8_t>(f.text.begin(), f.text.end()))) return false;
        Open("file");
        Set(orb::attr::kName, f.name);
        Set(orb::attr::kSource, src);
        Set(orb::attr::kStoreMethod, f.method);
        Close();
        ++g_total;
    }
    return true;
}

// A state image: a rounded bar whose shade tells the state.
bool StateImage(const std::string& widget, const char* state, int w, int h, int shade, bool perPixel) {
    SDL_Surface* s = perPixel ? NewRGBA(w, h) : NewRGB(w, h);
    Rect(s, 0, 0, w, h, 255, 0, 255, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool corner = (x < 2 || x >= w - 2) && (y < 2 || y >= h - 2);
            if (!corner)
                Put(s, x, y, static_cast<Uint8>(shade), static_cast<Uint8>(shade / 2 + 60),
                    static_cast<Uint8>(255 - shade));
        }
    const std::string src = Payload("wid_" + widget + "_" + state + (perPixel ? ".png" : ".bmp"));
    if (!(perPixel ? SavePNG(s, src) : SaveBMP(s, src))) return false;
    Open(orb::kImageTag);
    Set(orb::attr::kState, state);
    if (perPixel)
        PerPixel(src);
    else
        PerSurface(src, orb::kPerSurface, 255, MagentaKeyOf(src));
    Close();
    ++g_total;
    return true;
}

bool MakePanel() {
    Open("panel");
    Set(orb::attr::kName, orb::kPanelName);
    Set(orb::attr::kXPosition, 0);
    Set(orb::attr::kYPosition, 0);
    Set(orb::attr::kWidth, orb::kPanelWidth);
    Set(orb::attr::kHeight, orb::kPanelHeight);
    Set(orb::attr::kAlphaMod, 0);
    const struct {
        const char* name;
        const char* type;
        int x, y, key, select, value, range;
        bool perPixel;
        std::vector<const char*> states;
    } widgets[] = {
        {"play", "button", 350, 260, 13, 0x00FFCC00, 0, 0, true, {"normal", "hovered", "pressed", "deactivated"}},
        {"volume", "hslider", 300, 340, 0, 0x0000FF00, 80, 100, false, {"normal", "pressed", "deactivated"}},
        {"sound", "checkbox", 300, 380, 115, 0x00FFFFFF, 1, 0, true, {"normal", "pressed", "deactivated"}},
        {"player", "inputbox", 300, 420, 0, 0x000000FF, 0, 16, false, {"normal", "pressed", "deactivated"}},
    };
    int id = 0;
    for (const auto& w : widgets) {
        Open(orb::kWidgetTag);
        Set(orb::attr::kName, w.name);
        Set(orb::attr::kType, w.type);
        Set(orb::attr::kId, ++id);
        Set(orb::attr::kXPosition, w.x);
        Set(orb::attr::kYPosition, w.y);
        Set(orb::attr::kKey, w.key);
        Set(orb::attr::kSelectBox, w.select);
        Set(orb::attr::kValue, w.value);
        Set(orb::attr::kRange, w.range);
        int shade = 60;
        for (const char* st : w.states) {
            if (!StateImage(w.name, st, 96, 24, shade, w.perPixel)) return false;
            shade += 50;
        }
        Close();
        ++g_total;
    }
    Close();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? argv[1] : "examples";
    ::mkdir(out.c_str(), 0755);
    if (::chdir(out.c_str()) != 0) return Fail("cannot enter the output directory") ? 0 : 1;
    ::mkdir(kBase, 0755);
    Trovalis.Init(0);
    g_doc = Trovalis.XMLCreate(orb::kRootTag);
    if (!g_doc) return 1;
    Trovalis.XMLCommentSet(g_doc, orb::kComment);
    Set(orb::attr::kVersion, orb::kVersion);
    Set(orb::attr::kSource, std::string(kBase) + ".vlt");
    Set(orb::attr::kDate, "Mon Dec  7 08:00:00 2026\n");
    Set(orb::attr::kCreator, orb::kCreator);
    const bool ok = MakeLogo() && MakeBackdrop() && MakeTiles() && MakeSprite() && MakeFont() && MakeMusic() &&
                    MakeSound() && MakeFiles() && MakePanel();
    int rc = 1;
    if (ok) {
        Trovalis.XMLNodePointTo(g_doc, 1, orb::kRootTag);
        Set(orb::attr::kTotalBlocks, g_total);
        if (Trovalis.XMLSave(g_doc, "demo.xml") == 1) {
            std::printf("make_examples: %s/demo.xml with %d blocks\n", out.c_str(), g_total);
            rc = 0;
        }
    }
    Trovalis.XMLClose(g_doc);
    Trovalis.Quit();
    return rc;
}
