// CFont: bitmap fonts, their "FONT2" blocks and text drawing (layout in the
// header). The glyph tables are rebuilt from the bitmap on every Create and
// Load; a block only carries the bitmap, the kerning and the alpha.
#include "resources/Font.h"

#include "resources/GraphicBlock.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/ByteReader.h"
#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"

struct FontRecord {
    int32_t alpha = 255;
    int32_t glyphHeight = 0;
    SDL_Surface* surface = nullptr;
    // boundary[i] (0 to 94) is the middle of marker run i, boundary[95] the
    // width; advance[i] (0 to 93) is the pen advance of code 33 + i, and
    // advance[94] that of code 127, which draws the area after the last gap.
    std::array<uint32_t, CFont::kTableEntries> boundary{};
    std::array<uint32_t, CFont::kTableEntries> advance{};
    int32_t lastCode = 0;
    int32_t spaceAdvance = 0;
    int32_t cursorOffset = 0;
    uint32_t colorKey = 0;
    uint8_t created = 0;
    uint8_t perPixel = 0;
    int32_t kerning = 0;
    char name[CFont::kNameCapacity] = {};
    char cursorChar = '|';
    std::vector<uint8_t> backup;
    // Which columns of row 0 were markers when the font was created: Save
    // puts them back into a stored bitmap that could not be read without them.
    std::vector<uint8_t> markerColumns;
};

namespace {

using graphicblock::PackageName;
using graphicblock::PointerText;

constexpr const char* kDefaultName = "Created on execution time";

using Tables = std::array<uint32_t, CFont::kTableEntries>;


// Create's result 96 means success; a failure count that happens to be 96
// (96 marker runs, or 192 or 193 ink changes halved) must not look like one.
int FailureCode(int v) { return v == CFont::kCreated ? -1 : v; }

using graphicblock::SurfaceLock;

// Whether the pixels of s can be addressed: 1 to 4 bytes per pixel and, for
// 3 bytes, colour bytes that lie inside the pixel (the masks of a block are
// untrusted; a shift of 24 would address the byte after the pixel).
bool Addressable(const SDL_Surface* s) {
    if (!s || !s->format) return false;
    const SDL_PixelFormat* f = s->format;
    switch (f->BytesPerPixel) {
        case 1:
        case 2:
        case 4: return true;
        case 3: return f->Rshift / 8 < 3 && f->Gshift / 8 < 3 && f->Bshift / 8 < 3;
        default: return false;
    }
}

// Unchecked access: s is addressable, its pixels are available and (x, y)
// lies inside it.
Uint32 ReadRaw(const SDL_Surface* s, int x, int y) {
    const SDL_PixelFormat* f = s->format;
    if (f->BytesPerPixel != 3) return graphicblock::ReadPixel(s, x, y);
    // CFontGetPixel's value of a 24-bit pixel: its colour bytes, found at the
    // shifts, mapped into the format. For the byte-wide masks without alpha
    // of every 24-bit surface made from a file this is the stored value
    // (ReadPixel); it differs only for other masks, which a damaged block
    // can carry.
    const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch + size_t(x) * 3;
    return SDL_MapRGB(s->format, p[f->Rshift / 8], p[f->Gshift / 8], p[f->Bshift / 8]);
}

void WriteRaw(SDL_Surface* s, int x, int y, Uint32 value) {
    const SDL_PixelFormat* f = s->format;
    uint8_t* p = static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch + size_t(x) * f->BytesPerPixel;
    switch (f->BytesPerPixel) {
        case 1: *p = static_cast<uint8_t>(value); break;
        case 2: {
            const Uint16 v = static_cast<Uint16>(value);
            std::memcpy(p, &v, 2);
            break;
        }
        case 3: {
            Uint8 r, g, b;
            SDL_GetRGB(value, s->format, &r, &g, &b);
            p[f->Rshift / 8] = r;
            p[f->Gshift / 8] = g;
            p[f->Bshift / 8] = b;
            break;
        }
        default: std::memcpy(p, &value, 4); break;
    }
}

Uint32 Magenta(SDL_Surface* s) { return SDL_MapRGB(s->format, 255, 0, 255); }

// The ink analysis of CreateUpperMark on a locked, addressable surface: a
// column has ink when some pixel is not 0 and not fully transparent. Fills
// inkless (one flag per column) and returns the number of changes of the ink
// state, the column before column 0 counting as inked.
int InkChanges(SDL_Surface* s, std::vector<uint8_t>& inkless) {
    inkless.assign(size_t(std::max(s->w, 0)), 0);
    bool previousInk = true;
    int changes = 0;
    for (int x = 0; x < s->w; ++x) {
        bool ink = false;
        for (int y = 0; y < s->h && !ink; ++y) {
            const Uint32 v = ReadRaw(s, x, y);
            if (v == 0) continue;
            Uint8 r, g, b, a;
            SDL_GetRGBA(v, s->format, &r, &g, &b, &a);
            ink = a != 0;
        }
        inkless[size_t(x)] = ink ? 0 : 1;
        if (ink != previousInk) ++changes;
        previousInk = ink;
    }
    return changes;
}

// The marker scan along row 0, given one marker flag per column. Returns the
// number of marker runs; entries beyond the 96 of each table are counted but
// never stored.
int ScanMarkers(const std::vector<uint8_t>& marks, Tables& boundary, Tables& advance) {
    const int width = static_cast<int>(marks.size());
    int runs = 0;
    int end = 0;  // first column after the previous run
    int x = 0;
    while (x < width) {
        if (!marks[size_t(x)]) {
            ++x;
            continue;
        }
        if (runs > 0 && runs - 1 < CFont::kTableEntries) advance[size_t(runs - 1)] = uint32_t(x - end + 1);
        const int start = x;
        while (x < width - 1 && marks[size_t(x)]) ++x;
        end = x;
        if (runs < CFont::kTableEntries) boundary[size_t(runs)] = uint32_t((start + end) / 2);
        ++runs;
        x = end + 1;
    }
    return runs;
}

// Marker flags of row 0 as they stand (locked, addressable surface).
std::vector<uint8_t> MarksOfRow0(SDL_Surface* s) {
    std::vector<uint8_t> marks(size_t(std::max(s->w, 0)), 0);
    if (s->h < 1) return marks;
    const Uint32 magenta = Magenta(s);
    for (int x = 0; x < s->w; ++x) marks[size_t(x)] = ReadRaw(s, x, 0) == magenta ? 1 : 0;
    return marks;
}

int64_t WidthOf(const FontRecord& r, const char* text) {
    if (!text) return 0;
    int64_t width = 0;
    for (int i = 0; i < 255 && text[i]; ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        if (c == ' ') {
            width += r.spaceAdvance;
        } else if (c >= 33 && c <= 127 && c <= r.lastCode) {
            width += r.advance[size_t(c - 33)];
            if (text[i + 1]) width += r.kerning;
        }
    }
    return width;
}

int ClampInt(int64_t v) { return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, INT_MIN), INT_MAX)); }

bool FitsSint16(int64_t v) { return v >= -32768 && v <= 32767; }

}  // namespace

CFont::CFont() : rec_(new FontRecord) {
    std::strcpy(rec_->name, kDefaultName);
    ++Trovalis.liveFonts;
}

CFont::~CFont() {
    if (rec_->created && rec_->surface) SDL_FreeSurface(rec_->surface);
    rec_.reset();
    --Trovalis.liveFonts;
}

Uint32 CFont::CFontGetPixel(SDL_Surface* s, int x, int y) {
    // x is the caller's concern in the original checks; y is checked too, so
    // that no row outside the surface is ever read.
    if (!s || x < 0 || x >= s->w || y < 0 || y >= s->h) {
        LogTag("CFont::CFontGetPixel(0x%x,%d,%d)", PointerText(s), x, y).Error("wrong function parameters.\n");
        return 0;
    }
    if (!Addressable(s)) {
        LogTag("CFont::CFontGetPixel(0x%x,%d,%d)", PointerText(s), x, y).Error("loading font");
        return 0;
    }
    SurfaceLock lock(s);
    if (!lock.ok()) {
        LogTag("CFont::CFontGetPixel(0x%x,%d,%d)", PointerText(s), x, y).Error("%s\n", SDL_GetError());
        return 0;
    }
    return ReadRaw(s, x, y);
}

void CFont::CFontSetPixel(SDL_Surface* s, int x, int y, Uint32 value) {
    if (!s || x < 0 || x >= s->w || y < 0 || y >= s->h || !Addressable(s)) return;
    SurfaceLock lock(s);
    if (!lock.ok()) {
        LogTag("CFont::CFontSetPixel()").Error("%s\n", SDL_GetError());
        return;
    }
    WriteRaw(s, x, y, value);
}

int CFont::CreateUpperMark(SDL_Surface* s) {
    int changes = 0;
    if (s && s->w > 0 && Addressable(s)) {
        SurfaceLock lock(s);
        if (lock.ok()) {
            std::vector<uint8_t> inkless;
            changes = InkChanges(s, inkless);
            if (s->h > 0) {
                const Uint32 magenta = Magenta(s);
                for (int x = 0; x < s->w; ++x)
                    if (inkless[size_t(x)]) WriteRaw(s, x, 0, magenta);
            }
        }
    }
    if (changes == kInkChanges) return changes;
    LogTag("CFont::CreateUpperMark()").Warning("it was not possible to import bitmap with font characters.\n");
    return changes;
}

bool CFont::IsMark(int x) const {
    SDL_Surface* s = rec_->surface;
    if (!rec_->created || !s || x < 0 || x >= s->w || s->h < 1) return false;
    return CFontGetPixel(s, x, 0) == Magenta(s);
}

namespace {

// The glyph areas from the marker row (row 0) and the key (the bottom-left
// pixel), which every marker pixel then becomes; false with what Create
// answers in failure.
bool ReadMarkers(SDL_Surface* c, std::vector<uint8_t>& marks, Tables& boundary, Tables& advance, uint32_t& key,
                 int& failure) {
    SurfaceLock lock(c);
    failure = -1;
    if (!lock.ok() || !Addressable(c)) return false;
    marks = MarksOfRow0(c);
    const int runs = ScanMarkers(marks, boundary, advance);
    failure = FailureCode(runs);
    if (runs != CFont::kMarkerRuns) return false;
    boundary[95] = uint32_t(c->w);
    // Code 127 has no run after it: it draws the area from the middle of the
    // last gap to the right edge and advances by that width.
    advance[94] = boundary[95] - boundary[94];
    key = ReadRaw(c, 0, c->h - 1);
    // Marker removal: every magenta pixel becomes background.
    const Uint32 magenta = Magenta(c);
    for (int y = 0; y < c->h; ++y)
        for (int x = 0; x < c->w; ++x)
            if (ReadRaw(c, x, y) == magenta) WriteRaw(c, x, y, key);
    return true;
}

// Space advance: the width of "a", else "A", else "0", else the first glyph
// area.
int32_t SpaceAdvance(const FontRecord& f) {
    for (const char* probe : {"a", "A", "0"})
        if (const int32_t advance = ClampInt(WidthOf(f, probe))) return advance;
    return int32_t(f.boundary[1] - f.boundary[0]);
}

// Cursor offset, measured on the middle glyph row from the left edge of the
// "|" area: how far the bar's ink starts from there.
int32_t CursorOffset(SDL_Surface* c, const FontRecord& f) {
    const uint32_t key = f.colorKey;
    const int row = f.glyphHeight / 2;
    const int64_t start = f.boundary[91];
    const int64_t w = WidthOf(f, "|");
    SurfaceLock lock(c);
    if (!lock.ok() || row < 0 || row >= c->h || start >= c->w) return 1;
    const int64_t last = std::min<int64_t>(start + w, c->w - 1);  // the first w + 1 pixels
    if (ReadRaw(c, int(start), row) == key) {
        int64_t count = 0;
        for (int64_t x = start; x <= last && ReadRaw(c, int(x), row) == key; ++x) ++count;
        return ClampInt(count + 1);
    }
    bool anyKey = false;
    for (int64_t x = start; x <= last && !anyKey; ++x) anyKey = ReadRaw(c, int(x), row) == key;
    return anyKey ? 1 : ClampInt(w + 2);
}

// The surface's pixel bytes, row by row with their padding; none when they
// cannot be read.
std::vector<uint8_t> PixelBytes(SDL_Surface* c) {
    SurfaceLock lock(c);
    if (!lock.ok()) return {};
    const uint8_t* px = static_cast<const uint8_t*>(c->pixels);
    return std::vector<uint8_t>(px, px + size_t(c->pitch) * size_t(c->h));
}

}  // namespace

int CFont::Create(SDL_Surface* s) {
    const LogTag tag("CFont::Create()");
    if (Trovalis.startTick == TrovalisCore::kNotStarted)
        return tag.Fail(-1, "Trovalis was not initialized. Aborting the font creation.\n");
    if (rec_->created) {
        tag.Warning("font already exists. It is not possible to create another one.\n");
        return -1;
    }
    if (!s || !s->format) return tag.Fail(-1, "font surface is null\n");
    if (s->format->BitsPerPixel == 8) {
        tag.Warning("8bits surface loaded is not supported to create a font.\n");
        return -1;
    }
    FontSurfacePtr copy(graphicblock::CopySurface(s, s->flags));
    if (!copy) return tag.Fail(-1, "the font surface could not be copied: %s\n", SDL_GetError());
    copy->format->colorkey = s->format->colorkey;
    copy->format->alpha = s->format->alpha;
    SDL_Surface* c = copy.get();
    // Markers, ink and the key are found by comparing pixel values: bits that
    // carry no colour must not make two pixels of one colour differ.
    graphicblock::ClearUnusedBits(c);

    // Markers: a bitmap that does not start with one gets them from its ink.
    Uint8 r, g, b;
    SDL_GetRGB(CFontGetPixel(c, 0, 0), c->format, &r, &g, &b);
    if (!(r == 255 && g == 0 && b == 255)) {
        const int changes = CreateUpperMark(c);
        if (changes != kInkChanges) return changes == 0 ? -1 : FailureCode((changes & 0xFF) / 2);
    }

    rec_->alpha = std::min(std::max(rec_->alpha, 0), 255);
    const bool perPixel = (c->flags & SDL_SRCALPHA) && c->format->alpha == 255;
    if (!perPixel) {
        if (rec_->alpha == 255)
            SDL_SetAlpha(c, 0, 255);
        else
            SDL_SetAlpha(c, SDL_SRCALPHA, static_cast<Uint8>(rec_->alpha));
    }
    const int glyphHeight = c->h - 1;

    Tables boundary{}, advance{};
    std::vector<uint8_t> marks;
    uint32_t key = 0;
    int failure = 0;
    if (!ReadMarkers(c, marks, boundary, advance, key, failure)) return failure;
    if (!perPixel) SDL_SetColorKey(c, SDL_SRCCOLORKEY, key);

    FontRecord& f = *rec_;
    f.perPixel = perPixel ? 1 : 0;
    f.glyphHeight = glyphHeight;
    f.lastCode = 128;
    f.colorKey = key;
    f.boundary = boundary;
    f.advance = advance;

    f.spaceAdvance = SpaceAdvance(f);
    f.cursorOffset = CursorOffset(c, f);

    // Display preparation; the automatic conversion switch does not apply.
    if (g_pImage) {
        bool converted = false;
        SDL_Surface* prepared = g_pImage->PrepareForDisplay(copy.release(), perPixel, false, true, &converted);
        copy.reset(prepared);
        if (converted && perPixel)
            LogTag("CFont->Create()")
                .Info(5, "surface with alpha per pixel loaded, it could slow down your graphics system.\n");
    }
    c = copy.get();

    f.backup.clear();
    if (Trovalis.backup) f.backup = PixelBytes(c);
    f.markerColumns = std::move(marks);
    f.surface = copy.release();
    f.created = 1;
    return kCreated;
}

void CFont::SetAlpha(int alpha) {
    FontRecord& f = *rec_;
    if (!f.created || alpha < 0 || alpha > 255 || f.perPixel) return;
    if (alpha == 255)
        SDL_SetAlpha(f.surface, 0, 255);
    else
        SDL_SetAlpha(f.surface, SDL_SRCALPHA, static_cast<Uint8>(alpha));
    const bool switched = (f.alpha == 255 && alpha < 255) || (f.alpha < 255 && alpha == 255);
    SDL_Surface* screen = Trovalis.screen;
    if (screen && switched && (screen->flags & SDL_HWSURFACE) && !Trovalis.OpenGLMode()) {
        if (SDL_Surface* converted = SDL_DisplayFormat(f.surface)) {
            SDL_FreeSurface(f.surface);
            f.surface = converted;
        }
        LogTag("CFont::SetAlpha(%d)", alpha)
            .Warning("on-the-fly surface conversion. It may affect to the performance.\n");
    }
    f.alpha = alpha;
}

void CFont::SetKerning(int kerning) {
    if (rec_->created) rec_->kerning = kerning;
}

void CFont::SetName(const char* name) {
    if (!rec_->created || !name) return;
    const size_t n = strnlen(name, kNameCapacity);
    if (n >= size_t(kNameCapacity)) return;
    std::memcpy(rec_->name, name, n + 1);
}

int CFont::GetAlpha() const {
    if (!rec_->created) return -1;
    return rec_->perPixel ? 256 : rec_->alpha;
}
int CFont::GetKerning() const { return rec_->created ? rec_->kerning : 0; }
const char* CFont::GetName() const { return rec_->created ? rec_->name : nullptr; }
SDL_Surface* CFont::GetSurface() const { return rec_->created ? rec_->surface : nullptr; }
int CFont::GetFontHeight() const { return rec_->created ? rec_->glyphHeight : 0; }

uint32_t CFont::GetBoundary(int index) const {
    return rec_->created && index >= 0 && index < kTableEntries ? rec_->boundary[size_t(index)] : 0;
}
uint32_t CFont::GetAdvance(int index) const {
    return rec_->created && index >= 0 && index < kTableEntries ? rec_->advance[size_t(index)] : 0;
}
int CFont::GetSpaceAdvance() const { return rec_->created ? rec_->spaceAdvance : 0; }
int CFont::GetCursorOffset() const { return rec_->created ? rec_->cursorOffset : 0; }
uint32_t CFont::GetColorKey() const { return rec_->created ? rec_->colorKey : 0; }

int CFont::TextWidth(const char* text) const {
    if (!rec_->created || !text || !*text) return 0;
    return ClampInt(WidthOf(*rec_, text));
}

namespace {

// Cuts a glyph's source and destination rectangles to the clip rectangle,
// then blits. A blit that finds the font's video memory lost restores the
// pixels from the backup and blits again.
void BlitGlyph(FontRecord& f, SDL_Surface* dst, int64_t sx, int64_t sy, int64_t w, int64_t h, int64_t dx, int64_t dy,
               const SDL_Rect* clip) {
    if (clip) {
        if (dx < clip->x) {
            const int64_t cut = clip->x - dx;
            sx += cut;
            w -= cut;
            dx = clip->x;
        }
        if (dy < clip->y) {
            const int64_t cut = clip->y - dy;
            sy += cut;
            h -= cut;
            dy = clip->y;
        }
        const int64_t right = int64_t(clip->x) + clip->w;
        const int64_t bottom = int64_t(clip->y) + clip->h;
        if (dx + w > right) w = right - dx;
        if (dy + h > bottom) h = bottom - dy;
    }
    if (w < 1 || h < 1) return;
    // Positions beyond what SDL's rectangles hold cannot be on any surface.
    if (!FitsSint16(dx) || !FitsSint16(dy) || !FitsSint16(sx) || !FitsSint16(sy)) return;
    w = std::min<int64_t>(w, 65535);
    h = std::min<int64_t>(h, 65535);
    SDL_Rect src{Sint16(sx), Sint16(sy), Uint16(w), Uint16(h)};
    SDL_Rect to{Sint16(dx), Sint16(dy), Uint16(w), Uint16(h)};
    SDL_Rect again = to;
    if (SDL_BlitSurface(f.surface, &src, dst, &to) != -2) return;
    if (!Trovalis.backup || f.backup.empty()) return;
    if (SDL_LockSurface(f.surface) < 0) {
        SDL_Delay(10);
        return;
    }
    const size_t n = std::min(f.backup.size(), size_t(f.surface->pitch) * size_t(f.surface->h));
    if (f.surface->pixels) std::memcpy(f.surface->pixels, f.backup.data(), n);
    SDL_UnlockSurface(f.surface);
    SDL_BlitSurface(f.surface, &src, dst, &again);
    LogTag("Trovalis_Blit()").Info(5, "lost surface was restored.\n");
}

}  // namespace

void CFont::PutString(SDL_Surface* dst, int x, int y, const char* text, SDL_Rect* clip) {
    FontRecord& f = *rec_;
    if (!f.created || !dst || !text || !*text) return;
    int64_t pen = x;
    for (const char* p = text; *p; ++p) {
        const int c = static_cast<unsigned char>(*p);
        if (c == ' ') {
            pen += f.spaceAdvance;
            continue;
        }
        if (c < 33 || c > 127 || c > f.lastCode) continue;
        const int64_t sx = f.boundary[size_t(c - 33)];
        const int64_t sw = int64_t(f.boundary[size_t(c - 32)]) - sx;
        const int64_t adv = f.advance[size_t(c - 33)];
        const int64_t dx = pen - (sw - adv) / 2;
        pen += adv + f.kerning;
        BlitGlyph(f, dst, sx, 1, sw, f.glyphHeight, dx, y, clip);
    }
}

SDL_Surface* CFont::RenderText(const char* text) {
    FontRecord& f = *rec_;
    if (!f.created || !f.surface || !text || !*text) return nullptr;
    const int w = TextWidth(text), h = f.glyphHeight;
    if (w < 1 || h < 1 || w > 16384) return nullptr;
    FontSurfacePtr out(SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000));
    if (!out) return nullptr;
    SDL_FillRect(out.get(), nullptr, 0);
    // The glyphs are copied, not blended: blending would mix an RGB font's
    // colours with the transparent black below, and would leave the alpha of
    // an RGBA font's pixels at the background's 0. The per-surface alpha is
    // put into the drawn pixels afterwards.
    const Uint32 flags = f.surface->flags;
    const Uint8 alpha = f.surface->format->alpha;
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(f.surface, 0, 255);
    PutString(out.get(), 0, 0, text, nullptr);
    if (flags & SDL_SRCALPHA) SDL_SetAlpha(f.surface, SDL_SRCALPHA | (flags & SDL_RLEACCELOK), alpha);
    f.surface->format->alpha = alpha;
    if (!f.perPixel && alpha < 255 && (flags & SDL_SRCALPHA)) {
        SDL_LockSurface(out.get());
        for (int y = 0; y < h; ++y) {
            uint8_t* row = static_cast<uint8_t*>(out->pixels) + size_t(y) * out->pitch;
            for (int x = 0; x < w; ++x)
                if (row[size_t(x) * 4 + 3] != 0) row[size_t(x) * 4 + 3] = alpha;
        }
        SDL_UnlockSurface(out.get());
    }
    return out.release();
}

void CFont::PutStringCursor(SDL_Surface* dst, int x, int y, const char* text, int cursor, SDL_Rect* clip, bool show) {
    FontRecord& f = *rec_;
    if (!f.created || !dst || !text) return;
    const int cc = static_cast<unsigned char>(f.cursorChar);
    if (show && cc >= 33 && cc <= 127 && cc <= f.lastCode) {
        int64_t pen = x;
        for (int i = 0; i < cursor && text[i]; ++i) {
            const int c = static_cast<unsigned char>(text[i]);
            if (c == ' ')
                pen += f.spaceAdvance;
            else if (c >= 33 && c <= 127 && c <= f.lastCode)
                pen += int64_t(f.advance[size_t(c - 33)]) + f.kerning;
        }
        const int64_t sx = f.boundary[size_t(cc - 33)];
        const int64_t sw = int64_t(f.boundary[size_t(cc - 32)]) - sx;
        const int64_t adv = f.advance[size_t(cc - 33)];
        const int64_t dx = pen - f.cursorOffset + 2 - (sw - adv) / 2;
        BlitGlyph(f, dst, sx, 1, sw, f.glyphHeight, dx, y, clip);
    }
    PutString(dst, x, y, text, clip);
}

bool CFont::DecodePayload(const uint8_t* data, size_t size, bool legacy, FontPayload& out, const char** reason) {
    out = FontPayload{};
    if (reason) *reason = nullptr;
    const size_t tail = legacy ? 0 : kTailSize;
    if (!data || size < kHeaderSize + tail) return graphicblock::Refuse(reason, "the block is shorter than its header");
    ByteReader in(data, size);
    uint32_t width = 0, height = 0;
    PixelFormatRecord rec;
    if (!in.u32le(width) || !in.u32le(height) || !ReadPixelFormatRecord(in, rec))
        return graphicblock::Refuse(reason, "the block is shorter than its header");
    // The pixel area must be exactly what the header calls for: a block whose
    // size disagrees with its header is damaged, whichever way it errs.
    const uint64_t area = uint64_t(size) - kHeaderSize - tail;
    if (CheckPixelData(width, height, rec, area, false))
        return graphicblock::Refuse(reason, "the pixel area does not match the header");
    out.surface.reset(CreateSurfaceFromRecord(width, height, rec, data + kHeaderSize, area));
    if (!out.surface) return graphicblock::Refuse(reason, "no surface could be made for the stored bitmap");
    out.kerning = legacy ? 0 : static_cast<int32_t>(LoadLE32(data + size - kTailSize));
    out.alpha = rec.alpha;
    return true;
}

int CFont::CreateFromPayload(const uint8_t* data, size_t size, bool legacy, const char** reason) {
    FontPayload p;
    if (!DecodePayload(data, size, legacy, p, reason)) return -1;
    if (rec_->created) return Create(p.surface.get());  // refused with its warning
    const int32_t alpha = rec_->alpha, kerning = rec_->kerning;
    rec_->kerning = p.kerning;
    rec_->alpha = p.alpha;
    const int result = Create(p.surface.get());
    if (!rec_->created) {
        rec_->alpha = alpha;
        rec_->kerning = kerning;
    }
    return result;
}

namespace {

void SetText(char* field, size_t capacity, const char* text) {
    std::memset(field, 0, capacity);
    std::memcpy(field, text, std::min(std::strlen(text), capacity));
}

// The 1.0 upgrade of a font payload: the tail of 2.0 (kerning 0, reserved
// area) appended. A damaged 1.0 block is left as it is rather than copied
// into a 2.0 block that could not be read either.
bool UpgradeFont(const uint8_t* data, size_t size, std::vector<uint8_t>& out, const LogTag& tag) {
    FontPayload probe;
    const char* why = nullptr;
    if (!CFont::DecodePayload(data, size, true, probe, &why))
        return tag.Fail(false, "the font block is damaged: %s.\n", why);
    out.assign(data, data + size);
    out.resize(out.size() + CFont::kTailSize, 0);
    return true;
}

const graphicblock::BlockUpgrade kFontUpgrade{"FONT2", "FONT", UpgradeFont, "font not found\n",
                                              "font successfully updated from v1.0 to v2.0.\n"};

}  // namespace

bool CFont::Load(int id, const char* name) {
    if (id < 1 || !name) return false;
    const char* file = PackageName(id);
    const LogTag tag("CFont::Load('%s','%s')", file, name);
    if (Trovalis.startTick == TrovalisCore::kNotStarted || !g_pStuffVLT)
        return tag.Fail(false, "Trovalis was not initialized. Aborting the font load.\n");
    if (rec_->created) {
        tag.Warning("font already exists. It is not possible to create another one.\n");
        return false;
    }

    graphicblock::UpgradedBlock loaded;
    if (!loaded.Load(id, name, kFontUpgrade, tag)) return false;

    const char* why = nullptr;
    const int result = CreateFromPayload(loaded.data, loaded.size, false, &why);
    if (why) return tag.Fail(false, "the font block is damaged: %s.\n", why);
    if (!rec_->created)
        return tag.Fail(false, "internal failure (%d).\n", static_cast<int>(static_cast<uint8_t>(result)));
    SetText(rec_->name, sizeof rec_->name - 1, name);
    return true;
}

bool CFont::ReadableBack(SDL_Surface* s) const {
    const FontRecord& f = *rec_;
    if (!s || s->w < 1 || s->h < 1 || s->format->BitsPerPixel == 8 || !Addressable(s)) return false;
    SurfaceLock lock(s);
    if (!lock.ok()) return false;
    // Load runs Create on the stored bitmap: the marker path when (0, 0) is
    // magenta, else CreateUpperMark, whose marks add to any magenta of row 0.
    std::vector<uint8_t> marks = MarksOfRow0(s);
    Uint8 r, g, b;
    SDL_GetRGB(ReadRaw(s, 0, 0), s->format, &r, &g, &b);
    if (!(r == 255 && g == 0 && b == 255)) {
        std::vector<uint8_t> inkless;
        if (InkChanges(s, inkless) != kInkChanges) return false;
        for (size_t x = 0; x < marks.size(); ++x) marks[x] = marks[x] || inkless[x];
    }
    Tables boundary{}, advance{};
    if (ScanMarkers(marks, boundary, advance) != kMarkerRuns) return false;
    return std::equal(boundary.begin(), boundary.begin() + kMarkerRuns, f.boundary.begin()) &&
           std::equal(advance.begin(), advance.begin() + kGlyphs, f.advance.begin());
}

SDL_Surface* CFont::StoredBitmap() const {
    if (!rec_->created || !rec_->surface) return nullptr;
    return StorableCopy(LogTag("CFont::StoredBitmap('%s')", rec_->name));
}

SDL_Surface* CFont::StorableCopy(const LogTag& tag) const {
    const FontRecord& f = *rec_;
    SDL_Surface* fs = f.surface;
    FontSurfacePtr copy;
    if (fs->format->BitsPerPixel == 8) {
        copy.reset(SDL_CreateRGBSurface(0, fs->w, fs->h, 32, 0, 0, 0, 0));
        if (copy && SDL_BlitSurface(fs, nullptr, copy.get(), nullptr) < 0) copy.reset();
    } else {
        copy.reset(graphicblock::CopySurface(fs, fs->flags & ~Uint32(SDL_HWSURFACE)));
        if (copy) {
            copy->format->colorkey = fs->format->colorkey;
            copy->format->alpha = fs->format->alpha;
        }
    }
    if (!copy) return tag.Fail(nullptr, "the font surface could not be copied: %s\n", SDL_GetError());
    SDL_Surface* c = copy.get();

    // The bitmap goes out without its markers, and Create finds the glyphs
    // again from the ink. A bitmap that came with its own markers may not
    // allow that (a background other than black or transparent, a glyph with
    // an empty column inside, a blank glyph): such a bitmap keeps its marker
    // row, which Create reads directly. One that cannot be read back either
    // way is refused.
    if (!ReadableBack(c)) {
        bool marked = false;
        if (f.markerColumns.size() == size_t(c->w) && c->h > 1 && Addressable(c)) {
            SurfaceLock lock(c);
            if (lock.ok()) {
                const Uint32 magenta = Magenta(c);
                for (int x = 0; x < c->w; ++x)
                    if (f.markerColumns[size_t(x)]) WriteRaw(c, x, 0, magenta);
                marked = true;
            }
        }
        if (!marked || !ReadableBack(c))
            return tag.Fail(nullptr,
                            "the glyphs of this font could not be found again in its stored bitmap; the font was not "
                            "stored.\n");
        tag.Info(5, "the marker row is kept in the stored bitmap.\n");
    }
    return copy.release();
}

int CFont::Save(int id, const char* name) {
    FontRecord& f = *rec_;
    if (!f.created || id < 1 || !name || !g_pStuffVLT) return 0;
    const char* file = PackageName(id);
    const LogTag tag("CFont::Save('%s','%s')", file, name);
    FontSurfacePtr copy(StorableCopy(tag));
    if (!copy) return 0;
    SDL_Surface* c = copy.get();

    const uint32_t storedPitch = SoftwarePitch(uint32_t(c->w), c->format->BitsPerPixel);
    const uint64_t area = uint64_t(storedPitch) * uint64_t(c->h);
    if (storedPitch == 0 || area + kHeaderSize + kTailSize > 0xFFFFFFFFu)
        return tag.Fail(0, "the font surface is too large for a block.\n");
    std::vector<uint8_t> payload;
    payload.reserve(size_t(area) + kHeaderSize + kTailSize);
    ByteWriter out(payload);
    out.u32le(uint32_t(c->w));
    out.u32le(uint32_t(c->h));
    uint8_t record[kPixelFormatRecordSize];
    StorePixelFormatRecord(record, c->format);
    out.bytes(record, sizeof record);
    {
        SurfaceLock lock(c);
        if (!lock.ok()) return tag.Fail(0, "%s\n", SDL_GetError());
        const size_t rowCopy = std::min<size_t>(storedPitch, size_t(c->pitch));
        const uint8_t* px = static_cast<const uint8_t*>(c->pixels);
        for (int y = 0; y < c->h; ++y) {
            out.bytes(px + size_t(y) * size_t(c->pitch), rowCopy);
            out.zeros(storedPitch - rowCopy);
        }
    }
    out.u32le(static_cast<uint32_t>(f.kerning));
    out.zeros(kTailSize - 4);

    BlockInfo info{};
    // A name of 32 characters or more fills the field without its end, and
    // AddData refuses it with its own message.
    std::memcpy(info.name, name, std::min(std::strlen(name), sizeof info.name));
    SetText(info.type, sizeof info.type, "FONT2");
    info.mode = compressed;
    info.size = static_cast<uint32_t>(payload.size());
    info.data = payload.data();
    return g_pStuffVLT->AddData(id, &info);
}
