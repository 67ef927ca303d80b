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
// interlacing expanded by libpng, not by the SDK's reader), so a fault of the
// SDK's decoder shows as a difference; a BMP's from SDL's reader. A tRNS that
// is a single colour key is not taken as transparency (see TrnsIsKey).
#include <png.h>

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
// The SDK reads such a file as a keyed surface and does not report the key
// (an element's key is its "colorkey" attribute), so the original counts as
// opaque there.
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

bool DecodePng(const char* file, Rgba& out) {
    FILE* f = std::fopen(file, "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_bytep> rows;
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        const bool opaque = TrnsIsKey(png, info);
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
        if (!DecodePng(file, out)) out.error = "unreadable by libpng";
    } else {
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
        if (IsPngFile(file) && DecodePng(file, png))
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
