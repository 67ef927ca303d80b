// An animated sprite (CSprite): one surface, the sheet, cut into a grid of
// equal frames; each row of the grid is one animation whose frames play left
// to right. Sprites live in "SPR2" blocks; older "SPR" blocks are upgraded
// inside the package the first time they are loaded.
//
// "SPR2" payload (little-endian):
//    0   4  frame width          4   4  frame height
//    8   4  position x (i32)    12   4  position y (i32)
//   16   4  animation count N   20   4  sheet width
//   24   .  N times: a 64-byte animation record, then its `frames` 16-byte
//           frame records
//    A  40  pixel format record (the sprite's colour key and alpha)
//  A+40  .  pitch x (frame height x N) pixel bytes, then 1024 palette bytes
//           for 8 bits
// Animation record: type u16, status u16, frames u16, current frame u16,
// frame table u32 (meaningless in a block), start u16, end u16, hotx i16,
// hoty i16, 44 reserved bytes. Frame record: ms u32, 12 reserved bytes.
// "SPR" (1.0) keeps only the first 12 bytes of each animation record and a
// u32 display time per frame, and writes 0 for "no colour key".
//
// Clones share their master's sheet. The master owns the sheet through a
// reference-counted share; a clone holds only a weak reference to it, so
// once the master is destroyed the clone's reference expires and
// ValidateClone reports the lost master instead of touching freed memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <SDL.h>

#include "resources/PixelFormatRecord.h"

struct SpriteFrame {
    uint32_t ms = 100;
};

struct SpriteAnimation {
    uint16_t type = 2;
    uint16_t status = 0;
    uint16_t currentFrame = 0;
    uint16_t startFrame = 0;
    uint16_t endFrame = 0;
    int16_t hotx = 0;
    int16_t hoty = 0;
    std::vector<SpriteFrame> frames;  // the frame count is frames.size()
};

// The fields of a decoded "SPR2" payload. The pointers point into the
// payload that was decoded and live only as long as it does.
struct SpritePayload {
    uint32_t frameWidth = 0;
    uint32_t frameHeight = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t sheetWidth = 0;
    uint32_t sheetHeight = 0;  // frame height x N
    std::vector<SpriteAnimation> animations;
    PixelFormatRecord format;
    const uint8_t* pixels = nullptr;
    uint64_t pixelBytes = 0;
    const uint8_t* palette = nullptr;  // 1024 bytes for 8 bits, else null
};

class CSprite {
public:
    static constexpr size_t kNameSize = 32;
    static constexpr size_t kHeaderSize = 24;
    static constexpr size_t kAnimationSize = 64;
    static constexpr size_t kFrameSize = 16;
    static constexpr size_t kOldAnimationSize = 12;
    static constexpr size_t kOldFrameSize = 4;
    // SetAnimProperties: this value leaves a field unchanged.
    static constexpr int kUnchanged = 2730;

    CSprite();
    ~CSprite();
    CSprite(const CSprite&) = delete;
    CSprite& operator=(const CSprite&) = delete;

    int Create(const char* file, const char* name, int frameWidth, int frameHeight);
    int Create(SDL_Surface* sheet, const char* name, int frameWidth, int frameHeight);
    int Load(int id, const char* name, const char* type);
    int Save(int id, const char* type);
    // Makes this empty sprite a clone of a created master: it shows the
    // master's sheet and gets its own copy of the animation table, frame
    // size, alpha, colour key and name. Returns the animation count, or 0.
    int Clone(const CSprite& master);

    void SetName(const char* name);
    SDL_Surface* GetSurface();
    int GetAlpha();
    void SetAlpha(int alpha);
    void SetColorKey(uint32_t key);
    void GetOffset(int* frameWidth, int* frameHeight) const;
    void GetAnimProperties(int anim, uint16_t* type, uint16_t* status, uint16_t* frames, int16_t* hotx, int16_t* hoty,
                           uint16_t* start, uint16_t* end) const;
    bool SetAnimProperties(int anim, uint16_t type, uint16_t status, int16_t hotx, int16_t hoty, uint16_t start,
                           uint16_t end);
    void GetFrame(int anim, int frame, uint32_t* ms) const;
    bool SetFrame(int anim, int frame, uint32_t ms);
    bool ValidateClone();

    // Number of animations (0 when not created), name ("" when not
    // created), recorded colour key and role (0 none, 1 master, 2 clone).
    int GetAnimationCount() const;
    const char* GetName() const;
    uint32_t GetColorKey() const;
    int GetRole() const;

    // Payload decoding without a package, shared by Load and the fuzz
    // targets. Every count and size is checked against `size`; a payload
    // whose pixel area is not exactly what its header calls for is refused.
    // On failure false, and reason (when given) says why.
    static bool DecodePayload(const uint8_t* data, size_t size, SpritePayload& out, const char** reason = nullptr);
    // Builds the "SPR2" payload of an "SPR" one. False when the old table
    // runs past the payload's end or no pixel format record follows it.
    static bool UpgradePayload(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
    // Decodes a payload all the way to a new sheet (the caller frees it);
    // "SPR" payloads are upgraded first when version1. Null on any fault.
    static SDL_Surface* DecodeSurface(const uint8_t* data, size_t size, bool version1);

private:
    struct State;
    std::unique_ptr<State> st_;
};
