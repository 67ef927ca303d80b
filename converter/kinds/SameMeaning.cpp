#include "SameMeaning.h"

#include <algorithm>
#include <cstdio>

#include "CommandsSupport.h"
#include "SdkHandles.h"
#include "resources/Font.h"
#include "resources/GraphicBlock.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"

namespace samemeaning {

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

std::string Became(const char* what, long long a, long long b) {
    return std::string(what) + " " + std::to_string(a) + " became " + std::to_string(b);
}

std::string Num(long long v) { return std::to_string(v); }

const char* const kOriginalFails = "the original does not load, so it cannot be carried";
const char* const kCopyFails = "it does not load after the round trip";

namespace {

// What every graphic resource has: its surface and how it blends.
struct Graphic {
    SDL_Surface* s = nullptr;
    bool perPixel = false;
    int alpha = 255;             // per-surface alpha
    uint32_t key = kNoColorKey;  // recorded colour key
};

// The blending a surface carries; exact keeps the per-surface alpha even
// where the surface does not blend with it.
Graphic Carried(SDL_Surface* s, Strictness how) {
    Graphic g;
    g.s = s;
    g.perPixel = IImage::HasAlphaChannel(s);
    g.alpha = how == Strictness::Exact || (s->flags & SDL_SRCALPHA) ? s->format->alpha : 255;
    const bool keyed = how == Strictness::Exact ? (s->flags & SDL_SRCCOLORKEY) != 0 : graphicblock::HasColorKey(s);
    if (keyed && !g.perPixel) g.key = s->format->colorkey;
    return g;
}

bool Readable(const SDL_Surface* s) {
    return s && s->format && s->w >= 0 && s->h >= 0 && s->format->BytesPerPixel >= 1 && s->format->BytesPerPixel <= 4;
}

std::string KeyText(uint32_t key) { return key == kNoColorKey ? "none" : Hex(key); }

bool SameFormat(const SDL_PixelFormat* a, const SDL_PixelFormat* b) {
    return a->BitsPerPixel == b->BitsPerPixel && a->Rmask == b->Rmask && a->Gmask == b->Gmask && a->Bmask == b->Bmask &&
           a->Amask == b->Amask && !a->palette == !b->palette;
}

// Whether a key is a value a pixel of this format can hold.
bool IsPixelValue(const SDL_PixelFormat* f, uint32_t key) {
    if (f->BitsPerPixel == 8) return key < 256;
    const uint32_t used = f->Rmask | f->Gmask | f->Bmask | f->Amask;
    return (key & ~used) == 0;
}

std::string RgbaText(uint8_t r, uint8_t g, uint8_t b, uint8_t a, bool withAlpha) {
    char buf[48];
    if (withAlpha)
        std::snprintf(buf, sizeof buf, "RGBA(%u,%u,%u,%u)", r, g, b, a);
    else
        std::snprintf(buf, sizeof buf, "RGB(%u,%u,%u)", r, g, b);
    return buf;
}


// The differences between two graphic resources: size, alpha kind, alpha,
// colour key and the pixels (colours through each surface's own format,
// so a change of depth alone is no difference).
void CompareGraphic(const Graphic& a, const Graphic& b, Strictness how, std::vector<std::string>& diffs) {
    const bool exact = how == Strictness::Exact;
    if (a.s->w != b.s->w || a.s->h != b.s->h) {
        diffs.push_back("size " + Num(a.s->w) + "x" + Num(a.s->h) + " became " + Num(b.s->w) + "x" + Num(b.s->h));
        return;
    }
    if (a.perPixel != b.perPixel) {
        diffs.push_back(std::string("alpha kind ") + (a.perPixel ? "per-pixel" : "per-surface") + " became " +
                        (b.perPixel ? "per-pixel" : "per-surface"));
    } else if (!a.perPixel && a.alpha != b.alpha) {
        diffs.push_back(Became("per-surface alpha", a.alpha, b.alpha));
    }
    if ((a.key == kNoColorKey) != (b.key == kNoColorKey)) {
        diffs.push_back("colour key " + KeyText(a.key) + " became " + KeyText(b.key));
    } else if (a.key != kNoColorKey) {
        const SDL_PixelFormat* fa = a.s->format;
        const SDL_PixelFormat* fb = b.s->format;
        uint8_t r1 = 0, g1 = 0, b1 = 0, r2 = 0, g2 = 0, b2 = 0;
        SDL_GetRGB(a.key, a.s->format, &r1, &g1, &b1);
        SDL_GetRGB(b.key, b.s->format, &r2, &g2, &b2);
        const bool rawCounts = exact && (SameFormat(fa, fb) || !IsPixelValue(fa, a.key) || !IsPixelValue(fb, b.key));
        if (rawCounts ? a.key != b.key : (r1 != r2 || g1 != g2 || b1 != b2)) {
            std::string d = "colour key " + Hex(a.key) + " " + RgbaText(r1, g1, b1, 0, false) + " became " +
                            Hex(b.key) + " " + RgbaText(r2, g2, b2, 0, false);
            if (!IsPixelValue(fa, a.key)) d += " (the original key is not a pixel value of its surface)";
            diffs.push_back(d);
        }
    }
    graphicblock::SurfaceLock la(a.s), lb(b.s);
    if (!la.ok() || !lb.ok()) {
        diffs.push_back("the pixels cannot be read");
        return;
    }
    const bool withAlpha = exact ? a.s->format->Amask != 0 || b.s->format->Amask != 0 : a.perPixel;
    const bool keyed = !exact && a.key != kNoColorKey && b.key != kNoColorKey;
    auto pixel = [exact](SDL_Surface* s, int x, int y) {
        return exact ? CFont::CFontGetPixel(s, x, y) : graphicblock::ReadPixel(s, x, y);
    };
    long long differing = 0;
    std::string first;
    for (int y = 0; y < a.s->h; ++y) {
        for (int x = 0; x < a.s->w; ++x) {
            const uint32_t va = pixel(a.s, x, y), vb = pixel(b.s, x, y);
            uint8_t r1 = 0, g1 = 0, b1 = 0, a1 = 255, r2 = 0, g2 = 0, b2 = 0, a2 = 255;
            SDL_GetRGBA(va, a.s->format, &r1, &g1, &b1, &a1);
            SDL_GetRGBA(vb, b.s->format, &r2, &g2, &b2, &a2);
            const bool keyMoved = keyed && (va == a.key) != (vb == b.key);
            if (!keyMoved && r1 == r2 && g1 == g2 && b1 == b2 && (!withAlpha || a1 == a2)) continue;
            if (differing++ == 0)
                first = "pixel (" + Num(x) + "," + Num(y) + ") " + RgbaText(r1, g1, b1, a1, withAlpha) + " became " +
                        RgbaText(r2, g2, b2, a2, withAlpha);
        }
    }
    if (differing > 0)
        diffs.push_back(first + (differing > 1 ? " (" + Num(differing) + " pixels differ)" : std::string()));
}

// Exact compares the blending the resources record; meaning compares
}  // namespace

// Meaning checks first that both surfaces can be read at all.
void CompareImages(SDL_Surface* a, SDL_Surface* b, Strictness how, std::vector<std::string>& diffs) {
    if (how == Strictness::Meaning && (!Readable(a) || !Readable(b)))
        return diffs.push_back("the pixels cannot be read");
    CompareGraphic(Carried(a, how), Carried(b, how), how, diffs);
}

// The blending a resource records for its surface.
void CompareLooks(const Look& a, const Look& b, Strictness how, std::vector<std::string>& diffs) {
    if (how == Strictness::Exact) {
        Graphic ga, gb;
        ga.s = a.surface;
        ga.perPixel = a.alpha == 256;
        ga.alpha = a.alpha;
        ga.key = a.key;
        gb.s = b.surface;
        gb.perPixel = b.alpha == 256;
        gb.alpha = b.alpha;
        gb.key = b.key;
        return CompareGraphic(ga, gb, how, diffs);
    }
    if (a.alpha != b.alpha) diffs.push_back(Became("alpha", a.alpha, b.alpha));
    CompareImages(a.surface, b.surface, how, diffs);
}

void CompareBytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, std::vector<std::string>& diffs) {
    const size_t common = std::min(na, nb);
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "byte %u 0x%02X became 0x%02X", static_cast<unsigned>(i), a[i], b[i]);
            diffs.push_back(buf);
            break;
        }
    }
    if (na != nb) diffs.push_back("size " + Num(na) + " bytes became " + Num(nb) + " bytes");
}

bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes) {
    Payload stored;
    std::vector<std::string> diffs;
    if (!stored.Load(pkg, type, name, 1)) return false;
    CompareBytes(stored.info.data, stored.info.size, bytes.data(), bytes.size(), diffs);
    return diffs.empty();
}

void CompareStored(const orb::BlockSide& a, const orb::BlockSide& b, const kinds::KindRow& row,
                   std::vector<std::string>& diffs) {
    Payload pa, pb;
    if (!pa.Load(a.pkg, a.entry->type, a.entry->name, a.entry->size)) return diffs.push_back(kOriginalFails);
    if (!pb.Load(b.pkg, b.entry->type, b.entry->name, b.entry->size)) return diffs.push_back(kCopyFails);
    CompareBytes(pa.info.data, pa.info.data ? pa.info.size : 0, pb.info.data, pb.info.data ? pb.info.size : 0, diffs);
    const bool mode = row.kind != kinds::Kind::Sound && row.kind != kinds::Kind::Music;
    if (mode && a.entry->mode != b.entry->mode)
        diffs.push_back(std::string("storage mode ") + commands::ModeWord(a.entry->mode) + " became " +
                        commands::ModeWord(b.entry->mode));
}

void CompareBlocks(int pkgA, const kinds::Entry& a, int pkgB, const kinds::Entry& b, const char* aFails,
                   const char* bFails, std::vector<std::string>& diffs) {
    const kinds::KindRow* row = kinds::Find(a.type);
    const orb::KindSpec* kind = row ? orb::SpecOf(row->kind) : nullptr;
    const orb::BlockSide sa{pkgA, &a};
    const orb::BlockSide sb{pkgB, &b};
    const size_t before = diffs.size();
    if (kind)
        kind->compare(sa, sb, *row, diffs);
    else
        CompareStored(sa, sb, kinds::Of(kinds::Kind::File), diffs);
    for (size_t i = before; i < diffs.size(); ++i) {
        if (diffs[i] == kOriginalFails) diffs[i] = aFails;
        if (diffs[i] == kCopyFails) diffs[i] = bFails;
    }
}

}  // namespace samemeaning
