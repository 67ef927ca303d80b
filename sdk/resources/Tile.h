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
    const uint8_t* palette = nullptr;  // 1024 bytes for 8 bits, else null
};

class CTile {
public:
    static constexpr size_t kNameSize = 32;     // 31 characters and the terminator
    static constexpr size_t kHeaderSize = 64;   // fields and pixel format record
    static constexpr size_t kTrailerSize = 64;  // yoffset and 60 reserved bytes (2.0 only)

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
    // its header exactly is refused. Pointers in `out` point into data. On
    // failure false, and reason (when given) says why.
    static bool DecodePayload(const uint8_t* data, size_t size, TilePayload& out, const char** reason = nullptr);
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
