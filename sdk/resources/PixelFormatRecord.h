// The 40-byte image of an SDL_PixelFormat that opens the pixel data of every
// graphic block ("IMG", "TILE2"/"TILB2", "SPR2", "FONT2"), and the checks
// shared by every reader of such pixel data. Layout (little-endian):
//    0  4  palette reference (meaningless in a block; written as 0, ignored)
//    4  1  BitsPerPixel          5  1  BytesPerPixel
//    6  4  Rloss Gloss Bloss Aloss
//   10  4  Rshift Gshift Bshift Ashift
//   14  2  padding
//   16 16  Rmask Gmask Bmask Amask
//   32  4  colorkey (0xFFFFFFFF: none)
//   36  1  alpha (255: opaque or per-pixel)
//   37  3  padding
#pragma once
#include <cstddef>
#include <cstdint>

#include <SDL.h>

#include "core/ByteReader.h"

constexpr size_t kPixelFormatRecordSize = 40;
constexpr uint32_t kNoColorKey = 0xFFFFFFFFu;

struct PixelFormatRecord {
    uint8_t bitsPerPixel = 0;
    uint8_t bytesPerPixel = 0;
    uint8_t Rloss = 0, Gloss = 0, Bloss = 0, Aloss = 0;
    uint8_t Rshift = 0, Gshift = 0, Bshift = 0, Ashift = 0;
    uint32_t Rmask = 0, Gmask = 0, Bmask = 0, Amask = 0;
    uint32_t colorkey = kNoColorKey;
    uint8_t alpha = 255;
};

// Writes the record of fmt into out (40 bytes).
void StorePixelFormatRecord(uint8_t* out, const SDL_PixelFormat* fmt);
// Reads a record; false when fewer than 40 bytes are left.
bool ReadPixelFormatRecord(ByteReader& in, PixelFormatRecord& rec);

// The pitch SDL_CreateRGBSurface gives a software surface: row bytes rounded
// up to a multiple of 4. 0 when the depth is not one of 8, 16, 24, 32.
uint32_t SoftwarePitch(uint32_t width, uint8_t bitsPerPixel);

// Whether width, height and depth describe a surface that a block can hold:
// depth 8, 16, 24 or 32, BytesPerPixel matching it, both sides 1 to 32768,
// a pitch that fits SDL 1.2's 16-bit pitch field (at most 65535 bytes), and
// pitch x height (computed in 64 bits) not beyond `available` bytes.
bool PixelAreaFits(uint32_t width, uint32_t height, const PixelFormatRecord& rec, uint64_t available);

// The palette stored after the pixel rows of an 8-bit "IMG", "TILE2" or
// "SPR2" block: 256 entries of r, g, b and a zero byte.
constexpr size_t kStoredPaletteSize = 256 * 4;

// The one check of a graphic block's pixel data, shared by "IMG", "TILE2",
// "SPR2" and "FONT2": null when `bytes` (everything after the record that
// belongs to the pixels) is exactly what width, height and the record call
// for, else why not. withPalette: an 8-bit area is followed by its stored
// palette (every kind but "FONT2"), whose colour key must then be none or a
// palette index, since SDL looks the key up in the palette without checking
// it. The masks are taken as SDL takes them, overlapping or not: Save stores
// any surface SDL made, a BMP with such bit fields included, and what the
// SDK stored must read back.
const char* CheckPixelData(uint32_t width, uint32_t height, const PixelFormatRecord& rec, uint64_t bytes,
                           bool withPalette);

// Creates a software surface from a validated record (flags 0, the record's
// depth and masks) and copies exactly pitch x height bytes from pixels into
// it, row by row (the new surface's pitch may differ from the stored one
// only if SDL changes its rules; the copy never runs past either buffer).
// The caller has checked that `available` covers storedPitch x height.
SDL_Surface* CreateSurfaceFromRecord(uint32_t width, uint32_t height, const PixelFormatRecord& rec,
                                     const uint8_t* pixels, uint64_t available);
