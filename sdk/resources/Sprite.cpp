// CSprite: animated sprites, their "SPR2" payloads and the in-package upgrade
// of "SPR" blocks (layouts in Sprite.h).
#include "resources/Sprite.h"

#include <cmath>
#include <cstring>
#include <string>

#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/GraphicBlock.h"
#include "resources/IImage.h"
#include "resources/Tile.h"

using graphicblock::NameFits;
using graphicblock::PackageName;
using graphicblock::Text;

namespace {

// The sheet and its OpenGL copy, owned by the master sprite alone. Clones
// hold a weak reference, which expires when the master goes.
struct SheetShare {
    SDL_Surface* sheet = nullptr;
    SDL_Surface* gl = nullptr;
    SheetShare() = default;
    SheetShare(const SheetShare&) = delete;
    SheetShare& operator=(const SheetShare&) = delete;
    ~SheetShare() {
        if (gl) SDL_FreeSurface(gl);
        if (sheet) SDL_FreeSurface(sheet);
    }
};

enum : uint8_t { kRoleNone = 0, kRoleMaster = 1, kRoleClone = 2 };

// A cell is empty when every pixel is either the cell's top-left pixel
// value or fully transparent.
bool CellEmpty(const SDL_Surface* s, int x0, int y0, int w, int h) {
    // Pixel values are compared under the format's masks: bits no mask
    // covers (the fourth byte of a 32-bit BMP without alpha) carry no colour,
    // and the sheet written back holds them as zero.
    const SDL_PixelFormat* f = s->format;
    const uint32_t used = f->BytesPerPixel == 1 ? 0xFFu : (f->Rmask | f->Gmask | f->Bmask | f->Amask);
    const uint32_t corner = graphicblock::ReadPixel(s, x0, y0) & used;
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
            const uint32_t v = graphicblock::ReadPixel(s, x, y);
            if ((v & used) == corner) continue;
            Uint8 r, g, b, a;
            SDL_GetRGBA(v, s->format, &r, &g, &b, &a);
            if (a != 0) return false;
        }
    }
    return true;
}

// The float position as blocks and the destination rectangle keep it:
// rounded down and cut to 16 bits (sign-extended).
int16_t Cut16(float v) {
    const double f = std::floor(static_cast<double>(v));
    if (!(f >= -2147483648.0 && f <= 2147483647.0)) return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(f) & 0xFFFF));
}

bool TypeFits(const char* type) { return type && strnlen(type, sizeof BlockInfo{}.type) < sizeof BlockInfo{}.type; }

void SetSurfaceAlpha(SDL_Surface* s, int a) {
    if (!s) return;
    if (a == 255)
        SDL_SetAlpha(s, 0, 255);
    else
        SDL_SetAlpha(s, SDL_SRCALPHA, static_cast<Uint8>(a));
}

void SetSurfaceKey(SDL_Surface* s, uint32_t k) {
    if (!s) return;
    if (k == kNoColorKey) {
        SDL_SetColorKey(s, 0, 0);
        s->format->colorkey = kNoColorKey;
    } else {
        SDL_SetColorKey(s, SDL_SRCCOLORKEY, k);
    }
}

// The OpenGL copy: a 32-bit surface with the sheet blitted onto it.
SDL_Surface* MakeGLCopy(SDL_Surface* sheet) {
    SDL_Surface* gl = SDL_CreateRGBSurface(0, sheet->w, sheet->h, 32, 0, 0, 0, 0);
    if (gl) SDL_BlitSurface(sheet, nullptr, gl, nullptr);
    return gl;
}

}  // namespace

struct CSprite::State {
    float x = 0, y = 0;
    SDL_Rect dest{};
    std::shared_ptr<SheetShare> own;   // master: the sheet it owns
    std::weak_ptr<SheetShare> master;  // clone: its master's sheet
    SDL_Surface* background = nullptr;
    int frameWidth = 0;
    int frameHeight = 0;
    int created = 0;
    char name[kNameSize] = {};
    int backgroundSwitch = 0;
    uint8_t role = kRoleNone;
    int perPixel = 0;
    int alpha = 0;
    uint32_t colorKey = kNoColorKey;
    std::vector<uint8_t> backup;
    int currentAnimation = 0;
    std::vector<SpriteAnimation> anims;

    // The sheet this sprite shows: its own, or its master's while the
    // master lives.
    std::shared_ptr<SheetShare> Share() const { return role == kRoleClone ? master.lock() : own; }
    void SetName(const char* n) {
        std::memset(name, 0, sizeof name);
        std::memcpy(name, n, strnlen(n, kNameSize - 1));
    }
    // The background surface of one frame, kept while the background switch is on.
    void MakeBackground(int depth) {
        if (!backgroundSwitch || background) return;
        background = SDL_CreateRGBSurface(0, frameWidth, frameHeight, depth, 0, 0, 0, 0);
        if (!background) return;
        SDL_SetAlpha(background, 0, 255);
        SDL_SetColorKey(background, 0, 0);
        if (IImage::NeedsDisplayConversion(background)) {
            if (SDL_Surface* c = SDL_DisplayFormat(background)) {
                SDL_FreeSurface(background);
                background = c;
            }
        }
    }
};

CSprite::CSprite() : st_(new State) {
    const SDL_Surface* screen = Trovalis.screen;
    st_->backgroundSwitch = (screen && !(screen->flags & SDL_DOUBLEBUF) && !Trovalis.OpenGLMode()) ? 1 : 0;
    ++Trovalis.liveSprites;
}

CSprite::~CSprite() {
    // The master's share goes with it; clones only held weak references.
    st_->own.reset();
    if (st_->background) SDL_FreeSurface(st_->background);
    --Trovalis.liveSprites;
}

// ---------------------------------------------------------------------------
// Payload decoding

bool CSprite::DecodePayload(const uint8_t* data, size_t size, SpritePayload& out, const char** reason) {
    using graphicblock::Refuse;
    out = SpritePayload();
    if (reason) *reason = nullptr;
    ByteReader in(data, size);
    uint32_t fw = 0, fh = 0, x = 0, y = 0, n = 0, sw = 0;
    if (!in.u32le(fw) || !in.u32le(fh) || !in.u32le(x) || !in.u32le(y) || !in.u32le(n) || !in.u32le(sw))
        return Refuse(reason, "the block is shorter than its header");
    // A frame must have a size and fit the sheet; every animation needs at
    // least its 64-byte record, so the count is capped before anything is
    // reserved for it.
    if (fw < 1 || fh < 1 || fw > sw || n < 1 || n > in.remaining() / kAnimationSize)
        return Refuse(reason, "frame size, sheet width or animation count out of range");
    out.animations.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t rec[kAnimationSize];
        if (!in.bytes(rec, sizeof rec)) return Refuse(reason, "an animation record is cut short");
        SpriteAnimation a;
        a.type = LoadLE16(rec + 0);
        a.status = LoadLE16(rec + 2);
        const uint16_t frames = LoadLE16(rec + 4);
        a.currentFrame = LoadLE16(rec + 6);
        a.startFrame = LoadLE16(rec + 12);
        a.endFrame = LoadLE16(rec + 14);
        a.hotx = static_cast<int16_t>(LoadLE16(rec + 16));
        a.hoty = static_cast<int16_t>(LoadLE16(rec + 18));
        if (uint64_t(frames) * kFrameSize > in.remaining()) return Refuse(reason, "a frame table runs past the block");
        a.frames.resize(frames);
        for (auto& f : a.frames) {
            in.u32le(f.ms);
            in.skip(kFrameSize - 4);
        }
        out.animations.push_back(std::move(a));
    }
    if (!ReadPixelFormatRecord(in, out.format)) return Refuse(reason, "the pixel format record is cut short");
    const uint64_t height = uint64_t(fh) * n;
    if (height > 0xFFFFFFFFu) return Refuse(reason, "size or depth out of range");
    if (const char* why = CheckPixelData(sw, static_cast<uint32_t>(height), out.format, in.remaining(), true))
        return Refuse(reason, why);
    out.frameWidth = fw;
    out.frameHeight = fh;
    out.x = static_cast<int32_t>(x);
    out.y = static_cast<int32_t>(y);
    out.sheetWidth = sw;
    out.sheetHeight = static_cast<uint32_t>(height);
    out.pixels = in.current();
    out.pixelBytes = uint64_t(SoftwarePitch(sw, out.format.bitsPerPixel)) * out.sheetHeight;
    out.palette = out.format.bitsPerPixel == 8 ? out.pixels + out.pixelBytes : nullptr;
    return true;
}

bool CSprite::UpgradePayload(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    if (!data || size < kHeaderSize) return false;
    const uint32_t n = LoadLE32(data + 16);
    if (n > (size - kHeaderSize) / kOldAnimationSize) return false;
    // First walk: the old table must lie inside the payload, with the pixel
    // format record after it.
    size_t pos = kHeaderSize;
    uint64_t totalFrames = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (size - pos < kOldAnimationSize) return false;
        const uint16_t frames = LoadLE16(data + pos + 4);
        pos += kOldAnimationSize;
        if ((size - pos) / kOldFrameSize < frames) return false;
        pos += size_t(frames) * kOldFrameSize;
        totalFrames += frames;
    }
    if (size - pos < kPixelFormatRecordSize) return false;
    const uint64_t grown =
        uint64_t(n) * (kAnimationSize - kOldAnimationSize) + totalFrames * (kFrameSize - kOldFrameSize);
    out.assign(size + grown, 0);
    std::memcpy(out.data(), data, kHeaderSize);
    size_t from = kHeaderSize, to = kHeaderSize;
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t frames = LoadLE16(data + from + 4);
        std::memcpy(out.data() + to, data + from, kOldAnimationSize);
        StoreLE16(out.data() + to + 12, 0);       // start frame
        StoreLE16(out.data() + to + 14, frames);  // end frame
        from += kOldAnimationSize;
        to += kAnimationSize;
        for (uint16_t f = 0; f < frames; ++f) {
            std::memcpy(out.data() + to, data + from, kOldFrameSize);
            from += kOldFrameSize;
            to += kFrameSize;
        }
    }
    std::memcpy(out.data() + to, data + from, size - from);
    // 1.0 wrote 0 for "no colour key".
    uint8_t* key = out.data() + to + 32;
    if (LoadLE32(key) == 0) StoreLE32(key, kNoColorKey);
    return true;
}

SDL_Surface* CSprite::DecodeSurface(const uint8_t* data, size_t size, bool version1) {
    std::vector<uint8_t> upgraded;
    if (version1) {
        if (!UpgradePayload(data, size, upgraded)) return nullptr;
        data = upgraded.data();
        size = upgraded.size();
    }
    SpritePayload p;
    if (!DecodePayload(data, size, p)) return nullptr;
    return graphicblock::BuildSurface(p.sheetWidth, p.sheetHeight, p.format, p.pixels, p.pixelBytes, p.palette);
}

// ---------------------------------------------------------------------------
// Creation

int CSprite::Create(const char* file, const char* name, int frameWidth, int frameHeight) {
    const LogTag tag("CSprite::Create('%s','%s')", Text(file), Text(name));
    if (!Trovalis.IsInitialized()) return tag.Fail(0, "Trovalis was not initialized. Aborting the sprite creation.\n");
    if (!file || !name) return 0;
    if (st_->created) {
        tag.Warning("sprite already exists. It is not possible to create another one.\n");
        return 0;
    }
    // Read in its own format; Create brings it to the display format.
    SDL_Surface* s = graphicblock::LoadImageFile(file);
    if (!s) return tag.Fail(0, "it was not possible to load the given image file.\n");
    const int n = Create(s, name, frameWidth, frameHeight);
    SDL_FreeSurface(s);
    return n;
}

namespace {

// One animation per row of cells of the sheet; frames end at the first
// empty cell. False when the sheet's pixels cannot be read.
bool ScanAnimations(SDL_Surface* sheet, int fw, int fh, std::vector<SpriteAnimation>& anims) {
    const int count = sheet->h / fh;
    const int columns = sheet->w / fw;
    anims.assign(static_cast<size_t>(count), SpriteAnimation{});
    if (SDL_LockSurface(sheet) < 0) return false;
    if (!sheet->pixels) {
        SDL_UnlockSurface(sheet);
        return false;
    }
    for (int r = 0; r < count; ++r) {
        int frames = columns;
        for (int c = 0; c < columns; ++c) {
            if (CellEmpty(sheet, c * fw, r * fh, fw, fh)) {
                frames = c;
                break;
            }
        }
        SpriteAnimation& a = anims[size_t(r)];
        a.type = 2;
        a.status = static_cast<uint16_t>(0x8000 + r);
        a.endFrame = static_cast<uint16_t>(frames);
        a.frames.assign(size_t(frames), SpriteFrame{});
    }
    SDL_UnlockSurface(sheet);
    return true;
}

}  // namespace

int CSprite::Create(SDL_Surface* s, const char* name, int fw, int fh) {
    State& st = *st_;
    const LogTag tag("CSprite::Create('%s',%d,%d)", Text(name), fw, fh);
    if (!Trovalis.IsInitialized()) return tag.Fail(0, "Trovalis was not initialized. Aborting the sprite load.\n");
    if (st.created) {
        tag.Warning("sprite already exists. It is not possible to create another one.\n");
        return 0;
    }
    if (!s || !name) return tag.Fail(0, "sprite surface or name are null.\n");
    if (!NameFits(name)) return tag.Fail(0, "the sprite name is longer than 31 characters.\n");
    if (fw < 1 || fh < 1) return tag.Fail(0, "Offset X and/or Y are less than 1 pixel.\n");
    if (s->w < 1 || s->h < 1) return tag.Fail(0, "the sprite surface is empty.\n");
    if (s->w % fw != 0) return tag.Fail(0, "Offset X does not split correctly the sprite surface.\n");
    if (s->h % fh != 0) return tag.Fail(0, "Offset Y does not split correctly the sprite surface.\n");
    const int columns = s->w / fw;
    // The frame count of an animation is a 16-bit field.
    if (columns > 0xFFFF) return tag.Fail(0, "Offset X gives more than 65535 frames per animation.\n");

    // SDL_ConvertSurface looks a colour key up in the palette unchecked.
    if (graphicblock::HasColorKey(s) && !graphicblock::KeyFitsSurface(s, s->format->colorkey))
        return tag.Fail(0, "the colour key is not an entry of the surface's palette.\n");
    SDL_Surface* sheet = graphicblock::CopySurface(s, s->flags);
    if (!sheet) return 0;
    auto share = std::make_shared<SheetShare>();
    share->sheet = sheet;
    const bool gl = Trovalis.OpenGLMode();
    if (gl) share->gl = MakeGLCopy(sheet);
    const bool sourceBlends = (s->flags & SDL_SRCALPHA) != 0;
    if (sourceBlends && s->format->alpha != 255) SDL_SetAlpha(sheet, SDL_SRCALPHA, s->format->alpha);
    // Per-pixel alpha is an alpha channel that blending uses; a sheet
    // without alpha mask keeps its per-surface alpha, even 0.
    const bool perPixel = graphicblock::HasAlphaMaskBlending(sheet);
    if (perPixel) sheet->format->alpha = 255;  // SDL_ConvertSurface leaves 0 on such a copy

    st.x = st.y = 0;
    st.frameWidth = fw;
    st.frameHeight = fh;
    st.dest = SDL_Rect{0, 0, static_cast<Uint16>(fw), static_cast<Uint16>(fh)};
    st.SetName(name);

    std::vector<SpriteAnimation> anims;
    if (!ScanAnimations(sheet, fw, fh, anims)) return 0;
    st.anims = std::move(anims);
    st.currentAnimation = 0;

    // Colour key: only a key the surface uses (SDL_SRCCOLORKEY) counts; a
    // bare colorkey field of 0 on a surface made elsewhere is no key.
    uint32_t key =
        ((s->flags & SDL_SRCCOLORKEY) && s->format->colorkey != kNoColorKey) ? s->format->colorkey : kNoColorKey;
    const int alpha = perPixel ? 255 : (sourceBlends ? s->format->alpha : 255);
    Uint8 kr = 0, kg = 0, kb = 0;
    if (key != kNoColorKey) SDL_GetRGB(key, sheet->format, &kr, &kg, &kb);
    if (gl && share->gl) {
        SetSurfaceAlpha(share->gl, alpha);
        SetSurfaceKey(share->gl, key);
    }
    bool converted = false;
    share->sheet = g_pImage->PrepareForDisplay(share->sheet, perPixel, false, true, &converted);
    if (converted && perPixel)
        LogTag("CSprite->Create('%s',%d,%d)", name, fw, fh)
            .Info(5, "surface with alpha per pixel loaded, it could slow down your graphics system.\n");
    if (converted && key != kNoColorKey) key = SDL_MapRGB(share->sheet->format, kr, kg, kb);
    // Start from a sheet without key; SetColorKey below applies the key.
    if (!perPixel || key == kNoColorKey) SetSurfaceKey(share->sheet, kNoColorKey);
    st.MakeBackground(32);
    graphicblock::TakeBackup(share->sheet, st.backup);

    st.own = std::move(share);
    st.perPixel = perPixel ? 1 : 0;
    st.alpha = alpha;
    st.colorKey = kNoColorKey;
    st.created = 1;
    st.role = kRoleMaster;
    SetColorKey(key);
    SetAlpha(alpha);
    return static_cast<int>(st.anims.size());
}

namespace {

// The 1.0 upgrade of a sprite payload, checked before it goes into the
// package so that a damaged old block is never stored as a new one.
bool UpgradeSprite(const uint8_t* data, size_t size, std::vector<uint8_t>& out, const LogTag& tag) {
    SpritePayload check;
    if (!CSprite::UpgradePayload(data, size, out) || !CSprite::DecodePayload(out.data(), out.size(), check))
        return tag.Fail(false, "the sprite block is damaged.\n");
    return true;
}

const graphicblock::BlockUpgrade kSpriteUpgrade{"SPR2", "SPR", UpgradeSprite, "sprite not found\n",
                                                "sprite successfully updated from v1.0 to v2.0.\n"};

// A loaded sheet's stored alpha and colour key, and what the key becomes.
struct SheetKey {
    bool perPixel = false;
    uint8_t alpha = 255;
    uint32_t key = kNoColorKey;
    Uint8 kr = 0, kg = 0, kb = 0;
    bool formatChanged = false;
};

// Gives share.sheet the stored alpha and key; a 32-bit sheet without
// per-pixel alpha is reduced to 24 bits first. False when that fails.
bool KeySheet(SheetShare& share, const PixelFormatRecord& format, bool gl, SheetKey& k) {
    SDL_Surface* sheet = share.sheet;
    k.perPixel = graphicblock::HasAlphaMaskBlending(sheet);
    k.alpha = format.alpha;
    k.key = format.colorkey;
    // The key is a pixel value of the stored format: decode it there,
    // before the sheet changes format.
    if (k.key != kNoColorKey) SDL_GetRGB(k.key, sheet->format, &k.kr, &k.kg, &k.kb);
    if (k.perPixel) return true;
    if (sheet->format->BitsPerPixel == 32) {
        SDL_Surface* reduced = graphicblock::ReduceTo24(sheet);
        if (!reduced) return false;
        SDL_FreeSurface(share.sheet);
        share.sheet = sheet = reduced;
        k.formatChanged = true;
    }
    SetSurfaceAlpha(sheet, k.alpha);
    if (k.key == kNoColorKey)
        SDL_SetColorKey(sheet, 0, 0);
    else if (gl)
        SDL_SetColorKey(sheet, SDL_SRCCOLORKEY, SDL_MapRGB(sheet->format, k.kr, k.kg, k.kb));
    return true;
}

// Keys the OpenGL copy and converts the sheet for display; the key follows
// its colour into a new format.
void ShowSheet(SheetShare& share, bool gl, const char* pkg, const char* name, SheetKey& k) {
    if (gl && share.gl) {
        SetSurfaceAlpha(share.gl, k.alpha);
        SetSurfaceKey(share.gl, k.key);
    }
    bool converted = false;
    share.sheet = g_pImage->PrepareForDisplay(share.sheet, k.perPixel, false, true, &converted);
    SDL_Surface* sheet = share.sheet;
    if (converted && k.perPixel)
        LogTag("CSprite->Load('%s','%s')", pkg, name)
            .Info(5, "surface with alpha per pixel loaded, it could slow down your graphics system.\n");
    if (k.key == kNoColorKey || k.perPixel) {
        // A per-pixel sheet keeps the recorded key but is never keyed.
        sheet->format->colorkey = kNoColorKey;
    } else if (!gl) {
        // An unchanged format keeps the stored value (a palette may hold the
        // colour twice).
        if (k.formatChanged || converted) k.key = SDL_MapRGB(sheet->format, k.kr, k.kg, k.kb);
        SDL_SetColorKey(sheet, SDL_SRCCOLORKEY, k.key);
    }
}

}  // namespace

int CSprite::Load(int id, const char* name, const char* type) {
    State& st = *st_;
    const char* pkg = PackageName(id);
    const LogTag tag("CSprite::Load('%s','%s','%s')", pkg, Text(name), Text(type));
    if (!Trovalis.IsInitialized()) return tag.Fail(0, "Trovalis was not initialized. Aborting the sprite load.\n");
    if (id < 1 || !name || !type) return 0;
    if (st.created) {
        tag.Warning("sprite already exists. It is not possible to create another one.\n");
        return 0;
    }
    if (!NameFits(name)) return tag.Fail(0, "the sprite name is longer than 31 characters.\n");
    graphicblock::UpgradedBlock loaded;
    if (!loaded.Load(id, name, kSpriteUpgrade, tag)) return 0;

    SpritePayload p;
    if (!DecodePayload(loaded.data, loaded.size, p)) return tag.Fail(0, "the sprite block is damaged.\n");
    SDL_Surface* sheet =
        graphicblock::BuildSurface(p.sheetWidth, p.sheetHeight, p.format, p.pixels, p.pixelBytes, p.palette);
    if (!sheet) return 0;
    loaded.block.Release();
    auto share = std::make_shared<SheetShare>();
    share->sheet = sheet;
    const bool gl = Trovalis.OpenGLMode();
    if (gl) share->gl = MakeGLCopy(sheet);
    SheetKey k;
    if (!KeySheet(*share, p.format, gl, k)) return 0;

    st.x = static_cast<float>(p.x);
    st.y = static_cast<float>(p.y);
    st.frameWidth = static_cast<int>(p.frameWidth);
    st.frameHeight = static_cast<int>(p.frameHeight);
    st.dest = SDL_Rect{Cut16(st.x), Cut16(st.y), static_cast<Uint16>(p.frameWidth), static_cast<Uint16>(p.frameHeight)};
    st.anims = std::move(p.animations);
    st.currentAnimation = 0;
    st.anims[0].currentFrame = st.anims[0].startFrame;
    st.SetName(name);
    st.MakeBackground(24);
    ShowSheet(*share, gl, pkg, name, k);
    graphicblock::TakeBackup(share->sheet, st.backup);

    st.own = std::move(share);
    st.perPixel = k.perPixel ? 1 : 0;
    st.alpha = k.alpha;
    st.colorKey = k.key;
    st.created = 1;
    st.role = kRoleMaster;
    return static_cast<int>(st.anims.size());
}

int CSprite::Save(int id, const char* type) {
    State& st = *st_;
    if (id < 1 || !st.created || !ValidateClone() || !type) return 0;
    const LogTag tag("CSprite::Save(%d,'%s')", id, type);
    if (!TypeFits(type)) return tag.Fail(0, "the typeblock is not supported.\n");
    const std::shared_ptr<SheetShare> share = st.Share();
    SDL_Surface* sheet = share->sheet;
    const uint64_t n = st.anims.size();
    if (sheet->h != st.frameHeight * static_cast<int>(n)) return 0;
    uint64_t totalFrames = 0;
    for (const auto& a : st.anims) totalFrames += a.frames.size();

    std::vector<uint8_t> payload;
    {
        graphicblock::PixelWriter pixels(sheet);
        if (!pixels.ok()) return tag.Fail(0, "the sprite sheet cannot be stored.\n");
        const uint64_t tableEnd = kHeaderSize + n * kAnimationSize + totalFrames * kFrameSize;
        payload.assign(tableEnd + kPixelFormatRecordSize + pixels.AreaSize(), 0);
        uint8_t* p = payload.data();
        StoreLE32(p + 0, static_cast<uint32_t>(st.frameWidth));
        StoreLE32(p + 4, static_cast<uint32_t>(st.frameHeight));
        StoreLE32(p + 8, static_cast<uint32_t>(static_cast<int32_t>(Cut16(st.x))));
        StoreLE32(p + 12, static_cast<uint32_t>(static_cast<int32_t>(Cut16(st.y))));
        StoreLE32(p + 16, static_cast<uint32_t>(n));
        StoreLE32(p + 20, static_cast<uint32_t>(sheet->w));
        size_t pos = kHeaderSize;
        for (const auto& a : st.anims) {
            StoreLE16(p + pos + 0, a.type);
            StoreLE16(p + pos + 2, a.status);
            StoreLE16(p + pos + 4, static_cast<uint16_t>(a.frames.size()));
            StoreLE16(p + pos + 6, a.currentFrame);
            StoreLE16(p + pos + 12, a.startFrame);
            StoreLE16(p + pos + 14, a.endFrame);
            StoreLE16(p + pos + 16, static_cast<uint16_t>(a.hotx));
            StoreLE16(p + pos + 18, static_cast<uint16_t>(a.hoty));
            pos += kAnimationSize;
            for (const auto& f : a.frames) {
                StoreLE32(p + pos, f.ms);
                pos += kFrameSize;
            }
        }
        // The record carries the sprite's colour key and alpha.
        StorePixelFormatRecord(p + pos, sheet->format);
        StoreLE32(p + pos + 32, st.colorKey);
        p[pos + 36] = static_cast<uint8_t>(st.alpha);
        pixels.WriteArea(p + pos + kPixelFormatRecordSize);
    }
    BlockInfo info{};
    std::memcpy(info.name, st.name, strnlen(st.name, sizeof info.name - 1));
    std::memcpy(info.type, type, strnlen(type, sizeof info.type - 1));
    info.mode = compressed;
    info.size = static_cast<uint32_t>(payload.size());
    info.data = payload.data();
    return g_pStuffVLT ? g_pStuffVLT->AddData(id, &info) : 0;
}

int CSprite::Clone(const CSprite& master) {
    State& st = *st_;
    const State& m = *master.st_;
    if (st.created || &master == this || !m.created) return 0;
    std::shared_ptr<SheetShare> share = m.Share();
    if (!share) return 0;
    st.x = m.x;
    st.y = m.y;
    st.dest = m.dest;
    st.frameWidth = m.frameWidth;
    st.frameHeight = m.frameHeight;
    std::memcpy(st.name, m.name, sizeof st.name);
    st.perPixel = m.perPixel;
    st.alpha = m.alpha;
    st.colorKey = m.colorKey;
    st.anims = m.anims;
    st.currentAnimation = 0;
    st.master = share;
    st.role = kRoleClone;
    st.MakeBackground(32);
    st.created = 1;
    return static_cast<int>(st.anims.size());
}

// ---------------------------------------------------------------------------
// Properties

bool CSprite::ValidateClone() {
    if (st_->role != kRoleClone) return true;
    if (st_->master.lock()) return true;
    LogTag("CSprite::ValidateClone()").Error("the clone sprite '%s' has lost its master sprite.\n", st_->name);
    return false;
}

void CSprite::SetName(const char* name) {
    if (!st_->created || !NameFits(name)) return;
    st_->SetName(name);
}

SDL_Surface* CSprite::GetSurface() {
    if (!st_->created || !ValidateClone()) return nullptr;
    const auto share = st_->Share();
    return share ? share->sheet : nullptr;
}

int CSprite::GetAlpha() {
    if (!st_->created) return -1;
    return st_->perPixel ? 256 : st_->alpha;
}

void CSprite::SetAlpha(int a) {
    State& st = *st_;
    if (a < 0 || a > 255 || !st.created || !ValidateClone() || st.perPixel) return;
    const std::shared_ptr<SheetShare> share = st.Share();
    const int previous = (share->sheet->flags & SDL_SRCALPHA) ? share->sheet->format->alpha : 255;
    SetSurfaceAlpha(share->sheet, a);
    SetSurfaceAlpha(share->gl, a);
    // The share is the master's too, so a clone hands a new sheet over.
    const bool crosses = (previous == 255) != (a == 255);
    if (crosses && graphicblock::ReconvertForHardwareScreen(share->sheet))
        LogTag("CSprite::SetAlpha(%d)", a)
            .Warning("on-the-fly surface conversion. It may affect to the performance.\n");
    st.alpha = a;
}

void CSprite::SetColorKey(uint32_t k) {
    State& st = *st_;
    if (!st.created || !ValidateClone() || k == st.colorKey) return;
    const LogTag tag("CSprite::SetColorKey(%d)", static_cast<int>(k));
    if (!st.perPixel) {
        const std::shared_ptr<SheetShare> share = st.Share();
        if (!graphicblock::KeyFitsSurface(share->sheet, k)) {
            tag.Warning("the colour key is not an entry of the sprite's palette.\n");
            return;
        }
        SetSurfaceKey(share->gl, k);
        SetSurfaceKey(share->sheet, k);
        if (graphicblock::ReconvertForOpenGL(share->sheet))
            tag.Warning("on-the-fly surface conversion. It may affect to the performance.\n");
    }
    st.colorKey = k;
}

void CSprite::GetOffset(int* frameWidth, int* frameHeight) const {
    if (!st_->created) return;
    if (frameWidth) *frameWidth = st_->frameWidth;
    if (frameHeight) *frameHeight = st_->frameHeight;
}

void CSprite::GetAnimProperties(int anim, uint16_t* type, uint16_t* status, uint16_t* frames, int16_t* hotx,
                                int16_t* hoty, uint16_t* start, uint16_t* end) const {
    const State& st = *st_;
    if (!st.created || anim < 1 || anim > static_cast<int>(st.anims.size())) return;
    const SpriteAnimation& a = st.anims[size_t(anim - 1)];
    if (type) *type = a.type;
    if (status) *status = a.status;
    if (frames) *frames = static_cast<uint16_t>(a.frames.size());
    if (hotx) *hotx = a.hotx;
    if (hoty) *hoty = a.hoty;
    if (start) *start = a.startFrame;
    if (end) *end = a.endFrame;
}

bool CSprite::SetAnimProperties(int anim, uint16_t type, uint16_t status, int16_t hotx, int16_t hoty, uint16_t start,
                                uint16_t end) {
    State& st = *st_;
    if (!st.created) return false;
    if (anim < 1 || anim > static_cast<int>(st.anims.size())) {
        LogTag("CSprite::SetAnimProperties(%d,%d,%d,%d,%d,%d,%d)", anim, type, status, hotx, hoty, start, end)
            .Warning("animation not found.\n");
        return false;
    }
    if (type != kUnchanged && type != 2 && type != 4 && type != 8) {
        LogTag("CSprite::SetAnimProperties(%d,%d,%d,%d,%d,%d,%d)", anim, type, status, hotx, hoty, start, end)
            .Warning("wrong animation type.\n");
        return false;
    }
    SpriteAnimation& a = st.anims[size_t(anim - 1)];
    const uint16_t frames = static_cast<uint16_t>(a.frames.size());
    if (type != kUnchanged) a.type = type;
    if (status != kUnchanged) a.status = status;
    if (hotx != kUnchanged) a.hotx = hotx;
    if (hoty != kUnchanged) a.hoty = hoty;
    if (start != kUnchanged) {
        if (start > a.endFrame) start = a.endFrame;
        if (start > frames) start = frames;
        a.startFrame = start;
    }
    if (end != kUnchanged) {
        if (end < a.startFrame) end = a.startFrame;
        if (end > frames) end = frames;
        a.endFrame = end;
    }
    return true;
}

void CSprite::GetFrame(int anim, int frame, uint32_t* ms) const {
    const State& st = *st_;
    if (!st.created || !ms || anim < 1 || anim > static_cast<int>(st.anims.size())) return;
    const SpriteAnimation& a = st.anims[size_t(anim - 1)];
    if (frame < 1 || frame > static_cast<int>(a.frames.size())) return;
    *ms = a.frames[size_t(frame - 1)].ms;
}

bool CSprite::SetFrame(int anim, int frame, uint32_t ms) {
    State& st = *st_;
    if (!st.created) return false;
    if (anim < 1 || anim > static_cast<int>(st.anims.size())) {
        LogTag("CSprite::SetFrame(%d,%d,%d)", anim, frame, static_cast<int>(ms)).Warning("animation not found.\n");
        return false;
    }
    SpriteAnimation& a = st.anims[size_t(anim - 1)];
    if (frame < 0 || frame > static_cast<int>(a.frames.size())) {
        LogTag("CSprite::SetFrame(%d,%d,%d)", anim, frame, static_cast<int>(ms)).Warning("frame not found.\n");
        return false;
    }
    if (frame == 0) {
        for (auto& f : a.frames) f.ms = ms;
    } else {
        a.frames[size_t(frame - 1)].ms = ms;
    }
    return true;
}

int CSprite::GetAnimationCount() const { return st_->created ? static_cast<int>(st_->anims.size()) : 0; }
const char* CSprite::GetName() const { return st_->created ? st_->name : ""; }
uint32_t CSprite::GetColorKey() const { return st_->colorKey; }
int CSprite::GetRole() const { return st_->role; }
