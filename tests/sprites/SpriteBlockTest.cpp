// CSprite blocks in a package: Save and Load round trips, the "SPR" upgrade,
// and damaged blocks that must be refused without touching the package.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"
#include "core/Trovalis.h"

using testsupport::LogCapture;
using namespace spritetest;
using tiletest::Pattern;
using tiletest::SamePixels;

namespace {
Surface Paletted(int w, int h) {
    Surface s(Pattern(w, h, 8));
    SDL_Color colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = SDL_Color{Uint8(i), Uint8(i ^ 0x5A), Uint8(255 - i), 0};
    SDL_SetColors(s.get(), colors, 0, 256);
    return s;
}
}  // namespace

using SpriteBlock = tiletest::PackageTest;

TEST_F(SpriteBlock, SaveWritesTableAndPixelsAndLoadGivesBackTheSameSprite) {
    // 12 x 10 at 8 bits (pitch 12), frames of 3 x 5: 2 animations of 4 frames.
    Surface s = Paletted(12, 10);
    CSprite a;
    ASSERT_EQ(a.Create(s.get(), "pal", 3, 5), 2);
    a.SetAlpha(100);
    a.SetColorKey(7);
    ASSERT_TRUE(a.SetAnimProperties(2, 4, 99, -8, 9, 1, 3));
    ASSERT_TRUE(a.SetFrame(1, 2, 321));
    ASSERT_GT(a.Save(id, "SPR2"), 0);
    const auto payload = Get("SPR2", "pal");
    EXPECT_EQ(payload.size(), 64u + 64 * 2 + 16 * 8 + 12 * 10 + 1024);

    LogCapture cap;
    CSprite b;
    ASSERT_EQ(b.Load(id, "pal", "SPR2"), 2);
    for (int i = 1; i <= 2; ++i) {
        uint16_t t1, s1, f1, st1, e1, t2, s2, f2, st2, e2;
        int16_t hx1, hy1, hx2, hy2;
        a.GetAnimProperties(i, &t1, &s1, &f1, &hx1, &hy1, &st1, &e1);
        b.GetAnimProperties(i, &t2, &s2, &f2, &hx2, &hy2, &st2, &e2);
        EXPECT_EQ(t1, t2);
        EXPECT_EQ(s1, s2);
        EXPECT_EQ(f1, f2);
        EXPECT_EQ(hx1, hx2);
        EXPECT_EQ(hy1, hy2);
        EXPECT_EQ(st1, st2);
        EXPECT_EQ(e1, e2);
        for (int f = 1; f <= f1; ++f) {
            uint32_t m1 = 0, m2 = 1;
            a.GetFrame(i, f, &m1);
            b.GetFrame(i, f, &m2);
            EXPECT_EQ(m1, m2);
        }
    }
    EXPECT_EQ(b.GetAlpha(), 100);
    EXPECT_EQ(b.GetColorKey(), 7u);
    EXPECT_EQ(b.GetSurface()->format->colorkey, 7u);
    EXPECT_EQ(b.GetSurface()->format->palette->colors[33].g, 33 ^ 0x5A);
    EXPECT_TRUE(SamePixels(b.GetSurface(), s.get()));
    int fw = 0, fh = 0;
    b.GetOffset(&fw, &fh);
    EXPECT_EQ(fw, 3);
    EXPECT_EQ(fh, 5);
    EXPECT_EQ(b.Load(id, "pal", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("Warning: sprite already exists. It is not possible to create another one.\n"),
              std::string::npos);
}

TEST_F(SpriteBlock, AlphaChannelSurvivesTheRoundTripAsPerPixelAlpha) {
    Surface s(Pattern(8, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    CSprite a;
    ASSERT_EQ(a.Create(s.get(), "rgba", 4, 4), 1);
    ASSERT_GT(a.Save(id, "SPR2"), 0);
    CSprite b;
    ASSERT_EQ(b.Load(id, "rgba", "SPR2"), 1);
    EXPECT_EQ(b.GetAlpha(), 256);
    EXPECT_EQ(b.GetSurface()->format->BitsPerPixel, 32);
    EXPECT_TRUE(SamePixels(b.GetSurface(), s.get()));
}

TEST_F(SpriteBlock, StoredPositionIsKept) {
    Surface s(Pattern(4, 4, 24));
    ASSERT_GT(Put("SPR2", "pos", SpriteBytes(s.get(), 4, 4, {{1}}, kNoColorKey, 255, false, -20, 300)), 0);
    CSprite a;
    ASSERT_EQ(a.Load(id, "pos", "SPR2"), 1);
    ASSERT_GT(a.Save(id, "SPR2b"), 0);
    const auto p = Get("SPR2b", "pos");
    ASSERT_GE(p.size(), 16u);
    EXPECT_EQ(int32_t(LoadLE32(&p[8])), -20);
    EXPECT_EQ(int32_t(LoadLE32(&p[12])), 300);
}

TEST_F(SpriteBlock, OldSpriteWithKeyZeroIsUpgradedInThePackage) {
    Surface s(Pattern(8, 8, 24));
    const auto old = SpriteBytes(s.get(), 4, 4, {{2, 50}, {1, 70}}, 0, 255, true);
    ASSERT_GT(Put("SPR", "old", old), 0);
    LogCapture cap;
    CSprite a;
    ASSERT_EQ(a.Load(id, "old", "SPR2"), 2);
    EXPECT_NE(cap.Take().find(" . [CSprite::Load('" + std::string(g_pStuffVLT->GetName(id)) +
                              "','old','SPR2')] Info: sprite successfully updated from v1.0 to v2.0.\n"),
              std::string::npos);
    EXPECT_EQ(a.GetColorKey(), kNoColorKey);
    EXPECT_FALSE(a.GetSurface()->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(Props(a, 1).end, 2);
    uint32_t ms = 0;
    a.GetFrame(1, 2, &ms);
    EXPECT_EQ(ms, 51u);
    a.GetFrame(2, 1, &ms);
    EXPECT_EQ(ms, 70u);
    EXPECT_TRUE(SamePixels(a.GetSurface(), s.get()));
    EXPECT_EQ(Get("SPR2", "old").size(), old.size() + 2 * 52 + 3 * 12);
    EXPECT_TRUE(Get("SPR", "old").empty());

    CSprite b;
    ASSERT_EQ(b.Load(id, "old", "SPR2"), 2);
    EXPECT_EQ(cap.Take().find("updated"), std::string::npos);
}

TEST_F(SpriteBlock, MissingAndOverlongNamesFailWithTheirMessages) {
    LogCapture cap;
    CSprite a;
    EXPECT_EQ(a.Load(id, "none", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("','none','SPR2')] Error: sprite not found\n"), std::string::npos);
    EXPECT_EQ(a.Load(id, "abcdefghijklmnopqrstuvwxyz012345", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("Error: the sprite name is longer than 31 characters.\n"), std::string::npos);
    EXPECT_EQ(a.Load(0, "none", "SPR2"), 0);
    EXPECT_EQ(cap.Take(), "");
}

TEST_F(SpriteBlock, AnimationTableRunningPastThePayloadIsRefused) {
    Surface s(Pattern(4, 4, 24));
    auto bytes = SpriteBytes(s.get(), 4, 4, {{1}}, kNoColorKey, 255);
    StoreLE16(&bytes[24 + 4], 40000);  // 40000 frame records do not fit
    ASSERT_GT(Put("SPR2", "long", bytes), 0);
    auto zero = SpriteBytes(s.get(), 4, 4, {{1}}, kNoColorKey, 255);
    StoreLE32(&zero[4], 0);  // frame height 0
    ASSERT_GT(Put("SPR2", "zero", zero), 0);
    LogCapture cap;
    CSprite a, b;
    EXPECT_EQ(a.Load(id, "long", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("','long','SPR2')] Error: the sprite block is damaged.\n"), std::string::npos);
    EXPECT_EQ(a.GetSurface(), nullptr);
    EXPECT_EQ(b.Load(id, "zero", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("Error: the sprite block is damaged.\n"), std::string::npos);
}

TEST_F(SpriteBlock, DamagedOldSpriteIsNotUpgradedAndStaysInThePackage) {
    const auto bytes = testsupport::ReadFile(std::string(BUNDLEX_SOURCE_DIR) +
                                             "/tests/data/sprites/SpriteUpgrade.RejectsOldTablePastPayloadEnd.spr");
    ASSERT_FALSE(bytes.empty());
    ASSERT_GT(Put("SPR", "bad", bytes), 0);
    LogCapture cap;
    CSprite a;
    EXPECT_EQ(a.Load(id, "bad", "SPR2"), 0);
    EXPECT_NE(cap.Take().find("Error: the sprite block is damaged.\n"), std::string::npos);
    EXPECT_EQ(Get("SPR", "bad"), bytes);
    EXPECT_TRUE(Get("SPR2", "bad").empty());
}
