// The pixel format record and pixel area of the four graphic block kinds
// go through one check: the same record and pixels are accepted or refused
// alike whether they sit in an "IMG", "TILE2", "SPR2" or "FONT2" payload.
#include <gtest/gtest.h>

#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "resources/Font.h"
#include "resources/IImage.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A 1x1 32-bit pixel area (pitch 4) behind a record with these masks,
// `cut` bytes short.
Bytes RecordAndPixels(uint32_t r, uint32_t g, uint32_t b, size_t cut) {
    Bytes v(40 + 4 - cut, 0);
    v[4] = 32;
    v[5] = 4;
    StoreLE32(&v[16], r);
    StoreLE32(&v[20], g);
    StoreLE32(&v[24], b);
    StoreLE32(&v[32], kNoColorKey);
    v[36] = 255;
    return v;
}

Bytes Join(Bytes head, const Bytes& rest, size_t tail) {
    head.insert(head.end(), rest.begin(), rest.end());
    head.resize(head.size() + tail, 0);
    return head;
}

}  // namespace

TEST(PixelRecord, EveryGraphicKindAcceptsAndRefusesTheSameRecords) {
    testsupport::SdkSession sdk;
    const Bytes side = {1, 0, 0, 0, 1, 0, 0, 0};  // width 1, height 1
    const struct {
        const char* what;
        uint32_t r, g, b;
        size_t cut;
        bool decodes;
    } rows[] = {
        {"usual masks", 0xFF0000, 0xFF00, 0xFF, 0, true},
        {"red and green masks overlap (a BMP's bit fields can say so)", 0xFF, 0xFF, 0xFF0000, 0, true},
        {"a mask wider than 8 bits", 0x3FF00000, 0xFFC00, 0x3FF, 0, true},
        {"pixel area one byte short", 0xFF0000, 0xFF00, 0xFF, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes rec = RecordAndPixels(row.r, row.g, row.b, row.cut);
        const Bytes img = Join(side, rec, 0);
        SDL_Surface* s = IImage::DecodePayload(img.data(), img.size());
        EXPECT_EQ(s != nullptr, row.decodes) << "IMG";
        SDL_FreeSurface(s);
        TilePayload tile;
        const Bytes t = Join(Join(side, Bytes(16, 0), 0), rec, CTile::kTrailerSize);
        EXPECT_EQ(CTile::DecodePayload(t.data(), t.size(), tile), row.decodes) << "TILE2";
        // Frame 1x1 on a sheet 1 wide, one animation without frames.
        const Bytes sprHead = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
        const Bytes spr = Join(Join(sprHead, Bytes(CSprite::kAnimationSize, 0), 0), rec, 0);
        SpritePayload sprite;
        EXPECT_EQ(CSprite::DecodePayload(spr.data(), spr.size(), sprite), row.decodes) << "SPR2";
        const Bytes f = Join(side, rec, CFont::kTailSize);
        FontPayload font;
        EXPECT_EQ(CFont::DecodePayload(f.data(), f.size(), false, font), row.decodes) << "FONT2";
    }
}
