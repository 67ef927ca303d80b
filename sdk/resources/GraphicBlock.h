// Pieces shared by the resource classes that keep their data in package
// blocks: the texts of their messages (and, through BlockPayload.h, the
// owner of a loaded block), and, for the graphic kinds (images, tiles, sprites, fonts), the
// checks and conversions of a block's pixel area.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>


#include <SDL.h>

#include "package/BlockPayload.h"
#include "resources/PixelFormatRecord.h"

class LogTag;

namespace graphicblock {

// A block name field: 31 characters and the terminator.
constexpr size_t kBlockNameSize = 32;

// Whether a name fits a 32-byte name field with its terminator.
bool NameFits(const char* name);
// How every payload decoder fails (images, tiles, sprites, fonts, widgets,
// sound formats): false, and when reason is given it points at a static text
// saying what is wrong, for the caller's log line. Decoders write no line.
inline bool Refuse(const char** reason, const char* why) {
    if (reason) *reason = why;
    return false;
}
// A text for "%s" that is never null.
inline const char* Text(const char* s) { return s ? s : "(null)"; }
// The package's file name for messages ("" when unknown).
const char* PackageName(int id);
// A surface pointer for the "0x%x" of messages.
unsigned PointerText(const void* p);

// The value of the pixel at (x, y) in s's own format, as SDL reads it (3
// bytes in the host's byte order, as SDL stores them); s is locked by the
// caller, (x, y) lies inside it and BytesPerPixel is 1 to 4.
uint32_t ReadPixel(const SDL_Surface* s, int x, int y);
// Whether key can be the colour key of s: none, any value for a surface
// without palette, an entry of the palette otherwise.
bool KeyFitsSurface(const SDL_Surface* s, uint32_t key);
// Whether s carries a colour key that SDL will use: SDL_SRCCOLORKEY with a
// key other than 0xFFFFFFFF (the "no key" of every surface made here).
bool HasColorKey(const SDL_Surface* s);
// A BMP or PNG file read in its own format (the display conversion switch
// is off while it is read, and restored); null when it is neither or does
// not load.
SDL_Surface* LoadImageFile(const char* file);
// A software copy of s in its own format (SDL_ConvertSurface; a paletted
// surface is copied index for index, whatever its colours) with `flags`.
// A flagged key of 0xFFFFFFFF counts as no key: SDL would look that colour
// up in the palette, or map it to white on a true-colour copy, so the flag
// is taken off s for the copy and put back afterwards. Null when SDL fails
// or when a paletted key is not an entry of the palette.
SDL_Surface* CopySurface(SDL_Surface* s, Uint32 flags);
// Zeroes the bits of every pixel that no mask covers (the fourth byte of a
// 32-bit BMP without alpha, the top bit of 15-bit colour), so that pixels of
// one colour have one value. No change to paletted surfaces.
void ClearUnusedBits(SDL_Surface* s);
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

// How a kind's version 1.0 blocks are brought to version 2.0 in the package.
struct BlockUpgrade {
    const char* type2;  // the current type text ("TILE2")
    const char* type1;  // the 1.0 type text ("TILE")
    // Makes the 2.0 payload of a 1.0 one in out, checked so that a damaged
    // old block is never copied as a new one; false after logging with tag.
    bool (*upgrade)(const uint8_t* data, size_t size, std::vector<uint8_t>& out, const LogTag& tag);
    const char* notFound;  // the error line when neither block exists
    const char* updated;   // the info line once the new block is stored
};

// A kind's 2.0 payload, loaded from the package or made from its 1.0 block.
class UpgradedBlock {
public:
    BlockPayload block;
    std::vector<uint8_t> upgraded;
    const uint8_t* data = nullptr;
    size_t size = 0;

    // Loads block `name` of kind.type2; failing that, its kind.type1 block,
    // whose upgraded payload is added to the package as kind.type2 (same name
    // and storage mode) before the old block is deleted. False, logged with
    // tag, when neither loads, the upgrade refuses or the addition fails.
    bool Load(int id, const char* name, const BlockUpgrade& kind, const LogTag& tag);
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


// Holds a surface locked for direct pixel access when it needs locking;
// ok() when its pixels can be read.
class SurfaceLock {
public:
    explicit SurfaceLock(SDL_Surface* s) : s_(s) {
        if (!s_) return;
        if (SDL_MUSTLOCK(s_)) {
            locked_ = SDL_LockSurface(s_) == 0;
            ok_ = locked_;
        } else {
            ok_ = true;
        }
        if (ok_ && !s_->pixels) ok_ = false;
    }
    ~SurfaceLock() {
        if (locked_) SDL_UnlockSurface(s_);
    }
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;
    bool ok() const { return ok_; }

private:
    SDL_Surface* s_;
    bool locked_ = false;
    bool ok_ = false;
};

}  // namespace graphicblock
