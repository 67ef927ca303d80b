// CFont::Create and the glyph layout: marker rows, ink changes, the tables
// built from them, and pixel access that never leaves the surface.

#include <cstdlib>
#include <string>

#include "Support.h"
#include "core/Trovalis.h"
#include "resources/Font.h"

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
}  // namespace

TEST(FontCreate, BlackBitmapWithOneColumnGapsGivesAFontAndLosesItsMarkers) {
    SdkSession sdk;
    LogCapture cap;
    FontLayout l;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(cap.Take().find("Warning"), std::string::npos);
    SDL_Surface* s = font.GetSurface();
    ASSERT_NE(s, nullptr);
    EXPECT_NE(s, bmp.get());
    EXPECT_FALSE(RowHasMagenta(s, 0));
    EXPECT_EQ(CFont::CFontGetPixel(s, 0, 0), font.GetColorKey());
    EXPECT_EQ(font.GetColorKey(), 0u);
    EXPECT_EQ(font.GetFontHeight(), l.height - 1);
    // The caller's surface is not touched.
    EXPECT_FALSE(RowHasMagenta(bmp.get(), 0));
    // Gaps are single columns: each boundary is the gap column itself.
    EXPECT_EQ(font.GetBoundary(0), 0u);
    EXPECT_EQ(font.GetBoundary(1), 6u);
    EXPECT_EQ(font.GetBoundary(94), uint32_t(LayoutWidth(l) - 1));
    EXPECT_EQ(font.GetBoundary(95), uint32_t(LayoutWidth(l)));
    for (int i = 0; i < 94; ++i) ASSERT_EQ(font.GetAdvance(i), 6u) << i;
}

TEST(FontCreate, FirstGlyphAtColumnZeroGives187ChangesWarnsAndReturns93) {
    SdkSession sdk;
    LogCapture cap;
    FontLayout l;
    l.leftGap = false;
    {
        auto bmp = MakeFontBitmap(l);
        EXPECT_EQ(CFont::CreateUpperMark(bmp.get()), 187);
        EXPECT_NE(cap.Take().find(kMarkWarning), std::string::npos);
    }
    auto bmp = MakeFontBitmap(l);
    CFont font;
    EXPECT_EQ(font.Create(bmp.get()), 93);
    EXPECT_NE(cap.Take().find(kMarkWarning), std::string::npos);
    EXPECT_EQ(font.GetSurface(), nullptr);
    EXPECT_EQ(font.GetAlpha(), -1);
}

TEST(FontCreate, BitmapThatStartsWithAMarkerIsJudgedByItsRunsAlone) {
    // Grey background and a glyph with an empty column: the ink rule would
    // refuse this bitmap, the markers accept it.
    SdkSession sdk;
    LogCapture cap;
    FontLayout l;
    l.bg[0] = l.bg[1] = l.bg[2] = 60;
    l.markers = true;
    l.splitGlyph = 1;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    EXPECT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(cap.Take().find(kMarkWarning), std::string::npos);
    EXPECT_EQ(font.GetColorKey(), SDL_MapRGB(font.GetSurface()->format, 60, 60, 60));
    EXPECT_FALSE(RowHasMagenta(font.GetSurface(), 0));
}

TEST(FontCreate, DoubleQuoteDrawnAsTwoStrokesMakesTheBitmapFail) {
    SdkSession sdk;
    LogCapture cap;
    FontLayout l;
    l.splitGlyph = 1;  // code 34
    auto bmp = MakeFontBitmap(l);
    CFont font;
    EXPECT_EQ(font.Create(bmp.get()), 95);  // 191 changes, halved
    EXPECT_NE(cap.Take().find(kMarkWarning), std::string::npos);
    EXPECT_EQ(font.GetSurface(), nullptr);
}

TEST(FontCreate, MarkerRowWithMoreThan96RunsFailsWithoutOverrunningTheTables) {
    SdkSession sdk;
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

TEST(FontCreate, Code127HasADefinedAdvanceTheWidthOfTheAreaItDraws) {
    SdkSession sdk;
    FontLayout l;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.GetAdvance(94), font.GetBoundary(95) - font.GetBoundary(94));
    EXPECT_EQ(font.TextWidth("\x7f"), int(font.GetAdvance(94)));
}

TEST(FontCreate, RefusalsLeaveTheFontEmptyAndSayWhy) {
    SdkSession sdk;
    LogCapture cap;
    CFont font;
    EXPECT_EQ(font.Create(nullptr), -1);
    EXPECT_NE(cap.Take().find(" . [CFont::Create()] Error: font surface is null\n"), std::string::npos);

    SurfacePtr eight(SDL_CreateRGBSurface(0, 600, 4, 8, 0, 0, 0, 0));
    EXPECT_EQ(font.Create(eight.get()), -1);
    EXPECT_NE(
        cap.Take().find(" . [CFont::Create()] Warning: 8bits surface loaded is not supported to create a font.\n"),
        std::string::npos);

    auto bmp = MakeFontBitmap(FontLayout{});
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.Create(bmp.get()), -1);
    EXPECT_NE(cap.Take().find(" . [CFont::Create()] Warning: font already exists. It is not possible to create another "
                              "one.\n"),
              std::string::npos);
}

TEST(FontCreate, AlphaChannelBitmapGivesAPerPixelFontWithoutColourKey) {
    SdkSession sdk;
    FontLayout l;
    l.alphaChannel = true;
    auto bmp = MakeFontBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.GetAlpha(), 256);
    EXPECT_FALSE(font.GetSurface()->flags & SDL_SRCCOLORKEY);
    font.SetAlpha(100);  // ignored for per-pixel fonts
    EXPECT_EQ(font.GetAlpha(), 256);
}

TEST(FontCreate, LiveFontCountFollowsConstructionAndDestruction) {
    const int before = Trovalis.liveFonts;
    {
        CFont a, b;
        EXPECT_EQ(Trovalis.liveFonts, before + 2);
    }
    EXPECT_EQ(Trovalis.liveFonts, before);
}

TEST(FontPixel, GetAndSetWorkForOneToFourBytesPerPixel) {
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
    EXPECT_NE(logged.find(" . [CFont::CFontGetPixel(0x"), std::string::npos);
    EXPECT_NE(logged.find(",4,0)] Error: wrong function parameters.\n"), std::string::npos);
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
    EXPECT_NE(cap.Take().find("Error: loading font"), std::string::npos);
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
