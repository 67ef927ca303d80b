// Fonts: CFont::Create and the glyph layout (marker rows, ink changes, the
// tables built from them, pixel access that never leaves the surface), text
// measurement and drawing, and "FONT2" blocks (round trips, the in-package
// upgrade of "FONT" blocks, fonts whose bitmap alone would not give their
// glyphs back, damaged payloads).

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IImage.h"

using namespace testsupport;

namespace {
const char* kMarkWarning =
    " . [CFont::CreateUpperMark()] Warning: it was not possible to import bitmap with font characters.\n";

bool RowHasMagenta(SDL_Surface* s, int y) {
    const Uint32 magenta = SDL_MapRGB(s->format, 255, 0, 255);
    for (int x = 0; x < s->w; ++x)
        if (CFont::CFontGetPixel(s, x, y) == magenta) return true;
    return false;
}

// The SDK started and the log captured.
class FontCreate : public ::testing::Test {
protected:
    SdkSession sdk;
    LogCapture cap;
};

// Markers on a grey background, with a glyph that has an empty column: the
// ink rule would refuse it, the markers accept it.
SurfacePtr GreyMarkedBitmap() {
    FontLayout l;
    l.bg[0] = l.bg[1] = l.bg[2] = 60;
    l.markers = true;
    l.splitGlyph = 1;
    return MakeFontBitmap(l);
}
}  // namespace

TEST_F(FontCreate, BitmapThatStartsWithAMarkerIsJudgedByItsRunsAlone) {
    // Grey background and a glyph with an empty column.
    auto bmp = GreyMarkedBitmap();
    CFont font;
    EXPECT_EQ(font.Create(bmp.get()), 96);
    EXPECT_FALSE(Contains(cap.Take(), kMarkWarning));
    EXPECT_EQ(font.GetColorKey(), SDL_MapRGB(font.GetSurface()->format, 60, 60, 60));
    EXPECT_FALSE(RowHasMagenta(font.GetSurface(), 0));
}

TEST_F(FontCreate, MarkerRowWithMoreThan96RunsFailsWithoutOverrunningTheTables) {
    for (int runs : {96, 97, 400}) {
        SCOPED_TRACE(runs);
        // Alternating marker and glyph columns: `runs` marker runs.
        SurfacePtr s(SDL_CreateRGBSurface(0, runs * 2, 4, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
        const Uint32 magenta = SDL_MapRGB(s->format, 255, 0, 255);
        for (int i = 0; i < runs; ++i) Fill(s.get(), 2 * i, 0, 1, 1, magenta);
        Fill(s.get(), 1, 1, 1, 3, SDL_MapRGB(s->format, 1, 2, 3));
        CFont font;
        const int result = font.Create(s.get());
        EXPECT_NE(result, 96);  // 96 runs must not read as success
        EXPECT_EQ(font.GetSurface(), nullptr);
    }
}

TEST_F(FontCreate, RefusedBitmapLeavesAHalfFont) {
    CFont font;
    EXPECT_EQ(font.Create(nullptr), -1);
    EXPECT_TRUE(Contains(cap.Take(), " . [CFont::Create()] Error: font surface is null\n"));

    SurfacePtr eight(SDL_CreateRGBSurface(0, 600, 4, 8, 0, 0, 0, 0));
    EXPECT_EQ(font.Create(eight.get()), -1);
    EXPECT_TRUE(Contains(cap.Take(), "Warning: 8bits surface loaded is not supported to create a font.\n"));

    auto bmp = MakeFontBitmap(FontLayout{});
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.Create(bmp.get()), -1);
    EXPECT_TRUE(Contains(cap.Take(), "Warning: font already exists."));
}

TEST(FontPixel, PixelDepthMisaddressed) {
    for (int bpp : {8, 16, 24, 32}) {
        SCOPED_TRACE(bpp);
        SurfacePtr s(SDL_CreateRGBSurface(0, 7, 3, bpp, 0, 0, 0, 0));
        ASSERT_NE(s, nullptr);
        const Uint32 v = bpp == 8 ? 200 : SDL_MapRGB(s->format, 12, 34, 56);
        CFont::CFontSetPixel(s.get(), 6, 2, v);
        EXPECT_EQ(CFont::CFontGetPixel(s.get(), 6, 2), v);
        EXPECT_EQ(CFont::CFontGetPixel(s.get(), 5, 2), 0u);
    }
}

TEST(FontPixel, CoordinatesOutsideTheSurfaceAreNeverReadOrWritten) {
    LogCapture cap;
    SurfacePtr s(SDL_CreateRGBSurface(0, 4, 2, 32, 0, 0, 0, 0));
    EXPECT_EQ(CFont::CFontGetPixel(s.get(), 4, 0), 0u);
    const std::string logged = cap.Take();
    EXPECT_TRUE(ContainsAll(logged, {" . [CFont::CFontGetPixel(0x", ",4,0)] Error: wrong function parameters.\n"}));
    // Rows outside the surface: under the sanitizer any access would be caught.
    for (int y : {-1, 2, 1000, -100000}) {
        EXPECT_EQ(CFont::CFontGetPixel(s.get(), 0, y), 0u) << y;
        CFont::CFontSetPixel(s.get(), 0, y, 0xFFFFFFFF);
        CFont::CFontSetPixel(s.get(), -1, 0, 0xFFFFFFFF);
        CFont::CFontSetPixel(s.get(), 4, 1, 0xFFFFFFFF);
    }
    EXPECT_EQ(CFont::CFontGetPixel(nullptr, 0, 0), 0u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(CFont::CFontGetPixel(s.get(), x, y), 0u);
}

TEST(FontPixel, ThreeBytePixelsWithColourBytesOutsideThePixelAreRefused) {
    // A 24-bit format whose red mask lies in a fourth byte (possible in a
    // damaged block) would address the byte after the pixel.
    LogCapture cap;
    SurfacePtr s(SDL_CreateRGBSurface(0, 1, 1, 24, 0xFF000000, 0x0000FF00, 0x000000FF, 0));
    if (!s || s->format->Rshift / 8 < 3) GTEST_SKIP() << "SDL refuses or narrows such a format";
    EXPECT_EQ(CFont::CFontGetPixel(s.get(), 0, 0), 0u);
    EXPECT_TRUE(Contains(cap.Take(), "Error: loading font"));
    CFont::CFontSetPixel(s.get(), 0, 0, 0xFFFFFF);
}

TEST(FontCreateDeathTest, RefusesToWorkBeforeTheSdkWasEverStarted) {
    // Runs in a fresh process, where Init has never been called.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LogCapture cap;
            auto bmp = MakeFontBitmap(FontLayout{});
            CFont font;
            const int created = font.Create(bmp.get());
            const bool loaded = font.Load(1, "name");
            const std::string logged = cap.Take();
            const bool ok =
                created == -1 && !loaded &&
                logged.find(
                    " . [CFont::Create()] Error: Trovalis was not initialized. Aborting the font creation.\n") !=
                    std::string::npos &&
                logged.find(
                    " . [CFont::Load('','name')] Error: Trovalis was not initialized. Aborting the font "
                    "load.\n") != std::string::npos;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {

constexpr Uint32 kSentinel = 0x00123456;

class FontText : public ::testing::Test {
protected:
    void SetUp() override {
        bmp_ = MakeFontBitmap(layout_);
        ASSERT_EQ(font_.Create(bmp_.get()), 96);
        dst_.reset(SDL_CreateRGBSurface(0, 64, 16, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
        SDL_FillRect(dst_.get(), nullptr, kSentinel);
    }
    Uint32 Glyph(char c) const { return GlyphColour(dst_->format, c - 33); }

    SdkSession sdk_;
    FontLayout layout_;
    SurfacePtr bmp_;
    SurfacePtr dst_;
    CFont font_;
};

}  // namespace

TEST_F(FontText, FirstGlyphDrawnFromTheWrongColumn) {
    font_.PutString(dst_.get(), 10, 5, "\t!", nullptr);
    // Source x starts at boundary[0] (the gap column, keyed out), ink follows.
    EXPECT_EQ(Pixel(dst_.get(), 10, 5), kSentinel);
    for (int x = 11; x <= 15; ++x) EXPECT_EQ(Pixel(dst_.get(), x, 5), Glyph('!')) << x;
    EXPECT_EQ(Pixel(dst_.get(), 11, 5 + layout_.height - 2), Glyph('!'));
    EXPECT_EQ(Pixel(dst_.get(), 11, 5 + layout_.height - 1), kSentinel);  // glyph rows only
    EXPECT_EQ(Pixel(dst_.get(), 16, 5), kSentinel);
}

TEST_F(FontText, ClipRectangleCutsGlyphsOnEverySide) {
    SDL_Rect clip{12, 6, 2, 3};
    font_.PutString(dst_.get(), 10, 5, "!", &clip);
    for (int y = 0; y < dst_->h; ++y)
        for (int x = 0; x < dst_->w; ++x) {
            const bool inside = x >= 12 && x < 14 && y >= 6 && y < 9;
            ASSERT_EQ(Pixel(dst_.get(), x, y), inside ? Glyph('!') : kSentinel) << x << "," << y;
        }
}

TEST_F(FontText, SecondGlyphStartsOneAdvancePlusKerningLater) {
    font_.SetKerning(2);
    font_.PutString(dst_.get(), 0, 0, "!\"", nullptr);
    EXPECT_EQ(Pixel(dst_.get(), 1, 0), Glyph('!'));
    EXPECT_EQ(Pixel(dst_.get(), 6 + 2, 0), kSentinel);
    EXPECT_EQ(Pixel(dst_.get(), 6 + 2 + 1, 0), Glyph('"'));
}

TEST_F(FontText, GlyphsFarOutsideTheDestinationAreSkipped) {
    font_.SetKerning(2000000000);
    font_.PutString(dst_.get(), 30000, 0, "!!!!", nullptr);
    font_.SetKerning(0);
    font_.PutString(dst_.get(), -2000000000, 0, "!!!!", nullptr);
    font_.SetKerning(2000000000);
    for (int y = 0; y < dst_->h; ++y)
        for (int x = 0; x < dst_->w; ++x) ASSERT_EQ(Pixel(dst_.get(), x, y), kSentinel);
    EXPECT_GT(font_.TextWidth(std::string(300, '!').c_str()), 0);  // saturates, never wraps
}

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

TEST_F(FontBlock, RoundTripLosesAField) {
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
    EXPECT_EQ(std::make_tuple(back.GetKerning(), back.GetAlpha(), std::string(back.GetName())),
              std::make_tuple(-2, 128, std::string("body")));
    ExpectSameTables(font, back);
}

TEST_F(FontBlock, DamagedVersion1BlockIsUpgraded) {
    ASSERT_GT(Store("FONT", "broken", std::vector<uint8_t>(60, 0xAB)), 0);
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(id, "broken"));
    EXPECT_TRUE(Contains(cap.Take(), "','broken')] Error: the font block is damaged: "));
    EXPECT_EQ(Payload("FONT", "broken").size(), 60u);
    EXPECT_TRUE(Payload("FONT2", "broken").empty());
}

TEST_F(FontBlock, FontWhoseGlyphsCannotBeFoundAgainIsNotStored) {
    // 95 glyphs, the first at column 0 and reaching the bottom-left corner.
    const int width = 95 * 6;
    SurfacePtr s(SDL_CreateRGBSurface(0, width, 6, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    for (int g = 0; g < 95; ++g) Fill(s.get(), g * 6, 1, 5, 5, SDL_MapRGB(s->format, 9, 9, 9));
    CFont font;
    ASSERT_EQ(font.Create(s.get()), 96);
    LogCapture cap;
    EXPECT_EQ(font.Save(id, "lost"), 0);
    EXPECT_TRUE(
        Contains(cap.Take(), " . [CFont::Save('" + dir / "test.vlt" +
                                 "','lost')] Error: the glyphs of this font could not be found again in its stored "
                                 "bitmap; the font was not stored.\n"));
    EXPECT_TRUE(Payload("FONT2", "lost").empty());
}

TEST_F(FontBlock, UnloadableBlockGoesUnexplained) {
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(0, "x"));
    EXPECT_FALSE(font.Load(id, nullptr));
    EXPECT_FALSE(Contains(cap.Take(), "CFont"));
    EXPECT_FALSE(font.Load(id, "missing"));
    EXPECT_TRUE(Contains(cap.Take(), "','missing')] Error: font not found\n"));

    auto bmp = MakeFontBitmap(FontLayout{});
    ASSERT_EQ(font.Create(bmp.get()), 96);
    ASSERT_GT(font.Save(id, "f"), 0);
    EXPECT_FALSE(font.Load(id, "f"));
    EXPECT_TRUE(
        Contains(cap.Take(), "','f')] Warning: font already exists. It is not possible to create another one.\n"));
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
    EXPECT_TRUE(Contains(cap.Take(), "','black')] Error: internal failure (0).\n"));
    EXPECT_EQ(font.GetSurface(), nullptr);
}
