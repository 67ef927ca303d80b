// Image fixtures made in code: surfaces of every depth, and PNG files of the
// colour types the reader must handle, written with libpng directly.
#pragma once
#include <png.h>

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace imgtest {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// 8-bit surface whose palette entry i is (i, 255 - i, i / 2) and pixel (x, y)
// is (x + 3y) & 255.
SurfacePtr MakePaletted(int w, int h);
// 24-bit (masks 0xFF0000, 0xFF00, 0xFF) or 32-bit with Amask 0xFF000000,
// pixel values from the position.
SurfacePtr MakeRGB(int w, int h, int depth, bool alphaMask);
// The four bytes of pixel (x, y) as stored (any depth up to 32).
uint32_t Pixel(const SDL_Surface* s, int x, int y);
// Whether two surfaces hold the same pixel values row by row.
bool SamePixels(const SDL_Surface* a, const SDL_Surface* b);

struct PngSpec {
    int width = 4, height = 3;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<uint8_t> pixels;        // packed rows as libpng expects them
    std::vector<png_color> palette;
    std::vector<uint8_t> transAlpha;    // palette tRNS
    bool transColor = false;            // grey/RGB tRNS
    png_color_16 trans{};
};
// Encodes spec into PNG bytes (empty on failure).
std::vector<uint8_t> EncodePng(const PngSpec& spec);

// Chunks of a PNG file: {type, data}. Empty when the signature is missing.
struct Chunk {
    std::string type;
    std::vector<uint8_t> data;
};
std::vector<Chunk> PngChunks(const std::vector<uint8_t>& file);
// A PNG file with only a signature and an IHDR (correct CRC) and IEND.
std::vector<uint8_t> PngHeaderOnly(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType);

}  // namespace imgtest
