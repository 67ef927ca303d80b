// Bitmap fonts (CFont): one surface holding the glyphs of the printable
// ASCII codes 33 ("!") to 126 ("~") side by side in a single row, and the
// tables that say where each glyph lies and how far it moves the pen.
//
// Glyph layout of a font bitmap: row 0 is the marker row. Every column that
// belongs to a gap carries pure magenta (255, 0, 255) in row 0; 95 runs of
// markers (one before the first glyph, one between every two glyphs, one
// after the last) separate the 94 glyphs. Glyph rows are rows 1 to h - 1.
// A bitmap without markers gets them from CreateUpperMark, which marks every
// column without ink. The tables are never stored: they are rebuilt from the
// bitmap every time a font is created or loaded.
//
// "FONT2" payload (little-endian):
//    0     4  width (u32)
//    4     4  height (u32)
//    8    40  pixel format record (PixelFormatRecord.h)
//   48   P    pixel rows, P = pitch x height (no palette)
//   48+P   4  kerning (i32)
//   52+P 128  reserved, zeros
// "FONT" (version 1.0) is the same without the last 132 bytes; Load upgrades
// such a block in place to "FONT2".
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <SDL.h>

struct FontRecord;
class LogTag;

// A surface released with SDL_FreeSurface.
struct FontSurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using FontSurfacePtr = std::unique_ptr<SDL_Surface, FontSurfaceDeleter>;

// What a checked "FONT2" or "FONT" payload holds.
struct FontPayload {
    FontSurfacePtr surface;  // the stored bitmap, a software surface
    int32_t kerning = 0;     // 0 for a version 1.0 payload
    uint8_t alpha = 255;     // the record's alpha byte
};

class CFont {
public:
    static constexpr int kCreated = 96;        // Create's success result
    static constexpr int kGlyphs = 94;         // codes 33 to 126
    static constexpr int kMarkerRuns = 95;     // gaps around and between the glyphs
    static constexpr int kTableEntries = 96;   // boundary and advance tables
    static constexpr int kInkChanges = 189;    // 1 + 94 x 2
    static constexpr size_t kHeaderSize = 48;  // width, height, pixel format record
    static constexpr size_t kTailSize = 132;   // kerning and the reserved area
    static constexpr int kNameCapacity = 32;   // name field, NUL included

    CFont();
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;

    // Builds the font from a copy of s: 96 on success, else -1 or the count
    // that made the bitmap fail.
    int Create(SDL_Surface* s);
    // Loads the "FONT2" block n (upgrading a "FONT" block first).
    bool Load(int id, const char* name);
    // Stores the font as the "FONT2" block `name`: AddData's result, 0 on failure.
    int Save(int id, const char* name);

    void SetAlpha(int alpha);
    void SetKerning(int kerning);
    void SetName(const char* name);

    int GetAlpha() const;         // -1 empty, 256 per-pixel, else the alpha
    int GetKerning() const;       // 0 for an empty font
    const char* GetName() const;  // null for an empty font
    SDL_Surface* GetSurface() const;
    int GetFontHeight() const;  // glyph height, 0 for an empty font

    int TextWidth(const char* text) const;
    void PutString(SDL_Surface* dst, int x, int y, const char* text, SDL_Rect* clip);
    void PutStringCursor(SDL_Surface* dst, int x, int y, const char* text, int cursor, SDL_Rect* clip, bool show);

    // The text as PutString prints it (kerning, space advance, glyph
    // placement), on a new transparent 32-bit surface of TextWidth(text) by
    // the glyph height with the bytes R, G, B, A in memory order (the caller
    // frees it): drawn pixels carry the font's per-pixel alpha, or its
    // per-surface alpha (opaque without one); keyed pixels stay transparent.
    // Null for an empty font or text, a text wider than 16384 pixels, or
    // when SDL refuses.
    SDL_Surface* RenderText(const char* text);

    // The bitmap as Save stores it and an export writes it, so that Create
    // finds the same glyphs in it again: a software copy of the font surface
    // (32 bits for an 8-bit one) whose row 0 carries the markers again when
    // the glyphs could not be found from the ink alone. Null (logged) for an
    // empty font or when no such copy can be made; the caller frees it.
    SDL_Surface* StoredBitmap() const;

    // Marks every column of s without ink; returns the number of ink changes
    // (189 on success).
    static int CreateUpperMark(SDL_Surface* s);
    // Whether column x of the font's row 0 is a marker.
    bool IsMark(int x) const;
    // Pixel access for 1 to 4 bytes per pixel; never outside the surface.
    static Uint32 CFontGetPixel(SDL_Surface* s, int x, int y);
    static void CFontSetPixel(SDL_Surface* s, int x, int y, Uint32 value);

    // The glyph tables as built by Create (0 for an empty font or an index
    // outside 0 to 95), the space advance, the cursor offset and the colour
    // key. Read by the text output of the runtime and by tests.
    uint32_t GetBoundary(int index) const;
    uint32_t GetAdvance(int index) const;
    int GetSpaceAdvance() const;
    int GetCursorOffset() const;
    uint32_t GetColorKey() const;

    // Checks a "FONT2" payload (legacy: a "FONT" payload) and decodes it.
    // Never reads outside data[0, size). On failure returns false and, when
    // reason is given, points it at a static text saying what is wrong.
    static bool DecodePayload(const uint8_t* data, size_t size, bool legacy, FontPayload& out,
                              const char** reason = nullptr);
    // Decodes a payload and runs Create on its bitmap with its kerning and
    // alpha, as Load does after reading the block: Create's result, or -1
    // when the payload is malformed. A failure leaves the font as it was.
    int CreateFromPayload(const uint8_t* data, size_t size, bool legacy, const char** reason = nullptr);

private:
    // Whether a package could rebuild this font's tables from the bitmap s
    // (a stored copy of the font surface), as Load would.
    bool ReadableBack(SDL_Surface* s) const;
    // StoredBitmap's work, its failures logged under tag.
    SDL_Surface* StorableCopy(const LogTag& tag) const;

    std::unique_ptr<FontRecord> rec_;
};
