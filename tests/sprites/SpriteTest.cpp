// CSprite: frame detection, the checks of Create (those shared with CTile are
// in TileTest), the animation table's setters, block round trips, the "SPR"
// upgrade and clones that outlive their master.
#include <tuple>

#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "resources/Sprite.h"

using namespace testsupport;

namespace {
const char* k32 = "abcdefghijklmnopqrstuvwxyz012345";

// Fills a cell with one colour, optionally with a dot of another colour in its middle (a "drawing").
void Cell(SDL_Surface* s, int cx, int cy, int fw, int fh, uint32_t background, bool drawn, uint32_t dot) {
    SDL_Rect r{Sint16(cx * fw), Sint16(cy * fh), Uint16(fw), Uint16(fh)};
    SDL_FillRect(s, &r, background);
    SDL_Rect d{Sint16(cx * fw + fw / 2), Sint16(cy * fh + fh / 2), 1, 1};
    if (drawn) SDL_FillRect(s, &d, dot);
}

struct Anim {
    uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
    int16_t hotx = 0, hoty = 0;
    bool operator==(const Anim& o) const {
        return type == o.type && status == o.status && frames == o.frames && start == o.start && end == o.end &&
               hotx == o.hotx && hoty == o.hoty;
    }
};
Anim Props(const CSprite& s, int i) {
    Anim a;
    s.GetAnimProperties(i, &a.type, &a.status, &a.frames, &a.hotx, &a.hoty, &a.start, &a.end);
    return a;
}

// 128 x 96, 32 x 32 cells: row 0 fully drawn (4 frames); row 1 drawn, empty,
// drawn, drawn (1 frame); row 2 starts empty (0 frames).
SurfacePtr Sheet128x96() {
    SurfacePtr s(SDL_CreateRGBSurface(0, 128, 96, 24, 0, 0, 0, 0));
    const uint32_t bg = SDL_MapRGB(s->format, 10, 20, 30);
    const uint32_t ink = SDL_MapRGB(s->format, 200, 0, 0);
    const bool drawn[3][4] = {{1, 1, 1, 1}, {1, 0, 1, 1}, {0, 1, 1, 1}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) Cell(s.get(), c, r, 32, 32, bg, drawn[r][c], ink);
    return s;
}

}  // namespace

TEST(SpriteCreate, SheetCutIntoCellsGivesOneAnimationPerRowEndingAtFirstEmptyCell) {
    SdkSession sdk;
    SurfacePtr s = Sheet128x96();
    CSprite sp;
    ASSERT_EQ(sp.Create(s.get(), "walk", 32, 32), 3);
    const uint16_t expected[3] = {4, 1, 0};
    for (int i = 1; i <= 3; ++i) {
        const Anim a = Props(sp, i);
        EXPECT_EQ(std::make_tuple(a.frames, a.type, a.status, a.start, a.end),
                  std::make_tuple(expected[i - 1], 2, 0x8000 + i - 1, 0, expected[i - 1]))
            << "animation " << i;
    }
    uint32_t ms = 0;
    sp.GetFrame(1, 4, &ms);
    EXPECT_EQ(ms, 100u);
    EXPECT_TRUE(SamePixels(sp.GetSurface(), s.get()));

    // A cell whose other pixels differ only where fully transparent is empty.
    SurfacePtr clear(SDL_CreateRGBSurface(0, 8, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    const uint32_t clearA = SDL_MapRGBA(clear->format, 9, 9, 9, 0);
    Cell(clear.get(), 0, 0, 4, 4, clearA, true, SDL_MapRGBA(clear->format, 200, 0, 0, 255));
    Cell(clear.get(), 1, 0, 4, 4, clearA, true, SDL_MapRGBA(clear->format, 50, 60, 70, 0));
    CSprite t;
    ASSERT_EQ(t.Create(clear.get(), "a", 4, 4), 1);
    EXPECT_EQ(Props(t, 1).frames, 1);
    EXPECT_EQ(t.GetAlpha(), 256);
}

TEST(SpriteCreate, FrameSizesThatDoNotSplitTheSheetFailWithTheirMessages) {
    SdkSession sdk;
    LogCapture cap;
    SurfacePtr s = Sheet128x96();
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

class SpriteTable : public ::testing::Test {
protected:
    void SetUp() override {
        // Row 0: 3 frames of 4 columns; row 1: 4 frames.
        SurfacePtr s(SDL_CreateRGBSurface(0, 16, 8, 24, 0, 0, 0, 0));
        for (int c = 0; c < 4; ++c) {
            Cell(s.get(), c, 0, 4, 4, 0x102030, c < 3, 0xFFFFFF);
            Cell(s.get(), c, 1, 4, 4, 0x102030, true, 0xFFFFFF);
        }
        ASSERT_EQ(sp.Create(s.get(), "t", 4, 4), 2);
        ASSERT_EQ(Props(sp, 1).frames, 3);
    }
    SdkSession sdk;
    LogCapture cap;
    CSprite sp;
};

TEST_F(SpriteTable, FrameBeyondTheAnimationIsKept) {
    EXPECT_TRUE(sp.SetAnimProperties(1, 2730, 2730, 2730, 2730, 2730, 5));
    Anim a = Props(sp, 1);
    EXPECT_EQ(std::make_tuple(a.end, a.start, a.type, a.status), std::make_tuple(3, 0, 2, 0x8000));
    EXPECT_TRUE(sp.SetAnimProperties(1, 2730, 2730, 2730, 2730, 4, 2730));
    EXPECT_EQ(Props(sp, 1).start, 3);
    EXPECT_TRUE(sp.SetAnimProperties(1, 8, 17, -5, 6, 2, 1));
    a = Props(sp, 1);  // the end raised to the new start
    EXPECT_EQ(std::make_tuple(a.type, a.status, a.hotx, a.hoty, a.start, a.end), std::make_tuple(8, 17, -5, 6, 2, 2));
    // An unknown type or animation number changes nothing.
    EXPECT_FALSE(sp.SetAnimProperties(1, 3, 1, 1, 1, 1, 1));
    EXPECT_TRUE(Props(sp, 1) == a);
    EXPECT_FALSE(sp.SetAnimProperties(3, 2, 0, -1, 0, 0, 0));
    EXPECT_FALSE(sp.SetAnimProperties(0, 2, 0, 0, 0, 0, 0));
    EXPECT_EQ(Count(cap.Take(), "Warning: animation not found.\n"), 2);
}

TEST(SpriteClone, CloneUsesItsFreedMaster) {
    SdkSession sdk;
    LogCapture cap;
    SurfacePtr s = Sheet128x96();
    auto master = std::make_unique<CSprite>();
    ASSERT_EQ(master->Create(s.get(), "hero", 32, 32), 3);
    CSprite clone, orphan, second;
    EXPECT_EQ(orphan.Clone(clone), 0);  // nothing to clone yet
    ASSERT_EQ(clone.Clone(*master), 3);
    ASSERT_EQ(second.Clone(clone), 3);  // a clone of a clone follows the same master
    EXPECT_EQ(std::make_tuple(clone.GetRole(), master->GetRole(), clone.ValidateClone(), second.GetSurface()),
              std::make_tuple(2, 1, true, master->GetSurface()));
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
    EXPECT_FALSE(second.ValidateClone());
    EXPECT_EQ(clone.GetSurface(), nullptr);
    clone.SetAlpha(10);
    clone.SetColorKey(3);
    EXPECT_EQ(clone.Save(1, "SPR2"), 0);
    EXPECT_EQ(clone.GetAlpha(), 60);
    CSprite late;
    EXPECT_EQ(late.Clone(clone), 0);
}

using SpriteBlock = PackageTest;

TEST_F(SpriteBlock, RoundTripLosesAField) {
    // 12 x 10 at 8 bits (pitch 12), frames of 3 x 5: 2 animations of 4 frames.
    SurfacePtr s = MakePaletted(12, 10);
    CSprite a;
    ASSERT_EQ(a.Create(s.get(), "pal", 3, 5), 2);
    a.SetAlpha(100);
    a.SetColorKey(7);
    ASSERT_TRUE(a.SetAnimProperties(2, 4, 99, -8, 9, 1, 3));
    ASSERT_TRUE(a.SetFrame(1, 2, 321));
    ASSERT_GT(a.Save(id, "SPR2"), 0);
    EXPECT_EQ(Get("SPR2", "pal").size(), 64u + 64 * 2 + 16 * 8 + 12 * 10 + 1024);
    LogCapture cap;
    CSprite b;
    ASSERT_EQ(b.Load(id, "pal", "SPR2"), 2);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_TRUE(Props(a, i) == Props(b, i)) << i;
        for (int f = 1; f <= Props(a, i).frames; ++f) {
            uint32_t m1 = 0, m2 = 1;
            a.GetFrame(i, f, &m1);
            b.GetFrame(i, f, &m2);
            EXPECT_EQ(m1, m2);
        }
    }
    int fw = 0, fh = 0;
    b.GetOffset(&fw, &fh);
    EXPECT_EQ(std::make_tuple(b.GetAlpha(), b.GetColorKey(), b.GetSurface()->format->colorkey,
                              int(b.GetSurface()->format->palette->colors[33].g), fw, fh),
              std::make_tuple(100, 7u, 7u, 255 - 33, 3, 5));
    EXPECT_TRUE(SamePixels(b.GetSurface(), s.get()));
    EXPECT_EQ(b.Load(id, "pal", "SPR2"), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Warning: sprite already exists. It is not possible to create another one.\n"));

    SurfacePtr rgba(Pattern(8, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    CSprite c, d;
    ASSERT_EQ(c.Create(rgba.get(), "rgba", 4, 4), 1);
    ASSERT_GT(c.Save(id, "SPR2"), 0);
    ASSERT_EQ(d.Load(id, "rgba", "SPR2"), 1);
    EXPECT_EQ(d.GetAlpha(), 256);  // the alpha channel comes back per-pixel
    EXPECT_TRUE(SamePixels(d.GetSurface(), rgba.get()));
}

TEST_F(SpriteBlock, StoredPositionIsKept) {
    SurfacePtr s(Pattern(4, 4, 24));
    ASSERT_GT(Put("SPR2", "pos", SpriteBytes(s.get(), 4, 4, {{1}}, kNoColorKey, 255, false, -20, 300)), 0);
    CSprite a;
    ASSERT_EQ(a.Load(id, "pos", "SPR2"), 1);
    ASSERT_GT(a.Save(id, "SPR2b"), 0);
    const auto p = Get("SPR2b", "pos");
    ASSERT_GE(p.size(), 16u);
    EXPECT_EQ(std::make_tuple(int32_t(LoadLE32(&p[8])), int32_t(LoadLE32(&p[12]))), std::make_tuple(-20, 300));
}

TEST_F(SpriteBlock, RefusedBlockIsChanged) {
    SurfacePtr s(Pattern(4, 4, 24));
    auto bytes = SpriteBytes(s.get(), 4, 4, {{1}}, kNoColorKey, 255);
    StoreLE16(&bytes[24 + 4], 40000);  // 40000 frame records do not fit
    ASSERT_GT(Put("SPR2", "long", bytes), 0);
    const auto old = ReadFile(SourceDir() + "/tests/data/sprites/SpriteUpgrade.RejectsOldTablePastPayloadEnd.spr");
    ASSERT_GT(Put("SPR", "bad", old), 0);
    LogCapture cap;
    CSprite a;
    EXPECT_EQ(a.Load(id, "none", "SPR2"), 0);
    EXPECT_TRUE(Contains(cap.Take(), "','none','SPR2')] Error: sprite not found\n"));
    EXPECT_EQ(a.Load(id, k32, "SPR2"), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Error: the sprite name is longer than 31 characters.\n"));
    EXPECT_EQ(a.Load(0, "none", "SPR2"), 0);
    EXPECT_EQ(cap.Take(), "");
    EXPECT_EQ(a.Load(id, "long", "SPR2"), 0);
    EXPECT_TRUE(Contains(cap.Take(), "','long','SPR2')] Error: the sprite block is damaged.\n"));
    EXPECT_EQ(a.GetSurface(), nullptr);
    // A damaged "SPR" block is not upgraded and stays in the package.
    EXPECT_EQ(a.Load(id, "bad", "SPR2"), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Error: the sprite block is damaged.\n"));
    EXPECT_EQ(Get("SPR", "bad"), old);
    EXPECT_TRUE(Get("SPR2", "bad").empty());
}
