#include "ImageTestSupport.h"

#include <zlib.h>

#include <csetjmp>
#include <cstring>

#include "core/Endian.h"

namespace imgtest {

SurfacePtr MakePaletted(int w, int h) {
    SurfacePtr s(SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0));
    SDL_Color colors[256];
    for (int i = 0; i < 256; ++i) {
        colors[i].r = static_cast<Uint8>(i);
        colors[i].g = static_cast<Uint8>(255 - i);
        colors[i].b = static_cast<Uint8>(i / 2);
        colors[i].unused = 0;
    }
    SDL_SetColors(s.get(), colors, 0, 256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            static_cast<Uint8*>(s->pixels)[y * s->pitch + x] = static_cast<Uint8>((x + 3 * y) & 255);
    return s;
}

SurfacePtr MakeRGB(int w, int h, int depth, bool alphaMask) {
    SurfacePtr s(SDL_CreateRGBSurface(0, w, h, depth, 0x00FF0000, 0x0000FF00, 0x000000FF,
                                      alphaMask ? 0xFF000000 : 0));
    const int bpp = s->format->BytesPerPixel;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * bpp;
            const uint32_t v = SDL_MapRGBA(s->format, static_cast<Uint8>(x * 17), static_cast<Uint8>(y * 29),
                                           static_cast<Uint8>(x * y + 5), static_cast<Uint8>(x * 60 + y * 7));
            for (int b = 0; b < bpp; ++b) p[b] = static_cast<uint8_t>(v >> (8 * b));
        }
    return s;
}

uint32_t Pixel(const SDL_Surface* s, int x, int y) {
    const int bpp = s->format->BytesPerPixel;
    const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + y * s->pitch + x * bpp;
    uint32_t v = 0;
    for (int b = 0; b < bpp; ++b) v |= uint32_t(p[b]) << (8 * b);
    return v;
}

bool SamePixels(const SDL_Surface* a, const SDL_Surface* b) {
    if (a->w != b->w || a->h != b->h || a->format->BytesPerPixel != b->format->BytesPerPixel) return false;
    for (int y = 0; y < a->h; ++y)
        if (std::memcmp(static_cast<const uint8_t*>(a->pixels) + y * a->pitch,
                        static_cast<const uint8_t*>(b->pixels) + y * b->pitch,
                        size_t(a->w) * a->format->BytesPerPixel) != 0)
            return false;
    return true;
}

namespace {
void Append(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void NoFlush(png_structp) {}

bool EncodeInto(const PngSpec& spec, std::vector<uint8_t>& out, std::vector<png_bytep>& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colorType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (spec.interlaced) png_set_interlace_handling(png);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    if (!spec.transAlpha.empty())
        png_set_tRNS(png, info, spec.transAlpha.data(), static_cast<int>(spec.transAlpha.size()), nullptr);
    if (spec.transColor) png_set_tRNS(png, info, nullptr, 0, &spec.trans);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
}  // namespace

std::vector<uint8_t> EncodePng(const PngSpec& spec) {
    std::vector<uint8_t> out;
    const size_t rowBytes = spec.pixels.size() / spec.height;
    std::vector<png_bytep> rows(spec.height);
    std::vector<uint8_t> pixels = spec.pixels;
    for (int y = 0; y < spec.height; ++y) rows[y] = pixels.data() + y * rowBytes;
    if (!EncodeInto(spec, out, rows)) out.clear();
    return out;
}

std::vector<Chunk> PngChunks(const std::vector<uint8_t>& f) {
    std::vector<Chunk> chunks;
    if (f.size() < 8 || png_sig_cmp(f.data(), 0, 8) != 0) return chunks;
    size_t pos = 8;
    while (pos + 12 <= f.size()) {
        const uint32_t len = uint32_t(f[pos]) << 24 | uint32_t(f[pos + 1]) << 16 | uint32_t(f[pos + 2]) << 8 |
                             f[pos + 3];
        if (len > f.size() - pos - 12) break;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&f[pos + 4]), 4);
        c.data.assign(f.begin() + pos + 8, f.begin() + pos + 8 + len);
        chunks.push_back(c);
        pos += 12 + len;
    }
    return chunks;
}

namespace {
void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBE32(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}
}  // namespace

std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, w);
    PutBE32(ihdr, h);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    PutChunk(out, "IEND", {});
    return out;
}

}  // namespace imgtest
