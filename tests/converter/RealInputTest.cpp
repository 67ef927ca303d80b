// Image files of the shapes real game data has and our own writers never make.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <SDL.h>
#include <tinyxml.h>

#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"

using namespace testsupport;


namespace {

struct PngCase {
    const char* name;
    int colorType;
    int depth;
    bool interlace;
    bool trns;  // palette: entry 1 fully transparent; grey and RGB: the colour of pixel (1, 0)
};

constexpr int kW = 8, kH = 6;

// The sample of channel c at (x, y), within the depth.
int Sample(const PngCase& c, int x, int y, int ch) {
    const int max = (1 << c.depth) - 1;
    if (c.colorType == PNG_COLOR_TYPE_PALETTE) return (x + y * 3) % (max + 1 < 6 ? max + 1 : 6);
    return ((x * 5 + y * 11 + ch * 7) * 2654435761u >> 8) % (max + 1);
}

// The palette: distinct colours, none white.
png_color PaletteColor(int i) {
    return png_color{static_cast<png_byte>(20 + i * 37), static_cast<png_byte>(200 - i * 23),
                     static_cast<png_byte>(i * 41 % 200)};
}

// The expected 8-bit red, green, blue of pixel (x, y) as a reader keeps it.
SDL_Color Expected(const PngCase& c, int x, int y) {
    auto eight = [&](int v) {
        if (c.depth == 16) return v >> 8;
        if (c.depth < 8) return v * 255 / ((1 << c.depth) - 1);
        return v;
    };
    if (c.colorType == PNG_COLOR_TYPE_PALETTE) {
        const png_color p = PaletteColor(Sample(c, x, y, 0));
        return SDL_Color{p.red, p.green, p.blue, 0};
    }
    if (c.colorType == PNG_COLOR_TYPE_GRAY) {
        const Uint8 g = static_cast<Uint8>(eight(Sample(c, x, y, 0)));
        return SDL_Color{g, g, g, 0};
    }
    return SDL_Color{static_cast<Uint8>(eight(Sample(c, x, y, 0))), static_cast<Uint8>(eight(Sample(c, x, y, 1))),
                     static_cast<Uint8>(eight(Sample(c, x, y, 2))), 0};
}

bool WritePng(const std::string& path, const PngCase& c) {
    PngSpec p;
    p.width = kW;
    p.height = kH;
    p.bitDepth = c.depth;
    p.colorType = c.colorType;
    p.interlaced = c.interlace;
    const int channels = c.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1, bytes = c.depth == 16 ? 2 : 1;
    const size_t row = size_t((kW * channels * c.depth + 7) / 8);
    p.pixels.assign(row * kH, 0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                const int v = Sample(c, x, y, ch), bit = x * c.depth, i = (x * channels + ch) * bytes;
                png_byte* at = &p.pixels[y * row];
                if (c.depth < 8)
                    at[bit / 8] |= static_cast<png_byte>(v << (8 - c.depth - bit % 8));
                else if (bytes == 2)
                    at[i] = png_byte(v >> 8), at[i + 1] = png_byte(v);
                else
                    at[i] = png_byte(v);
            }
    if (c.colorType == PNG_COLOR_TYPE_PALETTE) {
        const int entries = std::min(6, 1 << c.depth);
        for (int i = 0; i < entries; ++i) p.palette.push_back(PaletteColor(i));
        const png_byte alpha[3] = {255, 0, 255};
        if (c.trns) p.transAlpha.assign(alpha, alpha + std::min(3, entries));
    } else if (c.trns) {
        p.transColor = true;
        p.trans.gray = p.trans.red = static_cast<png_uint_16>(Sample(c, 1, 0, 0));
        p.trans.green = static_cast<png_uint_16>(Sample(c, 1, 0, 1));
        p.trans.blue = static_cast<png_uint_16>(Sample(c, 1, 0, 2));
    }
    return WriteFile(path, EncodePng(p));
}

// The 54-byte head of a BMP file of the given size with a 40-byte info header.
std::vector<uint8_t> BmpHead(size_t size, uint32_t offset, int w, int h, uint16_t bits) {
    std::vector<uint8_t> b(size, 0);
    b[0] = 'B';
    b[1] = 'M';
    StoreLE32(&b[2], static_cast<uint32_t>(size));
    StoreLE32(&b[10], offset);
    StoreLE32(&b[14], 40);
    StoreLE32(&b[18], static_cast<uint32_t>(w));
    StoreLE32(&b[22], static_cast<uint32_t>(h));
    StoreLE16(&b[26], 1);
    StoreLE16(&b[28], bits);
    return b;
}

// A 32-bit BI_RGB BMP of the surface's colours with a varying, meaningless
// fourth byte, as some paint programs write them.
std::vector<uint8_t> Bmp32WithNoise(SDL_Surface* s) {
    const int w = s->w, h = s->h;
    std::vector<uint8_t> b = BmpHead(54 + size_t(w * h * 4), 54, w, h, 32);
    SDL_LockSurface(s);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Uint32 v;
            std::memcpy(&v, static_cast<Uint8*>(s->pixels) + y * s->pitch + x * 4, 4);
            Uint8 r, g, bl;
            SDL_GetRGB(v, s->format, &r, &g, &bl);
            uint8_t* p = &b[54 + size_t(((h - 1 - y) * w + x) * 4)];
            p[0] = bl, p[1] = g, p[2] = r, p[3] = static_cast<uint8_t>(x * 29 + y * 7 + 3);
        }
    SDL_UnlockSurface(s);
    return b;
}

// Whether pixel (x, y) is the one the tRNS makes transparent.
bool Transparent(const PngCase& c, int x, int y) {
    if (!c.trns) return false;
    if (c.colorType == PNG_COLOR_TYPE_PALETTE) return Sample(c, x, y, 0) == 1;
    const int channels = c.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    for (int ch = 0; ch < channels; ++ch)
        if (Sample(c, x, y, ch) != Sample(c, 1, 0, ch)) return false;
    return true;
}

// The red, green, blue and alpha (in unused) of every pixel of an exported payload file.
std::vector<SDL_Color> ExportedPixels(const std::string& path) {
    const bool png = path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0;
    SDL_Surface* s = png ? g_pImage->LoadPNG(path.c_str()) : SDL_LoadBMP(path.c_str());
    std::vector<SDL_Color> out;
    if (!s) return out;
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            const Uint8* p = static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
            Uint32 v = 0;
            for (int i = 0; i < s->format->BytesPerPixel; ++i) v |= Uint32(p[i]) << (8 * i);
            SDL_Color c{};
            SDL_GetRGBA(v, s->format, &c.r, &c.g, &c.b, &c.unused);
            out.push_back(c);
        }
    SDL_UnlockSurface(s);
    SDL_FreeSurface(s);
    return out;
}

// Every element of the document (widgets included) with a "source", by name (a widget's state image by "widget/state").
std::map<std::string, const TiXmlElement*> Sources(const TiXmlElement* root) {
    std::map<std::string, const TiXmlElement*> out;
    for (const TiXmlElement* e : Children(root)) {
        if (std::string(e->Value()) == "panel") {
            for (const TiXmlElement* w : Children(e))
                for (const TiXmlElement* i : Children(w, "image"))
                    out[std::string(w->Attribute("name")) + "/" + i->Attribute("state")] = i;
        } else if (e->Attribute("source")) {
            out[e->Attribute("name")] = e;
        }
    }
    return out;
}

class RealInput : public ::testing::Test {
protected:
    SdkSession sdk;
    TempDir dir;
    std::string out;
};

// The per-pixel elements keep the tRNS's transparency as alpha (it was once
// dropped: every pixel came back opaque).
TEST_F(RealInput, KeyedPaletteGreyAndRgbTrnsPngsSurviveEveryImageElement) {
    const std::vector<PngCase> cases = {
        {"pal1", PNG_COLOR_TYPE_PALETTE, 1, false, true},  {"pal2", PNG_COLOR_TYPE_PALETTE, 2, false, true},
        {"pal4", PNG_COLOR_TYPE_PALETTE, 4, true, true},   {"pal8", PNG_COLOR_TYPE_PALETTE, 8, false, true},
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false},   {"grey2", PNG_COLOR_TYPE_GRAY, 2, true, false},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4, false, false},   {"grey8", PNG_COLOR_TYPE_GRAY, 8, true, false},
        {"grey16", PNG_COLOR_TYPE_GRAY, 16, false, false}, {"greyk", PNG_COLOR_TYPE_GRAY, 8, false, true},
        {"rgbk", PNG_COLOR_TYPE_RGB, 8, false, true},      {"rgb16k", PNG_COLOR_TYPE_RGB, 16, true, true},
    };
    // Per case: image, two tiles, sprite, widget and its three state images.
    std::string doc = "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"in.vlt\" totalblocks=\"" +
                      std::to_string(cases.size() * 8) + "\">\n";
    std::string panel =
        "<panel name=\"default\" xposition=\"0\" yposition=\"0\" width=\"800\" height=\"600\" "
        "alphamod=\"0\">\n";
    for (const PngCase& c : cases) {
        const std::string file = std::string(c.name) + ".png";
        ASSERT_TRUE(WritePng(dir / file, c)) << c.name;
        const std::string src = "source=\"" + file + "\" ";
        const std::string n = c.name;
        doc += "<image name=\"i" + n + "\" " + src + "alphablending=\"per-pixel\"/>\n";
        doc += "<tile name=\"t" + n + "\" " + src +
               "alphablending=\"per-pixel\" xposition=\"0\" yposition=\"0\" tileset=\"disabled\"/>\n";
        // A per-surface tile from the same file keeps the key its element gives.
        doc += "<tile name=\"k" + n + "\" " + src +
               "alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"1\" xposition=\"0\" yposition=\"0\" "
               "tileset=\"disabled\"/>\n";
        doc += "<sprite name=\"s" + n + "\" " + src + "alphablending=\"per-pixel\" xoffset=\"" + std::to_string(kW) +
               "\" yoffset=\"" + std::to_string(kH) +
               "\"><animation id=\"0\" type=\"2\" status=\"32768\" frames=\"1\" hotx=\"0\" hoty=\"0\" "
               "starframe=\"0\" endframe=\"1\"><frame id=\"0\" ms=\"100\"/></animation></sprite>\n";
        panel += "<widget name=\"w" + n +
                 "\" type=\"button\" id=\"1\" xposition=\"1\" yposition=\"2\" key=\"0\" selectboxRGB=\"0\" value=\"0\" "
                 "range=\"0\"><image state=\"normal\" " +
                 src +
                 "alphablending=\"per-pixel\"/><image "
                 "state=\"pressed\" " +
                 src + "alphablending=\"per-pixel\"/><image state=\"deactivated\" " + src +
                 "alphablending=\"per-pixel\"/></widget>\n";
    }
    doc += panel + "</panel>\n</ORB>\n";
    ASSERT_TRUE(WriteFile(dir / "in.xml", std::vector<uint8_t>(doc.begin(), doc.end())));

    ASSERT_EQ(RunBundlex({"in.xml", "in.vlt"}, out, dir.path()), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << Lines(out);
    ASSERT_EQ(RunBundlex({"in.vlt", "ex.xml"}, out, dir.path()), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << Lines(out);
    EXPECT_EQ(RunBundlex({"--verify", "in.vlt"}, out, dir.path()), 0) << out;

    TiXmlDocument ex;
    ASSERT_TRUE(ex.LoadFile((dir / "ex.xml").c_str()));
    const auto sources = Sources(ex.RootElement());
    for (const PngCase& c : cases) {
        const std::string n = c.name;
        for (const std::string& element :
             std::vector<std::string>{"i" + n, "t" + n, "k" + n, "s" + n, "w" + n + "/normal"}) {
            SCOPED_TRACE(element);
            const auto it = sources.find(element);
            ASSERT_NE(it, sources.end()) << "not exported";
            const std::vector<SDL_Color> px = ExportedPixels(dir / it->second->Attribute("source"));
            ASSERT_EQ(px.size(), size_t(kW * kH));
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    const SDL_Color want = Expected(c, x, y), got = px[size_t(y * kW + x)];
                    ASSERT_TRUE(want.r == got.r && want.g == got.g && want.b == got.b) << "pixel " << x << "," << y;
                    const int alpha = element[0] != 'k' && Transparent(c, x, y) ? 0 : 255;
                    ASSERT_EQ(got.unused, alpha) << "pixel " << x << "," << y;
                }
            // A key that came only from the PNG's tRNS is not a key of the
            // element (white pixels of an RGB image must not turn transparent);
            // the per-surface tile keeps the key its element gave.
            const char* key = it->second->Attribute("colorkey");
            if (element[0] == 'k') {
                ASSERT_NE(key, nullptr);
                // Paletted and grey tiles keep palette index 1.
                EXPECT_STREQ(key, c.colorType == PNG_COLOR_TYPE_RGB ? "65536" : "1");
            } else if (key) {
                EXPECT_STREQ(key, "-1");
            }
        }
    }
}

TEST_F(RealInput, SpriteFromBmpWithUnusedFourthByteKeepsItsFrameCountOverRoundTrips) {
    // Five 4x4 cells: four drawn ones, then one of a single colour whose
    // unused fourth bytes vary.
    SDL_Surface* sheet = SDL_CreateRGBSurface(0, 20, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    ASSERT_NE(sheet, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 20; ++x) {
            const Uint32 v = x >= 16 ? SDL_MapRGB(sheet->format, 30, 20, 10)
                                     : SDL_MapRGB(sheet->format, Uint8(x * 7), Uint8(y * 50), Uint8(x * 13 + y));
            std::memcpy(static_cast<Uint8*>(sheet->pixels) + y * sheet->pitch + x * 4, &v, 4);
        }
    ASSERT_TRUE(WriteFile(dir / "sheet.bmp", Bmp32WithNoise(sheet)));
    SDL_FreeSurface(sheet);
    const std::string doc =
        "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"a.vlt\">\n"
        "<sprite name=\"hero\" source=\"sheet.bmp\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"-1\" "
        "xoffset=\"4\" yoffset=\"4\"><animation id=\"0\" type=\"2\" status=\"32768\" frames=\"0\" hotx=\"0\" "
        "hoty=\"0\" starframe=\"0\" endframe=\"0\"/></sprite>\n</ORB>\n";
    ASSERT_TRUE(WriteFile(dir / "in.xml", std::vector<uint8_t>(doc.begin(), doc.end())));
    std::vector<std::string> frames;
    const std::vector<std::vector<std::string>> steps = {{"in.xml", "a.vlt"}, {"a.vlt", "a.xml"}, {"a.xml", "b.vlt"},
                                                         {"b.vlt", "b.xml"},  {"b.xml", "c.vlt"}, {"c.vlt", "c.xml"}};
    for (const auto& step : steps) {
        ASSERT_EQ(RunBundlex(step, out, dir.path()), 0) << out;
        if (step[1].find(".xml") == std::string::npos) continue;
        TiXmlDocument d;
        ASSERT_TRUE(d.LoadFile((dir / step[1]).c_str()));
        const TiXmlElement* anim = d.RootElement()->FirstChildElement("sprite")->FirstChildElement("animation");
        ASSERT_NE(anim, nullptr);
        frames.push_back(anim->Attribute("frames"));
    }
    EXPECT_EQ(frames, (std::vector<std::string>{"4", "4", "4"}));
}

}  // namespace

namespace {

// Earlier versions gave grey PNGs an 8-bit surface with the RGB masks and stored those masks in tile and sprite blocks.
TEST(RealInputBlocks, EightBitBlocksWithRgbMasksFromEarlierVersionsStillLoad) {
    SdkSession sdk;
    TempDir dir;
    const std::string pkg = dir / "old.vlt";
    {
        PackageBuilder b(pkg);
        for (const char* name : {"tile", "sprite"}) {
            SDL_Surface* s = SDL_CreateRGBSurface(0, 4, 4, 8, 0xFF, 0xFF00, 0xFF0000, 0);
            ASSERT_NE(s, nullptr);
            for (int i = 0; i < 16; ++i) static_cast<Uint8*>(s->pixels)[(i / 4) * s->pitch + i % 4] = Uint8(i * 9);
            if (name[0] == 't')
                b.Tile(name, s);
            else
                b.Sprite(name, s, 4, 4);
        }
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--verify", pkg}, out), 0) << out;
}

}  // namespace

namespace {

// A 2x2 16-bit 565 BMP (BI_BITFIELDS): white, red, the key colour, black.
std::vector<uint8_t> Bmp565() {
    std::vector<uint8_t> b = BmpHead(66 + 8, 66, 2, 2, 16);
    StoreLE32(&b[30], 3);  // BI_BITFIELDS
    StoreLE32(&b[54], 0xF800);
    StoreLE32(&b[58], 0x07E0);
    StoreLE32(&b[62], 0x001F);
    const uint16_t px[4] = {0xFFFF, 0xF800, 0x739C, 0x0000};
    for (int i = 0; i < 4; ++i) StoreLE16(&b[66 + 2 * i], px[i]);
    return b;
}

// An exported per-surface payload names its key as the colour the BMP holds.
TEST_F(RealInput, PerSurfaceKeysAndColoursSurviveFromRgbPngAnd16BitBmp) {
    const PngCase rgb{"rgb", PNG_COLOR_TYPE_RGB, 8, false, false};
    ASSERT_TRUE(WritePng(dir / "rgb.png", rgb));
    ASSERT_TRUE(WriteFile(dir / "w.bmp", Bmp565()));
    // Keys as raw pixel values of the surfaces the files load as.
    const SDL_Color k = Expected(rgb, 1, 0);
    const uint32_t rgbKey = uint32_t(k.r) | uint32_t(k.g) << 8 | uint32_t(k.b) << 16;
    const std::string doc =
        "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"a.vlt\" totalblocks=\"2\">\n"
        "<tile name=\"rgb\" source=\"rgb.png\" alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"" +
        std::to_string(rgbKey) +
        "\" xposition=\"0\" yposition=\"0\" tileset=\"disabled\"/>\n"
        "<tile name=\"w\" source=\"w.bmp\" alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"" +
        std::to_string(0x739C) + "\" xposition=\"0\" yposition=\"0\" tileset=\"disabled\"/>\n</ORB>\n";
    ASSERT_TRUE(WriteFile(dir / "in.xml", std::vector<uint8_t>(doc.begin(), doc.end())));
    ASSERT_EQ(RunBundlex({"in.xml", "a.vlt"}, out, dir.path()), 0) << out;
    std::vector<std::string> keys;
    for (const auto& step :
         std::vector<std::vector<std::string>>{{"a.vlt", "a.xml"}, {"a.xml", "b.vlt"}, {"b.vlt", "b.xml"}}) {
        ASSERT_EQ(RunBundlex(step, out, dir.path()), 0) << out;
        EXPECT_FALSE(Contains(out, "WARNING")) << Lines(out);
        if (step[1] != "b.vlt") {
            TiXmlDocument d;
            ASSERT_TRUE(d.LoadFile((dir / step[1]).c_str()));
            for (const TiXmlElement* t : Children(d.RootElement(), "tile")) keys.push_back(t->Attribute("colorkey"));
        }
    }
    Uint8 r, g, b;
    SDL_PixelFormat f565{};
    f565.BitsPerPixel = 16;
    f565.BytesPerPixel = 2;
    f565.Rmask = 0xF800, f565.Gmask = 0x07E0, f565.Bmask = 0x001F;
    f565.Rshift = 11, f565.Gshift = 5, f565.Bshift = 0;
    f565.Rloss = 3, f565.Gloss = 2, f565.Bloss = 3, f565.Aloss = 8;
    SDL_GetRGB(0x739C, &f565, &r, &g, &b);
    const std::string rgbText = std::to_string(int(k.r) << 16 | int(k.g) << 8 | int(k.b));
    const std::string wText = std::to_string(int(r) << 16 | int(g) << 8 | int(b));
    EXPECT_EQ(keys, (std::vector<std::string>{rgbText, wText, rgbText, wText}));
    // White stays white in the written BMP; --check finds both copies equal.
    const std::vector<SDL_Color> px = ExportedPixels(dir / "a/tile_w.bmp");
    ASSERT_EQ(px.size(), 4u);
    EXPECT_TRUE(px[2].r == 255 && px[2].g == 255 && px[2].b == 255);  // bottom-up file: row 0 is the last
    EXPECT_EQ(RunBundlex({"--check", "a.vlt"}, out, dir.path()), 0) << out;
}

}  // namespace

namespace {

TEST_F(RealInput, FontSheetFromBmpWithUnusedFourthByteImports) {
    SurfacePtr strip = MakeFontBitmap(FontLayout{});
    ASSERT_TRUE(WriteFile(dir / "font.bmp", Bmp32WithNoise(strip.get())));
    const std::string doc =
        "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"f.vlt\" totalblocks=\"1\">\n"
        "<font name=\"small\" source=\"font.bmp\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"0\" "
        "kerning=\"1\"/>\n</ORB>\n";
    ASSERT_TRUE(WriteFile(dir / "in.xml", std::vector<uint8_t>(doc.begin(), doc.end())));
    ASSERT_EQ(RunBundlex({"in.xml", "f.vlt"}, out, dir.path()), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << Lines(out);
    EXPECT_EQ(RunBundlex({"--check", "f.vlt"}, out, dir.path()), 0) << out;
}

}  // namespace
