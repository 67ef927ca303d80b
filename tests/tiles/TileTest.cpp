// CTile: creation, the setters' limits, block round trips and the upgrade of
// 1.0 blocks inside a package.

#include "Support.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"
#include "resources/Tile.h"

using namespace testsupport;

namespace {

const char* k31 = "abcdefghijklmnopqrstuvwxyz01234";
const char* k32 = "abcdefghijklmnopqrstuvwxyz012345";
}  // namespace

TEST(TileCreate, RefusesBeforeInitWithItsMessage) {
    LogCapture cap;
    SurfacePtr s(Pattern(4, 4, 24));
    CTile t;
    EXPECT_FALSE(t.Create(s.get(), "t"));
    EXPECT_FALSE(t.Create("x.bmp", "t"));
    EXPECT_EQ(Count(cap.Take(), "] Error: Trovalis was not initialized. Aborting the tile creation.\n"), 2);
}

TEST(TileCreate, SecondCreateAndNamesOf32CharactersAreRefusedLeavingWhatWasThere) {
    SdkSession sdk;
    LogCapture cap;
    SurfacePtr s(Pattern(4, 4, 24));
    CTile a, t;
    EXPECT_FALSE(a.Create(s.get(), k32));
    EXPECT_TRUE(Contains(cap.Take(), "Error: the tile name is longer than 31 characters.\n"));
    EXPECT_EQ(a.GetSurface(), nullptr);
    ASSERT_TRUE(t.Create(s.get(), k31));
    SDL_Surface* first = t.GetSurface();
    EXPECT_FALSE(t.Create(s.get(), "second"));
    EXPECT_TRUE(Contains(cap.Take(), "Warning: tile already exists. It is not possible to create another one.\n"));
    EXPECT_EQ(t.GetSurface(), first);
    EXPECT_STREQ(t.GetName(), k31);
    t.SetName(k32);
    EXPECT_STREQ(t.GetName(), k31);
    t.SetName("new");
    EXPECT_STREQ(t.GetName(), "new");
}

TEST(TileCreate, RecordsAlphaAndKeyTheSurfaceActuallyUses) {
    SdkSession sdk;
    SurfacePtr keyed(Pattern(8, 8, 24));
    SDL_SetAlpha(keyed.get(), SDL_SRCALPHA, 100);
    SDL_SetColorKey(keyed.get(), SDL_SRCCOLORKEY, 9);
    CTile t;
    ASSERT_TRUE(t.Create(keyed.get(), "k"));
    EXPECT_EQ(t.GetAlpha(), 100);
    EXPECT_EQ(t.GetColorKey(), 9u);

    // A colorkey field of 0 without SDL_SRCCOLORKEY is no key: the tile must
    // not make black transparent, and its surface says "none" the usual way.
    SurfacePtr plain(Pattern(8, 8, 24));
    ASSERT_EQ(plain->format->colorkey, 0u);
    CTile u;
    ASSERT_TRUE(u.Create(plain.get(), "p"));
    EXPECT_EQ(u.GetAlpha(), 255);
    EXPECT_EQ(u.GetColorKey(), kNoColorKey);
    EXPECT_EQ(u.GetSurface()->format->colorkey, kNoColorKey);
    EXPECT_FALSE(u.GetSurface()->flags & SDL_SRCCOLORKEY);

    // An alpha channel is per-pixel alpha (256); per-surface alpha 0 is not.
    SurfacePtr rgba(Pattern(8, 8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    CTile a;
    ASSERT_TRUE(a.Create(rgba.get(), "a"));
    EXPECT_EQ(a.GetAlpha(), 256);
    EXPECT_TRUE(IImage::HasAlphaChannel(a.GetSurface()));

    SurfacePtr clear(Pattern(8, 8, 24));
    SDL_SetAlpha(clear.get(), SDL_SRCALPHA, 0);
    CTile b;
    ASSERT_TRUE(b.Create(clear.get(), "b"));
    EXPECT_EQ(b.GetAlpha(), 0);
}

TEST(TileCreate, FromFileRestoresTheDisplayConversionSwitchAndReportsUnreadableFiles) {
    SdkSession sdk;
    TempDir dir;
    LogCapture cap;
    SurfacePtr s(Pattern(6, 5, 24));
    const std::string bmp = dir / "t.bmp";
    ASSERT_EQ(SDL_SaveBMP(s.get(), bmp.c_str()), 0);
    Trovalis.autoDisplayConversion = 1;
    CTile t;
    ASSERT_TRUE(t.Create(bmp.c_str(), "fromfile"));
    EXPECT_EQ(Trovalis.autoDisplayConversion, 1);
    EXPECT_EQ(t.GetSurface()->w, 6);
    EXPECT_TRUE(SamePixels(t.GetSurface(), s.get()));

    const std::string missing = dir / "missing.png";
    CTile u;
    cap.Take();
    EXPECT_FALSE(u.Create(missing.c_str(), "m"));
    EXPECT_EQ(cap.Take(),
              " . [CTile::Create('" + missing + "','m')] Error: it was not possible to load the given image file.\n");
}

// ---------------------------------------------------------------------------
// Setters

TEST(TileSetters, AlphaOutsideByteRangeIsIgnoredAndNoKeyLeavesTheNoKeyValueInTheSurface) {
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
    EXPECT_EQ(u.GetAlpha(), 256);
    EXPECT_EQ(u.GetColorKey(), kNoColorKey);
}

TEST(TileSetters, TilesetOffsetsBelowOneCountAsOneSoNothingDividesByZero) {
    SdkSession sdk;
    SurfacePtr s(Pattern(64, 20, 24));
    CTile t;
    ASSERT_TRUE(t.Create(s.get(), "ts"));
    int w = 0, h = 0;
    EXPECT_TRUE(t.SetTileset(1, -2147483647 - 1, -7));
    EXPECT_EQ(t.GetTileset(&w, &h), 1);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    EXPECT_FALSE(t.SetTileset(0, 8, 8));
    EXPECT_EQ(t.GetTileset(&w, &h), 0);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 20);
}

// ---------------------------------------------------------------------------
// Blocks

using TileBlock = PackageTest;

TEST_F(TileBlock, SaveAndLoadKeepPixelsPaletteAlphaKeyPositionAndTileset) {
    SurfacePtr s = MakePaletted(10, 6);  // pitch 12: rows are padded
    CTile t;
    ASSERT_TRUE(t.Create(s.get(), "round"));
    t.SetAlpha(128);
    t.SetColorKey(5);
    t.SetPosition(-3, 70000);
    t.SetTileset(1, 5, 3);
    ASSERT_GT(t.Save(id, "TILE2"), 0);
    EXPECT_EQ(Get("TILE2", "round").size(), 12u * 6 + 1024 + 128);

    CTile u;
    ASSERT_TRUE(u.Load(id, "round", "TILE2"));
    SDL_Surface* l = u.GetSurface();
    EXPECT_EQ(l->format->BitsPerPixel, 8);
    EXPECT_TRUE(SamePixels(l, s.get()));
    EXPECT_EQ(l->format->palette->colors[200].g, 55);
    EXPECT_EQ(u.GetAlpha(), 128);
    EXPECT_EQ(u.GetColorKey(), 5u);
    EXPECT_EQ(l->format->colorkey, 5u);
    EXPECT_EQ(u.GetPositionX(), -3);
    EXPECT_EQ(u.GetPositionY(), 70000);
    int w = 0, h = 0;
    EXPECT_EQ(u.GetTileset(&w, &h), 1);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    EXPECT_STREQ(u.GetName(), "round");
    // The 1.0 type finds the 2.0 block, with nothing to upgrade.
    LogCapture cap;
    CTile v;
    EXPECT_TRUE(v.Load(id, "round", "TILE"));
    EXPECT_FALSE(Contains(cap.Take(), "updated"));
}

TEST_F(TileBlock, Version1BlockIsUpgradedInThePackageOnce) {
    SurfacePtr s(Pattern(8, 4, 24));
    const auto old = TileBytes(s.get(), TileFields{}, true);
    ASSERT_GT(Put("TILE", "old", old), 0);
    LogCapture cap;
    CTile t;
    ASSERT_TRUE(t.Load(id, "old", "TILE2"));
    EXPECT_TRUE(Contains(cap.Take(), " . [CTile::Load('" + std::string(g_pStuffVLT->GetName(id)) +
                                         "','old','TILE2')] Info: tile successfully updated from v1.0 to v2.0.\n"));
    EXPECT_EQ(Get("TILE2", "old").size(), old.size() + 64);
    EXPECT_TRUE(Get("TILE", "old").empty());
    EXPECT_TRUE(SamePixels(t.GetSurface(), s.get()));

    CTile again;
    ASSERT_TRUE(again.Load(id, "old", "TILE2"));
    EXPECT_FALSE(Contains(cap.Take(), "updated"));

    // Button images upgrade under their own types.
    ASSERT_GT(Put("TILB", "b", old), 0);
    CTile b;
    ASSERT_TRUE(b.Load(id, "b", "TILB"));
    EXPECT_FALSE(Get("TILB2", "b").empty());
    EXPECT_TRUE(Get("TILE2", "b").empty());
}

TEST_F(TileBlock, Version1KeyZeroMeansNoneAndItsOffsetServesBothDirections) {
    SurfacePtr s(Pattern(64, 32, 24));
    TileFields f;
    f.colorkey = 0;
    f.tileset = 1;
    f.xoffset = 16;
    ASSERT_GT(Put("TILE", "ts", TileBytes(s.get(), f, true)), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "ts", "TILE2"));
    EXPECT_EQ(t.GetColorKey(), kNoColorKey);
    EXPECT_FALSE(t.GetSurface()->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(t.GetSurface()->format->colorkey, kNoColorKey);
    int w = 0, h = 0;
    EXPECT_EQ(t.GetTileset(&w, &h), 1);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
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

TEST_F(TileBlock, Opaque32BitTileLoadsAs24BitAndAlphaChannelStaysPerPixel) {
    SurfacePtr opaque(Pattern(5, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0));
    ASSERT_GT(Put("TILE2", "o", TileBytes(opaque.get(), TileFields{})), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "o", "TILE2"));
    EXPECT_EQ(t.GetSurface()->format->BitsPerPixel, 24);
    EXPECT_EQ(t.GetAlpha(), 255);

    SurfacePtr rgba(Pattern(5, 3, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    ASSERT_GT(Put("TILE2", "a", TileBytes(rgba.get(), TileFields{})), 0);
    CTile u;
    ASSERT_TRUE(u.Load(id, "a", "TILE2"));
    EXPECT_EQ(u.GetSurface()->format->BitsPerPixel, 32);
    EXPECT_EQ(u.GetAlpha(), 256);
    EXPECT_TRUE(SamePixels(u.GetSurface(), rgba.get()));
}

TEST_F(TileBlock, KeyOfReducedTileKeepsItsColourWhateverTheStoredChannelOrder) {
    // Stored as 32 bits with red in the low byte; the 24-bit surface puts red
    // in the high byte. The key must still select the pure red pixels.
    SurfacePtr s(Pattern(4, 2, 32, 0xFF, 0xFF00, 0xFF0000, 0));
    TileFields f;
    f.colorkey = 0x000000FF;  // pure red in the stored format
    ASSERT_GT(Put("TILE2", "red", TileBytes(s.get(), f)), 0);
    CTile t;
    ASSERT_TRUE(t.Load(id, "red", "TILE2"));
    SDL_Surface* l = t.GetSurface();
    ASSERT_EQ(l->format->BitsPerPixel, 24);
    Uint8 r = 0, g = 0, b = 0;
    SDL_GetRGB(t.GetColorKey(), l->format, &r, &g, &b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(l->format->colorkey, t.GetColorKey());
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
TEST_F(TileBlock, RefusalsOfTypesNamesAndDamagedBlocksNameTheirCause) {
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

// ---------------------------------------------------------------------------
// Colour keys that are no palette entry (found by fuzzing: SDL looks the key
// of a paletted surface up in its palette, unchecked, when it converts the
// surface or decodes the key; tests/data/fuzz/package3).

TEST(TilePaletteKey, KeyOutsideThePaletteIsRefusedEverywhere) {
    SdkSession sdk;
    LogCapture cap;
    SurfacePtr s = MakePaletted(5, 3);
    CTile t;
    ASSERT_TRUE(t.Create(s.get(), "pal"));
    t.SetColorKey(255);
    t.SetColorKey(256);
    EXPECT_EQ(t.GetColorKey(), 255u);

    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, 2000000000u);
    CTile u;
    EXPECT_FALSE(u.Create(s.get(), "bad"));
    EXPECT_TRUE(Contains(cap.Take(), "Error: the colour key is not an entry of the surface's palette.\n"));

    TileFields f;
    f.colorkey = 256;
    const auto bytes = TileBytes(s.get(), f);
    TilePayload p;
    EXPECT_FALSE(CTile::DecodePayload(bytes.data(), bytes.size(), p));
    f.colorkey = 255;
    const auto fits = TileBytes(s.get(), f);
    EXPECT_TRUE(CTile::DecodePayload(fits.data(), fits.size(), p));
}
