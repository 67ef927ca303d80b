// The 40-byte pixel format record of graphic blocks and the checks every
// reader of their pixel area runs before it copies a byte (see the header
// for the layout).
#include "resources/PixelFormatRecord.h"

#include <algorithm>
#include <cstring>

#include "core/Endian.h"

namespace {
// SDL 1.2 keeps pitch in a Uint16; 32768 pixels of 4 bytes already overflow
// it, so the pitch test below is the one that bites for wide 32-bit images.
constexpr uint32_t kMaxSide = 32768;
}  // namespace

void StorePixelFormatRecord(uint8_t* out, const SDL_PixelFormat* fmt) {
    std::memset(out, 0, kPixelFormatRecordSize);
    if (!fmt) return;
    // Offset 0 is the in-memory palette pointer of the format; it means
    // nothing once stored, so it is always written as 0.
    out[4] = fmt->BitsPerPixel;
    out[5] = fmt->BytesPerPixel;
    out[6] = fmt->Rloss;
    out[7] = fmt->Gloss;
    out[8] = fmt->Bloss;
    out[9] = fmt->Aloss;
    out[10] = fmt->Rshift;
    out[11] = fmt->Gshift;
    out[12] = fmt->Bshift;
    out[13] = fmt->Ashift;
    StoreLE32(out + 16, fmt->Rmask);
    StoreLE32(out + 20, fmt->Gmask);
    StoreLE32(out + 24, fmt->Bmask);
    StoreLE32(out + 28, fmt->Amask);
    StoreLE32(out + 32, fmt->colorkey);
    out[36] = fmt->alpha;
}

bool ReadPixelFormatRecord(ByteReader& in, PixelFormatRecord& rec) {
    uint8_t raw[kPixelFormatRecordSize];
    if (!in.bytes(raw, sizeof raw)) return false;
    rec.bitsPerPixel = raw[4];
    rec.bytesPerPixel = raw[5];
    rec.Rloss = raw[6];
    rec.Gloss = raw[7];
    rec.Bloss = raw[8];
    rec.Aloss = raw[9];
    rec.Rshift = raw[10];
    rec.Gshift = raw[11];
    rec.Bshift = raw[12];
    rec.Ashift = raw[13];
    rec.Rmask = LoadLE32(raw + 16);
    rec.Gmask = LoadLE32(raw + 20);
    rec.Bmask = LoadLE32(raw + 24);
    rec.Amask = LoadLE32(raw + 28);
    rec.colorkey = LoadLE32(raw + 32);
    rec.alpha = raw[36];
    return true;
}

uint32_t SoftwarePitch(uint32_t width, uint8_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
        case 16:
        case 24:
        case 32: break;
        default: return 0;
    }
    const uint64_t rowBytes = (uint64_t(width) * bitsPerPixel + 7) / 8;
    const uint64_t pitch = (rowBytes + 3) & ~uint64_t(3);
    return pitch > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(pitch);
}

bool PixelAreaFits(uint32_t width, uint32_t height, const PixelFormatRecord& rec, uint64_t available) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    const uint32_t pitch = SoftwarePitch(width, rec.bitsPerPixel);
    if (pitch == 0 || pitch > 0xFFFFu) return false;  // SDL 1.2 pitch is 16 bits
    if (rec.bytesPerPixel != rec.bitsPerPixel / 8) return false;
    return uint64_t(pitch) * height <= available;
}

const char* CheckPixelData(uint32_t width, uint32_t height, const PixelFormatRecord& rec, uint64_t bytes,
                           bool withPalette) {
    const bool palette = withPalette && rec.bitsPerPixel == 8;
    if (palette && bytes < kStoredPaletteSize) return "palette missing";
    const uint64_t area = bytes - (palette ? kStoredPaletteSize : 0);
    if (!PixelAreaFits(width, height, rec, area)) return "size or depth out of range";
    if (uint64_t(SoftwarePitch(width, rec.bitsPerPixel)) * height != area)
        return "pixel area does not match width, height and depth";
    if (palette && rec.colorkey != kNoColorKey && rec.colorkey >= kStoredPaletteSize / 4)
        return "colour key is not a palette entry";
    return nullptr;
}

SDL_Surface* CreateSurfaceFromRecord(uint32_t width, uint32_t height, const PixelFormatRecord& rec,
                                     const uint8_t* pixels, uint64_t available) {
    if (!pixels || !PixelAreaFits(width, height, rec, available)) return nullptr;
    // An 8-bit surface is paletted whatever masks a record gives it.
    const bool paletted = rec.bitsPerPixel == 8;
    SDL_Surface* s = SDL_CreateRGBSurface(0, static_cast<int>(width), static_cast<int>(height), rec.bitsPerPixel,
                                          paletted ? 0 : rec.Rmask, paletted ? 0 : rec.Gmask, paletted ? 0 : rec.Bmask,
                                          paletted ? 0 : rec.Amask);
    if (!s) return nullptr;
    if (s->w != static_cast<int>(width) || s->h != static_cast<int>(height) ||
        s->format->BitsPerPixel != rec.bitsPerPixel || !s->pixels) {
        SDL_FreeSurface(s);
        return nullptr;
    }
    const uint32_t storedPitch = SoftwarePitch(width, rec.bitsPerPixel);
    const size_t rowCopy = std::min<size_t>(storedPitch, s->pitch);
    uint8_t* dst = static_cast<uint8_t*>(s->pixels);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(dst + size_t(y) * s->pitch, pixels + size_t(y) * storedPitch, rowCopy);
    return s;
}
