// CSprite: frame detection, the checks of Create, the animation table's
// setters, block round trips, the "SPR" upgrade and clones that outlive
// their master.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"

using testsupport::LogCapture;
using testsupport::SdkSession;
using testsupport::TempDir;
using namespace spritetest;
using tiletest::Pattern;
using tiletest::SamePixels;

namespace {
const char* k31 = "abcdefghijklmnopqrstuvwxyz01234";
const char* k32 = "abcdefghijklmnopqrstuvwxyz012345";

// 128 x 96, 32 x 32 cells: row 0 fully drawn (4 frames); row 1 drawn, empty,
// drawn, drawn (1 frame); row 2 starts empty (0 frames).
Surface Sheet128x96(int bpp = 24) {
    Surface s(SDL_CreateRGBSurface(0, 128, 96, bpp, 0, 0, 0, 0));
    const uint32_t bg = SDL_MapRGB(s->format, 10, 20, 30);
    const uint32_t ink = SDL_MapRGB(s->format, 200, 0, 0);
    const bool drawn[3][4] = {{1, 1, 1, 1}, {1, 0, 1, 1}, {0, 1, 1, 1}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) Cell(s.get(), c, r, 32, 32, bg, drawn[r][c], ink);
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Create and frame detection

TEST(SpriteCreate, SheetCutIntoCellsGivesOneAnimationPerRowEndingAtFirstEmptyCell) {
    SdkSession sdk;
    Surface s = Sheet128x96();
    CSprite sp;
    ASSERT_EQ(sp.Create(s.get(), "walk", 32, 32), 3);
    const uint16_t expected[3] = {4, 1, 0};
    for (int i = 1; i <= 3; ++i) {
        const Anim a = Props(sp, i);
        EXPECT_EQ(a.frames, expected[i - 1]) << "animation " << i;
        EXPECT_EQ(a.type, 2);
        EXPECT_EQ(a.status, 0x8000 + i - 1);
        EXPECT_EQ(a.start, 0);
        EXPECT_EQ(a.end, expected[i - 1]);
    }
    uint32_t ms = 0;
    sp.GetFrame(1, 4, &ms);
    EXPECT_EQ(ms, 100u);
    int fw = 0, fh = 0;
    sp.GetOffset(&fw, &fh);
    EXPECT_EQ(fw, 32);
    EXPECT_EQ(fh, 32);
    EXPECT_TRUE(SamePixels(sp.GetSurface(), s.get()));
}

TEST(SpriteCreate, CellWhoseOtherPixelsAreFullyTransparentIsEmpty) {
    SdkSession sdk;
    Surface s(SDL_CreateRGBSurface(0, 8, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    const uint32_t clearA = SDL_MapRGBA(s->format, 9, 9, 9, 0);
    const uint32_t clearB = SDL_MapRGBA(s->format, 50, 60, 70, 0);
    const uint32_t ink = SDL_MapRGBA(s->format, 200, 0, 0, 255);
    Cell(s.get(), 0, 0, 4, 4, clearA, true, ink);     // drawn: one visible pixel
    Cell(s.get(), 1, 0, 4, 4, clearA, true, clearB);  // differs only in invisible pixels
    CSprite sp;
    ASSERT_EQ(sp.Create(s.get(), "a", 4, 4), 1);
    EXPECT_EQ(Props(sp, 1).frames, 1);
    EXPECT_EQ(sp.GetAlpha(), 256);
}

TEST(SpriteCreate, FrameSizesThatDoNotSplitTheSheetFailWithTheirMessages) {
    SdkSession sdk;
    LogCapture cap;
    Surface s = Sheet128x96();
    struct Case {
        int fw, fh;
        const char* message;
    } cases[] = {
        {30, 32, " . [CSprite::Create('w',30,32)] Error: Offset X does not split correctly the sprite surface.\n"},
        {32, 0, " . [CSprite::Create('w',32,0)] Error: Offset X and/or Y are less than 1 pixel.\n"},
        {0, 32, " . [CSprite::Create('w',0,32)] Error: Offset X and/or Y are less than 1 pixel.\n"},
        {-32, -32, " . [CSprite::Create('w',-32,-32)] Error: Offset X and/or Y are less than 1 pixel.\n"},
        {32, 25, " . [CSprite::Create('w',32,25)] Error: Offset Y does not split correctly the sprite surface.\n"},
    };
    for (const auto& c : cases) {
        CSprite sp;
        EXPECT_EQ(sp.Create(s.get(), "w", c.fw, c.fh), 0);
        EXPECT_EQ(cap.Take(), c.message);
        EXPECT_EQ(sp.GetSurface(), nullptr);
        EXPECT_EQ(sp.GetAlpha(), -1);
    }
    CSprite sp;
    EXPECT_EQ(sp.Create(static_cast<SDL_Surface*>(nullptr), "w", 32, 32), 0);
    EXPECT_EQ(cap.Take(), " . [CSprite::Create('w',32,32)] Error: sprite surface or name are null.\n");
}

TEST(SpriteCreate, NotInitializedAlreadyCreatedAndOverlongNameAreRefused) {
    LogCapture cap;
    Surface s = Sheet128x96();
    {
        CSprite sp;
        EXPECT_EQ(sp.Create(s.get(), "w", 32, 32), 0);
        EXPECT_EQ(cap.Take(),
                  " . [CSprite::Create('w',32,32)] Error: Trovalis was not initialized. Aborting the sprite load.\n");
        EXPECT_EQ(sp.Load(1, "w", "SPR2"), 0);
        EXPECT_NE(cap.Take().find("Error: Trovalis was not initialized. Aborting the sprite load.\n"), std::string::npos);
    }
    SdkSession sdk;
    cap.Take();
    CSprite sp;
    EXPECT_EQ(sp.Create(s.get(), k32, 32, 32), 0);
    EXPECT_NE(cap.Take().find("Error: the sprite name is longer than 31 characters.\n"), std::string::npos);
    ASSERT_EQ(sp.Create(s.get(), k31, 32, 32), 3);
    EXPECT_EQ(sp.Create(s.get(), "again", 32, 32), 0);
    EXPECT_EQ(cap.Take(), " . [CSprite::Create('again',32,32)] Warning: sprite already exists. It is not possible to "
                          "create another one.\n");
    EXPECT_STREQ(sp.GetName(), k31);
}

TEST(SpriteCreate, FromFileReadsTheImageAndReportsUnreadableFiles) {
    SdkSession sdk;
    TempDir dir;
    LogCapture cap;
    Surface s = Sheet128x96();
    const std::string bmp = dir / "sheet.bmp";
    ASSERT_EQ(SDL_SaveBMP(s.get(), bmp.c_str()), 0);
    Trovalis.autoDisplayConversion = 1;
    CSprite sp;
    EXPECT_EQ(sp.Create(bmp.c_str(), "f", 32, 32), 3);
    EXPECT_EQ(Trovalis.autoDisplayConversion, 1);
    EXPECT_EQ(Props(sp, 2).frames, 1);
    // A BMP brings no key and the sprite must not invent one.
    EXPECT_EQ(sp.GetColorKey(), kNoColorKey);
    EXPECT_EQ(sp.GetSurface()->format->colorkey, kNoColorKey);

    CSprite none;
    cap.Take();
    EXPECT_EQ(none.Create((dir / "none.bmp").c_str(), "n", 32, 32), 0);
    EXPECT_EQ(cap.Take(), " . [CSprite::Create('" + (dir / "none.bmp") +
                              "','n')] Error: it was not possible to load the given image file.\n");
}

TEST(SpriteCreate, AlphaAndKeyComeFromWhatTheSurfaceUses) {
    SdkSession sdk;
    CSprite before;
    EXPECT_EQ(before.GetAlpha(), -1);

    Surface rgba(Pattern(8, 8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    CSprite a;
    ASSERT_EQ(a.Create(rgba.get(), "a", 8, 8), 1);
    EXPECT_EQ(a.GetAlpha(), 256);

    Surface translucent = Sheet128x96();
    SDL_SetAlpha(translucent.get(), SDL_SRCALPHA, 77);
    SDL_SetColorKey(translucent.get(), SDL_SRCCOLORKEY, SDL_MapRGB(translucent->format, 10, 20, 30));
    CSprite b;
    ASSERT_EQ(b.Create(translucent.get(), "b", 32, 32), 3);
    EXPECT_EQ(b.GetAlpha(), 77);
    EXPECT_EQ(b.GetSurface()->format->alpha, 77);
    EXPECT_EQ(b.GetColorKey(), SDL_MapRGB(translucent->format, 10, 20, 30));
    EXPECT_TRUE(b.GetSurface()->flags & SDL_SRCCOLORKEY);

    // Per-surface alpha 0 without an alpha channel stays per-surface alpha
    // 0: reporting per-pixel alpha for it would change on the next Load.
    Surface clear = Sheet128x96();
    SDL_SetAlpha(clear.get(), SDL_SRCALPHA, 0);
    CSprite c;
    ASSERT_EQ(c.Create(clear.get(), "c", 32, 32), 3);
    EXPECT_EQ(c.GetAlpha(), 0);
}

TEST(SpriteLifecycle, LiveCountFollowsConstruction) {
    const int32_t before = Trovalis.liveSprites;
    {
        CSprite a, b, c;
        EXPECT_EQ(Trovalis.liveSprites, before + 3);
    }
    EXPECT_EQ(Trovalis.liveSprites, before);
}

// ---------------------------------------------------------------------------
// Animation table

class SpriteTable : public ::testing::Test {
protected:
    void SetUp() override {
        // Row 0: 3 frames of 4 columns; row 1: 4 frames.
        Surface s(SDL_CreateRGBSurface(0, 16, 8, 24, 0, 0, 0, 0));
        for (int c = 0; c < 4; ++c) {
            Cell(s.get(), c, 0, 4, 4, 0x102030, c < 3, 0xFFFFFF);
            Cell(s.get(), c, 1, 4, 4, 0x102030, true, 0xFFFFFF);
        }
        ASSERT_EQ(sp.Create(s.get(), "t", 4, 4), 2);
        ASSERT_EQ(Props(sp, 1).frames, 3);
    }
    SdkSession sdk;
    CSprite sp;
};

TEST_F(SpriteTable, StartAndEndFramesAreClampedAnd2730LeavesFieldsAlone) {
    EXPECT_TRUE(sp.SetAnimProperties(1, 2730, 2730, 2730, 2730, 2730, 5));
    Anim a = Props(sp, 1);
    EXPECT_EQ(a.end, 3);
    EXPECT_EQ(a.start, 0);
    EXPECT_EQ(a.type, 2);
    EXPECT_EQ(a.status, 0x8000);
    EXPECT_TRUE(sp.SetAnimProperties(1, 2730, 2730, 2730, 2730, 4, 2730));
    EXPECT_EQ(Props(sp, 1).start, 3);
    EXPECT_TRUE(sp.SetAnimProperties(1, 8, 17, -5, 6, 2, 1));
    a = Props(sp, 1);
    EXPECT_EQ(a.type, 8);
    EXPECT_EQ(a.status, 17);
    EXPECT_EQ(a.hotx, -5);
    EXPECT_EQ(a.hoty, 6);
    EXPECT_EQ(a.start, 2);
    EXPECT_EQ(a.end, 2);  // raised to the new start
}

TEST_F(SpriteTable, UnknownTypeAndAnimationNumbersChangeNothing) {
    LogCapture cap;
    const Anim before = Props(sp, 1);
    EXPECT_FALSE(sp.SetAnimProperties(1, 3, 1, 1, 1, 1, 1));
    EXPECT_EQ(cap.Take(), " . [CSprite::SetAnimProperties(1,3,1,1,1,1,1)] Warning: wrong animation type.\n");
    const Anim after = Props(sp, 1);
    EXPECT_EQ(after.status, before.status);
    EXPECT_EQ(after.start, before.start);
    EXPECT_FALSE(sp.SetAnimProperties(3, 2, 0, -1, 0, 0, 0));
    EXPECT_EQ(cap.Take(), " . [CSprite::SetAnimProperties(3,2,0,-1,0,0,0)] Warning: animation not found.\n");
    EXPECT_FALSE(sp.SetAnimProperties(0, 2, 0, 0, 0, 0, 0));
    EXPECT_NE(cap.Take().find("Warning: animation not found.\n"), std::string::npos);
}

TEST_F(SpriteTable, FrameZeroSetsEveryFrameAndOutOfRangeFramesAreReported) {
    LogCapture cap;
    EXPECT_TRUE(sp.SetFrame(2, 0, 250));
    for (int f = 1; f <= 4; ++f) {
        uint32_t ms = 0;
        sp.GetFrame(2, f, &ms);
        EXPECT_EQ(ms, 250u);
    }
    EXPECT_TRUE(sp.SetFrame(2, 3, 40));
    uint32_t ms = 0;
    sp.GetFrame(2, 3, &ms);
    EXPECT_EQ(ms, 40u);
    EXPECT_FALSE(sp.SetFrame(1, 4, 1));
    EXPECT_EQ(cap.Take(), " . [CSprite::SetFrame(1,4,1)] Warning: frame not found.\n");
    EXPECT_FALSE(sp.SetFrame(3, 1, 1));
    EXPECT_EQ(cap.Take(), " . [CSprite::SetFrame(3,1,1)] Warning: animation not found.\n");
    ms = 7;
    sp.GetFrame(1, 4, &ms);
    sp.GetFrame(0, 1, &ms);
    EXPECT_EQ(ms, 7u);
}

TEST_F(SpriteTable, SetAlphaOutsideByteRangeIsIgnoredAndNamesOf32CharactersToo) {
    sp.SetAlpha(256);
    sp.SetAlpha(-1);
    EXPECT_EQ(sp.GetAlpha(), 255);
    sp.SetAlpha(90);
    EXPECT_EQ(sp.GetAlpha(), 90);
    EXPECT_TRUE(sp.GetSurface()->flags & SDL_SRCALPHA);
    sp.SetAlpha(255);
    EXPECT_FALSE(sp.GetSurface()->flags & SDL_SRCALPHA);
    sp.SetName(k32);
    EXPECT_STREQ(sp.GetName(), "t");
    sp.SetColorKey(5);
    sp.SetColorKey(kNoColorKey);
    EXPECT_EQ(sp.GetSurface()->format->colorkey, kNoColorKey);
}

// ---------------------------------------------------------------------------
// Clones

TEST(SpriteClone, CloneShowsItsMastersSheetAndFailsCleanlyOnceTheMasterIsGone) {
    SdkSession sdk;
    LogCapture cap;
    Surface s = Sheet128x96();
    auto master = std::make_unique<CSprite>();
    ASSERT_EQ(master->Create(s.get(), "hero", 32, 32), 3);
    CSprite clone;
    CSprite orphan;
    EXPECT_EQ(orphan.Clone(clone), 0);  // nothing to clone yet
    ASSERT_EQ(clone.Clone(*master), 3);
    EXPECT_EQ(clone.GetRole(), 2);
    EXPECT_EQ(master->GetRole(), 1);
    EXPECT_TRUE(clone.ValidateClone());
    EXPECT_EQ(clone.GetSurface(), master->GetSurface());
    clone.SetAlpha(60);
    EXPECT_EQ(master->GetSurface()->format->alpha, 60);
    // Its own table: changing it leaves the master's alone.
    clone.SetFrame(1, 0, 5);
    uint32_t ms = 0;
    master->GetFrame(1, 1, &ms);
    EXPECT_EQ(ms, 100u);

    master.reset();
    cap.Take();
    EXPECT_FALSE(clone.ValidateClone());
    EXPECT_EQ(cap.Take(), " . [CSprite::ValidateClone()] Error: the clone sprite 'hero' has lost its master sprite.\n");
    EXPECT_EQ(clone.GetSurface(), nullptr);
    clone.SetAlpha(10);
    clone.SetColorKey(3);
    EXPECT_EQ(clone.Save(1, "SPR2"), 0);
    EXPECT_EQ(clone.GetAlpha(), 60);
}

TEST(SpriteClone, CloneOfCloneFollowsTheSameMaster) {
    SdkSession sdk;
    Surface s = Sheet128x96();
    auto master = std::make_unique<CSprite>();
    ASSERT_EQ(master->Create(s.get(), "m", 32, 32), 3);
    CSprite a, b;
    ASSERT_EQ(a.Clone(*master), 3);
    ASSERT_EQ(b.Clone(a), 3);
    EXPECT_EQ(b.GetSurface(), master->GetSurface());
    master.reset();
    LogCapture cap;
    EXPECT_FALSE(a.ValidateClone());
    EXPECT_FALSE(b.ValidateClone());
    CSprite c;
    EXPECT_EQ(c.Clone(a), 0);
}

// ---------------------------------------------------------------------------
// Colour keys that are no palette entry (found by fuzzing: SDL looks the key
// of a paletted surface up in its palette, unchecked).

TEST(SpritePaletteKey, KeyOutsideThePaletteIsRefusedEverywhere) {
    SdkSession sdk;
    LogCapture cap;
    Surface s(Pattern(4, 2, 8));
    SDL_Color colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = SDL_Color{Uint8(i), Uint8(255 - i), Uint8(i * 3), 0};
    SDL_SetColors(s.get(), colors, 0, 256);
    CSprite sp;
    ASSERT_GT(sp.Create(s.get(), "pal", 2, 1), 0);
    sp.SetColorKey(7);
    sp.SetColorKey(300);
    EXPECT_EQ(sp.GetColorKey(), 7u);
    EXPECT_NE(cap.Take().find(" . [CSprite::SetColorKey(300)] Warning: the colour key is not an entry of the "
                              "sprite's palette.\n"),
              std::string::npos);

    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, 0xFFFFFFFEu);
    CSprite bad;
    EXPECT_EQ(bad.Create(s.get(), "bad", 2, 1), 0);
    EXPECT_NE(cap.Take().find("Error: the colour key is not an entry of the surface's palette.\n"), std::string::npos);

    SpritePayload p;
    const auto outside = SpriteBytes(s.get(), 2, 1, {{2}, {2}}, 256, 255);
    EXPECT_FALSE(CSprite::DecodePayload(outside.data(), outside.size(), p));
    const auto inside = SpriteBytes(s.get(), 2, 1, {{2}, {2}}, 255, 255);
    EXPECT_TRUE(CSprite::DecodePayload(inside.data(), inside.size(), p));
}
