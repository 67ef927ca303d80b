// The tile, sprite and font payload decoders without a package: per kind,
// valid payloads of every depth decode, and characteristic damages (cut
// short, sizes that disagree with the bytes present, the regression files in
// tests/data/tiles, sprites and fonts) are refused without a fault. Random
// damage is the fuzz replays' part (tests/fuzz/corpus/payload); under the
// sanitizer build both catch any read or write past a buffer.
#include "Support.h"
#include "core/Endian.h"
#include "resources/Font.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

using namespace testsupport;

namespace {

std::vector<uint8_t> DataFile(const std::string& name) { return ReadFile(SourceDir() + "/tests/data/" + name); }

std::vector<uint8_t> Cut(std::vector<uint8_t> b, size_t n) {
    b.resize(b.size() > n ? b.size() - n : 0);
    return b;
}

std::vector<uint8_t> With32(std::vector<uint8_t> b, size_t at, uint32_t v) {
    StoreLE32(b.data() + at, v);
    return b;
}

std::vector<uint8_t> With8(std::vector<uint8_t> b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
}

// A "FONT2" payload of a bitmap with one-column glyphs.
std::vector<uint8_t> FontBytes() {
    FontLayout l;
    l.ink = 1;
    l.height = 3;
    SurfacePtr bmp = MakeFontBitmap(l);
    std::vector<uint8_t> p(CFont::kHeaderSize);
    StoreLE32(p.data(), uint32_t(bmp->w));
    StoreLE32(p.data() + 4, uint32_t(bmp->h));
    p[12] = 32;
    p[13] = 4;
    StoreLE32(p.data() + 24, 0x00FF0000);
    StoreLE32(p.data() + 28, 0x0000FF00);
    StoreLE32(p.data() + 32, 0x000000FF);
    StoreLE32(p.data() + 40, kNoColorKey);
    p[44] = 255;
    const size_t area = size_t(bmp->pitch) * bmp->h;
    p.resize(CFont::kHeaderSize + area + CFont::kTailSize, 0);
    std::memcpy(p.data() + CFont::kHeaderSize, bmp->pixels, area);
    return p;
}

bool Decodes(const std::string& kind, const std::vector<uint8_t>& bytes) {
    // An exact copy, so that the sanitizer sees any read past the end.
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    const bool v1 = kind == "TILE" || kind == "SPR" || kind == "FONT";
    SDL_Surface* s = nullptr;
    if (kind.rfind("TILE", 0) == 0) s = CTile::DecodeSurface(copy.get(), bytes.size(), v1);
    if (kind.rfind("SPR", 0) == 0) s = CSprite::DecodeSurface(copy.get(), bytes.size(), v1);
    if (s) SDL_FreeSurface(s);
    if (kind.rfind("FONT", 0) != 0) return s != nullptr;
    CFont font;
    const bool created = font.CreateFromPayload(copy.get(), bytes.size(), v1) == CFont::kCreated;
    EXPECT_EQ(font.GetSurface() != nullptr, created);
    return created;
}

}  // namespace

TEST(PayloadDecode, ValidPayloadsDecodeAndDamagedOnesAreRefusedWithoutFault) {
    SdkSession sdk;
    SurfacePtr paletted(Pattern(5, 3, 8)), rgba(Pattern(3, 2, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
        rgb(Pattern(7, 2, 24)), sheet8(Pattern(6, 4, 8)),
        sheet32(Pattern(4, 6, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)), sheet24(Pattern(5, 2, 24));
    TileFields f;
    f.tileset = 1;
    f.xoffset = 2;
    f.yoffset = 1;
    const auto tile = TileBytes(rgb.get(), f), oldTile = TileBytes(rgb.get(), f, true);
    auto sprite8 = [&](bool v1) { return SpriteBytes(sheet8.get(), 3, 2, {{2}, {1}}, 3, 255, v1); };
    const auto spr = SpriteBytes(sheet24.get(), 5, 1, {{1}, {1}}, 0, 40);
    const auto oldSpr = SpriteBytes(sheet24.get(), 5, 1, {{1}, {1}}, 0, 40, true);
    const auto font = FontBytes();
    const auto widthZero = DataFile("sprites/SpriteDecode.RejectsFrameWidthZero.spr2");
    ASSERT_FALSE(widthZero.empty());
    const struct {
        const char* what;
        const char* kind;
        std::vector<uint8_t> bytes;
        bool decodes;
    } rows[] = {
        {"8-bit tile", "TILE2", TileBytes(paletted.get(), f), true},
        {"32-bit tile", "TILE2", TileBytes(rgba.get(), f), true},
        {"24-bit tile", "TILE2", tile, true},
        {"8-bit 1.0 tile", "TILE", TileBytes(paletted.get(), f, true), true},
        {"32-bit 1.0 tile", "TILE", TileBytes(rgba.get(), f, true), true},
        {"24-bit 1.0 tile", "TILE", oldTile, true},
        {"tile one byte short", "TILE2", Cut(tile, 1), false},
        {"tile header alone", "TILE2", Cut(tile, tile.size() - 64), false},
        {"1.0 tile one byte short", "TILE", Cut(oldTile, 1), false},
        {"1.0 tile cut inside its header", "TILE", Cut(oldTile, oldTile.size() - 63), false},
        {"tile one row taller than its pixels", "TILE2", With32(tile, 4, 3), false},
        {"tile pixel area wrapping in 32 bits", "TILE2",
         DataFile("tiles/TileDecode.RejectsPixelAreaThatWrapsIn32Bits.tile2"), false},
        {"tile palette cut short", "TILE2", DataFile("tiles/TileDecode.RejectsPaletteCutShort.tile2"), false},
        {"1.0 tile header without pixels", "TILE", DataFile("tiles/TileDecode.RejectsVersion1HeaderWithoutPixels.tile"),
         false},
        {"8-bit sprite", "SPR2", sprite8(false), true},
        {"32-bit sprite", "SPR2", SpriteBytes(sheet32.get(), 2, 2, {{0}, {2}, {1}}, kNoColorKey, 255), true},
        {"24-bit sprite", "SPR2", spr, true},
        {"8-bit old sprite", "SPR", sprite8(true), true},
        {"24-bit old sprite", "SPR", oldSpr, true},
        {"sprite one byte short", "SPR2", Cut(spr, 1), false},
        {"sprite cut inside its table", "SPR2", Cut(spr, spr.size() - 30), false},
        {"old sprite one byte short", "SPR", Cut(oldSpr, 1), false},
        {"old sprite cut inside its table", "SPR", Cut(oldSpr, oldSpr.size() - 30), false},
        {"sprite with frame width 0", "SPR2", widthZero, false},
        {"the same sprite with frame width 4", "SPR2", With32(widthZero, 0, 4), true},
        {"sprite frame table past its end", "SPR2",
         DataFile("sprites/SpriteDecode.RejectsFrameTablePastPayloadEnd.spr2"), false},
        {"sprite animation count beyond its bytes", "SPR2",
         DataFile("sprites/SpriteDecode.RejectsAnimationCountLargerThanPayload.spr2"), false},
        {"old sprite table past its end", "SPR", DataFile("sprites/SpriteUpgrade.RejectsOldTablePastPayloadEnd.spr"),
         false},
        {"font", "FONT2", font, true},
        {"1.0 font", "FONT", Cut(font, CFont::kTailSize), true},
        {"1.0 font read as 2.0", "FONT2", Cut(font, CFont::kTailSize), false},
        {"font one byte short", "FONT2", Cut(font, 1), false},
        {"font header alone", "FONT2", Cut(font, font.size() - CFont::kHeaderSize), false},
        {"font of width 0", "FONT2", With32(font, 0, 0), false},
        {"font one column wider than its pixels", "FONT2", With32(font, 0, LoadLE32(font.data()) + 1), false},
        {"font of huge width", "FONT2", With32(font, 0, 0xFFFFFFFF), false},
        {"font taller than its payload", "FONT2", With32(font, 4, 0x7FFFFFFF), false},
        {"font of depth 12", "FONT2", With8(font, 12, 12), false},
        {"font of depth 0", "FONT2", With8(font, 12, 0), false},
        {"font whose bytes per pixel miss its depth", "FONT2", With8(font, 13, 3), false},
        {"font pixel area shorter than its header says", "FONT2", DataFile("fonts/pixel_area_shorter_than_header.bin"),
         false},
        {"font of huge dimensions", "FONT2", DataFile("fonts/huge_dimensions.bin"), false},
        {"font masks beyond a 24-bit pixel", "FONT2", DataFile("fonts/masks_beyond_24bit_pixel.bin"), false},
    };
    LogCapture quiet;
    for (const auto& row : rows) {
        ASSERT_FALSE(row.bytes.empty()) << row.what;
        EXPECT_EQ(Decodes(row.kind, row.bytes), row.decodes) << row.what;
    }
    std::vector<uint8_t> up;
    EXPECT_FALSE(CTile::UpgradePayload(oldTile.data(), 63, up));
    FontPayload none;
    EXPECT_FALSE(CFont::DecodePayload(nullptr, 500, false, none));
}
