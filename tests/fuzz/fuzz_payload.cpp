// Each block payload decoder on its own, without a package, so that the
// fuzzer need not get past the checksum and the compression first. The first
// input byte picks the block type (modulo 9: IMG, TILE2, TILE, TILB2, SPR2,
// SPR, FONT2, FONT, BUT); the rest is the payload.
#include <cstdint>
#include <vector>

#include <SDL.h>

#include "FuzzSupport.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

enum Kind { kImg, kTile2, kTile, kTilb2, kSpr2, kSpr, kFont2, kFont, kBut, kKinds };

void FreeSurface(SDL_Surface* s) {
    if (s) SDL_FreeSurface(s);
}

void Image(const uint8_t* data, size_t size) {
    PixelFormatRecord rec;
    FreeSurface(IImage::DecodePayload(data, size, &rec));
}

void Tile(const uint8_t* data, size_t size, bool version1) {
    if (version1) {
        std::vector<uint8_t> up;
        if (CTile::UpgradePayload(data, size, up)) {
            TilePayload p;
            CTile::DecodePayload(up.data(), up.size(), p);
        }
    } else {
        TilePayload p;
        CTile::DecodePayload(data, size, p);
    }
    FreeSurface(CTile::DecodeSurface(data, size, version1));
}

void Sprite(const uint8_t* data, size_t size, bool version1) {
    if (version1) {
        std::vector<uint8_t> up;
        if (CSprite::UpgradePayload(data, size, up)) {
            SpritePayload p;
            CSprite::DecodePayload(up.data(), up.size(), p);
        }
    } else {
        SpritePayload p;
        CSprite::DecodePayload(data, size, p);
    }
    FreeSurface(CSprite::DecodeSurface(data, size, version1));
}

// A decoded font is also measured and drawn: its glyph tables come from the
// payload's marker row.
void Font(const uint8_t* data, size_t size, bool legacy) {
    CFont font;
    if (font.CreateFromPayload(data, size, legacy) != CFont::kCreated) return;
    char text[96];
    for (int i = 0; i < 95; ++i) text[i] = static_cast<char>(32 + i);
    text[95] = 0;
    font.TextWidth(text);
    SDL_Surface* dst = SDL_CreateRGBSurface(0, 64, 16, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!dst) return;
    font.PutString(dst, -3, 2, text, nullptr);
    font.PutStringCursor(dst, 1, -1, "Ag~", 1, nullptr, true);
    SDL_FreeSurface(dst);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    if (size < 1) return 0;
    const int kind = data[0] % kKinds;
    ++data;
    --size;
    switch (kind) {
    case kImg: Image(data, size); break;
    case kTile2:
    case kTilb2: Tile(data, size, false); break;
    case kTile: Tile(data, size, true); break;
    case kSpr2: Sprite(data, size, false); break;
    case kSpr: Sprite(data, size, true); break;
    case kFont2: Font(data, size, false); break;
    case kFont: Font(data, size, true); break;
    case kBut: {
        ButtonRecord r;
        IButton::DecodePayload(data, size, r);
        break;
    }
    default: break;
    }
    return 0;
}
