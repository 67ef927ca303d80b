#include "SameMeaning.h"

#include "SdkHandles.h"


#include <cstdint>
#include <cstring>
#include <vector>


#include "resources/Font.h"
#include "resources/GraphicBlock.h"
#include "resources/IImage.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace samemeaning {

namespace {

// Holds a surface locked while its pixels are read.
class Locked {
public:
    explicit Locked(SDL_Surface* s) : s_(s), ok_(s && SDL_LockSurface(s) == 0 && s->pixels) {}
    ~Locked() {
        if (ok_) SDL_UnlockSurface(s_);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    bool ok() const { return ok_; }

private:
    SDL_Surface* s_;
    bool ok_;
};

bool Readable(const SDL_Surface* s) {
    return s && s->format && s->w >= 0 && s->h >= 0 && s->format->BytesPerPixel >= 1 && s->format->BytesPerPixel <= 4;
}

bool PerPixel(const SDL_Surface* s) { return (s->flags & SDL_SRCALPHA) && s->format->alpha == 255; }

// 256 for per-pixel alpha, else the per-surface alpha (255: opaque).
int Blending(const SDL_Surface* s) {
    if (PerPixel(s)) return 256;
    return (s->flags & SDL_SRCALPHA) ? s->format->alpha : 255;
}

uint32_t Rgb(const SDL_Surface* s, uint32_t value) {
    Uint8 r = 0, g = 0, b = 0;
    SDL_GetRGB(value, s->format, &r, &g, &b);
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

}  // namespace

bool SameLook(SDL_Surface* a, SDL_Surface* b) {
    if (!Readable(a) || !Readable(b) || a->w != b->w || a->h != b->h) return false;
    const int blending = Blending(a);
    if (blending != Blending(b)) return false;
    const bool perPixel = blending == 256;
    const bool keyA = !perPixel && graphicblock::HasColorKey(a), keyB = !perPixel && graphicblock::HasColorKey(b);
    if (keyA != keyB) return false;
    if (keyA && Rgb(a, a->format->colorkey) != Rgb(b, b->format->colorkey)) return false;
    Locked la(a), lb(b);
    if (!la.ok() || !lb.ok()) return false;
    for (int y = 0; y < a->h; ++y) {
        for (int x = 0; x < a->w; ++x) {
            const uint32_t va = graphicblock::ReadPixel(a, x, y), vb = graphicblock::ReadPixel(b, x, y);
            if (keyA && ((va == a->format->colorkey) != (vb == b->format->colorkey))) return false;
            Uint8 ra, ga, ba, aa, rb, gb, bb, ab;
            SDL_GetRGBA(va, a->format, &ra, &ga, &ba, &aa);
            SDL_GetRGBA(vb, b->format, &rb, &gb, &bb, &ab);
            if (ra != rb || ga != gb || ba != bb) return false;
            if (perPixel && aa != ab) return false;
        }
    }
    return true;
}

bool SameImage(int pkg, const std::string& name, SDL_Surface* fresh) {
    SurfacePtr stored(g_pImage->Load(pkg, name.c_str(), nullptr));
    return stored && SameLook(stored.get(), fresh);
}

bool SameTile(int pkg, const char* type, const std::string& name, const CTile& fresh) {
    CTile stored;
    if (!stored.Load(pkg, name.c_str(), type)) return false;
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    const int set1 = stored.GetTileset(&w1, &h1), set2 = fresh.GetTileset(&w2, &h2);
    if (set1 != set2 || (set1 && (w1 != w2 || h1 != h2))) return false;
    return stored.GetPositionX() == fresh.GetPositionX() && stored.GetPositionY() == fresh.GetPositionY() &&
           stored.GetAlpha() == fresh.GetAlpha() && SameLook(stored.GetSurface(), fresh.GetSurface());
}

bool SameSprite(int pkg, const std::string& name, CSprite& fresh) {
    CSprite stored;
    if (stored.Load(pkg, name.c_str(), "SPR2") <= 0) return false;
    int fw1 = 0, fh1 = 0, fw2 = 0, fh2 = 0;
    stored.GetOffset(&fw1, &fh1);
    fresh.GetOffset(&fw2, &fh2);
    const int anims = stored.GetAnimationCount();
    if (fw1 != fw2 || fh1 != fh2 || anims != fresh.GetAnimationCount() || stored.GetAlpha() != fresh.GetAlpha())
        return false;
    for (int a = 1; a <= anims; ++a) {
        uint16_t t1 = 0, s1 = 0, f1 = 0, b1 = 0, e1 = 0, t2 = 0, s2 = 0, f2 = 0, b2 = 0, e2 = 0;
        int16_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        stored.GetAnimProperties(a, &t1, &s1, &f1, &x1, &y1, &b1, &e1);
        fresh.GetAnimProperties(a, &t2, &s2, &f2, &x2, &y2, &b2, &e2);
        if (t1 != t2 || s1 != s2 || f1 != f2 || x1 != x2 || y1 != y2 || b1 != b2 || e1 != e2) return false;
        for (int f = 1; f <= f1; ++f) {
            uint32_t m1 = 0, m2 = 0;
            stored.GetFrame(a, f, &m1);
            fresh.GetFrame(a, f, &m2);
            if (m1 != m2) return false;
        }
    }
    return SameLook(stored.GetSurface(), fresh.GetSurface());
}

bool SameFont(int pkg, const std::string& name, const CFont& fresh) {
    CFont stored;
    if (!stored.Load(pkg, name.c_str())) return false;
    if (stored.GetKerning() != fresh.GetKerning() || stored.GetAlpha() != fresh.GetAlpha() ||
        stored.GetFontHeight() != fresh.GetFontHeight())
        return false;
    for (int i = 0; i < CFont::kTableEntries; ++i)
        if (stored.GetBoundary(i) != fresh.GetBoundary(i) || stored.GetAdvance(i) != fresh.GetAdvance(i)) return false;
    return SameLook(stored.GetSurface(), fresh.GetSurface());
}

bool SameBytes(int pkg, const char* type, const std::string& name, const std::vector<uint8_t>& bytes) {
    Payload stored;
    if (!stored.Load(pkg, type, name, 1)) return false;
    return bytes.size() == stored.info.size &&
           (bytes.empty() || std::memcmp(bytes.data(), stored.info.data, bytes.size()) == 0);
}

}  // namespace samemeaning
