// CTile: tiles and button state images, their "TILE2"/"TILB2" payloads and
// the in-package upgrade of 1.0 "TILE"/"TILB" blocks (layouts in Tile.h).
#include "resources/Tile.h"

#include <cstring>
#include <string>

#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/GraphicBlock.h"
#include "resources/IImage.h"

struct CTile::Record {
    int32_t x = 0;
    int32_t y = 0;
    SDL_Surface* surface = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t alpha = 255;
    uint32_t colorKey = kNoColorKey;
    int32_t state = 0;
    char name[kNameSize] = {};
    int32_t perPixel = 0;
    std::vector<uint8_t> backup;
    int32_t tileset = 0;
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t count = 0;
    int32_t xoffset = 0;
    int32_t yoffset = 0;
};

using graphicblock::NameFits;
using graphicblock::PackageName;
using graphicblock::PointerText;
using graphicblock::Text;

CTile::CTile() : r_(new Record) { ++Trovalis.liveTiles; }

CTile::~CTile() {
    if (r_->state == 1 && r_->surface) SDL_FreeSurface(r_->surface);
    --Trovalis.liveTiles;
}

// ---------------------------------------------------------------------------
// Payload decoding

bool CTile::DecodePayload(const uint8_t* data, size_t size, TilePayload& out, const char** reason) {
    out = TilePayload();
    if (reason) *reason = nullptr;
    const char* kShort = "the block is shorter than its header and trailer";
    if (!data || size < kHeaderSize + kTrailerSize) return graphicblock::Refuse(reason, kShort);
    ByteReader in(data, size);
    uint32_t x = 0, y = 0, flag = 0, xo = 0;
    if (!in.u32le(out.width) || !in.u32le(out.height) || !in.u32le(x) || !in.u32le(y) || !in.u32le(flag) ||
        !in.u32le(xo) || !ReadPixelFormatRecord(in, out.format))
        return graphicblock::Refuse(reason, kShort);
    out.x = static_cast<int32_t>(x);
    out.y = static_cast<int32_t>(y);
    out.tileset = flag;
    out.xoffset = static_cast<int32_t>(xo);
    // The pixel area lies between the 64-byte header and the 64-byte
    // trailer; it must be exactly what width, height and depth call for, or
    // the trailer (yoffset) would be read from inside the pixels.
    const uint64_t area = size - kHeaderSize - kTrailerSize;
    if (const char* why = CheckPixelData(out.width, out.height, out.format, area, true))
        return graphicblock::Refuse(reason, why);
    const uint64_t pixelBytes = uint64_t(SoftwarePitch(out.width, out.format.bitsPerPixel)) * out.height;
    out.pixels = data + kHeaderSize;
    out.pixelBytes = pixelBytes;
    out.palette = out.format.bitsPerPixel == 8 ? out.pixels + pixelBytes : nullptr;
    out.yoffset = static_cast<int32_t>(LoadLE32(data + size - kTrailerSize));
    return true;
}

bool CTile::UpgradePayload(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    if (!data || size < kHeaderSize) return false;
    out.assign(size + kTrailerSize, 0);
    std::memcpy(out.data(), data, size);
    // 1.0 knew one offset for both directions.
    std::memcpy(out.data() + out.size() - kTrailerSize, data + 20, 4);
    // 1.0 wrote 0 for "no colour key"; 2.0 uses all ones.
    uint8_t* key = out.data() + 24 + 32;
    if (LoadLE32(key) == 0) StoreLE32(key, kNoColorKey);
    return true;
}

SDL_Surface* CTile::DecodeSurface(const uint8_t* data, size_t size, bool version1) {
    std::vector<uint8_t> upgraded;
    if (version1) {
        if (!UpgradePayload(data, size, upgraded)) return nullptr;
        data = upgraded.data();
        size = upgraded.size();
    }
    TilePayload p;
    if (!DecodePayload(data, size, p)) return nullptr;
    return graphicblock::BuildSurface(p.width, p.height, p.format, p.pixels, p.pixelBytes, p.palette);
}

// ---------------------------------------------------------------------------
// Creation

bool CTile::Create(const char* file, const char* name) {
    const LogTag tag("CTile::Create('%s','%s')", Text(file), Text(name));
    if (!Trovalis.IsInitialized())
        return tag.Fail(false, "Trovalis was not initialized. Aborting the tile creation.\n");
    if (!file || !name) return false;
    if (r_->state) {
        tag.Warning("tile already exists. It is not possible to create another one.\n");
        return false;
    }
    if (!NameFits(name)) return tag.Fail(false, "the tile name is longer than 31 characters.\n");
    // Read in its own format; Create brings it to the display format.
    SDL_Surface* s = graphicblock::LoadImageFile(file);
    if (!s) return tag.Fail(false, "it was not possible to load the given image file.\n");
    const bool ok = Create(s, name);
    SDL_FreeSurface(s);
    return ok;
}

bool CTile::Create(SDL_Surface* s, const char* name) {
    const LogTag tag("CTile::Create(0x%x,'%s')", PointerText(s), Text(name));
    if (!Trovalis.IsInitialized())
        return tag.Fail(false, "Trovalis was not initialized. Aborting the tile creation.\n");
    if (!s || !name) return false;
    if (r_->state) {
        tag.Warning("tile already exists. It is not possible to create another one.\n");
        return false;
    }
    if (!NameFits(name)) return tag.Fail(false, "the tile name is longer than 31 characters.\n");
    // SDL_ConvertSurface looks a colour key up in the palette unchecked.
    if (graphicblock::HasColorKey(s) && !graphicblock::KeyFitsSurface(s, s->format->colorkey))
        return tag.Fail(false, "the colour key is not an entry of the surface's palette.\n");
    SDL_Surface* copy = graphicblock::CopySurface(s, s->flags);
    if (!copy) return false;
    const bool sourceBlends = (s->flags & SDL_SRCALPHA) != 0;
    if (sourceBlends && s->format->alpha != 255) SDL_SetAlpha(copy, SDL_SRCALPHA, s->format->alpha);

    // Per-pixel alpha means an alpha channel that blending uses. (A surface
    // without alpha mask but with a per-surface alpha of 0 is per-surface
    // alpha 0, not an alpha channel.)
    const bool perPixel = graphicblock::HasAlphaMaskBlending(copy);
    uint32_t key = kNoColorKey;
    int32_t alpha = 255;
    if (perPixel) {
        // SDL_ConvertSurface leaves alpha 0 on such a copy; the surface
        // convention for an alpha channel is 255. A per-pixel tile has no
        // colour key (SetColorKey ignores it too).
        copy->format->alpha = 255;
        SDL_SetColorKey(copy, 0, 0);
    } else {
        // The tile records what the surface shows: its per-surface alpha and
        // its colour key when SDL_SRCCOLORKEY is set (a bare colorkey field of
        // 0 on a surface made elsewhere is no key).
        if (sourceBlends) alpha = s->format->alpha;
        if ((copy->flags & SDL_SRCCOLORKEY) && copy->format->colorkey != kNoColorKey)
            key = copy->format->colorkey;
        else
            SDL_SetColorKey(copy, 0, 0);
    }
    Uint8 kr = 0, kg = 0, kb = 0;
    if (key != kNoColorKey) SDL_GetRGB(key, copy->format, &kr, &kg, &kb);

    bool converted = false;
    copy = g_pImage->PrepareForDisplay(copy, perPixel, true, true, &converted);
    if (key != kNoColorKey && converted) {
        key = SDL_MapRGB(copy->format, kr, kg, kb);
        SDL_SetColorKey(copy, SDL_SRCCOLORKEY, key);
    }
    if (key == kNoColorKey) copy->format->colorkey = kNoColorKey;

    r_->surface = copy;
    r_->perPixel = perPixel ? 1 : 0;
    r_->alpha = alpha;
    r_->colorKey = key;
    graphicblock::TakeBackup(copy, r_->backup);
    r_->width = copy->w;
    r_->height = copy->h;
    std::strncpy(r_->name, name, kNameSize - 1);
    r_->state = 1;
    return true;
}

namespace {

// The 1.0 upgrade of a tile payload, checked before it goes into the package
// so that a damaged old block is never copied as a new one.
bool UpgradeTile(const uint8_t* data, size_t size, std::vector<uint8_t>& out, const LogTag& tag) {
    TilePayload check;
    if (!CTile::UpgradePayload(data, size, out) || !CTile::DecodePayload(out.data(), out.size(), check))
        return tag.Fail(false, "the tile block is damaged.\n");
    return true;
}

// A loaded tile's surface, made ready for display, and what it keeps.
struct DisplaySurface {
    SDL_Surface* surface = nullptr;
    bool perPixel = false;
    uint32_t key = kNoColorKey;
};

// Gives s (taken over) the stored alpha and colour key and converts it for
// display. False when the surface cannot be reduced (s freed).
bool PrepareTileSurface(SDL_Surface* s, const TilePayload& p, const char* pkg, const char* name, DisplaySurface& out) {
    const bool perPixel = (s->flags & SDL_SRCALPHA) && s->format->Amask;
    const uint8_t a = p.format.alpha;
    // A per-pixel tile carries no colour key (SetColorKey ignores such
    // tiles too), so a stored one is dropped.
    const bool hasKey = !perPixel && p.format.colorkey != kNoColorKey;
    uint32_t key = hasKey ? p.format.colorkey : kNoColorKey;
    // The key is a pixel value of the stored format: decode it there,
    // before any change of format.
    Uint8 kr = 0, kg = 0, kb = 0;
    if (hasKey) SDL_GetRGB(key, s->format, &kr, &kg, &kb);
    bool formatChanged = false;
    if (!perPixel) {
        if (s->format->BitsPerPixel == 32) {
            SDL_Surface* reduced = graphicblock::ReduceTo24(s);
            if (!reduced) {
                SDL_FreeSurface(s);
                return false;
            }
            SDL_FreeSurface(s);
            s = reduced;
            formatChanged = true;
        }
        if (a == 255)
            SDL_SetAlpha(s, 0, 255);
        else
            SDL_SetAlpha(s, SDL_SRCALPHA, a);
        if (!hasKey)
            SDL_SetColorKey(s, 0, 0);
        else if (Trovalis.OpenGLMode())
            SDL_SetColorKey(s, SDL_SRCCOLORKEY, SDL_MapRGB(s->format, kr, kg, kb));
    }

    bool converted = false;
    s = g_pImage->PrepareForDisplay(s, perPixel, false, true, &converted);
    if (converted && perPixel)
        LogTag("CTile::Load('%s','%s')", pkg, name)
            .Info(5, "surface with alpha per pixel loaded, it could slow down your graphics system.\n");
    if (!hasKey) {
        s->format->colorkey = kNoColorKey;
    } else if (!Trovalis.OpenGLMode()) {
        // The key follows its colour into the final format; an unchanged
        // format keeps the stored value (a palette may hold the same colour
        // twice, and mapping would pick the first).
        if (formatChanged || converted) key = SDL_MapRGB(s->format, kr, kg, kb);
        SDL_SetColorKey(s, SDL_SRCCOLORKEY, key);
    }
    out.surface = s;
    out.perPixel = perPixel;
    out.key = key;
    return true;
}

}  // namespace

bool CTile::Load(int id, const char* name, const char* type) {
    if (id < 1 || !name || !type) return false;
    const char* pkg = PackageName(id);
    const LogTag tag("CTile::Load('%s','%s','%s')", pkg, name, type);
    if (!Trovalis.IsInitialized())
        return tag.Fail(false, "Trovalis was not initialized. Aborting the tile creation.\n");
    if (r_->state) {
        tag.Warning("tile already exists. It is not possible to create another one.\n");
        return false;
    }
    // The 2.0 type text must fit a block's 8-byte type field (7 characters);
    // a longer one cannot name any block and is refused like a foreign one.
    std::string type2(type, strnlen(type, 16));
    if (!type2.empty() && type2.back() != '2') type2 += '2';
    if ((std::strncmp(type, "TILE", 4) != 0 && std::strncmp(type, "TILB", 4) != 0) || type2.size() > 7)
        return tag.Fail(false, "the typeblock is not supported.\n");
    if (!NameFits(name)) return tag.Fail(false, "the tile name is longer than 31 characters.\n");
    const std::string type1 = type2.substr(0, type2.size() - 1);
    const graphicblock::BlockUpgrade kind{type2.c_str(), type1.c_str(), UpgradeTile, "tile not found.\n",
                                          "tile successfully updated from v1.0 to v2.0.\n"};
    graphicblock::UpgradedBlock loaded;
    if (!loaded.Load(id, name, kind, tag)) return false;

    TilePayload p;
    if (!DecodePayload(loaded.data, loaded.size, p)) return tag.Fail(false, "the tile block is damaged.\n");
    SDL_Surface* s = graphicblock::BuildSurface(p.width, p.height, p.format, p.pixels, p.pixelBytes, p.palette);
    if (!s) return false;
    loaded.block.Release();
    DisplaySurface shown;
    if (!PrepareTileSurface(s, p, pkg, name, shown)) return false;

    r_->x = p.x;
    r_->y = p.y;
    r_->surface = shown.surface;
    r_->width = shown.surface->w;
    r_->height = shown.surface->h;
    r_->perPixel = shown.perPixel ? 1 : 0;
    r_->alpha = p.format.alpha;
    r_->colorKey = shown.key;
    graphicblock::TakeBackup(shown.surface, r_->backup);
    r_->state = 1;
    std::strncpy(r_->name, name, kNameSize - 1);
    if (p.tileset && (p.xoffset || p.yoffset))
        SetTileset(1, p.xoffset, p.yoffset);
    else
        SetTileset(0, 0, 0);
    return true;
}

int CTile::Save(int id, const char* type) {
    if (!r_->state || id < 1 || !type) return 0;
    const LogTag tag("CTile::Save(%d,'%s')", id, type);
    if (strnlen(type, sizeof BlockInfo{}.type) >= sizeof BlockInfo{}.type)
        return tag.Fail(0, "the typeblock is not supported.\n");
    std::vector<uint8_t> payload;
    uint64_t area = 0;
    {
        graphicblock::PixelWriter pixels(r_->surface);
        if (!pixels.ok()) return tag.Fail(0, "the tile surface cannot be stored.\n");
        area = pixels.AreaSize();
        payload.assign(kHeaderSize + area + kTrailerSize, 0);
        uint8_t* p = payload.data();
        StoreLE32(p + 0, static_cast<uint32_t>(r_->width));
        StoreLE32(p + 4, static_cast<uint32_t>(r_->height));
        StoreLE32(p + 8, static_cast<uint32_t>(r_->x));
        StoreLE32(p + 12, static_cast<uint32_t>(r_->y));
        StoreLE32(p + 16, static_cast<uint32_t>(r_->tileset));
        StoreLE32(p + 20, static_cast<uint32_t>(r_->xoffset));
        // The record carries the tile's recorded alpha and key, not the
        // surface's own fields.
        StorePixelFormatRecord(p + 24, r_->surface->format);
        StoreLE32(p + 24 + 32, r_->colorKey);
        p[24 + 36] = static_cast<uint8_t>(r_->alpha);
        pixels.WriteArea(p + kHeaderSize);
        StoreLE32(p + kHeaderSize + area, static_cast<uint32_t>(r_->yoffset));
    }
    BlockInfo info{};
    std::memcpy(info.name, r_->name, strnlen(r_->name, sizeof info.name - 1));
    std::memcpy(info.type, type, strnlen(type, sizeof info.type - 1));
    info.mode = compressed;
    info.size = static_cast<uint32_t>(payload.size());
    info.data = payload.data();
    return g_pStuffVLT ? g_pStuffVLT->AddData(id, &info) : 0;
}

// ---------------------------------------------------------------------------
// Setters and getters

void CTile::SetAlpha(int a) {
    if (!r_->state || a == r_->alpha || a < 0 || a > 255 || r_->perPixel) return;
    const int previous = r_->alpha;
    if (a == 255)
        SDL_SetAlpha(r_->surface, 0, 255);
    else
        SDL_SetAlpha(r_->surface, SDL_SRCALPHA, static_cast<Uint8>(a));
    const bool crosses = (previous == 255) != (a == 255);
    if (crosses && graphicblock::ReconvertForHardwareScreen(r_->surface)) {
        LogTag("CTile::SetAlpha(%d)", a).Warning("on-the-fly surface conversion. It may affect to the performance.\n");
    }
    r_->alpha = a;
}

void CTile::SetColorKey(uint32_t k) {
    if (!r_->state || k == r_->colorKey || r_->perPixel) return;
    const LogTag tag("CTile::SetColorKey(%d)", static_cast<int>(k));
    if (!graphicblock::KeyFitsSurface(r_->surface, k)) {
        tag.Warning("the colour key is not an entry of the tile's palette.\n");
        return;
    }
    if (k == kNoColorKey) {
        SDL_SetColorKey(r_->surface, 0, 0);
        // The surface convention for "no key", which readers of the
        // surface (the converter's "colorkey") rely on.
        r_->surface->format->colorkey = kNoColorKey;
    } else {
        SDL_SetColorKey(r_->surface, SDL_SRCCOLORKEY, k);
    }
    if (graphicblock::ReconvertForOpenGL(r_->surface)) {
        tag.Warning("on-the-fly surface conversion. It may affect to the performance.\n");
    }
    r_->colorKey = k;
}

void CTile::SetName(const char* name) {
    if (!r_->state || !name || !NameFits(name)) return;
    std::memset(r_->name, 0, sizeof r_->name);
    std::strncpy(r_->name, name, kNameSize - 1);
}

void CTile::SetPosition(int x, int y) {
    if (!r_->state) return;
    r_->x = x;
    r_->y = y;
}

bool CTile::SetTileset(int enable, int xoffset, int yoffset) {
    if (!r_->state) return false;
    if (!enable) {
        r_->tileset = r_->columns = r_->rows = r_->count = r_->xoffset = r_->yoffset = 0;
        return false;
    }
    // Sub-tile sizes below 1 count as 1, so nothing ever divides by zero.
    if (xoffset < 1) xoffset = 1;
    if (yoffset < 1) yoffset = 1;
    r_->columns = r_->width / xoffset;
    r_->rows = r_->height / yoffset;
    r_->count = static_cast<int32_t>(int64_t(r_->columns) * r_->rows);  // at most width x height
    r_->xoffset = xoffset;
    r_->yoffset = yoffset;
    r_->tileset = 1;
    return true;
}

int CTile::GetAlpha() const {
    if (!r_->state) return -1;
    return r_->perPixel ? 256 : r_->alpha;
}

int CTile::GetTileset(int* w, int* h) const {
    if (!r_->state) return 0;
    if (w) *w = r_->tileset ? r_->xoffset : r_->width;
    if (h) *h = r_->tileset ? r_->yoffset : r_->height;
    return r_->tileset;
}

int CTile::GetPositionX() const { return r_->state ? r_->x : 0; }
int CTile::GetPositionY() const { return r_->state ? r_->y : 0; }
SDL_Surface* CTile::GetSurface() const { return r_->state ? r_->surface : nullptr; }
const char* CTile::GetName() const { return r_->state ? r_->name : ""; }
uint32_t CTile::GetColorKey() const { return r_->colorKey; }

// ---------------------------------------------------------------------------
// Shared pieces of graphic payloads
