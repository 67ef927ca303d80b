// The image interface: "IMG" blocks, BMP files and PNG files to SDL surfaces
// and back.
//
// "IMG" payload (little-endian):
//    0   4  width
//    4   4  height
//    8  40  pixel format record (PixelFormatRecord.h)
//   48      pitch x height pixel bytes, top row first, pitch as a software
//           surface of that width and depth has it (rows rounded up to 4 bytes)
//   then, for 8 bits per pixel only, 256 palette entries of 4 bytes (r g b 0).
//
// A block is loaded only when its size is exactly what its header describes:
// a shorter or longer pixel area means the block was damaged, and copying it
// in part would hand the caller an image that is silently wrong.
#include "resources/IImage.h"

#include "resources/GraphicBlock.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/ByteReader.h"
#include "core/Endian.h"
#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/PixelFormatRecord.h"

namespace {

using graphicblock::PackageName;
using graphicblock::PointerText;
using graphicblock::Text;

constexpr size_t kImgHeaderSize = 8 + kPixelFormatRecordSize;  // 48
// SDL 1.2 keeps a surface's pitch in 16 bits: a wider row would wrap it and
// leave a pixel buffer smaller than the rows written into it.
constexpr uint32_t kMaxPitch = 0xFFFF;
// Largest pixel buffer a PNG or BMP file may make us allocate.
constexpr uint64_t kMaxPixelBytes = 256ull << 20;
constexpr uint32_t kMaxSide = 32768;


struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

bool NeedsLock(const SDL_Surface* s) {
    return s->offset || (s->flags & (SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RLEACCEL));
}

// Reads what is left of a stream into memory; false when it cannot be read
// or holds more than maxBytes.
bool ReadRest(SDL_RWops* rw, std::vector<uint8_t>& out, uint64_t maxBytes) {
    const int start = SDL_RWtell(rw);
    const int end = SDL_RWseek(rw, 0, RW_SEEK_END);
    if (start < 0 || end < start || uint64_t(end - start) > maxBytes || SDL_RWseek(rw, start, RW_SEEK_SET) != start)
        return false;
    out.resize(static_cast<size_t>(end - start));
    return out.empty() || SDL_RWread(rw, out.data(), 1, static_cast<int>(out.size())) == static_cast<int>(out.size());
}

// What a BMP's headers say, read with every size checked.
struct BmpHeader {
    uint32_t offset = 0;            // where the pixel rows start
    uint32_t headerSize = 0;        // 12 (core), 40, 52, 56, 64 (OS/2), 108 or 124
    int64_t width = 0, height = 0;  // height below 0: rows top first
    uint16_t bpp = 0;
    uint32_t compression = 0, clrUsed = 0, xppm = 0, yppm = 0;
};

// The checks SDL's BMP reader leaves out: a header size it reads wrong, a
// palette larger than the depth allows, sides that wrap the 16-bit pitch,
// pixel rows beyond the file. Null when sound, else why not.
const char* ReadBmpHeader(const std::vector<uint8_t>& f, BmpHeader& h) {
    ByteReader in(f.data(), f.size());
    uint8_t b = 0, m = 0;
    uint32_t fileSize = 0, reserved = 0;
    if (!in.u8(b) || !in.u8(m) || b != 'B' || m != 'M') return "not a BMP file";
    if (!in.u32le(fileSize) || !in.u32le(reserved) || !in.u32le(h.offset) || !in.u32le(h.headerSize))
        return "the header ends early";
    uint16_t planes = 0;
    if (h.headerSize == 12) {
        uint16_t w = 0, ht = 0;
        if (!in.u16le(w) || !in.u16le(ht) || !in.u16le(planes) || !in.u16le(h.bpp)) return "the header ends early";
        h.width = w;
        h.height = ht;
    } else if (h.headerSize == 40 || h.headerSize == 52 || h.headerSize == 56 || h.headerSize == 64 ||
               h.headerSize == 108 || h.headerSize == 124) {
        uint32_t w = 0, ht = 0, sizeImage = 0;
        if (!in.u32le(w) || !in.u32le(ht) || !in.u16le(planes) || !in.u16le(h.bpp) || !in.u32le(h.compression) ||
            !in.u32le(sizeImage) || !in.u32le(h.xppm) || !in.u32le(h.yppm) || !in.u32le(h.clrUsed))
            return "the header ends early";
        if (14 + uint64_t(h.headerSize) > f.size()) return "the header ends early";
        h.width = static_cast<int32_t>(w);
        h.height = static_cast<int32_t>(ht);
    } else {
        return "its header size is not one of a known BMP form";
    }
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    if (h.width < 1 || rows < 1 || h.width > kMaxSide || rows > kMaxSide) return "its size is out of range";
    // Compression 3 means bit fields in Windows headers but Huffman coding
    // in the OS/2 one. Run-length coding (1: 8 bits, 2: 4 bits) is decoded
    // here, bottom-up files only, as the format has it.
    const bool rle = (h.compression == 1 && h.bpp == 8) || (h.compression == 2 && h.bpp == 4);
    if (h.compression != 0 && !(h.compression == 3 && h.headerSize != 64) && !(rle && h.height > 0))
        return "it is compressed in a form this program does not read";
    uint8_t surfaceBpp = 0;
    switch (h.bpp) {
        case 1:
        case 4:
        case 8: surfaceBpp = 8; break;
        case 16:
        case 24:
        case 32: surfaceBpp = static_cast<uint8_t>(h.bpp); break;
        default: return "its depth is not 1, 4, 8, 16, 24 or 32 bits";
    }
    if (h.bpp <= 8 && h.clrUsed > (1u << h.bpp)) return "its palette is larger than its depth allows";
    if (h.bpp > 8 && h.clrUsed > 256) return "its palette is too large";
    if (SoftwarePitch(static_cast<uint32_t>(h.width), surfaceBpp) > kMaxPitch) return "its rows are too wide";
    const uint64_t rowBytes = ((uint64_t(h.width) * h.bpp + 31) / 32) * 4;
    if (uint64_t(h.offset) > f.size()) return "its pixel rows run past the end of the file";
    if (rle) {
        // Runs repeat a pixel up to 255 times in 2 bytes; a size far beyond
        // what the coded bytes can fill is a header the data cannot back.
        const uint64_t area = SoftwarePitch(static_cast<uint32_t>(h.width), 8) * uint64_t(rows);
        if (area > kMaxPixelBytes || area > (f.size() - h.offset) * 4096 + (1u << 20))
            return "its size is more than its coded pixels can fill";
    } else if (rowBytes * uint64_t(rows) > f.size() - h.offset) {
        return "its pixel rows run past the end of the file";
    }
    return nullptr;
}

// Decodes run-length coded rows (8 or 4 bits a pixel, bottom row first)
// into 8-bit rows of `pitch` bytes, bottom row first. Pixels that the codes
// skip or leave out stay 0; pixels beyond the image are dropped.
void DecodeRle(const uint8_t* d, size_t n, const BmpHeader& h, uint8_t* out, size_t pitch) {
    const bool four = h.bpp == 4;
    const uint64_t w = uint64_t(h.width), rows = uint64_t(h.height);
    uint64_t x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < w && y < rows) out[y * pitch + x] = v;
        ++x;
    };
    size_t i = 0;
    while (i + 1 < n && y < rows) {
        const uint8_t a = d[i], b = d[i + 1];
        i += 2;
        if (a > 0) {
            for (int k = 0; k < a; ++k) put(four ? uint8_t(k % 2 ? b & 0x0F : b >> 4) : b);
        } else if (b == 0) {
            x = 0;
            ++y;
        } else if (b == 1) {
            break;
        } else if (b == 2) {
            if (i + 1 >= n) break;
            x += d[i];
            y += d[i + 1];
            i += 2;
        } else {
            const size_t bytes = four ? (size_t(b) + 1) / 2 : b;
            if (bytes > n - i) break;
            for (int k = 0; k < b; ++k) put(four ? uint8_t(k % 2 ? d[i + k / 2] & 0x0F : d[i + k / 2] >> 4) : d[i + k]);
            i += bytes + (bytes & 1);
        }
    }
}

// SDL reads a palette right after the first 40 bytes of the header (3-byte
// entries after a 12-byte one), wherever the header really ends: the
// palette of a longer header would be read from the header's own fields.
// A paletted file is therefore handed to SDL rewritten with a 40-byte
// header, followed by its real palette and its pixel rows. Entries that the
// file does not hold before its pixel rows are left out (black). False, with
// why, when the file has no palette to read.
bool NormalisedPalettedBmp(const std::vector<uint8_t>& f, const BmpHeader& h, std::vector<uint8_t>& out,
                           const char** why) {
    const uint32_t entrySize = h.headerSize == 12 ? 3 : 4;
    const uint64_t paletteAt = 14 + uint64_t(h.headerSize);
    if (h.offset < paletteAt) {
        *why = "its pixel rows start inside its header";
        return false;
    }
    uint64_t count = (h.headerSize == 12 || h.clrUsed == 0) ? (1u << h.bpp) : h.clrUsed;
    count = std::min<uint64_t>(count, (h.offset - paletteAt) / entrySize);
    if (count == 0) {
        *why = "it has no palette";
        return false;
    }
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    const bool rle = h.compression == 1 || h.compression == 2;
    const uint16_t bpp = rle ? 8 : h.bpp;  // coded rows are handed over as 8 bits
    const uint64_t pitch = ((uint64_t(h.width) * bpp + 31) / 32) * 4;
    const uint64_t pixelBytes = pitch * uint64_t(rows);
    const uint64_t newOffset = 14 + 40 + 4 * count;
    out.assign(static_cast<size_t>(newOffset + pixelBytes), 0);
    uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    StoreLE32(p + 2, static_cast<uint32_t>(out.size()));
    StoreLE32(p + 10, static_cast<uint32_t>(newOffset));
    StoreLE32(p + 14, 40);
    StoreLE32(p + 18, static_cast<uint32_t>(h.width));
    StoreLE32(p + 22, static_cast<uint32_t>(static_cast<int32_t>(h.height)));
    p[26] = 1;
    StoreLE16(p + 28, bpp);
    StoreLE32(p + 38, h.xppm);
    StoreLE32(p + 42, h.yppm);
    StoreLE32(p + 46, static_cast<uint32_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* e = f.data() + paletteAt + i * entrySize;
        std::memcpy(p + 54 + 4 * i, e, 3);  // blue, green, red
    }
    if (rle)
        DecodeRle(f.data() + h.offset, f.size() - h.offset, h, p + newOffset, static_cast<size_t>(pitch));
    else
        std::memcpy(p + newOffset, f.data() + h.offset, static_cast<size_t>(pixelBytes));
    return true;
}

// A BMP from the bytes of a whole file, or null with why.
SDL_Surface* DecodeBmp(const std::vector<uint8_t>& bytes, const char** why) {
    BmpHeader h;
    if ((*why = ReadBmpHeader(bytes, h))) return nullptr;
    std::vector<uint8_t> normalised;
    if (h.bpp <= 8 && !NormalisedPalettedBmp(bytes, h, normalised, why)) return nullptr;
    const std::vector<uint8_t>& data = h.bpp <= 8 ? normalised : bytes;
    if (data.size() > 0x7FFFFFFFu) {
        *why = "the file is too large";
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(data.data(), static_cast<int>(data.size()));
    SDL_Surface* s = rw ? SDL_LoadBMP_RW(rw, 1) : nullptr;
    if (!s) *why = "SDL could not read it";
    return s;
}

// ---- PNG --------------------------------------------------------------

void PngSilentWarning(png_structp, png_const_charp) {}
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Every PNG written sets up a fresh deflate stream whose window, hash and
// pending buffers (some hundred KiB) come from the heap and go back to it;
// for small pictures that costs more than compressing them. The writer's
// allocations go through this thread's few kept blocks instead: a block of
// a KiB or more freed is kept for the next picture's request of that size.
// Every block carries its size in front of it.
class PngBlockCache {
public:
    static png_voidp Allocate(png_structp, png_alloc_size_t n) {
        if (n >= kLarge) {
            PngBlockCache& cache = Mine();
            for (int i = 0; i < cache.count_; ++i) {
                if (cache.size_[i] != n) continue;
                void* p = cache.blocks_[i];
                --cache.count_;
                cache.blocks_[i] = cache.blocks_[cache.count_];
                cache.size_[i] = cache.size_[cache.count_];
                return p;
            }
        }
        if (n > SIZE_MAX - kPrefix) return nullptr;
        auto* raw = static_cast<uint8_t*>(std::malloc(n + kPrefix));
        if (!raw) return nullptr;
        std::memcpy(raw, &n, sizeof n);
        return raw + kPrefix;
    }
    static void Free(png_structp, png_voidp p) {
        if (!p) return;
        auto* raw = static_cast<uint8_t*>(p) - kPrefix;
        png_alloc_size_t n;
        std::memcpy(&n, raw, sizeof n);
        if (n >= kLarge) {
            PngBlockCache& cache = Mine();
            if (cache.count_ < kKept) {
                cache.blocks_[cache.count_] = p;
                cache.size_[cache.count_] = n;
                ++cache.count_;
                return;
            }
        }
        std::free(raw);
    }
    ~PngBlockCache() {
        for (int i = 0; i < count_; ++i) std::free(static_cast<uint8_t*>(blocks_[i]) - kPrefix);
    }

private:
    static constexpr size_t kPrefix = 16;
    static constexpr png_alloc_size_t kLarge = 1024;
    static constexpr int kKept = 16;
    static PngBlockCache& Mine() {
        static thread_local PngBlockCache cache;
        return cache;
    }
    void* blocks_[kKept] = {};
    png_alloc_size_t size_[kKept] = {};
    int count_ = 0;
};

void PngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* src = static_cast<SDL_RWops*>(png_get_io_ptr(png));
    // A short read is a truncated file: stop here rather than decode
    // whatever the buffer held before.
    if (length && SDL_RWread(src, data, length, 1) != 1) png_error(png, "Read error");
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* dst = static_cast<SDL_RWops*>(png_get_io_ptr(png));
    if (length && SDL_RWwrite(dst, data, 1, static_cast<int>(length)) != static_cast<int>(length))
        png_error(png, "Write error");
}
// libpng's default flush treats the stream as a FILE*; ours is not one.
void PngFlush(png_structp) {}

// A 16-bit tRNS sample reduced as the pixels are (strip 16 keeps the high
// byte; low depths are expanded to the full 0-255 range).
uint8_t TransSample(uint16_t v, int bitDepth) {
    if (bitDepth == 16) return static_cast<uint8_t>(v >> 8);
    if (bitDepth < 8) return static_cast<uint8_t>((v & ((1u << bitDepth) - 1)) * 255u / ((1u << bitDepth) - 1));
    return static_cast<uint8_t>(v);
}

struct PngReadJob {
    png_structp png = nullptr;
    png_infop info = nullptr;
    SDL_Surface* surface = nullptr;
    png_bytep* rows = nullptr;
    const char* error = nullptr;
    uint64_t streamBytes = 0;  // bytes left in the stream; 0 when unknown
    bool transparencyAsAlpha = false;
};

// The most pixel bytes a PNG of n bytes can decode to: deflate expands at
// most about 1032 times, and a 1-bit palette image expanded to RGBA grows 32
// times more. Anything beyond is a header the data cannot back.
uint64_t PixelBytesJustifiedBy(uint64_t n) { return n * 1032 * 32 + (1u << 20); }

// A PNG's transparency when it is not an alpha channel: a palette index
// (colorKey, or -1) or a key colour (fromColor).
struct PngKey {
    int colorKey = -1;
    bool fromColor = false;
    png_color_16 color{};
};

// Reads the tRNS chunk: an alpha channel asked for, a colour key, or an
// alpha channel a colour key cannot stand for. Called inside the read's
// setjmp frame.
void ReadTransparency(PngReadJob& j, int colorType, PngKey& key) {
    if (png_get_valid(j.png, j.info, PNG_INFO_tRNS)) {
        png_bytep trans = nullptr;
        int numTrans = 0;
        png_color_16p transValues = nullptr;
        png_get_tRNS(j.png, j.info, &trans, &numTrans, &transValues);
        bool opaque = colorType == PNG_COLOR_TYPE_PALETTE;
        for (int i = 0; opaque && trans && i < numTrans; ++i) opaque = trans[i] == 255;
        if (j.transparencyAsAlpha && !opaque) {
            // Every kind of transparency becomes an alpha channel, compared
            // by libpng before 16-bit samples are reduced (a key colour then
            // matches exactly the pixels it names).
            png_set_tRNS_to_alpha(j.png);
            if (colorType == PNG_COLOR_TYPE_GRAY) png_set_gray_to_rgb(j.png);
        } else if (colorType == PNG_COLOR_TYPE_PALETTE) {
            // A single fully transparent entry among opaque ones is a colour
            // key; anything else needs a real alpha channel.
            int candidate = -1, i = 0;
            for (; trans && i < numTrans; ++i) {
                if (trans[i] == 0) {
                    if (candidate >= 0) break;
                    candidate = i;
                } else if (trans[i] != 255) {
                    break;
                }
            }
            if (i == numTrans)
                key.colorKey = candidate;
            else
                png_set_expand(j.png);
        } else if (transValues) {
            key.fromColor = true;
            key.color = *transValues;
        }
    }
}

// The colour key's pixel value on the surface made.
Uint32 KeyValue(const PngKey& k, SDL_Surface* surface, int colorType, int sourceDepth) {
    if (!k.fromColor) return static_cast<Uint32>(k.colorKey);
    if (colorType == PNG_COLOR_TYPE_GRAY) return TransSample(k.color.gray, sourceDepth);
    return SDL_MapRGB(surface->format, TransSample(k.color.red, sourceDepth), TransSample(k.color.green, sourceDepth),
                      TransSample(k.color.blue, sourceDepth));
}

// The palette of a paletted surface: the PNG's own, or 256 grey levels.
void CopyPalette(png_structp png, png_infop info, SDL_Palette* palette, int colorType) {
    if (palette) {
        if (colorType == PNG_COLOR_TYPE_PALETTE) {
            png_colorp plte = nullptr;
            int count = 0;
            png_get_PLTE(png, info, &plte, &count);
            if (count > 256) count = 256;
            if (!plte) count = 0;
            palette->ncolors = count;
            for (int i = 0; i < count; ++i) {
                palette->colors[i].r = plte[i].red;
                palette->colors[i].g = plte[i].green;
                palette->colors[i].b = plte[i].blue;
            }
        } else {
            palette->ncolors = 256;
            for (int i = 0; i < 256; ++i)
                palette->colors[i].r = palette->colors[i].g = palette->colors[i].b = static_cast<Uint8>(i);
        }
    }
}

// Everything between the recovery point and the end of decoding. Only plain
// C data lives here, in the job, so a jump out of libpng loses nothing.
bool ReadPngBody(PngReadJob& j) {
    if (setjmp(png_jmpbuf(j.png))) {
        if (!j.error) j.error = "Error reading the PNG file.";
        return false;
    }
    png_structp png = j.png;
    png_infop info = j.info;
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);

    const int sourceDepth = bitDepth;
    png_set_strip_16(png);
    png_set_packing(png);
    // Grey images widen to 8 bits. A grey tRNS stays a colour key (set
    // below) instead of turning into an alpha channel, for which this
    // reader has no two-channel surface.
    if (colorType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);

    PngKey pngKey;
    ReadTransparency(j, colorType, pngKey);
    if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    // Interlaced files are assembled into whole rows by libpng.
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    const int channels = png_get_channels(png, info);
    const int depth = bitDepth * channels;
    if (depth != 8 && depth != 24 && depth != 32) {
        j.error = "Error reading the PNG file.";
        return false;
    }
    const uint32_t pitch = SoftwarePitch(width, static_cast<uint8_t>(depth));
    const uint64_t pixelBytes = uint64_t(pitch) * height;
    if (pitch == 0 || pitch > kMaxPitch || pixelBytes > kMaxPixelBytes ||
        (j.streamBytes && pixelBytes > PixelBytesJustifiedBy(j.streamBytes))) {
        j.error = "Out of memory";
        return false;
    }
    // Palette and grey images become 8-bit paletted surfaces (grey gets 256
    // grey levels below); only RGB and RGBA carry colour masks. A grey
    // surface with the RGB masks would be stored in tile and sprite blocks
    // that no reader accepts.
    Uint32 rmask = 0, gmask = 0, bmask = 0, amask = 0;
    if (channels >= 3) {
        rmask = 0x000000FF;
        gmask = 0x0000FF00;
        bmask = 0x00FF0000;
        amask = channels == 4 ? 0xFF000000 : 0;
    }
    j.surface =
        SDL_CreateRGBSurface(0, static_cast<int>(width), static_cast<int>(height), depth, rmask, gmask, bmask, amask);
    if (!j.surface || png_get_rowbytes(png, info) > static_cast<png_size_t>(j.surface->pitch)) {
        j.error = "Out of memory";
        return false;
    }
    if (pngKey.colorKey >= 0 || pngKey.fromColor)
        SDL_SetColorKey(j.surface, SDL_SRCCOLORKEY, KeyValue(pngKey, j.surface, colorType, sourceDepth));

    j.rows = static_cast<png_bytep*>(SDL_malloc(sizeof(png_bytep) * height));
    if (!j.rows) {
        j.error = "Out of memory";
        return false;
    }
    for (png_uint_32 row = 0; row < height; ++row)
        j.rows[row] = static_cast<png_bytep>(j.surface->pixels) + size_t(row) * j.surface->pitch;
    png_read_image(png, j.rows);

    CopyPalette(png, info, j.surface->format->palette, colorType);
    return true;
}

struct PngWriteJob {
    png_structp png = nullptr;
    png_infop info = nullptr;
    SDL_Surface* source = nullptr;  // the surface whose rows go out
    png_bytep* rows = nullptr;
    int width = 0, height = 0;
    int colorType = 0;
    int level = -1;
    png_colorp palette = nullptr;
    int paletteCount = 0;
    png_bytep trans = nullptr;
    int transCount = 0;
    const char* error = nullptr;
};

int WritePngBody(PngWriteJob& j) {
    if (setjmp(png_jmpbuf(j.png))) {
        if (!j.error) j.error = "Error writing the PNG file.";
        return -1;
    }
    png_structp png = j.png;
    if (j.level == 0) {
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_compression_level(png, 0);
    } else if (j.level == IImage::kQuickLevel) {
        // The Sub filter alone and zlib's fastest level: about 40% less time
        // than the adaptive filter choice, at a similar size for pictures.
        png_set_filter(png, 0, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
    } else if (j.level < 0) {
        png_set_compression_level(png, -1);  // zlib's default
    } else {
        png_set_compression_level(png, j.level > 9 ? 9 : j.level);
    }
    png_set_IHDR(png, j.info, j.width, j.height, 8, j.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (j.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, j.info, j.palette, j.paletteCount);
        if (j.transCount > 0) png_set_tRNS(png, j.info, j.trans, j.transCount, nullptr);
    }
    png_write_info(png, j.info);
    png_write_image(png, j.rows);
    png_write_end(png, nullptr);
    return 0;
}

}  // namespace

IImage* g_pImage = nullptr;

IImage::IImage() { LogTag("IImage").Line(5, "Interfaz created.\n"); }
IImage::~IImage() { LogTag("IImage").Line(5, "Interfaz deleted.\n"); }

bool IImage::HasAlphaChannel(const SDL_Surface* s) {
    return s && s->format && (s->flags & SDL_SRCALPHA) && s->format->alpha == 255;
}

bool IImage::NeedsDisplayConversion(const SDL_Surface* s) {
    const SDL_Surface* screen = Trovalis.screen;
    if (!s || !screen || !s->format || !screen->format) return false;
    if ((screen->flags & SDL_HWSURFACE) && !(s->flags & SDL_HWSURFACE)) return true;
    const SDL_PixelFormat* a = s->format;
    const SDL_PixelFormat* b = screen->format;
    return a->BytesPerPixel != b->BytesPerPixel || a->Rmask != b->Rmask || a->Gmask != b->Gmask ||
           a->Bmask != b->Bmask || a->Amask != b->Amask;
}

SDL_Surface* IImage::PrepareForDisplay(SDL_Surface* s, bool alphaChannel, bool switchApplies, bool allowConversion,
                                       bool* converted) {
    if (converted) *converted = false;
    if (!s) return nullptr;
    const bool switchOn = !switchApplies || Trovalis.autoDisplayConversion != 0;
    // SDL's display-format calls need a video mode; without one they do not
    // fail but crash, so a screen surface alone is not enough.
    if (allowConversion && switchOn && NeedsDisplayConversion(s) && SDL_GetVideoSurface()) {
        SDL_Surface* c = alphaChannel ? SDL_DisplayFormatAlpha(s) : SDL_DisplayFormat(s);
        if (c) {
            if (alphaChannel) c->format->alpha = 255;
            SDL_FreeSurface(s);
            s = c;
            if (converted) *converted = true;
        }
    }
    if (switchOn && Trovalis.OpenGLMode() && Trovalis.UploadTexture(s)) ++Trovalis.uploadedTextures;
    return s;
}

SDL_Surface* IImage::DecodePayload(const uint8_t* data, size_t size, PixelFormatRecord* format, const char** reason) {
    auto refuse = [&](const char* why) -> SDL_Surface* {
        if (reason) *reason = why;
        return nullptr;
    };
    if (reason) *reason = nullptr;
    if (!data) return refuse("header ends early");
    ByteReader in(data, size);
    uint32_t width = 0, height = 0;
    PixelFormatRecord rec;
    if (!in.u32le(width) || !in.u32le(height) || !ReadPixelFormatRecord(in, rec)) return refuse("header ends early");
    if (const char* why = CheckPixelData(width, height, rec, in.remaining(), true)) return refuse(why);
    const bool paletted = rec.bitsPerPixel == 8;
    const uint64_t area = in.remaining() - (paletted ? kStoredPaletteSize : 0);

    SDL_Surface* s = CreateSurfaceFromRecord(width, height, rec, in.current(), area);
    if (!s) return nullptr;
    if (paletted && s->format->palette) {
        const uint8_t* pal = in.current() + area;
        SDL_Palette* p = s->format->palette;
        for (int i = 0; i < 256 && i < p->ncolors; ++i) {
            p->colors[i].r = pal[i * 4];
            p->colors[i].g = pal[i * 4 + 1];
            p->colors[i].b = pal[i * 4 + 2];
        }
    }
    if (format) *format = rec;
    return s;
}

SDL_Surface* IImage::Load(int id, const char* name, ImageInfo* info) {
    if (id < 1) return nullptr;
    BlockPayload block;
    const LogTag tag("IImage->Load('%s','%s',0x%x)", PackageName(id), Text(name), PointerText(info));
    if (block.Load(id, "IMG", name) == 0 || !block.info.data) return tag.Fail(nullptr, "image not found.\n");
    auto refuse = [&](const char* why) -> SDL_Surface* {
        tag.Error("image block is damaged: %s.\n", why);
        return nullptr;
    };
    PixelFormatRecord rec;
    const char* why = nullptr;
    SDL_Surface* s = DecodePayload(block.info.data, block.info.size, &rec, &why);
    if (!s) return why ? refuse(why) : nullptr;
    const bool paletted = rec.bitsPerPixel == 8;
    const uint32_t width = static_cast<uint32_t>(s->w), height = static_cast<uint32_t>(s->h);

    const bool perPixel = (s->flags & SDL_SRCALPHA) && rec.alpha == 255;
    if (perPixel) {
        // No key is applied to a per-pixel surface; the field must say so
        // rather than keep SDL's 0, which readers would take for a key.
        s->format->colorkey = kNoColorKey;
    } else {
        if (rec.alpha == 255)
            SDL_SetAlpha(s, 0, 255);
        else
            SDL_SetAlpha(s, SDL_SRCALPHA, rec.alpha);
        if (rec.colorkey != kNoColorKey) {
            SDL_SetColorKey(s, SDL_SRCCOLORKEY, rec.colorkey);
        } else {
            SDL_SetColorKey(s, 0, 0);
            s->format->colorkey = kNoColorKey;
        }
    }

    if (paletted) {
        tag.Warning("8bits surface loaded, it could be a different screen format.\n");
        s = PrepareForDisplay(s, false, true, false);
    } else {
        bool converted = false;
        s = PrepareForDisplay(s, perPixel, true, true, &converted);
        if (converted && perPixel)
            tag.Info(5, "surface with alpha per pixel loaded, it could slow down your graphics system.\n");
    }
    if (rec.colorkey == kNoColorKey) s->format->colorkey = kNoColorKey;

    if (info) {
        info->width = width;
        info->height = height;
        info->bpp = rec.bitsPerPixel;
        info->alpha = rec.alpha;
        info->colorkey = rec.colorkey;
        std::memset(info->name, 0, sizeof info->name);
        std::strncpy(info->name, Text(name), sizeof info->name - 1);
    }
    return s;
}

int IImage::Save(int id, const char* name, SDL_Surface* surface) {
    if (id < 1) return 0;
    const LogTag tag("IImage->Save(%d,'%s')", id, Text(name));
    if (!surface || !surface->format) return tag.Fail(0, "surface is null.\n");
    if (!name || std::strlen(name) >= sizeof(BlockInfo{}.name))
        return tag.Fail(0, "block name is empty or longer than 31 characters.\n");
    // The screen read-back of OpenGL mode belongs to the video runtime; with
    // no screen surface in this program it never applies.

    // SDL_ConvertSurface looks a paletted surface's key up in its palette
    // unchecked.
    if (graphicblock::HasColorKey(surface) && !graphicblock::KeyFitsSurface(surface, surface->format->colorkey))
        return tag.Fail(0, "the colour key is not an entry of the surface's palette.\n");
    // A software copy in the surface's own format; RLE is left out so that
    // the copy keeps its pixel buffer.
    SurfacePtr c(graphicblock::CopySurface(surface, surface->flags & ~(SDL_HWSURFACE | SDL_RLEACCEL | SDL_RLEACCELOK)));
    if (!c) return tag.Fail(0, "the surface could not be copied: %s.\n", SDL_GetError());
    c->format->alpha = surface->format->alpha;
    c->format->colorkey = graphicblock::HasColorKey(surface) ? surface->format->colorkey : kNoColorKey;

    const uint8_t bpp = c->format->BitsPerPixel;
    const uint32_t pitch = SoftwarePitch(static_cast<uint32_t>(c->w), bpp);
    PixelFormatRecord check;
    check.bitsPerPixel = bpp;
    check.bytesPerPixel = c->format->BytesPerPixel;
    if (pitch == 0 || !PixelAreaFits(static_cast<uint32_t>(c->w), static_cast<uint32_t>(c->h), check, UINT64_MAX))
        return tag.Fail(0, "%d bits per pixel or %dx%d cannot be stored.\n", bpp, c->w, c->h);
    const size_t area = size_t(pitch) * c->h;
    std::vector<uint8_t> payload(kImgHeaderSize + area + (bpp == 8 ? kStoredPaletteSize : 0), 0);
    StoreLE32(payload.data(), static_cast<uint32_t>(c->w));
    StoreLE32(payload.data() + 4, static_cast<uint32_t>(c->h));
    StorePixelFormatRecord(payload.data() + 8, c->format);
    const size_t rowCopy = std::min<size_t>(pitch, c->pitch);
    if (SDL_MUSTLOCK(c.get())) SDL_LockSurface(c.get());
    for (int y = 0; y < c->h; ++y)
        std::memcpy(payload.data() + kImgHeaderSize + size_t(y) * pitch,
                    static_cast<const uint8_t*>(c->pixels) + size_t(y) * c->pitch, rowCopy);
    if (SDL_MUSTLOCK(c.get())) SDL_UnlockSurface(c.get());
    if (bpp == 8 && c->format->palette) {
        uint8_t* pal = payload.data() + kImgHeaderSize + area;
        const SDL_Palette* p = c->format->palette;
        for (int i = 0; i < 256 && i < p->ncolors; ++i) {
            pal[i * 4] = p->colors[i].r;
            pal[i * 4 + 1] = p->colors[i].g;
            pal[i * 4 + 2] = p->colors[i].b;
        }
    }

    BlockInfo bi{};
    std::strncpy(bi.name, name, sizeof bi.name - 1);
    std::strncpy(bi.type, "IMG", sizeof bi.type - 1);
    bi.mode = compressed;
    bi.size = static_cast<uint32_t>(payload.size());
    bi.data = payload.data();
    return g_pStuffVLT ? g_pStuffVLT->AddData(id, &bi) : 0;
}

SDL_Surface* IImage::ReadBMP(SDL_RWops* stream, const char** why) {
    const char* reason = "the stream cannot be read";
    std::vector<uint8_t> bytes;
    SDL_Surface* s = nullptr;
    if (stream && ReadRest(stream, bytes, kMaxPixelBytes)) s = DecodeBmp(bytes, &reason);
    if (why) *why = s ? nullptr : reason;
    return s;
}

SDL_Surface* IImage::LoadBMP(const char* file) {
    SDL_RWops* rw = file ? SDL_RWFromFile(file, "rb") : nullptr;
    SDL_Surface* s = rw ? ReadBMP(rw) : nullptr;
    if (rw) SDL_RWclose(rw);
    if (!s) {
        LogTag("IImage->LoadBMP(%s)", Text(file)).Error("file not found.\n");
        return nullptr;
    }
    return BmpForCaller(s);
}

SDL_Surface* IImage::LoadBMP(const std::vector<uint8_t>& bytes) {
    const char* reason = "the image is larger than any surface";
    SDL_Surface* s = bytes.size() <= kMaxPixelBytes ? DecodeBmp(bytes, &reason) : nullptr;
    if (!s) {
        LogTag("IImage->LoadBMP(%zu bytes)", bytes.size()).Error("not a BMP image that can be read: %s.\n", reason);
        return nullptr;
    }
    return BmpForCaller(s);
}

SDL_Surface* IImage::BmpForCaller(SDL_Surface* s) {
    if (NeedsDisplayConversion(s) && Trovalis.autoDisplayConversion) {
        SDL_SetAlpha(s, 0, 0);
        SDL_SetColorKey(s, 0, 0);
    }
    s = PrepareForDisplay(s, false, true);
    // A BMP never brings a colour key.
    s->format->colorkey = kNoColorKey;
    return s;
}

SDL_Surface* IImage::LoadPNG(const char* file, bool transparencyAsAlpha) {
    SDL_RWops* rw = file ? SDL_RWFromFile(file, "rb") : nullptr;
    if (!rw) return nullptr;
    SDL_Surface* s = ReadPNG(rw, transparencyAsAlpha);
    SDL_RWclose(rw);
    return s ? PngForCaller(s) : nullptr;
}

SDL_Surface* IImage::LoadPNG(const std::vector<uint8_t>& bytes, bool transparencyAsAlpha) {
    if (bytes.size() > static_cast<size_t>(INT_MAX)) return nullptr;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) return nullptr;
    SDL_Surface* s = ReadPNG(rw, transparencyAsAlpha);
    SDL_RWclose(rw);
    return s ? PngForCaller(s) : nullptr;
}

SDL_Surface* IImage::PngForCaller(SDL_Surface* s) {
    const bool alphaChannel = (s->flags & SDL_SRCALPHA) != 0;
    if (!alphaChannel && NeedsDisplayConversion(s) && Trovalis.autoDisplayConversion) {
        SDL_SetAlpha(s, 0, 0);
        SDL_SetColorKey(s, 0, 0);
    }
    s = PrepareForDisplay(s, alphaChannel, true);
    // The key ReadPNG found is not reported to callers: the flag goes with
    // it, or the next copy would look colour 0xFFFFFFFF up in the palette
    // (or key white on a true-colour surface).
    SDL_SetColorKey(s, 0, 0);
    s->format->colorkey = kNoColorKey;
    return s;
}

namespace {
// A 24-bit copy (the layout a BMP holds) of a true-colour surface whose
// channels have fewer than 8 bits, each channel widened as SDL_GetRGB does
// (the high bits repeated below); null for any other surface.
SDL_Surface* WidenedTo24(SDL_Surface* s) {
    const SDL_PixelFormat* f = s->format;
    if (f->palette || f->BytesPerPixel != 2 || (f->Rloss == 0 && f->Gloss == 0 && f->Bloss == 0)) return nullptr;
    SDL_Surface* w = SDL_CreateRGBSurface(0, s->w, s->h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    if (!w) return nullptr;
    if (SDL_LockSurface(s) < 0) {
        SDL_FreeSurface(w);
        return nullptr;
    }
    for (int y = 0; y < s->h; ++y) {
        const uint8_t* in = static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch;
        uint8_t* out = static_cast<uint8_t*>(w->pixels) + size_t(y) * w->pitch;
        for (int x = 0; x < s->w; ++x) {
            Uint16 v;
            std::memcpy(&v, in + 2 * x, 2);
            Uint8 r, g, b;
            SDL_GetRGB(v, s->format, &r, &g, &b);
            out[3 * x] = b;
            out[3 * x + 1] = g;
            out[3 * x + 2] = r;
        }
    }
    SDL_UnlockSurface(s);
    return w;
}
}  // namespace

int IImage::SaveBMP(const char* file, SDL_Surface* surface) {
    const LogTag tag("IImage->SaveBMP(%s,%d)", Text(file), 0);
    if (!surface || !surface->format) return tag.Fail(0, "surface is null.\n");
    Trovalis.CreatePath(file);
    // Never written through a link planted at the name (FileAccess.h); the
    // stream is closed here, where a failed final flush is seen.
    FILE* out = file ? files::OpenStreamForWriting(file, 0666) : nullptr;
    SDL_RWops* rw = out ? SDL_RWFromFP(out, 0) : nullptr;
    int rc = rw ? WriteBMP(rw, surface) : 0;
    if (rw) SDL_RWclose(rw);
    if (out && std::fclose(out) != 0) rc = 0;
    if (rc != 1) return tag.Fail(0, "file could not be written.\n");
    return 1;
}

int IImage::WriteBMP(SDL_RWops* stream, SDL_Surface* surface) {
    if (!stream || !surface || !surface->format) return 0;
    // The BMP holds the surface's own colours: alpha blending and the colour
    // key are switched off for the copy SDL makes (they would darken the
    // pixels or leave keyed ones black) and restored afterwards.
    const Uint32 flags = surface->flags;
    const Uint8 alpha = surface->format->alpha;
    const Uint32 key = surface->format->colorkey;
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(surface, 0, 255);
    if (flags & SDL_SRCCOLORKEY) SDL_SetColorKey(surface, 0, 0);
    // SDL writes a surface with fewer than 8 bits a channel (15 and 16 bits)
    // as 24 bits by shifting, so white comes out as F8F8F8; a copy widened
    // as SDL_GetRGB reads the pixels keeps every colour.
    SurfacePtr wide(WidenedTo24(surface));
    const int rc = SDL_SaveBMP_RW(wide ? wide.get() : surface, stream, 0);
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(surface, SDL_SRCALPHA | (flags & SDL_RLEACCELOK), alpha);
    if (flags & SDL_SRCCOLORKEY) SDL_SetColorKey(surface, SDL_SRCCOLORKEY | (flags & SDL_RLEACCELOK), key);
    surface->format->alpha = alpha;
    surface->format->colorkey = key;
    return rc == 0 ? 1 : 0;
}

int IImage::SavePNG(const char* file, SDL_Surface* surface, int level) {
    if (!surface || !surface->format) {
        LogTag("IImage->SavePNG(%s,%d)", Text(file), 0).Error("surface is null.\n");
        return -1;
    }
    Trovalis.CreatePath(file);
    // Never written through a link planted at the name (FileAccess.h).
    FILE* out = file ? files::OpenStreamForWriting(file, 0666) : nullptr;
    SDL_RWops* rw = out ? SDL_RWFromFP(out, 0) : nullptr;
    const LogTag tag("IImage->SavePNG(%s,%d)", Text(file), level);
    if (!rw) {
        if (out) std::fclose(out);
        tag.Error("file could not be created.\n");
        return -1;
    }
    // An RLE surface without a pixel buffer is decoded by the lock that
    // WritePNG takes around its rows, so nothing more is needed here.
    int rc = WritePNG(rw, surface, level);
    SDL_RWclose(rw);
    if (std::fclose(out) != 0 && rc == 0) {
        SDL_SetError("Couldn't finish writing the PNG file");
        rc = -1;
    }
    if (rc != 0) tag.Error("%s\n", SDL_GetError());
    return rc;
}

int IImage::IsBMP(const char* file) {
    SDL_RWops* rw = file ? SDL_RWFromFile(file, "rb") : nullptr;
    if (!rw) return 0;
    SDL_Surface* s = ReadBMP(rw);
    SDL_RWclose(rw);
    if (!s) return 0;
    SDL_FreeSurface(s);
    return 1;
}

int IImage::IsPNG(const char* file) {
    SDL_RWops* rw = file ? SDL_RWFromFile(file, "rb") : nullptr;
    if (!rw) return -1;
    png_byte sig[4];
    const int got = SDL_RWread(rw, sig, 1, 4);
    SDL_RWclose(rw);
    if (got != 4) return 0;
    return png_sig_cmp(sig, 0, 4) == 0 ? 1 : 0;
}

SDL_Surface* IImage::ReadPNG(SDL_RWops* src, bool transparencyAsAlpha) {
    if (!src) return nullptr;
    const int start = SDL_RWtell(src);
    PngReadJob j;
    j.transparencyAsAlpha = transparencyAsAlpha;
    const int end = SDL_RWseek(src, 0, RW_SEEK_END);
    if (start >= 0 && end >= start) j.streamBytes = uint64_t(end - start) + 1;
    SDL_RWseek(src, start, RW_SEEK_SET);
    j.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngSilentWarning);
    if (!j.png) {
        j.error = "Couldn't allocate memory for PNG file or incompatible PNG dll";
    } else {
        j.info = png_create_info_struct(j.png);
        if (!j.info) {
            j.error = "Couldn't create image information for PNG file";
        } else {
            png_set_read_fn(j.png, src, PngRead);
            ReadPngBody(j);
        }
    }
    if (j.png) png_destroy_read_struct(&j.png, j.info ? &j.info : nullptr, nullptr);
    SDL_free(j.rows);
    if (j.error) {
        SDL_RWseek(src, start, RW_SEEK_SET);
        if (j.surface) SDL_FreeSurface(j.surface);
        SDL_SetError("%s", j.error);
        return nullptr;
    }
    return j.surface;
}

namespace {

// The palette of an 8-bit surface for a PNG, and the transparency of its
// key's entry (every entry before it opaque; a key outside the palette
// cannot be expressed and is left out). False with SDL's error set.
bool PngPalette(const SDL_Surface* surface, std::vector<png_color>& palette, std::vector<png_byte>& trans) {
    const SDL_PixelFormat* fmt = surface->format;
    if (!fmt->palette || fmt->palette->ncolors < 1) {
        SDL_SetError("Couldn't create memory for palette");
        return false;
    }
    const int count = fmt->palette->ncolors > 256 ? 256 : fmt->palette->ncolors;
    palette.resize(count);
    for (int i = 0; i < count; ++i) {
        palette[i].red = fmt->palette->colors[i].r;
        palette[i].green = fmt->palette->colors[i].g;
        palette[i].blue = fmt->palette->colors[i].b;
    }
    if ((surface->flags & SDL_SRCCOLORKEY) && fmt->colorkey < static_cast<Uint32>(count)) {
        trans.assign(fmt->colorkey + 1, 255);
        trans[fmt->colorkey] = 0;
    }
    return true;
}

// A copy of the surface in the byte order a PNG row has (RGB or RGBA), or
// null with SDL's error set.
SDL_Surface* ByteOrderedCopy(SDL_Surface* surface, bool hasAlpha) {
    SurfacePtr temp(SDL_CreateRGBSurface(SDL_SWSURFACE, surface->w, surface->h, hasAlpha ? 32 : 24, 0x000000FF,
                                         0x0000FF00, 0x00FF0000, hasAlpha ? 0xFF000000 : 0));
    if (!temp) {
        SDL_SetError("Couldn't allocate temp surface");
        return nullptr;
    }
    // Copy the alpha channel rather than blend with it; a colour key is not
    // written either, so keyed pixels keep their colour.
    const Uint32 flags = surface->flags;
    const Uint8 alpha = surface->format->alpha;
    const Uint32 key = surface->format->colorkey;
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(surface, 0, 255);
    if (flags & SDL_SRCCOLORKEY) SDL_SetColorKey(surface, 0, 0);
    const int blit = SDL_BlitSurface(surface, nullptr, temp.get(), nullptr);
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(surface, SDL_SRCALPHA | (flags & SDL_RLEACCELOK), alpha);
    if (flags & SDL_SRCCOLORKEY) SDL_SetColorKey(surface, SDL_SRCCOLORKEY | (flags & SDL_RLEACCELOK), key);
    surface->format->alpha = alpha;
    surface->format->colorkey = key;
    if (blit < 0) {
        SDL_SetError("Couldn't blit surface to temp surface");
        return nullptr;
    }
    return temp.release();
}

}  // namespace

int IImage::WritePNG(SDL_RWops* dst, SDL_Surface* surface, int level) {
    if (!dst || !surface || !surface->format) {
        SDL_SetError("Couldn't write a PNG file without a surface");
        return -1;
    }
    const SDL_PixelFormat* fmt = surface->format;
    const bool paletted = fmt->BitsPerPixel == 8;
    PngWriteJob j;
    j.width = surface->w;
    j.height = surface->h;
    j.level = level;
    if (j.width < 1 || j.height < 1) {
        SDL_SetError("Couldn't allocate memory for rowpointers");
        return -1;
    }

    std::vector<png_color> palette;
    std::vector<png_byte> trans;
    SurfacePtr temp;
    SDL_Surface* out = surface;
    if (paletted) {
        if (!PngPalette(surface, palette, trans)) return -1;
        j.colorType = PNG_COLOR_TYPE_PALETTE;
    } else {
        const bool hasAlpha = fmt->Amask != 0;
        j.colorType = hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        const bool byteOrdered =
            fmt->Rmask == 0x000000FF && fmt->Gmask == 0x0000FF00 && fmt->Bmask == 0x00FF0000 &&
            ((fmt->BytesPerPixel == 3 && !hasAlpha) || (fmt->BytesPerPixel == 4 && fmt->Amask == 0xFF000000));
        if (!byteOrdered) {
            temp.reset(ByteOrderedCopy(surface, hasAlpha));
            if (!temp) return -1;
            out = temp.get();
        }
    }

    // Locking also decodes an RLE surface whose pixel buffer was dropped,
    // so the row pointers are taken only once it is held.
    const bool lock = NeedsLock(out);
    if (lock && SDL_LockSurface(out) < 0) return -1;
    std::vector<png_bytep> rows(static_cast<size_t>(j.height));
    for (int y = 0; y < j.height; ++y) rows[y] = static_cast<png_bytep>(out->pixels) + size_t(y) * out->pitch;
    j.rows = rows.data();
    j.palette = palette.empty() ? nullptr : palette.data();
    j.paletteCount = static_cast<int>(palette.size());
    j.trans = trans.empty() ? nullptr : trans.data();
    j.transCount = static_cast<int>(trans.size());

    int rc = -1;
    j.png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngSilentWarning, nullptr,
                                      PngBlockCache::Allocate, PngBlockCache::Free);
    if (!j.png) {
        j.error = "Couldn't allocate memory for PNG file";
    } else {
        j.info = png_create_info_struct(j.png);
        if (!j.info) {
            j.error = "Couldn't allocate image information for PNG file";
        } else {
            png_set_write_fn(j.png, dst, PngWrite, PngFlush);
            rc = WritePngBody(j);
        }
        png_destroy_write_struct(&j.png, j.info ? &j.info : nullptr);
    }
    if (lock) SDL_UnlockSurface(out);
    if (rc != 0) {
        SDL_SetError("%s", j.error ? j.error : "Error writing the PNG file.");
        return -1;
    }
    return 0;
}

SDL_Surface* IImage::AsDrawn(SDL_Surface* s) {
    if (!s || !s->format || s->w < 1 || s->h < 1 || s->format->BytesPerPixel < 1 || s->format->BytesPerPixel > 4)
        return nullptr;
    SurfacePtr out(SDL_CreateRGBSurface(SDL_SWSURFACE, s->w, s->h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000));
    if (!out) return nullptr;
    const SDL_PixelFormat* f = s->format;
    const bool perPixel = graphicblock::HasAlphaMaskBlending(s);
    const bool keyed = !perPixel && graphicblock::HasColorKey(s);
    const Uint8 surfaceAlpha = (s->flags & SDL_SRCALPHA) ? f->alpha : 255;
    const bool lock = SDL_MUSTLOCK(s);
    if (lock && SDL_LockSurface(s) < 0) return nullptr;
    SDL_LockSurface(out.get());
    // Pixels already in the output's layout (the usual 32-bit surface) are
    // copied row by row; only their alpha may change.
    const bool sameLayout = f->BytesPerPixel == 4 && !f->palette && f->Rmask == 0x000000FF && f->Gmask == 0x0000FF00 &&
                            f->Bmask == 0x00FF0000 && SDL_BYTEORDER == SDL_LIL_ENDIAN &&
                            (!perPixel || f->Amask == 0xFF000000);
    for (int y = 0; y < s->h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(out->pixels) + size_t(y) * out->pitch;
        if (sameLayout) {
            const uint8_t* in = static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch;
            std::memcpy(row, in, size_t(s->w) * 4);
            if (perPixel) continue;
            for (int x = 0; x < s->w; ++x) {
                uint32_t v;
                std::memcpy(&v, in + size_t(x) * 4, 4);
                row[size_t(x) * 4 + 3] = keyed && v == f->colorkey ? 0 : surfaceAlpha;
            }
            continue;
        }
        for (int x = 0; x < s->w; ++x) {
            const uint32_t v = graphicblock::ReadPixel(s, x, y);
            Uint8 r = 0, g = 0, b = 0, a = 255;
            SDL_GetRGBA(v, const_cast<SDL_PixelFormat*>(f), &r, &g, &b, &a);
            if (!perPixel) a = keyed && v == f->colorkey ? 0 : surfaceAlpha;
            uint8_t* p = row + size_t(x) * 4;
            p[0] = r;
            p[1] = g;
            p[2] = b;
            p[3] = a;
        }
    }
    SDL_UnlockSurface(out.get());
    if (lock) SDL_UnlockSurface(s);
    return out.release();
}
