// "FONT2" blocks: Save and Load round trips, the in-package upgrade of
// "FONT" blocks, fonts whose bitmap alone would not give their glyphs back,
// and damaged payloads.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"

using namespace testsupport;

namespace {

class FontBlock : public PackageTest {
protected:
    std::vector<uint8_t> Payload(const char* type, const char* name) { return Get(type, name); }
    int Store(const char* type, const char* name, std::vector<uint8_t> bytes) {
        return Put(type, name, std::move(bytes), compressed);
    }
    static void ExpectSameTables(const CFont& a, const CFont& b) {
        for (int i = 0; i < CFont::kTableEntries; ++i) {
            ASSERT_EQ(a.GetBoundary(i), b.GetBoundary(i)) << i;
            ASSERT_EQ(a.GetAdvance(i), b.GetAdvance(i)) << i;
        }
        EXPECT_EQ(a.GetSpaceAdvance(), b.GetSpaceAdvance());
        EXPECT_EQ(a.GetCursorOffset(), b.GetCursorOffset());
        EXPECT_EQ(a.GetColorKey(), b.GetColorKey());
    }
    // Whether row 0 of a stored 32-bit bitmap holds a magenta pixel.
    static bool StoredRow0HasMagenta(const std::vector<uint8_t>& p, Uint32 magenta) {
        const uint32_t width = LoadLE32(p.data());
        for (uint32_t x = 0; x < width; ++x)
            if (LoadLE32(p.data() + CFont::kHeaderSize + 4 * x) == magenta) return true;
        return false;
    }
};

const Uint32 kMagenta32 = 0x00FF00FF;  // in the bitmaps' format (R 0xFF0000, B 0xFF)

}  // namespace

TEST_F(FontBlock, SaveThenLoadKeepsKerningAlphaAndTablesAndTakesTheBlockName) {
    auto bmp = MakeFontBitmap(FontLayout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    font.SetKerning(-2);
    font.SetAlpha(128);
    font.SetName("ignored");
    ASSERT_GT(font.Save(id, "body"), 0);

    const std::vector<uint8_t> p = Payload("FONT2", "body");
    const SDL_Surface* s = font.GetSurface();
    ASSERT_EQ(p.size(), size_t(s->pitch) * s->h + 180);
    EXPECT_EQ(static_cast<int32_t>(LoadLE32(p.data() + p.size() - 132)), -2);
    for (size_t i = p.size() - 128; i < p.size(); ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_FALSE(StoredRow0HasMagenta(p, kMagenta32));  // markers are not stored

    CFont back;
    ASSERT_TRUE(back.Load(id, "body"));
    EXPECT_EQ(back.GetKerning(), -2);
    EXPECT_EQ(back.GetAlpha(), 128);
    EXPECT_STREQ(back.GetName(), "body");
    ExpectSameTables(font, back);
}

TEST_F(FontBlock, PerPixelFontComesBackPerPixel) {
    FontLayout l;
    l.alphaChannel = true;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    ASSERT_GT(font.Save(id, "shadow"), 0);
    CFont back;
    ASSERT_TRUE(back.Load(id, "shadow"));
    EXPECT_EQ(back.GetAlpha(), 256);
    ExpectSameTables(font, back);
}

TEST_F(FontBlock, Version1BlockIsUpgradedInPlaceWithKerningZero) {
    auto bmp = MakeFontBitmap(FontLayout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    font.SetKerning(7);
    ASSERT_GT(font.Save(id, "model"), 0);
    std::vector<uint8_t> v1 = Payload("FONT2", "model");
    v1.resize(v1.size() - 132);
    ASSERT_GT(Store("FONT", "old", v1), 0);

    LogCapture cap;
    CFont up;
    ASSERT_TRUE(up.Load(id, "old"));
    EXPECT_NE(cap.Take().find(" . [CFont::Load('" + dir / "test.vlt" +
                              "','old')] Info: font successfully updated from v1.0 to v2.0.\n"),
              std::string::npos);
    EXPECT_EQ(up.GetKerning(), 0);
    ExpectSameTables(font, up);
    const std::vector<uint8_t> v2 = Payload("FONT2", "old");
    ASSERT_EQ(v2.size(), v1.size() + 132);
    EXPECT_TRUE(std::equal(v1.begin(), v1.end(), v2.begin()));
    for (size_t i = v1.size(); i < v2.size(); ++i) ASSERT_EQ(v2[i], 0) << i;
    EXPECT_TRUE(Payload("FONT", "old").empty());

    CFont again;
    ASSERT_TRUE(again.Load(id, "old"));
    EXPECT_EQ(cap.Take().find("updated"), std::string::npos);
}

TEST_F(FontBlock, DamagedVersion1BlockIsLeftAsItIsAndNotUpgraded) {
    ASSERT_GT(Store("FONT", "broken", std::vector<uint8_t>(60, 0xAB)), 0);
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(id, "broken"));
    EXPECT_NE(cap.Take().find("','broken')] Error: the font block is damaged: "), std::string::npos);
    EXPECT_EQ(Payload("FONT", "broken").size(), 60u);
    EXPECT_TRUE(Payload("FONT2", "broken").empty());
}

TEST_F(FontBlock, MarkedFontOnAGreyBackgroundKeepsItsMarkerRowAndLoadsBack) {
    // Created from its markers; without them the grey background is ink in
    // every column and the split glyph would break in two on loading.
    FontLayout l;
    l.bg[0] = l.bg[1] = l.bg[2] = 60;
    l.markers = true;
    l.splitGlyph = 1;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    LogCapture cap;
    ASSERT_GT(font.Save(id, "grey"), 0);
    EXPECT_NE(cap.Take().find("Info: the marker row is kept in the stored bitmap.\n"), std::string::npos);
    const std::vector<uint8_t> p = Payload("FONT2", "grey");
    ASSERT_FALSE(p.empty());
    EXPECT_TRUE(StoredRow0HasMagenta(p, kMagenta32));

    CFont back;
    ASSERT_TRUE(back.Load(id, "grey"));
    ExpectSameTables(font, back);
    // The loaded surface is the font's own, markers removed again.
    SDL_Surface* a = font.GetSurface();
    SDL_Surface* b = back.GetSurface();
    ASSERT_EQ(a->h, b->h);
    ASSERT_EQ(a->pitch, b->pitch);
    EXPECT_EQ(std::memcmp(a->pixels, b->pixels, size_t(a->pitch) * a->h), 0);
}

TEST_F(FontBlock, FontWhoseGlyphsCannotBeFoundAgainIsNotStored) {
    // 95 glyphs, the first at column 0 and reaching the bottom-left corner:
    // the colour key is ink, the removed markers become ink, and neither the
    // bitmap nor its restored marker row (not starting at (0, 0)) can be read.
    const int width = 95 * 6;
    SurfacePtr s(SDL_CreateRGBSurface(0, width, 6, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    for (int g = 0; g < 95; ++g) Fill(s.get(), g * 6, 1, 5, 5, SDL_MapRGB(s->format, 9, 9, 9));
    CFont font;
    ASSERT_EQ(font.Create(s.get()), 96);
    LogCapture cap;
    EXPECT_EQ(font.Save(id, "lost"), 0);
    EXPECT_NE(cap.Take().find(" . [CFont::Save('" + dir / "test.vlt" +
                              "','lost')] Error: the glyphs of this font could not be found again in its stored "
                              "bitmap; the font was not stored.\n"),
              std::string::npos);
    EXPECT_TRUE(Payload("FONT2", "lost").empty());
}

TEST_F(FontBlock, LoadRefusalsAndTheirMessages) {
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(0, "x"));
    EXPECT_FALSE(font.Load(id, nullptr));
    EXPECT_EQ(cap.Take().find("CFont"), std::string::npos);
    EXPECT_FALSE(font.Load(id, "missing"));
    EXPECT_NE(cap.Take().find("','missing')] Error: font not found\n"), std::string::npos);

    auto bmp = MakeFontBitmap(FontLayout{});
    ASSERT_EQ(font.Create(bmp.get()), 96);
    ASSERT_GT(font.Save(id, "f"), 0);
    EXPECT_FALSE(font.Load(id, "f"));
    EXPECT_NE(cap.Take().find("','f')] Warning: font already exists. It is not possible to create another one.\n"),
              std::string::npos);
}

TEST_F(FontBlock, StoredBitmapThatCreateRejectsIsAnInternalFailure) {
    // A well-formed block of an all-black bitmap: one ink change, code 0.
    CFont font;
    std::vector<uint8_t> p(CFont::kHeaderSize);
    StoreLE32(p.data(), 200);
    StoreLE32(p.data() + 4, 3);
    p[12] = 32;
    p[13] = 4;
    StoreLE32(p.data() + 24, 0x00FF0000);
    StoreLE32(p.data() + 28, 0x0000FF00);
    StoreLE32(p.data() + 32, 0x000000FF);
    p[44] = 255;
    p.resize(p.size() + 200 * 4 * 3 + 132, 0);
    ASSERT_GT(Store("FONT2", "black", p), 0);
    LogCapture cap;
    EXPECT_FALSE(font.Load(id, "black"));
    EXPECT_NE(cap.Take().find("','black')] Error: internal failure (0).\n"), std::string::npos);
    EXPECT_EQ(font.GetSurface(), nullptr);
}

TEST_F(FontBlock, SaveRefusesEmptyFontsBadIdsAndOverlongNames) {
    CFont empty;
    EXPECT_EQ(empty.Save(id, "e"), 0);
    auto bmp = MakeFontBitmap(FontLayout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.Save(0, "e"), 0);
    EXPECT_EQ(font.Save(id, nullptr), 0);
    LogCapture cap;
    EXPECT_EQ(font.Save(id, std::string(32, 'n').c_str()), 0);
    EXPECT_NE(cap.Take().find("Error: name or type are too long."), std::string::npos);
    ASSERT_GT(font.Save(id, std::string(31, 'n').c_str()), 0);
    EXPECT_EQ(font.Save(id, std::string(31, 'n').c_str()), -1);  // exists
}
