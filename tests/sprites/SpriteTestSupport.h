// Helpers of the sprite tests: sheets drawn cell by cell and hand-made
// "SPR2" and "SPR" payloads.
#pragma once
#include <memory>
#include <vector>

#include "resources/Sprite.h"
#include "tiles/TileTestSupport.h"

namespace spritetest {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// Fills a cell with one colour, optionally with a dot of another colour in
// its middle (a "drawing").
inline void Cell(SDL_Surface* s, int cx, int cy, int fw, int fh, uint32_t background, bool drawn, uint32_t dot) {
    SDL_Rect r{Sint16(cx * fw), Sint16(cy * fh), Uint16(fw), Uint16(fh)};
    SDL_FillRect(s, &r, background);
    if (drawn) {
        SDL_Rect d{Sint16(cx * fw + fw / 2), Sint16(cy * fh + fh / 2), 1, 1};
        SDL_FillRect(s, &d, dot);
    }
}

struct AnimRow {
    uint16_t frames;
    uint32_t ms = 100;
};

// A sprite payload for sheet s: "SPR2", or "SPR" when version1.
inline std::vector<uint8_t> SpriteBytes(SDL_Surface* s, uint32_t fw, uint32_t fh, const std::vector<AnimRow>& anims,
                                        uint32_t colorkey, uint8_t alpha, bool version1 = false, int32_t x = 0,
                                        int32_t y = 0) {
    std::vector<uint8_t> p(24, 0);
    StoreLE32(&p[0], fw);
    StoreLE32(&p[4], fh);
    StoreLE32(&p[8], uint32_t(x));
    StoreLE32(&p[12], uint32_t(y));
    StoreLE32(&p[16], uint32_t(anims.size()));
    StoreLE32(&p[20], uint32_t(s->w));
    for (size_t i = 0; i < anims.size(); ++i) {
        std::vector<uint8_t> rec(version1 ? 12 : 64, 0);
        StoreLE16(&rec[0], 4);
        StoreLE16(&rec[2], uint16_t(0x8000 + i));
        StoreLE16(&rec[4], anims[i].frames);
        if (!version1) {
            StoreLE16(&rec[12], 0);
            StoreLE16(&rec[14], anims[i].frames);
            StoreLE16(&rec[16], uint16_t(int16_t(-3)));
            StoreLE16(&rec[18], 7);
        }
        p.insert(p.end(), rec.begin(), rec.end());
        for (uint16_t f = 0; f < anims[i].frames; ++f) {
            std::vector<uint8_t> fr(version1 ? 4 : 16, 0);
            StoreLE32(&fr[0], anims[i].ms + f);
            p.insert(p.end(), fr.begin(), fr.end());
        }
    }
    const size_t at = p.size();
    p.resize(at + 40);
    StorePixelFormatRecord(&p[at], s->format);
    StoreLE32(&p[at + 32], colorkey);
    p[at + 36] = alpha;
    const uint32_t pitch = SoftwarePitch(s->w, s->format->BitsPerPixel);
    for (int row = 0; row < s->h; ++row) {
        const uint8_t* src = static_cast<uint8_t*>(s->pixels) + row * s->pitch;
        p.insert(p.end(), src, src + pitch);
    }
    if (s->format->BitsPerPixel == 8)
        for (int i = 0; i < 256; ++i) {
            const SDL_Color c = s->format->palette->colors[i];
            p.insert(p.end(), {c.r, c.g, c.b, 0});
        }
    return p;
}

struct Anim {
    uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
    int16_t hotx = 0, hoty = 0;
};
inline Anim Props(const CSprite& s, int i) {
    Anim a;
    s.GetAnimProperties(i, &a.type, &a.status, &a.frames, &a.hotx, &a.hoty, &a.start, &a.end);
    return a;
}

}  // namespace spritetest
