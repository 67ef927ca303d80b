// Font bitmaps made in memory for the font tests: 32-bit surfaces laid out
// like a font image, one glyph per code 33 to 126, each glyph a solid block
// of its own colour so that a drawn glyph can be recognised by its pixels.
#pragma once
#include <SDL.h>

#include <cstring>
#include <memory>

#include "resources/Font.h"

namespace fonttest {

using SurfacePtr = FontSurfacePtr;

struct Layout {
    int ink = 5;              // ink columns per glyph
    bool leftGap = true;      // one empty column before the first glyph
    int height = 9;           // row 0 plus the glyph rows
    Uint8 bg[3] = {0, 0, 0};  // background colour
    bool markers = false;     // magenta over every gap column of row 0
    int splitGlyph = -1;      // glyph index whose middle column is left empty
    bool inkInRow0 = false;   // glyphs also cover row 0 (bottom-left ink for leftGap=false)
    bool alphaChannel = false;  // 32 bits with an alpha mask (fully opaque pixels)
};

inline Uint8 GlyphRed(int index) { return static_cast<Uint8>(10 + index); }

// The colour of glyph `index` (code 33 + index) in surface format f.
inline Uint32 GlyphColour(const SDL_PixelFormat* f, int index) { return SDL_MapRGB(f, GlyphRed(index), 200, 100); }

// First ink column of glyph `index` in a bitmap of layout l.
inline int GlyphStart(const Layout& l, int index) { return (l.leftGap ? 1 : 0) + index * (l.ink + 1); }

inline int LayoutWidth(const Layout& l) { return (l.leftGap ? 1 : 0) + 94 * (l.ink + 1); }

inline void Fill(SDL_Surface* s, int x, int y, int w, int h, Uint32 c) {
    SDL_Rect r{Sint16(x), Sint16(y), Uint16(w), Uint16(h)};
    SDL_FillRect(s, &r, c);
}

inline SurfacePtr MakeBitmap(const Layout& l) {
    const Uint32 amask = l.alphaChannel ? 0xFF000000u : 0;
    SurfacePtr s(SDL_CreateRGBSurface(0, LayoutWidth(l), l.height, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, amask));
    if (!s) return s;
    if (l.alphaChannel) {
        // Fully transparent background, opaque glyphs.
        SDL_FillRect(s.get(), nullptr, SDL_MapRGBA(s->format, l.bg[0], l.bg[1], l.bg[2], 0));
    } else {
        SDL_FillRect(s.get(), nullptr, SDL_MapRGB(s->format, l.bg[0], l.bg[1], l.bg[2]));
    }
    const int top = l.inkInRow0 ? 0 : 1;
    for (int i = 0; i < 94; ++i) {
        const int x0 = GlyphStart(l, i);
        Fill(s.get(), x0, top, l.ink, l.height - top, GlyphColour(s->format, i));
        if (i == l.splitGlyph)
            Fill(s.get(), x0 + l.ink / 2, 0, 1, l.height, SDL_MapRGB(s->format, l.bg[0], l.bg[1], l.bg[2]));
    }
    if (l.markers) {
        const Uint32 magenta = SDL_MapRGB(s->format, 255, 0, 255);
        if (l.leftGap) Fill(s.get(), 0, 0, 1, 1, magenta);
        for (int i = 0; i < 94; ++i) Fill(s.get(), GlyphStart(l, i) + l.ink, 0, 1, 1, magenta);
    }
    return s;
}

inline Uint32 PixelAt(SDL_Surface* s, int x, int y) {
    Uint32 v = 0;
    std::memcpy(&v, static_cast<const Uint8*>(s->pixels) + y * s->pitch + x * 4, 4);
    return v;
}

}  // namespace fonttest
