// Text measurement and drawing: advances, kerning, skipped codes, clipping
// and the cursor glyph.

#include <string>

#include "Support.h"
#include "resources/Font.h"

using namespace testsupport;

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

// Kerning follows neither a space nor the last character; control and high
// codes add nothing, and only the first 255 characters count.
TEST_F(FontText, WidthCountsAdvancesAndKerningOfPrintableCodesAmongTheFirst255) {
    EXPECT_EQ(font_.GetAdvance('a' - 33), 6u);
    EXPECT_EQ(font_.GetSpaceAdvance(), 6);
    EXPECT_EQ(font_.TextWidth("a a"), 18);
    EXPECT_EQ(font_.TextWidth(std::string(300, 'a').c_str()), 255 * 6);
    EXPECT_EQ(font_.TextWidth("\t\x80\xff"), 0);
    EXPECT_EQ(font_.TextWidth(""), 0);
    EXPECT_EQ(font_.TextWidth(nullptr), 0);
    font_.SetKerning(3);
    EXPECT_EQ(font_.GetKerning(), 3);
    EXPECT_EQ(font_.TextWidth("a a"), 21);
    EXPECT_EQ(font_.TextWidth("aa"), 15);
}

TEST_F(FontText, TabIsSkippedAndExclamationMarkIsDrawnFromTheFirstBoundary) {
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

TEST_F(FontText, CursorIsDrawnAfterTheCharactersBeforeItsPosition) {
    // The "|" glyph's area starts with one keyed gap column: offset 2, so the
    // cursor lands where a glyph at the pen position would.
    EXPECT_EQ(font_.GetCursorOffset(), 2);
    font_.PutStringCursor(dst_.get(), 10, 2, "a", 1, nullptr, true);
    EXPECT_EQ(Pixel(dst_.get(), 11, 2), Glyph('a'));
    EXPECT_EQ(Pixel(dst_.get(), 17, 2), Glyph('|'));
    SDL_FillRect(dst_.get(), nullptr, kSentinel);
    font_.PutStringCursor(dst_.get(), 10, 2, "a", 1, nullptr, false);
    EXPECT_EQ(Pixel(dst_.get(), 17, 2), kSentinel);
    // A position beyond the text stops at its end.
    font_.PutStringCursor(dst_.get(), 10, 2, "a", 99, nullptr, true);
    EXPECT_EQ(Pixel(dst_.get(), 17, 2), Glyph('|'));
}

TEST_F(FontText, SettersKeepNamesOf31AndAlphaInRangeAndDoNothingOnAnEmptyFont) {
    EXPECT_STREQ(font_.GetName(), "Created on execution time");
    const std::string n31(31, 'n'), n32(32, 'm');
    font_.SetName(n31.c_str());
    font_.SetName(n32.c_str());
    EXPECT_EQ(font_.GetName(), n31);
    font_.SetAlpha(128);
    EXPECT_EQ(font_.GetAlpha(), 128);
    EXPECT_TRUE(font_.GetSurface()->flags & SDL_SRCALPHA);
    EXPECT_EQ(font_.GetSurface()->format->alpha, 128);
    font_.SetAlpha(300);
    font_.SetAlpha(-1);
    EXPECT_EQ(font_.GetAlpha(), 128);
    font_.SetAlpha(255);
    EXPECT_FALSE(font_.GetSurface()->flags & SDL_SRCALPHA);

    CFont empty;
    EXPECT_EQ(empty.TextWidth("abc"), 0);
    empty.SetKerning(5);
    empty.SetName("x");
    empty.SetAlpha(10);
    EXPECT_EQ(empty.GetKerning(), 0);
    EXPECT_EQ(empty.GetName(), nullptr);
    EXPECT_EQ(empty.GetAlpha(), -1);
    EXPECT_EQ(empty.GetFontHeight(), 0);
    empty.PutString(dst_.get(), 0, 0, "!", nullptr);
    empty.PutStringCursor(dst_.get(), 0, 0, "!", 0, nullptr, true);
    EXPECT_EQ(Pixel(dst_.get(), 1, 0), kSentinel);
}
