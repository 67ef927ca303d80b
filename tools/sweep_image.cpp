// Image helper of tools/sweep.sh: what colour key an image's per-surface
// element gets, and whether exported images show the same pixels as the
// original.
//
//   sweep_image probe FILE
//       "W H KEY" for a PNG or BMP that the SDK loads, KEY being the raw value
//       of the top-left pixel (-1 when the surface has an alpha channel,
//       which ignores colour keys). Exit 1 when the SDK cannot load it: "W H -1
//       sdk-unreadable" when libpng can, else "unreadable".
//   sweep_image cmp ORIG KEY FILE KEY [FILE KEY...]
//       Compares every FILE with ORIG as RGBA: one line per FILE, exit 0 when
//       all are the same. A KEY other than -1 makes every pixel whose raw
//       value (in the surface the SDK loads from that file) matches it as
//       SDL's keyed blits match (colour bits only) transparent, unless that
//       surface has an alpha channel. Pixels that
//       are transparent on both sides are equal whatever their colour.
//
// A PNG's colours come from libpng directly (palette, grey, tRNS, 16-bit and
// interlacing expanded by libpng, not by the SDK's reader), and a BMP's are
// read here, so a fault of the SDK's decoders shows as a difference. A tRNS
// that is a single colour key counts as transparency for per-pixel elements
// (KEY -1) and not for per-surface ones (see TrnsIsKey).
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <SDL.h>

#include "core/Trovalis.h"
#include "resources/IImage.h"

namespace {

struct Rgba {
    int w = 0, h = 0;
    std::vector<uint8_t> px;  // 4 bytes a pixel
    std::string error;
};

struct SurfaceFree {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

bool IsPngFile(const char* file) {
    FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    unsigned char sig[8] = {};
    const size_t n = std::fread(sig, 1, 8, f);
    std::fclose(f);
    return n == 8 && png_sig_cmp(sig, 0, 8) == 0;
}

Surface SdkLoad(const char* file) {
    return Surface(IsPngFile(file) ? g_pImage->LoadPNG(file) : g_pImage->LoadBMP(file));
}

uint32_t RawPixel(const SDL_Surface* s, int x, int y) {
    const uint8_t* p =
        static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch + size_t(x) * s->format->BytesPerPixel;
    switch (s->format->BytesPerPixel) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        case 3: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

// Whether the PNG's tRNS is a single colour key rather than alpha: a grey or
// RGB transparent colour, or a palette whose entries are all opaque but one.
// A per-surface element reads such a file without its key (the element's
// key is its "colorkey" attribute), so the original counts as opaque there;
// a per-pixel element keeps every tRNS as alpha.
bool TrnsIsKey(png_structp png, png_infop info) {
    if (!png_get_valid(png, info, PNG_INFO_tRNS)) return false;
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) return true;
    png_bytep trans = nullptr;
    int n = 0;
    png_get_tRNS(png, info, &trans, &n, nullptr);
    int zeros = 0;
    for (int i = 0; trans && i < n; ++i) {
        if (trans[i] == 0)
            ++zeros;
        else if (trans[i] != 255)
            return false;
    }
    return zeros <= 1;
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

// One channel of a bit-field pixel widened to 8 bits as SDL_GetRGB does.
uint8_t Channel(uint32_t v, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0, bits = 0;
    while (!(mask >> shift & 1)) ++shift;
    while (shift + bits < 32 && (mask >> (shift + bits) & 1)) ++bits;
    uint32_t c = (v & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(c >> (bits - 8));
    const int loss = 8 - bits;
    return static_cast<uint8_t>((c << loss) | (c >> (bits - loss > 0 ? bits - loss : 0)));
}

// A BMP's colours read here rather than by SDL (whose reader takes the
// palette of a long header from the wrong place): uncompressed files and
// bit fields, any header form. False for anything else.
bool DecodeBmpFile(const char* file, Rgba& out) {
    FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    std::vector<uint8_t> b;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return false;
    const uint32_t offset = Le(b, 10, 4), hs = Le(b, 14, 4);
    int64_t w = 0, h = 0;
    uint32_t bpp = 0, comp = 0, used = 0;
    if (hs == 12) {
        w = Le(b, 18, 2);
        h = Le(b, 20, 2);
        bpp = Le(b, 24, 2);
    } else if (hs >= 40 && b.size() >= 14 + size_t(hs)) {
        w = static_cast<int32_t>(Le(b, 18, 4));
        h = static_cast<int32_t>(Le(b, 22, 4));
        bpp = Le(b, 28, 2);
        comp = Le(b, 30, 4);
        used = Le(b, 46, 4);
    } else {
        return false;
    }
    const bool topDown = h < 0;
    if (topDown) h = -h;
    if (w < 1 || h < 1 || w > 32768 || h > 32768) return false;
    uint32_t rm = 0, gm = 0, bm = 0;
    if (comp == 3 && (bpp == 16 || bpp == 32)) {
        const size_t at = 14 + 40;  // after a 40-byte header, or inside a longer one
        if (b.size() < at + 12) return false;
        rm = Le(b, at, 4);
        gm = Le(b, at + 4, 4);
        bm = Le(b, at + 8, 4);
    } else if (comp != 0) {
        return false;
    } else if (bpp == 16) {
        rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
    }
    std::vector<uint8_t> pal;  // r g b per entry
    if (bpp <= 8) {
        const size_t es = hs == 12 ? 3 : 4, at = 14 + hs;
        size_t count = (hs == 12 || used == 0) ? (size_t(1) << bpp) : used;
        if (offset < at) return false;
        count = std::min(count, (offset - at) / es);
        pal.assign(256 * 3, 0);
        for (size_t i = 0; i < count && at + i * es + 3 <= b.size(); ++i) {
            pal[3 * i] = b[at + i * es + 2];
            pal[3 * i + 1] = b[at + i * es + 1];
            pal[3 * i + 2] = b[at + i * es];
        }
    } else if (bpp != 16 && bpp != 24 && bpp != 32) {
        return false;
    }
    const size_t row = ((size_t(w) * bpp + 31) / 32) * 4;
    if (offset > b.size() || row * size_t(h) > b.size() - offset) return false;
    out.w = static_cast<int>(w);
    out.h = static_cast<int>(h);
    out.px.assign(size_t(w) * h * 4, 255);
    for (int64_t y = 0; y < h; ++y) {
        const size_t r = offset + row * size_t(topDown ? y : h - 1 - y);
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = &out.px[(size_t(y) * w + x) * 4];
            if (bpp <= 8) {
                const size_t bit = size_t(x) * bpp;
                const uint32_t i = (b[r + bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                std::memcpy(p, &pal[3 * i], 3);
            } else if (bpp == 24 || (bpp == 32 && comp == 0)) {
                const size_t at = r + size_t(x) * (bpp / 8);
                p[0] = b[at + 2];
                p[1] = b[at + 1];
                p[2] = b[at];
            } else {
                const uint32_t v = Le(b, r + size_t(x) * (bpp / 8), bpp / 8);
                p[0] = Channel(v, rm);
                p[1] = Channel(v, gm);
                p[2] = Channel(v, bm);
            }
        }
    }
    return true;
}

bool DecodePng(const char* file, Rgba& out, bool keyAsOpaque) {
    FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_bytep> rows;
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        const bool opaque = keyAsOpaque && TrnsIsKey(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        out.w = static_cast<int>(png_get_image_width(png, info));
        out.h = static_cast<int>(png_get_image_height(png, info));
        if (png_get_rowbytes(png, info) == size_t(out.w) * 4) {
            out.px.assign(size_t(out.w) * out.h * 4, 0);
            rows.resize(out.h);
            for (int y = 0; y < out.h; ++y) rows[y] = out.px.data() + size_t(y) * out.w * 4;
            png_read_image(png, rows.data());
            if (opaque)
                for (size_t i = 3; i < out.px.size(); i += 4) out.px[i] = 255;
            ok = true;
        }
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(f);
    return ok;
}

Rgba Decode(const char* file, long key) {
    Rgba out;
    Surface sdk = SdkLoad(file);
    if (!sdk) {
        out.error = "unreadable by the SDK";
        return out;
    }
    if (SDL_LockSurface(sdk.get()) != 0) {
        out.error = "cannot lock";
        return out;
    }
    if (IsPngFile(file)) {
        if (!DecodePng(file, out, key != -1)) out.error = "unreadable by libpng";
    } else if (!DecodeBmpFile(file, out)) {
        out.w = sdk->w;
        out.h = sdk->h;
        out.px.resize(size_t(out.w) * out.h * 4);
        for (int y = 0; y < out.h; ++y)
            for (int x = 0; x < out.w; ++x) {
                uint8_t* p = &out.px[(size_t(y) * out.w + x) * 4];
                SDL_GetRGBA(RawPixel(sdk.get(), x, y), sdk->format, &p[0], &p[1], &p[2], &p[3]);
            }
    }
    if (out.error.empty() && key != -1 && sdk->format->Amask == 0) {
        // As SDL's keyed blits match: the palette index, or the colour bits
        // only (a 32-bit pixel's unused byte does not count).
        const SDL_PixelFormat* f = sdk->format;
        const uint32_t bits = f->palette ? 0xFFFFFFFFu : (f->Rmask | f->Gmask | f->Bmask);
        const uint32_t want = static_cast<uint32_t>(key) & bits;
        if (sdk->w != out.w || sdk->h != out.h) {
            out.error = "SDK and libpng disagree on the size";
        } else {
            for (int y = 0; y < out.h; ++y)
                for (int x = 0; x < out.w; ++x)
                    if ((RawPixel(sdk.get(), x, y) & bits) == want) out.px[(size_t(y) * out.w + x) * 4 + 3] = 0;
        }
    }
    SDL_UnlockSurface(sdk.get());
    return out;
}

int Probe(const char* file) {
    Surface s = SdkLoad(file);
    if (!s || s->w < 1 || s->h < 1 || SDL_LockSurface(s.get()) != 0) {
        // The size still comes from libpng, so that the elements can be tried.
        Rgba png;
        if (IsPngFile(file) && DecodePng(file, png, false))
            std::printf("%d %d -1 sdk-unreadable\n", png.w, png.h);
        else
            std::printf("unreadable\n");
        return 1;
    }
    const long key = s->format->Amask ? -1 : static_cast<long>(static_cast<int32_t>(RawPixel(s.get(), 0, 0)));
    SDL_UnlockSurface(s.get());
    std::printf("%d %d %ld\n", s->w, s->h, key);
    return 0;
}

// One line: "same" or what differs.
bool Compare(const Rgba& a, const Rgba& b, const char* name) {
    if (!b.error.empty()) {
        std::printf("%s: %s\n", name, b.error.c_str());
        return false;
    }
    if (a.w != b.w || a.h != b.h) {
        std::printf("%s: size %dx%d, original %dx%d\n", name, b.w, b.h, a.w, a.h);
        return false;
    }
    size_t diffs = 0, first = 0;
    for (size_t i = 0; i < a.px.size(); i += 4) {
        const bool clearA = a.px[i + 3] == 0, clearB = b.px[i + 3] == 0;
        if (clearA && clearB) continue;
        if (std::memcmp(&a.px[i], &b.px[i], 4) != 0) {
            if (!diffs) first = i;
            ++diffs;
        }
    }
    if (!diffs) {
        std::printf("%s: same\n", name);
        return true;
    }
    const size_t p = first / 4;
    std::printf("%s: %zu of %zu pixels differ, first at (%zu,%zu): original %02x%02x%02x%02x, here %02x%02x%02x%02x\n",
                name, diffs, a.px.size() / 4, p % a.w, p / a.w, a.px[first], a.px[first + 1], a.px[first + 2],
                a.px[first + 3], b.px[first], b.px[first + 1], b.px[first + 2], b.px[first + 3]);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "probe") == 0) {
        Trovalis.Init(0);
        const int rc = Probe(argv[2]);
        Trovalis.Quit();
        return rc;
    }
    if (argc >= 6 && argc % 2 == 0 && std::strcmp(argv[1], "cmp") == 0) {
        Trovalis.Init(0);
        const Rgba orig = Decode(argv[2], std::strtol(argv[3], nullptr, 10));
        bool same = orig.error.empty();
        if (!same) std::printf("original: %s\n", orig.error.c_str());
        for (int i = 4; orig.error.empty() && i + 1 < argc; i += 2)
            same = Compare(orig, Decode(argv[i], std::strtol(argv[i + 1], nullptr, 10)), argv[i]) && same;
        Trovalis.Quit();
        return same ? 0 : 1;
    }
    std::fprintf(stderr, "usage: sweep_image probe FILE | sweep_image cmp ORIG KEY FILE KEY [FILE KEY...]\n");
    return 2;
}
