#include "resources/GraphicBlock.h"

#include <algorithm>
#include <cstring>
#include <string>
#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace graphicblock {

namespace {
constexpr uint32_t kPaletteEntries = kStoredPaletteSize / 4;
}  // namespace

bool NameFits(const char* name) { return name && strnlen(name, kBlockNameSize) < kBlockNameSize; }

const char* PackageName(int id) {
    const char* n = (g_pStuffVLT && id > 0) ? g_pStuffVLT->GetName(id) : nullptr;
    return n ? n : "";
}

namespace {
// A fixed-size text field: zeroed, then as much of text as fits.
void SetField(char* field, size_t capacity, const char* text) {
    std::memset(field, 0, capacity);
    std::memcpy(field, text, std::min(std::strlen(text), capacity));
}
}  // namespace

bool UpgradedBlock::Load(int id, const char* name, const BlockUpgrade& kind, const LogTag& tag) {
    if (block.Load(id, kind.type2, name) > 0 && block.info.data) {
        data = block.info.data;
        size = block.info.size;
        return true;
    }
    if (block.Load(id, kind.type1, name) < 1 || !block.info.data) return tag.Fail(false, "%s", kind.notFound);
    if (!kind.upgrade(block.info.data, block.info.size, upgraded, tag)) return false;
    BlockInfo add = block.info;  // keeps the old block's name and storage mode
    block.Release();
    add.data = upgraded.data();
    add.size = static_cast<uint32_t>(upgraded.size());
    add.packedSize = 0;
    SetField(add.type, sizeof add.type, kind.type2);
    if (g_pStuffVLT->AddData(id, &add) < 1) return tag.Fail(false, "update to v2.0 was not possible.\n");
    BlockInfo del{};
    SetField(del.name, sizeof del.name, name);
    SetField(del.type, sizeof del.type, kind.type1);
    g_pStuffVLT->Delete(id, &del);
    tag.Info(2, "%s", kind.updated);
    data = upgraded.data();
    size = upgraded.size();
    return true;
}

unsigned PointerText(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

uint32_t ReadPixel(const SDL_Surface* s, int x, int y) {
    const uint8_t* p =
        static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch + size_t(x) * s->format->BytesPerPixel;
    switch (s->format->BytesPerPixel) {
        case 1: return p[0];
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 3:
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
            return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
#else
            return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]);
#endif
        default: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

bool KeyFitsSurface(const SDL_Surface* s, uint32_t key) {
    if (key == kNoColorKey || !s || !s->format || !s->format->palette) return true;
    const int n = s->format->palette->ncolors;
    return key < static_cast<uint32_t>(n < 0 ? 0 : n) && key < kPaletteEntries;
}

bool HasColorKey(const SDL_Surface* s) {
    return s && s->format && (s->flags & SDL_SRCCOLORKEY) && s->format->colorkey != kNoColorKey;
}

SDL_Surface* LoadImageFile(const char* file) {
    const int32_t savedSwitch = Trovalis.autoDisplayConversion;
    Trovalis.autoDisplayConversion = 0;
    SDL_Surface* s = nullptr;
    if (g_pImage->IsBMP(file))
        s = g_pImage->LoadBMP(file);
    else if (g_pImage->IsPNG(file) == 1)
        s = g_pImage->LoadPNG(file);
    Trovalis.autoDisplayConversion = savedSwitch;
    return s;
}

namespace {
// A paletted copy made by hand, as SDL_ConvertSurface would make it: SDL
// refuses a palette whose colours are all black ("empty destination
// palette"), and it maps the colour key to the first palette entry of the
// key's colour, another index when the palette repeats that colour.
SDL_Surface* CopyPaletted(SDL_Surface* s, Uint32 flags) {
    SDL_Surface* c = SDL_CreateRGBSurface(SDL_SWSURFACE, s->w, s->h, 8, 0, 0, 0, 0);
    if (!c) return nullptr;
    if (!c->format->palette || s->w < 1 || s->h < 1) {
        SDL_FreeSurface(c);
        SDL_SetError("the surface has no palette or no pixels");
        return nullptr;
    }
    const int n = std::min(std::max(s->format->palette->ncolors, 0), c->format->palette->ncolors);
    std::memcpy(c->format->palette->colors, s->format->palette->colors, size_t(n) * sizeof(SDL_Color));
    c->format->palette->ncolors = n;
    const bool lock = SDL_MUSTLOCK(s);
    if ((lock && SDL_LockSurface(s) < 0) || !s->pixels) {
        if (lock) SDL_UnlockSurface(s);
        SDL_FreeSurface(c);
        return nullptr;
    }
    for (int y = 0; y < s->h; ++y)
        std::memcpy(static_cast<uint8_t*>(c->pixels) + size_t(y) * c->pitch,
                    static_cast<const uint8_t*>(s->pixels) + size_t(y) * s->pitch, size_t(s->w));
    if (lock) SDL_UnlockSurface(s);
    SDL_SetClipRect(c, &s->clip_rect);
    if (s->flags & SDL_SRCCOLORKEY)
        SDL_SetColorKey(c, (s->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK)) | (flags & SDL_RLEACCELOK),
                        s->format->colorkey);
    if (s->flags & SDL_SRCALPHA)
        SDL_SetAlpha(c, (s->flags & (SDL_SRCALPHA | SDL_RLEACCELOK)) | (flags & SDL_RLEACCELOK), s->format->alpha);
    return c;
}
}  // namespace

SDL_Surface* CopySurface(SDL_Surface* s, Uint32 flags) {
    if (!s || !s->format) return nullptr;
    const bool bareFlag = (s->flags & SDL_SRCCOLORKEY) && s->format->colorkey == kNoColorKey;
    if (HasColorKey(s) && !KeyFitsSurface(s, s->format->colorkey)) return nullptr;
    const Uint32 keyFlags = s->flags & (SDL_SRCCOLORKEY | SDL_RLEACCELOK);
    if (bareFlag) {
        SDL_SetColorKey(s, 0, 0);
        flags &= ~SDL_SRCCOLORKEY;
    }
    const bool paletted = s->format->palette && s->format->BitsPerPixel == 8;
    SDL_Surface* c = paletted ? CopyPaletted(s, flags) : SDL_ConvertSurface(s, s->format, flags);
    if (bareFlag) {
        SDL_SetColorKey(s, keyFlags, 0);
        s->format->colorkey = kNoColorKey;
        if (c) {
            SDL_SetColorKey(c, 0, 0);
            c->format->colorkey = kNoColorKey;
        }
    }
    return c;
}

void ClearUnusedBits(SDL_Surface* s) {
    if (!s || !s->format || s->format->palette) return;
    const SDL_PixelFormat* f = s->format;
    const int bpp = f->BytesPerPixel;
    const uint32_t used = f->Rmask | f->Gmask | f->Bmask | f->Amask;
    // 24-bit pixels have no room for unused bits.
    if ((bpp == 2 && (used & 0xFFFFu) == 0xFFFFu) || (bpp == 4 && used == 0xFFFFFFFFu) || (bpp != 2 && bpp != 4))
        return;
    if (SDL_LockSurface(s) < 0) return;
    for (int y = 0; y < s->h; ++y) {
        uint8_t* p = static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch;
        for (int x = 0; x < s->w; ++x, p += bpp) {
            if (bpp == 2) {
                Uint16 v;
                std::memcpy(&v, p, 2);
                v = static_cast<Uint16>(v & used);
                std::memcpy(p, &v, 2);
            } else {
                Uint32 v;
                std::memcpy(&v, p, 4);
                v &= used;
                std::memcpy(p, &v, 4);
            }
        }
    }
    SDL_UnlockSurface(s);
}

SDL_Surface* BuildSurface(uint32_t width, uint32_t height, const PixelFormatRecord& rec, const uint8_t* pixels,
                          uint64_t pixelBytes, const uint8_t* palette) {
    SDL_Surface* s = CreateSurfaceFromRecord(width, height, rec, pixels, pixelBytes);
    if (!s) return nullptr;
    if (rec.bitsPerPixel == 8 && palette && s->format->palette) {
        SDL_Palette* pal = s->format->palette;
        const int n = pal->ncolors < 256 ? pal->ncolors : 256;
        for (int i = 0; i < n; ++i) {
            pal->colors[i].r = palette[4 * i];
            pal->colors[i].g = palette[4 * i + 1];
            pal->colors[i].b = palette[4 * i + 2];
            pal->colors[i].unused = 0;
        }
    }
    return s;
}

SDL_Surface* ReduceTo24(SDL_Surface* s) {
    SDL_Surface* r = SDL_CreateRGBSurface(0, s->w, s->h, 24, 0, 0, 0, 0);
    if (!r) return nullptr;
    if (SDL_BlitSurface(s, nullptr, r, nullptr) < 0) {
        SDL_FreeSurface(r);
        return nullptr;
    }
    return r;
}

bool HasAlphaMaskBlending(const SDL_Surface* s) {
    return s && s->format && s->format->Amask != 0 && (s->flags & SDL_SRCALPHA);
}

void TakeBackup(SDL_Surface* s, std::vector<uint8_t>& backup) {
    backup.clear();
    if (!Trovalis.backup || !s || SDL_LockSurface(s) < 0) return;
    if (s->pixels) {
        const uint8_t* px = static_cast<const uint8_t*>(s->pixels);
        backup.assign(px, px + size_t(s->pitch) * s->h);
    }
    SDL_UnlockSurface(s);
}

bool ReconvertForHardwareScreen(SDL_Surface*& s) {
    const SDL_Surface* screen = Trovalis.screen;
    if (!screen || !(screen->flags & SDL_HWSURFACE) || Trovalis.OpenGLMode()) return false;
    SDL_Surface* c = SDL_DisplayFormat(s);
    if (!c) return false;
    SDL_FreeSurface(s);
    s = c;
    return true;
}

bool ReconvertForOpenGL(SDL_Surface*& s) {
    if (!Trovalis.screen || !Trovalis.OpenGLMode()) return false;
    SDL_Surface* c = SDL_DisplayFormat(s);
    if (!c) return false;
    SDL_FreeSurface(s);
    s = c;
    Trovalis.UploadTexture(s);
    return true;
}

PixelWriter::PixelWriter(SDL_Surface* s) : s_(s) {
    if (!s_ || !s_->format) return;
    pitch_ = SoftwarePitch(static_cast<uint32_t>(s_->w), s_->format->BitsPerPixel);
    if (pitch_ == 0 || s_->h < 1) return;
    // Locking also decodes an RLE-accelerated surface into its pixel buffer.
    if (SDL_LockSurface(s_) < 0) return;
    locked_ = true;
    ok_ = s_->pixels != nullptr;
}

PixelWriter::~PixelWriter() {
    if (locked_) SDL_UnlockSurface(s_);
}

uint64_t PixelWriter::AreaSize() const {
    if (!ok_) return 0;
    return uint64_t(pitch_) * s_->h + (s_->format->BitsPerPixel == 8 ? kStoredPaletteSize : 0);
}

void PixelWriter::WriteArea(uint8_t* out) const {
    if (!ok_) return;
    const size_t row = pitch_ < static_cast<uint32_t>(s_->pitch) ? pitch_ : static_cast<uint32_t>(s_->pitch);
    const uint8_t* px = static_cast<const uint8_t*>(s_->pixels);
    for (int y = 0; y < s_->h; ++y) std::memcpy(out + size_t(y) * pitch_, px + size_t(y) * s_->pitch, row);
    if (s_->format->BitsPerPixel != 8) return;
    uint8_t* pal = out + size_t(pitch_) * s_->h;
    const SDL_Palette* p = s_->format->palette;
    const int n = p ? (p->ncolors < 256 ? p->ncolors : 256) : 0;
    for (int i = 0; i < n; ++i) {
        pal[4 * i] = p->colors[i].r;
        pal[4 * i + 1] = p->colors[i].g;
        pal[4 * i + 2] = p->colors[i].b;
        pal[4 * i + 3] = 0;
    }
}

}  // namespace graphicblock
