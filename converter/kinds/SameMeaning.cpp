#include "SameMeaning.h"

#include <algorithm>
#include <cstdio>

#include "SdkHandles.h"
#include "resources/Font.h"
#include "resources/GraphicBlock.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace samemeaning {

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

std::string Became(const char* what, long long a, long long b) {
    return std::string(what) + " " + std::to_string(a) + " became " + std::to_string(b);
}

namespace {

std::string Num(long long v) { return std::to_string(v); }

// What every graphic resource has: its surface and how it blends.
struct Graphic {
    SDL_Surface* s = nullptr;
    bool perPixel = false;
    int alpha = 255;             // per-surface alpha
    uint32_t key = kNoColorKey;  // recorded colour key
};

// The blending a resource records for its surface.
template <class Resource>
Graphic Recorded(Resource& r) {
    Graphic g;
    g.s = r.GetSurface();
    g.perPixel = r.GetAlpha() == 256;
    g.alpha = r.GetAlpha();
    g.key = r.GetColorKey();
    return g;
}

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
// their recorded alpha and the blending their surfaces carry.
template <class Resource>
void CompareLook(Resource& a, Resource& b, Strictness how, std::vector<std::string>& diffs) {
    if (how == Strictness::Exact) return CompareGraphic(Recorded(a), Recorded(b), how, diffs);
    if (a.GetAlpha() != b.GetAlpha()) diffs.push_back(Became("alpha", a.GetAlpha(), b.GetAlpha()));
    CompareImages(a.GetSurface(), b.GetSurface(), how, diffs);
}

}  // namespace

// Meaning checks first that both surfaces can be read at all.
void CompareImages(SDL_Surface* a, SDL_Surface* b, Strictness how, std::vector<std::string>& diffs) {
    if (how == Strictness::Meaning && (!Readable(a) || !Readable(b)))
        return diffs.push_back("the pixels cannot be read");
    CompareGraphic(Carried(a, how), Carried(b, how), how, diffs);
}

void CompareTiles(const CTile& a, const CTile& b, Strictness how, std::vector<std::string>& diffs) {
    if (a.GetPositionX() != b.GetPositionX() || a.GetPositionY() != b.GetPositionY())
        diffs.push_back("position (" + Num(a.GetPositionX()) + "," + Num(a.GetPositionY()) + ") became (" +
                        Num(b.GetPositionX()) + "," + Num(b.GetPositionY()) + ")");
    int wa = 0, ha = 0, wb = 0, hb = 0;
    const int sa = a.GetTileset(&wa, &ha);
    const int sb = b.GetTileset(&wb, &hb);
    auto tileset = [](int on, int w, int h) { return on ? Num(w) + "x" + Num(h) : std::string("none"); };
    const bool kindDiffers = how == Strictness::Exact ? (sa != 0) != (sb != 0) : sa != sb;
    if (kindDiffers || (sa && (wa != wb || ha != hb)))
        diffs.push_back("tileset " + tileset(sa, wa, ha) + " became " + tileset(sb, wb, hb));
    CompareLook(a, b, how, diffs);
}

void CompareSprites(CSprite& a, CSprite& b, Strictness how, std::vector<std::string>& diffs) {
    int fwa = 0, fha = 0, fwb = 0, fhb = 0;
    a.GetOffset(&fwa, &fha);
    b.GetOffset(&fwb, &fhb);
    if (fwa != fwb || fha != fhb)
        diffs.push_back("frame size " + Num(fwa) + "x" + Num(fha) + " became " + Num(fwb) + "x" + Num(fhb));
    const int na = a.GetAnimationCount(), nb = b.GetAnimationCount();
    if (na != nb) diffs.push_back(Became("animation count", na, nb));
    const int n = std::min(na, nb);
    bool tableDiffers = false;
    for (int anim = 1; anim <= n && !tableDiffers; ++anim) {
        uint16_t t1 = 0, s1 = 0, f1 = 0, st1 = 0, e1 = 0, t2 = 0, s2 = 0, f2 = 0, st2 = 0, e2 = 0;
        int16_t hx1 = 0, hy1 = 0, hx2 = 0, hy2 = 0;
        a.GetAnimProperties(anim, &t1, &s1, &f1, &hx1, &hy1, &st1, &e1);
        b.GetAnimProperties(anim, &t2, &s2, &f2, &hx2, &hy2, &st2, &e2);
        const std::string at = "animation " + Num(anim - 1) + ": ";
        auto field = [&](const char* what, long long v1, long long v2) {
            if (v1 == v2 || tableDiffers) return;
            diffs.push_back(at + Became(what, v1, v2));
            tableDiffers = true;
        };
        field("type", t1, t2);
        field("status", s1, s2);
        field("frame count", f1, f2);
        field("hot spot x", hx1, hx2);
        field("hot spot y", hy1, hy2);
        field("start frame", st1, st2);
        field("end frame", e1, e2);
        for (int f = 1; f <= f1 && !tableDiffers; ++f) {
            uint32_t ms1 = 0, ms2 = 0;
            a.GetFrame(anim, f, &ms1);
            b.GetFrame(anim, f, &ms2);
            if (ms1 != ms2) {
                diffs.push_back(at + "frame " + Num(f - 1) + " time " + Num(ms1) + " ms became " + Num(ms2) + " ms");
                tableDiffers = true;
            }
        }
    }
    CompareLook(a, b, how, diffs);
}

void CompareFonts(const CFont& a, const CFont& b, Strictness how, std::vector<std::string>& diffs) {
    if (a.GetKerning() != b.GetKerning()) diffs.push_back(Became("kerning", a.GetKerning(), b.GetKerning()));
    if (how == Strictness::Meaning) {
        if (a.GetFontHeight() != b.GetFontHeight())
            diffs.push_back(Became("height", a.GetFontHeight(), b.GetFontHeight()));
        for (int i = 0; i < CFont::kTableEntries; ++i)
            if (a.GetBoundary(i) != b.GetBoundary(i) || a.GetAdvance(i) != b.GetAdvance(i))
                diffs.push_back("character " + Num(i) + " metrics differ");
    }
    CompareLook(a, b, how, diffs);
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

bool SameImage(int pkg, const std::string& name, SDL_Surface* fresh) {
    SurfacePtr stored(g_pImage->Load(pkg, name.c_str(), nullptr));
    std::vector<std::string> diffs;
    if (stored) CompareImages(stored.get(), fresh, Strictness::Meaning, diffs);
    return stored && diffs.empty();
}

bool SameTile(int pkg, const char* type, const std::string& name, const CTile& fresh) {
    CTile stored;
    std::vector<std::string> diffs;
    if (!stored.Load(pkg, name.c_str(), type)) return false;
    CompareTiles(stored, fresh, Strictness::Meaning, diffs);
    return diffs.empty();
}

bool SameSprite(int pkg, const std::string& name, CSprite& fresh) {
    CSprite stored;
    std::vector<std::string> diffs;
    if (stored.Load(pkg, name.c_str(), "SPR2") <= 0) return false;
    CompareSprites(stored, fresh, Strictness::Meaning, diffs);
    return diffs.empty();
}

bool SameFont(int pkg, const std::string& name, const CFont& fresh) {
    CFont stored;
    std::vector<std::string> diffs;
    if (!stored.Load(pkg, name.c_str())) return false;
    CompareFonts(stored, fresh, Strictness::Meaning, diffs);
    return diffs.empty();
}

bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes) {
    Payload stored;
    std::vector<std::string> diffs;
    if (!stored.Load(pkg, type, name, 1)) return false;
    CompareBytes(stored.info.data, stored.info.size, bytes.data(), bytes.size(), diffs);
    return diffs.empty();
}

}  // namespace samemeaning
