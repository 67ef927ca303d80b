// Each block payload decoder on its own, without a package, so that the
// fuzzer need not get past the checksum and the compression first. The first
// input byte picks the block type by its input code in the kind registry
// (modulo their count: IMG, TILE2, TILE, TILB2, SPR2, SPR, FONT2, FONT, BUT);
// the rest is the payload, judged by the type's verifier and decoded further
// where the class has more to decode.
#include <cstdint>
#include <string>
#include <vector>

#include <SDL.h>

#include "FuzzSupport.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/Kinds.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

// The records of a tile payload, upgraded first when it has the older layout.
void Tile(const uint8_t* data, size_t size, bool version1) {
    TilePayload p;
    std::vector<uint8_t> up;
    if (!version1)
        CTile::DecodePayload(data, size, p);
    else if (CTile::UpgradePayload(data, size, up))
        CTile::DecodePayload(up.data(), up.size(), p);
}

void Sprite(const uint8_t* data, size_t size, bool version1) {
    SpritePayload p;
    std::vector<uint8_t> up;
    if (!version1)
        CSprite::DecodePayload(data, size, p);
    else if (CSprite::UpgradePayload(data, size, up))
        CSprite::DecodePayload(up.data(), up.size(), p);
}

// A decoded font is also measured and drawn.
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
    bool older = false;
    const kinds::KindRow* row = kinds::ByInputCode(data[0] % kinds::InputCodes(), &older);
    ++data;
    --size;
    if (!row || !row->verify) return 0;
    std::string why;
    row->verify(data, size, older, why);
    switch (row->kind) {
        case kinds::Kind::Tile:
        case kinds::Kind::StateImage: Tile(data, size, older); break;
        case kinds::Kind::Sprite: Sprite(data, size, older); break;
        case kinds::Kind::Font: Font(data, size, older); break;
        default: break;
    }
    return 0;
}
