// CTile: creation (alike with CSprite's), the setters' limits, block round
// trips and the upgrade of 1.0 blocks inside a package.

#include <tuple>

#include "Support.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

using namespace testsupport;

namespace {

const char* k31 = "abcdefghijklmnopqrstuvwxyz01234";
const char* k32 = "abcdefghijklmnopqrstuvwxyz012345";
}  // namespace

// Tiles and sprites are created alike, from a surface or an image file (a
// sprite here as one frame of the whole sheet), and refuse alike.
namespace {
bool Make(CTile& t, SDL_Surface* s, const char* n) { return t.Create(s, n); }
bool Make(CSprite& t, SDL_Surface* s, const char* n) { return t.Create(s, n, s->w, s->h) > 0; }
bool Make(CTile& t, const std::string& f, const char* n) { return t.Create(f.c_str(), n); }
bool Make(CSprite& t, const std::string& f, const char* n) { return t.Create(f.c_str(), n, 6, 5) > 0; }
bool DecodesWithKey(CTile*, SDL_Surface* s, uint32_t key) {
    TileFields f;
    f.colorkey = key;
    const auto bytes = TileBytes(s, f);
    TilePayload p;
    return CTile::DecodePayload(bytes.data(), bytes.size(), p);
}
bool DecodesWithKey(CSprite*, SDL_Surface* s, uint32_t key) {
    const auto bytes = SpriteBytes(s, 2, 1, {{2}, {2}}, key, 255);
    SpritePayload p;
    return CSprite::DecodePayload(bytes.data(), bytes.size(), p);
}
template <class T>
class GraphicCreate : public ::testing::Test {
protected:
    LogCapture cap;
    TempDir dir;
};
using GraphicKinds = ::testing::Types<CTile, CSprite>;
TYPED_TEST_SUITE(GraphicCreate, GraphicKinds);
}  // namespace

TYPED_TEST(GraphicCreate, InvalidCreateReplacesTheSurface) {
    SurfacePtr s(Pattern(6, 5, 24));
    {
        TypeParam early;
        EXPECT_FALSE(Make(early, s.get(), "t"));
        EXPECT_FALSE(Make(early, std::string("x.bmp"), "t"));
        EXPECT_TRUE(Contains(this->cap.Take(), "Error: Trovalis was not initialized."));
    }
    SdkSession sdk;
    TypeParam a, t;
    EXPECT_FALSE(Make(a, s.get(), k32));
    EXPECT_TRUE(Contains(this->cap.Take(), " name is longer than 31 characters.\n"));
    EXPECT_EQ(a.GetSurface(), nullptr);
    ASSERT_TRUE(Make(t, s.get(), k31));
    SDL_Surface* first = t.GetSurface();
    EXPECT_FALSE(Make(t, s.get(), "second"));
    EXPECT_TRUE(Contains(this->cap.Take(), " already exists. It is not possible to create another one.\n"));
    EXPECT_EQ(t.GetSurface(), first);
    t.SetName(k32);
    EXPECT_STREQ(t.GetName(), k31);
}

// A colorkey field of 0 without SDL_SRCCOLORKEY is no key (black must not
// turn transparent, and the surface says "none" the usual way); an alpha
// channel is per-pixel alpha (256); per-surface alpha 0 stays 0 (per-pixel
// would change on the next Load).
TYPED_TEST(GraphicCreate, ReportedBlendingDiffersFromTheSurface) {
    SdkSession sdk;
    SurfacePtr keyed(Pattern(8, 8, 24)), plain(Pattern(8, 8, 24)), clear(Pattern(8, 8, 24));
    SurfacePtr rgba(Pattern(8, 8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    SDL_SetAlpha(keyed.get(), SDL_SRCALPHA, 100);
    SDL_SetColorKey(keyed.get(), SDL_SRCCOLORKEY, 9);
    SDL_SetAlpha(clear.get(), SDL_SRCALPHA, 0);
    ASSERT_EQ(plain->format->colorkey, 0u);
    const struct {
        SDL_Surface* s;
        int alpha;
        uint32_t key;
    } rows[] = {{keyed.get(), 100, 9},
                {plain.get(), 255, kNoColorKey},
                {rgba.get(), 256, kNoColorKey},
                {clear.get(), 0, kNoColorKey}};
    for (const auto& row : rows) {
        TypeParam t;
        ASSERT_TRUE(Make(t, row.s, "g"));
        EXPECT_EQ(t.GetAlpha(), row.alpha);
        EXPECT_EQ(t.GetColorKey(), row.key);
        EXPECT_EQ(bool(t.GetSurface()->flags & SDL_SRCCOLORKEY), row.key != kNoColorKey);
        if (row.key == kNoColorKey) {
            EXPECT_EQ(t.GetSurface()->format->colorkey, kNoColorKey);
        }
    }
}

TYPED_TEST(GraphicCreate, CreateFromFileLeavesTheDisplaySwitchChanged) {
    SdkSession sdk;
    SurfacePtr s(Pattern(6, 5, 24));
    const std::string bmp = this->dir / "t.bmp";
    ASSERT_EQ(SDL_SaveBMP(s.get(), bmp.c_str()), 0);
    Trovalis.autoDisplayConversion = 1;
    TypeParam t, u;
    ASSERT_TRUE(Make(t, bmp, "fromfile"));
    EXPECT_EQ(Trovalis.autoDisplayConversion, 1);
    EXPECT_TRUE(SamePixels(t.GetSurface(), s.get()));
    EXPECT_EQ(t.GetColorKey(), kNoColorKey);  // a BMP brings none
    EXPECT_EQ(t.GetSurface()->format->colorkey, kNoColorKey);
    this->cap.Take();
    EXPECT_FALSE(Make(u, this->dir / "missing.png", "m"));
    EXPECT_TRUE(Contains(this->cap.Take(), "','m')] Error: it was not possible to load the given image file.\n"));
}

// Colour keys that are no palette entry (found by fuzzing: SDL looks the key
// of a paletted surface up in its palette, unchecked, when it converts the
// surface or decodes the key; tests/data/fuzz/package3).
TYPED_TEST(GraphicCreate, PaletteKeyOutsideThePaletteIsRefusedEverywhere) {
    SdkSession sdk;
    SurfacePtr s = MakePaletted(4, 2);
    TypeParam t, bad;
    ASSERT_TRUE(Make(t, s.get(), "pal"));
    t.SetColorKey(7);
    t.SetColorKey(300);
    EXPECT_EQ(t.GetColorKey(), 7u);
    EXPECT_FALSE(DecodesWithKey(static_cast<TypeParam*>(nullptr), s.get(), 256));
    EXPECT_TRUE(DecodesWithKey(static_cast<TypeParam*>(nullptr), s.get(), 255));
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, 2000000000u);
    EXPECT_FALSE(Make(bad, s.get(), "bad"));
    EXPECT_TRUE(Contains(this->cap.Take(), "Error: the colour key is not an entry of the surface's palette.\n"));
}

// Setters

TEST(TileSetters, OutOfRangeAlphaOrKeyIsTaken) {
    SdkSession sdk;
    SurfacePtr s(Pattern(4, 4, 24));
    CTile t;
    ASSERT_TRUE(t.Create(s.get(), "a"));
    t.SetAlpha(300);
    t.SetAlpha(-1);
    EXPECT_EQ(t.GetAlpha(), 255);
    EXPECT_FALSE(t.GetSurface()->flags & SDL_SRCALPHA);
    t.SetAlpha(128);
    t.SetAlpha(255);  // switches blending off
    EXPECT_FALSE(t.GetSurface()->flags & SDL_SRCALPHA);
    t.SetColorKey(3);
    t.SetColorKey(kNoColorKey);
    EXPECT_FALSE(t.GetSurface()->flags & SDL_SRCCOLORKEY);
    // SDL itself leaves 0 here, which readers would take for a black key.
    EXPECT_EQ(t.GetSurface()->format->colorkey, kNoColorKey);

    // A per-pixel tile ignores both.
    SurfacePtr rgba(Pattern(4, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    CTile u;
    ASSERT_TRUE(u.Create(rgba.get(), "pp"));
    u.SetAlpha(10);
    u.SetColorKey(3);
    EXPECT_EQ(std::make_tuple(u.GetAlpha(), u.GetColorKey()), std::make_tuple(256, kNoColorKey));
}

TEST(TileSetters, TilesetOffsetsBelowOneCountAsOneSoNothingDividesByZero) {
    SdkSession sdk;
    SurfacePtr s(Pattern(64, 20, 24));
    CTile t;
    ASSERT_TRUE(t.Create(s.get(), "ts"));
    int w = 0, h = 0;
    EXPECT_TRUE(t.SetTileset(1, -2147483647 - 1, -7));
    EXPECT_EQ(std::make_tuple(t.GetTileset(&w, &h), w, h), std::make_tuple(1, 1, 1));
    EXPECT_FALSE(t.SetTileset(0, 8, 8));
    EXPECT_EQ(std::make_tuple(t.GetTileset(&w, &h), w, h), std::make_tuple(0, 64, 20));
}

// Blocks

using TileBlock = PackageTest;

TEST_F(TileBlock, Version1UpgradeRefusedByThePackageFailsTheLoad) {
    SurfacePtr s(Pattern(8, 4, 24));
    const auto old = TileBytes(s.get(), TileFields{}, true);
    ASSERT_GT(Put("TILE", "old", old), 0);
    g_pStuffVLT->Close(id);
    id = g_pStuffVLT->OpenForReading((dir / "test.vlt").c_str());
    ASSERT_GT(id, 0);
    LogCapture cap;
    CTile t;
    EXPECT_FALSE(t.Load(id, "old", "TILE2"));
    EXPECT_TRUE(Contains(cap.Take(), "','old','TILE2')] Error: update to v2.0 was not possible.\n"));
    EXPECT_EQ(Get("TILE", "old"), old);
}

TEST_F(TileBlock, Version1KeyZeroMadeBlackTransparent) {
    SurfacePtr s(Pattern(64, 32, 24));
    TileFields f;
    f.colorkey = 0;
    f.tileset = 1;
    f.xoffset = 16;
    ASSERT_GT(Put("TILE", "ts", TileBytes(s.get(), f, true)), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "ts", "TILE2"));
    int w = 0, h = 0;
    const int tileset = t.GetTileset(&w, &h);
    EXPECT_EQ(std::make_tuple(t.GetColorKey(), t.GetSurface()->flags & SDL_SRCCOLORKEY,
                              t.GetSurface()->format->colorkey, tileset, w, h),
              std::make_tuple(kNoColorKey, 0u, kNoColorKey, 1, 16, 16));
}

TEST_F(TileBlock, StoredTilesetFlagWithBothOffsetsZeroLoadsWithTilesetOff) {
    SurfacePtr s(Pattern(8, 8, 24));
    TileFields f;
    f.tileset = 1;
    ASSERT_GT(Put("TILE2", "z", TileBytes(s.get(), f)), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "z", "TILE2"));
    EXPECT_EQ(t.GetTileset(nullptr, nullptr), 0);
}

TEST_F(TileBlock, OpaqueTileKeepsAnUnusedAlphaChannel) {
    SurfacePtr opaque(Pattern(5, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0));
    ASSERT_GT(Put("TILE2", "o", TileBytes(opaque.get(), TileFields{})), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "o", "TILE2"));
    EXPECT_EQ(std::make_tuple(int(t.GetSurface()->format->BitsPerPixel), t.GetAlpha()), std::make_tuple(24, 255));

    SurfacePtr rgba(Pattern(5, 3, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    ASSERT_GT(Put("TILE2", "a", TileBytes(rgba.get(), TileFields{})), 0);
    CTile u;
    ASSERT_TRUE(u.Load(id, "a", "TILE2"));
    EXPECT_EQ(std::make_tuple(int(u.GetSurface()->format->BitsPerPixel), u.GetAlpha()), std::make_tuple(32, 256));
    EXPECT_TRUE(SamePixels(u.GetSurface(), rgba.get()));
}

TEST_F(TileBlock, PalettedKeyStaysOnItsIndexWhenThePaletteRepeatsTheColour) {
    SurfacePtr s = MakePaletted(4, 4);
    SDL_Color black{0, 0, 0, 0};
    SDL_SetColors(s.get(), &black, 0, 1);
    SDL_SetColors(s.get(), &black, 7, 1);
    TileFields f;
    f.colorkey = 7;
    ASSERT_GT(Put("TILE2", "p", TileBytes(s.get(), f)), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "p", "TILE2"));
    EXPECT_EQ(t.GetColorKey(), 7u);
    EXPECT_EQ(t.GetSurface()->format->colorkey, 7u);
}

// Damaged blocks stay in the package as they were; nothing is upgraded.
TEST_F(TileBlock, RefusedBlockGoesUnexplained) {
    SurfacePtr s(Pattern(8, 8, 24));
    auto longer = TileBytes(s.get(), TileFields{});
    longer.insert(longer.begin() + 64, 4, 0);
    auto shorter = TileBytes(s.get(), TileFields{});
    shorter.erase(shorter.begin() + 64, shorter.begin() + 68);
    auto old = TileBytes(s.get(), TileFields{}, true);
    old.resize(old.size() - 10);
    ASSERT_GT(Put("TILE2", "long", longer), 0);
    ASSERT_GT(Put("TILE2", "short", shorter), 0);
    ASSERT_GT(Put("TILE", "bad", old), 0);
    const struct Case {
        int package;
        const char* name;
        const char* type;
        const char* message;
    } cases[] = {
        {id, "x", "SPR2", "','x','SPR2')] Error: the typeblock is not supported.\n"},
        // Seven characters would need an eighth for the "2" and its terminator.
        {id, "x", "TILEABC", "Error: the typeblock is not supported.\n"},
        {id, "x", "TILEABCDEFGHIJKLMNOP2", "Error: the typeblock is not supported.\n"},
        {id, "none", "TILE2", "','none','TILE2')] Error: tile not found.\n"},
        {id, k32, "TILE2", "Error: the tile name is longer than 31 characters.\n"},
        {0, "none", "TILE2", ""},
        {id, "long", "TILE2", "','long','TILE2')] Error: the tile block is damaged.\n"},
        {id, "short", "TILE2", "Error: the tile block is damaged.\n"},
        {id, "bad", "TILE2", "Error: the tile block is damaged.\n"},
    };
    LogCapture cap;
    for (const Case& c : cases) {
        CTile t;
        EXPECT_FALSE(t.Load(c.package, c.name, c.type)) << c.name;
        const std::string log = cap.Take();
        EXPECT_TRUE(*c.message ? Contains(log, c.message) : log.empty()) << c.name << ": " << log;
        EXPECT_EQ(t.GetSurface(), nullptr);
    }
    EXPECT_EQ(Get("TILE", "bad"), old);
    EXPECT_TRUE(Get("TILE2", "bad").empty());
}
