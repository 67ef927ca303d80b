// A tile (CTile): one named image with a screen position, an optional split
// into equal sub-tiles (a tileset), a per-surface alpha and a colour key.
// Tiles live in "TILE2" blocks; button state images use "TILB2". Blocks of
// the 1.0 layout ("TILE", "TILB") are upgraded inside the package the first
// time they are loaded.
//
// 2.0 payload (little-endian):
//    0   4  width             4   4  height
//    8   4  x position (i32) 12   4  y position (i32)
//   16   4  tileset flag     20   4  xoffset (i32)
//   24  40  pixel format record (colorkey and alpha are the tile's recorded ones)
//   64   .  pitch x height pixel bytes, then 1024 palette bytes for 8 bits
//    P   4  yoffset (i32), P = 64 + pixel area
//  P+4  60  reserved, zero
// 1.0 is the same without the last 64 bytes; its colour key 0 means none and
// its one offset (at 20) serves both directions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <SDL.h>

#include "package/IStuffVLT.h"
#include "resources/PixelFormatRecord.h"

// The fields of a decoded tile payload. The pointers point into the payload
// that was decoded and live only as long as it does.
struct TilePayload {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t tileset = 0;
    int32_t xoffset = 0;
    int32_t yoffset = 0;
    PixelFormatRecord format;
    const uint8_t* pixels = nullptr;  // pitch x height bytes
    uint64_t pixelBytes = 0;
    const uint8_t* palette = nullptr; // 1024 bytes for 8 bits, else null
};

class CTile {
public:
    static constexpr size_t kNameSize = 32;        // 31 characters and the terminator
    static constexpr size_t kHeaderSize = 64;      // fields and pixel format record
    static constexpr size_t kTrailerSize = 64;     // yoffset and 60 reserved bytes (2.0 only)

    CTile();
    ~CTile();
    CTile(const CTile&) = delete;
    CTile& operator=(const CTile&) = delete;

    bool Create(const char* file, const char* name);
    bool Create(SDL_Surface* surface, const char* name);
    bool Load(int id, const char* name, const char* type);
    int Save(int id, const char* type);

    void SetAlpha(int alpha);
    void SetColorKey(uint32_t key);
    void SetName(const char* name);
    void SetPosition(int x, int y);
    bool SetTileset(int enable, int xoffset, int yoffset);

    int GetAlpha() const;
    int GetTileset(int* w, int* h) const;
    int GetPositionX() const;
    int GetPositionY() const;
    SDL_Surface* GetSurface() const;
    // The tile name ("" for an empty tile).
    const char* GetName() const;
    // The recorded colour key (0xFFFFFFFF: none).
    uint32_t GetColorKey() const;

    // Payload decoding without a package, shared by Load and the fuzz targets.
    // Checks every size against `size`; a payload whose size does not match
    // its header exactly is refused. Pointers in `out` point into data.
    static bool DecodePayload(const uint8_t* data, size_t size, TilePayload& out);
    // Builds the 2.0 payload of a 1.0 one: 64 bytes longer, the offset at 20
    // copied into yoffset, a colour key of 0 turned into 0xFFFFFFFF. False
    // when the old payload is too short to hold its header.
    static bool UpgradePayload(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
    // Decodes a payload all the way to a new surface (the caller frees it):
    // 1.0 payloads are upgraded first when version1 is true. Null on any fault.
    static SDL_Surface* DecodeSurface(const uint8_t* data, size_t size, bool version1);

private:
    struct Record;
    std::unique_ptr<Record> r_;
};

// Pieces shared by the readers and writers of tile and sprite payloads
// (both carry a pixel format record, a pixel area and, for 8 bits, a
// palette, and both move names between callers and 32-byte fields).
namespace graphicblock {

// Whether a name fits a 32-byte name field with its terminator.
bool NameFits(const char* name);
// A text for "%s" that is never null.
inline const char* Text(const char* s) { return s ? s : "(null)"; }
// The package's file name for messages ("" when unknown).
const char* PackageName(int id);
// A surface pointer for the "0x%x" of messages.
unsigned PointerText(const void* p);

// Whether a pixel area of `area` bytes is exactly what width, height and the
// record call for (pitch x height, plus 1024 palette bytes for 8 bits), and
// the record describes a depth and masks a surface can have.
bool PixelAreaMatches(uint32_t width, uint32_t height, const PixelFormatRecord& rec, uint64_t area);
// A new software surface holding the checked pixel area; for 8 bits the
// 256 palette entries are copied too. Null when SDL refuses.
SDL_Surface* BuildSurface(uint32_t width, uint32_t height, const PixelFormatRecord& rec, const uint8_t* pixels,
                          uint64_t pixelBytes, const uint8_t* palette);
// A 24-bit copy (default masks) of a 32-bit surface without alpha channel.
SDL_Surface* ReduceTo24(SDL_Surface* s);
// Whether s has an alpha mask and blends with it (per-pixel alpha).
bool HasAlphaMaskBlending(const SDL_Surface* s);
// The pixel backup kept while the library's backup switch is on.
void TakeBackup(SDL_Surface* s, std::vector<uint8_t>& backup);
// SetAlpha's re-conversion: on a hardware screen outside OpenGL mode the
// surface is converted anew (s replaced). True when that happened.
bool ReconvertForHardwareScreen(SDL_Surface*& s);
// SetColorKey's re-conversion: with a screen in OpenGL mode the surface is
// converted anew and offered to the upload. True when that happened.
bool ReconvertForOpenGL(SDL_Surface*& s);

// A block loaded through the package manager, released when it goes.
struct LoadedBlock {
    BlockInfo info{};
    LoadedBlock() = default;
    LoadedBlock(const LoadedBlock&) = delete;
    LoadedBlock& operator=(const LoadedBlock&) = delete;
    ~LoadedBlock() { Release(); }
    // LoadBlock with a zeroed info; true when a payload came back.
    bool Load(int id, const char* type, const char* name);
    void Release();
};

// Reads a surface's pixels for a block: locked for its lifetime, written as
// rows of the software pitch (plus the palette for 8 bits).
class PixelWriter {
public:
    explicit PixelWriter(SDL_Surface* s);
    ~PixelWriter();
    PixelWriter(const PixelWriter&) = delete;
    PixelWriter& operator=(const PixelWriter&) = delete;
    bool ok() const { return ok_; }
    // Stored rows (pitch x rows) plus 1024 for 8 bits.
    uint64_t AreaSize() const;
    // Writes every row and, for 8 bits, the palette: AreaSize() bytes.
    void WriteArea(uint8_t* out) const;
    uint32_t StoredPitch() const { return pitch_; }

private:
    SDL_Surface* s_;
    bool locked_ = false;
    bool ok_ = false;
    uint32_t pitch_ = 0;
};

}  // namespace graphicblock
