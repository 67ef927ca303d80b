#include "ImportKinds.h"

#include "Converter.h"
#include "DocumentFolder.h"
#include "SafeText.h"
#include "SameMeaning.h"
#include "SdkHandles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <SDL.h>

#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Kinds.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

namespace {

// Sets the cause of the element's failure and answers false.
bool Fail(ImportSession& s, const std::string& cause) {
    s.cause = cause;
    return false;
}

std::string Quoted(const std::string& text) { return "'" + SafeText(text, SafeStyle::Masked) + "'"; }

// What the first bytes of a file say it is ("a JPEG image"), or empty.
std::string KindOfFile(const std::vector<uint8_t>& bytes) {
    const size_t got = bytes.size();
    if (got == 0) return "an empty file";
    if (got < 4) return std::string();
    const auto is = [&](const char* magic, size_t at = 0) {
        const size_t n = std::strlen(magic);
        return got >= at + n && std::memcmp(bytes.data() + at, magic, n) == 0;
    };
    if (is("\x89PNG")) return "a PNG image";
    if (is("BM")) return "a BMP image";
    if (is("\xFF\xD8\xFF")) return "a JPEG image";
    if (is("GIF8")) return "a GIF image";
    if (is("RIFF") && is("WEBP", 8)) return "a WebP image";
    if (is("RIFF") && is("WAVE", 8)) return "a WAV sound";
    if (is("OggS")) return "an Ogg stream";
    if (is("FORM") && (is("AIFF", 8) || is("AIFC", 8))) return "an AIFF sound";
    if (is("Creative Voice")) return "a VOC sound";
    if (is("II*") || is("MM")) return "a TIFF image";
    if (is("<?xml") || is("<svg")) return "an XML or SVG text";
    return std::string();
}

// The cause for a payload that its loader refused: what it is instead, or
// that it is damaged.
bool PayloadFails(ImportSession& s, const std::string& path, const std::vector<uint8_t>& bytes, const char* expected) {
    const std::string what = KindOfFile(bytes);
    const std::string want = std::string("a ") + expected + " image";
    if (what == want)
        return Fail(s, "the payload file " + Quoted(path) + " is " + want +
                           " that could not be read: it is damaged or of a form this program does not take.");
    if (!what.empty())
        return Fail(s, "the payload file " + Quoted(path) + " is not " + want + ": it is " + what +
                           " (saved under the wrong name?).");
    return Fail(s, "the payload file " + Quoted(path) + " is not " + want + ".");
}

// Attribute reads on the current element: false when the attribute is
// missing (or, for integers, does not start with a decimal number); the
// output is left alone then, and the cause names the attribute.
bool Text(ImportSession& s, const char* name, std::string& out) {
    const char* value = nullptr;
    if (Trovalis.XMLAttributeGet(s.doc, name, &value) != 1 || !value)
        return Fail(s, std::string("the element has no \"") + name + "\" attribute.");
    out = value;
    return true;
}
// The element's payload path and the payload's bytes, read once through
// the document's folder (DocumentFolder says what may be read).
bool Source(ImportSession& s, std::string& out, std::vector<uint8_t>& bytes) {
    if (!Text(s, orb::attr::kSource, out)) return false;
    std::string cause;
    if (!s.folder || !s.folder->Read(out, bytes, kMaxPayloadBytes, cause)) return Fail(s, cause);
    return true;
}

// An image payload decoded as the image classes read a file of their own:
// a BMP, else a PNG, without the display conversion.
SDL_Surface* DecodeImageFile(const std::vector<uint8_t>& bytes) {
    const int32_t saved = Trovalis.autoDisplayConversion;
    Trovalis.autoDisplayConversion = 0;
    SDL_Surface* surface = g_pImage->LoadBMP(bytes);
    if (!surface && bytes.size() >= 4 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0)
        surface = g_pImage->LoadPNG(bytes);
    Trovalis.autoDisplayConversion = saved;
    return surface;
}
// A whole number between lo and hi: one that does not fit its field is
// refused (it would be stored wrapped round, as another number).
bool Int(ImportSession& s, const char* name, int& out, long long lo = INT_MIN, long long hi = INT_MAX) {
    const char* text = nullptr;
    if (Trovalis.XMLAttributeGet(s.doc, name, &text) != 1 || !text)
        return Fail(s, std::string("the element has no \"") + name + "\" attribute with a whole number.");
    // Blanks and a sign, then digits; what follows the digits is ignored.
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    const char* digits = p + (*p == '+' || *p == '-');
    if (*digits < '0' || *digits > '9')
        return Fail(s, std::string("the element has no \"") + name + "\" attribute with a whole number.");
    errno = 0;
    const long long value = std::strtoll(p, nullptr, 10);
    if (errno == ERANGE || value < lo || value > hi)
        return Fail(s, std::string("its \"") + name + "\" (" + SafeText(text, SafeStyle::Masked) +
                           ") does not fit: it must lie between " + std::to_string(lo) + " and " + std::to_string(hi) +
                           ".");
    out = static_cast<int>(value);
    return true;
}
constexpr long long kU16 = 0xFFFF;
constexpr long long kI16Min = -0x8000;
constexpr long long kI16Max = 0x7FFF;

// A sheet that is not a whole number of frames (or whose frames do not
// match the animations the document gives it): a resized sheet, mostly.
std::string SheetCause(int w, int h, int fw, int fh) {
    return "the sheet (" + std::to_string(w) + " x " + std::to_string(h) + ") does not fit frames of " +
           std::to_string(fw) + " x " + std::to_string(fh) +
           ": it must be a whole number of frames, with one animation per row of frames (was it resized?).";
}

// The element's "name", which also becomes the name its warnings show. A
// block name holds at most 31 characters; the classes would ignore a longer
// one in SetName and store the block as "temp", so it fails the element.
bool ReadName(ImportSession& s, std::string& name) {
    std::string value;
    if (!Text(s, orb::attr::kName, value)) return false;
    value = NameFromDocument(value);
    name = value;
    if (value.size() > orb::kMaxBlockName) return Fail(s, "the name is longer than 31 characters.");
    return true;
}

bool AlphaInRange(int a) { return a >= 0 && a <= 255; }
bool AlphaInRange(ImportSession& s, int a) {
    return AlphaInRange(a) || Fail(s, "its \"alphamod\" is not between 0 and 255.");
}

// The cause of a store that did not give a block.
bool StoreFails(ImportSession& s, int result) {
    if (s.readOnly)
        return Fail(s,
                    "the package is read-only (the file or its folder has no write permission); nothing can be "
                    "stored in it.");
    if (result == -1)
        return Fail(s, "the package already holds a block of this name and type; use --update to replace it.");
    // The SDK's own reason, logged since the store began (ClearStoreReason);
    // it may quote a name from the document, so it is shown masked.
    std::string reason = SafeText(TheLog().FirstError(), SafeStyle::Masked);
    while (!reason.empty() && reason.back() == '.') reason.pop_back();
    if (reason.empty()) return Fail(s, "the package did not store the block.");
    return Fail(s, "the package did not store the block: " + reason + ".");
}

// Forgets the SDK's earlier errors, so that a failing store names its own.
void ClearStoreReason() { TheLog().ClearFirstError(); }

// A per-pixel payload: every transparency the PNG holds (a tRNS key colour
// or palette entries) comes as its alpha channel, so none is lost.
SDL_Surface* LoadPerPixel(const std::vector<uint8_t>& bytes) { return g_pImage->LoadPNG(bytes, true); }

// Stores through save(); when the block exists already (-1), removes the old
// block of that name and type and stores again. The final result decides:
// above 0 is stored (a failed first store, 0, is a failure, not a success).
template <typename Save>
bool StoreReplacing(ImportSession& s, const char* type, const std::string& name, Save save, int* last = nullptr) {
    ClearStoreReason();
    int result = save();
    if (result == -1) {
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
        std::snprintf(info.type, sizeof info.type, "%s", type);
        if (g_pStuffVLT->Delete(s.pkg, &info) != 0) result = save();
    }
    if (last) *last = result;
    return result > 0 || StoreFails(s, result);
}

// In an update, a block of this name and type whose resource means what
// same() finds in the new one is handed back to the package as it is
// stored, and the package manager keeps it (unchanged): a payload file
// that reads back in another byte layout is no edit. True when kept.
template <typename Same>
bool KeptAsStored(ImportSession& s, const char* type, const std::string& name, Same same) {
    if (!s.update || !same()) return false;
    Payload stored;
    if (!stored.Load(s.pkg, type, name, 1)) return false;
    BlockInfo info = stored.info;
    return g_pStuffVLT->AddData(s.pkg, &info) > 0;
}

// Reads "colorkey" and "alphamod" of a per-surface element; the key (-1 for
// none) must be a pixel value of the surface: a palette entry, or a number
// of its bits per pixel.
bool ReadSurfaceKeys(ImportSession& s, const SDL_Surface* surface, int& colorkey, int& alphamod) {
    if (!Int(s, orb::attr::kColorKey, colorkey) || !Int(s, orb::attr::kAlphaMod, alphamod) ||
        !AlphaInRange(s, alphamod))
        return false;
    if (colorkey == orb::kNoColorKeyValue || !surface || !surface->format) return true;
    const uint32_t key = static_cast<uint32_t>(colorkey);
    const SDL_PixelFormat* f = surface->format;
    const uint64_t values = f->palette ? static_cast<uint64_t>(f->palette->ncolors < 0 ? 0 : f->palette->ncolors)
                                       : (uint64_t(1) << (f->BitsPerPixel > 32 ? 32 : f->BitsPerPixel));
    if (key < values) return true;
    return Fail(s, "its \"colorkey\" (" + std::to_string(colorkey) + ") is not a pixel value of the image (" +
                       (f->palette ? std::to_string(values) + " palette entries"
                                   : std::to_string(f->BitsPerPixel) + " bits per pixel") +
                       ").");
}

// A tile made from the element's payload: per-pixel from the PNG surface,
// per-surface from the file, with its colour key and alpha.
bool CreateTile(ImportSession& s, CTile& tile, bool perPixel) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    if (perPixel) {
        SurfacePtr surface(LoadPerPixel(bytes));
        if (!surface) return PayloadFails(s, source, bytes, "PNG");
        return tile.Create(surface.get(), "temp") || Fail(s, "the tile class refused the image.");
    }
    SurfacePtr surface(DecodeImageFile(bytes));
    if (!surface) return PayloadFails(s, source, bytes, "BMP");
    if (!tile.Create(surface.get(), "temp")) return Fail(s, "the tile class refused the image.");
    int colorkey = 0, alphamod = 0;
    if (!ReadSurfaceKeys(s, surface.get(), colorkey, alphamod)) return false;
    tile.SetColorKey(static_cast<uint32_t>(colorkey));
    tile.SetAlpha(alphamod);
    return true;
}

// One state image of widget w; the current element is its "image".
bool ImportStateImage(ImportSession& s, const std::string& w, const std::string& state) {
    std::string blending;
    if (!Text(s, orb::attr::kAlphaBlending, blending)) return false;
    CTile tile;
    if (!CreateTile(s, tile, orb::IsPerPixel(blending.c_str()))) return false;
    const std::string blockName = w + orb::StateSuffix(state.c_str());
    if (blockName.size() > orb::kMaxBlockName)
        return Fail(s, "the widget's name with the state's suffix is longer than 31 characters.");
    tile.SetName(blockName.c_str());
    const char* type = TypeOf(BlockKind::StateImage);
    if (KeptAsStored(s, type, blockName, [&] { return samemeaning::SameTile(s.pkg, type, blockName, tile); }))
        return true;
    return StoreReplacing(s, type, blockName, [&] { return tile.Save(s.pkg, type); });
}

// The frames of one animation; the current element is the animation.
bool ImportFrames(ImportSession& s, CSprite& sprite, int animId, int frames) {
    if (Trovalis.XMLNodeChild(s.doc) != 1) return true;  // no frame children: nothing to check
    int i = 0;
    bool ok = true;
    while (i < frames) {
        if (!orb::TagIs(Trovalis.XMLNodeGetName(s.doc), orb::kFrameTag)) {
            std::printf("\n - WARNING: idAnim '%d': no 'frame' tag found.", animId);
            ok = false;
            break;
        }
        int frameId = 0, ms = 0;
        if (!Int(s, orb::attr::kId, frameId)) {
            std::printf("\n - WARNING: idAnim '%d': no 'id' frame attribute found.", animId);
            ok = false;
            break;
        }
        if (!Int(s, orb::attr::kMs, ms)) {
            std::printf("\n - WARNING: idAnim '%d': no 'ms' frame attribute found.", animId);
            ok = false;
            break;
        }
        if (frameId < 0 || frameId > frames) {
            std::printf("\n - WARNING: idAnim '%d': idFrame '%d' is out of range [0,%d].", animId, frameId, frames);
            ok = false;
            break;
        }
        sprite.SetFrame(animId + 1, frameId + 1, static_cast<uint32_t>(ms));
        ++i;
        if (Trovalis.XMLNodeNext(s.doc) != 1) break;
    }
    Trovalis.XMLNodeParent(s.doc);
    if (!ok) return false;
    if (i != frames) {
        std::printf("\n - WARNING: idAnim '%d': parsed '%d' frames from a total of '%d'.", animId, i, frames);
        return false;
    }
    return true;
}

// One animation; the current element is the sprite's child.
bool ImportAnimation(ImportSession& s, CSprite& sprite, int rows) {
    if (!orb::TagIs(Trovalis.XMLNodeGetName(s.doc), orb::kAnimationTag)) {
        std::printf("\n - WARNING: no 'animation' tag found.");
        return false;
    }
    int id = 0, type = 0, status = 0, frames = 0, hotx = 0, hoty = 0, start = 0, end = 0;
    if (!Int(s, orb::attr::kId, id) || !Int(s, orb::attr::kType, type) ||
        !Int(s, orb::attr::kStatus, status, 0, kU16) || !Int(s, orb::attr::kFrames, frames) ||
        !Int(s, orb::attr::kHotX, hotx, kI16Min, kI16Max) || !Int(s, orb::attr::kHotY, hoty, kI16Min, kI16Max) ||
        !Int(s, orb::attr::kStartFrame, start, 0, kU16) || !Int(s, orb::attr::kEndFrame, end, 0, kU16))
        return false;
    if (id < 0 || id > rows) {
        std::printf("\n - WARNING: idAnim '%d' is out of range [0,%d].", id, rows);
        return false;
    }
    if (type != 2 && type != 4 && type != 8) {
        std::printf("\n - WARNING: type '%d' is unknown.", type);
        return false;
    }
    sprite.SetAnimProperties(id + 1, static_cast<uint16_t>(type), static_cast<uint16_t>(status),
                             static_cast<int16_t>(hotx), static_cast<int16_t>(hoty), static_cast<uint16_t>(start),
                             static_cast<uint16_t>(end));
    return ImportFrames(s, sprite, id, frames);
}

// One widget; the current element is the panel's child.
bool ImportWidget(ImportSession& s, std::string& name) {
    if (!orb::TagIs(Trovalis.XMLNodeGetName(s.doc), orb::kWidgetTag)) {
        std::printf("\n - WARNING: no 'widget' tag found.");
        return false;
    }
    if (!ReadName(s, name)) return false;
    int x = 0, y = 0, key = 0, select = 0, value = 0, range = 0;
    std::string typeName;
    // Positions and range are 16-bit fields, written as unsigned or signed.
    if (!Int(s, orb::attr::kXPosition, x, kI16Min, kU16) || !Int(s, orb::attr::kYPosition, y, kI16Min, kU16) ||
        !Text(s, orb::attr::kType, typeName))
        return false;
    uint8_t code = orb::WidgetTypeCode(typeName.c_str());
    if (code == 0) return Fail(s, "its \"type\" " + Quoted(typeName) + " is not a widget type this program knows.");
    if (!Int(s, orb::attr::kKey, key, 0, kU16) || !Int(s, orb::attr::kSelectBox, select) ||
        !Int(s, orb::attr::kValue, value) || !Int(s, orb::attr::kRange, range, kI16Min, kU16))
        return false;

    // The state images go first: the widget's own store refuses a widget
    // whose images are not in the package yet.
    if (Trovalis.XMLNodeChild(s.doc) == 1) {
        bool ok = true;
        do {
            if (!orb::TagIs(Trovalis.XMLNodeGetName(s.doc), orb::kImageTag)) {
                std::printf("\n - WARNING: no 'image' tag found.");
                ok = false;
                break;
            }
            std::string state;
            if (!Text(s, orb::attr::kState, state)) {
                std::printf("\n - WARNING: no 'state' attribute found.");
                ok = false;
                break;
            }
            // An image of a state that only complex buttons show makes a
            // plain button a complex one.
            const ButtonStateImage* image = orb::StateImage(state.c_str());
            if (image && image->complexOnly && code == orb::kButton) code = orb::kComplexButton;
            if (!ImportStateImage(s, name, state)) {
                std::printf("\n - WARNING: could not load '%s' state.", SafeText(state, SafeStyle::Masked).c_str());
                ok = false;
                break;
            }
            ++s.c.done;  // a stored state image stays stored and counted
        } while (Trovalis.XMLNodeNext(s.doc) == 1);
        Trovalis.XMLNodeParent(s.doc);
        if (!ok) return false;
    }

    // The record's unread bytes keep the values of a freshly reset widget
    // (visible, not cloned); the class encodes its first 24 bytes.
    ButtonRecord record;
    record.key = static_cast<uint16_t>(key);
    record.type = code;
    record.selectBox = static_cast<uint32_t>(select);
    record.x = static_cast<int16_t>(static_cast<uint16_t>(x));
    record.y = static_cast<int16_t>(static_cast<uint16_t>(y));
    record.range = static_cast<int16_t>(static_cast<uint16_t>(range));
    record.value = value;
    int result = 0;
    if (!StoreReplacing(
            s, TypeOf(BlockKind::Widget), name, [&] { return g_pButton->Save(s.pkg, name.c_str(), &record); },
            &result)) {
        std::printf("\n - WARNING: widget could not be saved (ErrCode '%d').", result);
        if (result < -1)
            return Fail(s,
                        "the widget class refused the record: a state image it needs is missing (give the widget its "
                        "\"normal\", \"pressed\" and \"deactivated\" images), or its key or range is out of bounds.");
        return false;
    }
    return true;
}

}  // namespace

bool ImportImage(ImportSession& s, std::string& name) {
    std::string blending, source;
    std::vector<uint8_t> bytes;
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending) || !Source(s, source, bytes)) return false;
    SurfacePtr surface;
    if (orb::IsPerPixel(blending.c_str())) {
        surface.reset(LoadPerPixel(bytes));
        if (!surface) return PayloadFails(s, source, bytes, "PNG");
    } else {
        surface.reset(g_pImage->LoadBMP(bytes));
        if (!surface) return PayloadFails(s, source, bytes, "BMP");
        int colorkey = 0, alphamod = 0;
        if (!ReadSurfaceKeys(s, surface.get(), colorkey, alphamod)) return false;
        if (colorkey == orb::kNoColorKeyValue) {
            SDL_SetColorKey(surface.get(), 0, 0);
            surface->format->colorkey = 0xFFFFFFFFu;
        } else {
            SDL_SetColorKey(surface.get(), SDL_SRCCOLORKEY | SDL_RLEACCEL, static_cast<Uint32>(colorkey));
        }
        if (alphamod == 255)
            SDL_SetAlpha(surface.get(), 0, 255);
        else
            SDL_SetAlpha(surface.get(), SDL_SRCALPHA, static_cast<Uint8>(alphamod));
    }
    if (KeptAsStored(s, TypeOf(BlockKind::Image), name,
                     [&] { return samemeaning::SameImage(s.pkg, name, surface.get()); }))
        return true;
    return StoreReplacing(s, TypeOf(BlockKind::Image), name,
                          [&] { return g_pImage->Save(s.pkg, name.c_str(), surface.get()); });
}

bool ImportTile(ImportSession& s, std::string& name) {
    std::string blending;
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending)) return false;
    CTile tile;
    if (!CreateTile(s, tile, orb::IsPerPixel(blending.c_str()))) return false;
    int x = 0, y = 0;
    if (!Int(s, orb::attr::kXPosition, x) || !Int(s, orb::attr::kYPosition, y)) return false;
    tile.SetPosition(x, y);
    std::string tileset;
    if (!Text(s, orb::attr::kTileset, tileset)) return false;
    if (orb::IsTilesetEnabled(tileset.c_str())) {
        int xo = 0, yo = 0;
        // A tile of the set is at least one pixel each way.
        if (!Int(s, orb::attr::kXOffset, xo, 1) || !Int(s, orb::attr::kYOffset, yo, 1)) return false;
        tile.SetTileset(1, xo, yo);
    }
    tile.SetName(name.c_str());
    const char* type = TypeOf(BlockKind::Tile);
    if (KeptAsStored(s, type, name, [&] { return samemeaning::SameTile(s.pkg, type, name, tile); })) return true;
    return StoreReplacing(s, type, name, [&] { return tile.Save(s.pkg, type); });
}

bool ImportFont(ImportSession& s, std::string& name) {
    std::string blending, source;
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending)) return false;
    CFont font;
    const bool perPixel = orb::IsPerPixel(blending.c_str());
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    {
        SurfacePtr surface(perPixel ? g_pImage->LoadPNG(bytes) : g_pImage->LoadBMP(bytes));
        if (!surface) return PayloadFails(s, source, bytes, perPixel ? "PNG" : "BMP");
        if (font.Create(surface.get()) != 96)
            return Fail(s, "the image is not a font strip of the 94 glyphs the font class reads.");
    }
    if (!perPixel) {
        int alphamod = 0;
        if (!Int(s, orb::attr::kAlphaMod, alphamod) || !AlphaInRange(s, alphamod)) return false;
        font.SetAlpha(alphamod);
    }
    int kerning = 0;
    if (!Int(s, orb::attr::kKerning, kerning)) return false;
    font.SetKerning(kerning);
    font.SetName(name.c_str());
    if (KeptAsStored(s, TypeOf(BlockKind::Font), name, [&] { return samemeaning::SameFont(s.pkg, name, font); }))
        return true;
    return StoreReplacing(s, TypeOf(BlockKind::Font), name, [&] { return font.Save(s.pkg, name.c_str()); });
}

bool ImportSprite(ImportSession& s, std::string& name) {
    std::string blending, source;
    int xo = 0, yo = 0;
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending) || !Int(s, orb::attr::kXOffset, xo) ||
        !Int(s, orb::attr::kYOffset, yo))
        return false;
    // A frame size below 1 has no row count: refused before any division.
    if (xo < 1 || yo < 1) return Fail(s, "its frame size (\"xoffset\", \"yoffset\") is below 1.");
    std::vector<uint8_t> bytes;
    if (!Source(s, source, bytes)) return false;
    CSprite sprite;
    if (orb::IsPerPixel(blending.c_str())) {
        SurfacePtr surface(LoadPerPixel(bytes));
        if (!surface) return PayloadFails(s, source, bytes, "PNG");
        if (sprite.Create(surface.get(), "temp", xo, yo) <= 0)
            return Fail(s, SheetCause(surface->w, surface->h, xo, yo));
    } else {
        SurfacePtr surface(DecodeImageFile(bytes));
        if (!surface) return PayloadFails(s, source, bytes, "BMP");
        if (sprite.Create(surface.get(), "temp", xo, yo) <= 0)
            return Fail(s, SheetCause(surface->w, surface->h, xo, yo));
        int colorkey = 0, alphamod = 0;
        if (!ReadSurfaceKeys(s, surface.get(), colorkey, alphamod)) return false;
        sprite.SetColorKey(static_cast<uint32_t>(colorkey));
        sprite.SetAlpha(alphamod);
    }
    SDL_Surface* sheet = sprite.GetSurface();
    if (!sheet) return false;
    const int rows = sheet->h / yo;

    int parsed = 0;
    bool ok = true;
    if (Trovalis.XMLNodeChild(s.doc) == 1) {
        do {
            ++parsed;
            if (!ImportAnimation(s, sprite, rows)) {
                ok = false;
                break;
            }
        } while (Trovalis.XMLNodeNext(s.doc) == 1);
        Trovalis.XMLNodeParent(s.doc);
    }
    if (!ok) return false;
    if (parsed != rows) {
        std::printf("\n - WARNING: parsed '%d' animations from a total of '%d'.", parsed, rows);
        return Fail(s, SheetCause(sheet->w, sheet->h, xo, yo));
    }
    sprite.SetName(name.c_str());
    if (KeptAsStored(s, TypeOf(BlockKind::Sprite), name, [&] { return samemeaning::SameSprite(s.pkg, name, sprite); }))
        return true;
    return StoreReplacing(s, TypeOf(BlockKind::Sprite), name,
                          [&] { return sprite.Save(s.pkg, TypeOf(BlockKind::Sprite)); });
}

bool ImportAudio(ImportSession& s, std::string& name, bool music) {
    std::string source;
    std::vector<uint8_t> bytes;
    if (!ReadName(s, name) || !Source(s, source, bytes)) return false;
    // No replacement: a block that exists already makes the element fail
    // (an update replaces it, in the package manager).
    ClearStoreReason();
    const char* type = TypeOf(music ? BlockKind::Music : BlockKind::Sound);
    if (KeptAsStored(s, type, name, [&] { return samemeaning::SameBytes(s.pkg, type, name, bytes); })) return true;
    IStuffVLT::UpdateCounts before;
    if (s.update) g_pStuffVLT->GetUpdateCounts(s.pkg, &before);
    const int result = g_pSoundFX->ImportData(s.pkg, name.c_str(), source.c_str(), bytes, music);
    if (result <= 0) return StoreFails(s, result);
    // A file the SDK cannot decode is the user's all the same: it is stored
    // and exported as it is, and said once, when it comes into the package
    // (not again by an update that finds it unchanged).
    IStuffVLT::UpdateCounts after;
    if (s.update && g_pStuffVLT->GetUpdateCounts(s.pkg, &after) == 1 && after.unchanged > before.unchanged) return true;
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    if (music ? g_pSoundFX->MusicInfo(s.pkg, name.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, name.c_str(), &info))
        return true;
    Payload stored;
    if (!stored.Load(s.pkg, type, name, 1)) return true;
    std::printf("\n - Info: %s '%s' is %s: stored byte for byte; the SDK cannot decode it.\n",
                music ? "music" : "sound", SafeText(name, SafeStyle::Masked).c_str(),
                ISoundFX::Describe(stored.info.data, stored.info.size, music).c_str());
    return true;
}

bool ImportFile(ImportSession& s, std::string& name) {
    std::string method, source;
    std::vector<uint8_t> bytes;
    // The block takes exactly what was read, whatever the size said (the
    // file may change under us), and never more than a block holds.
    if (!ReadName(s, name) || !Text(s, orb::attr::kStoreMethod, method) || !Source(s, source, bytes)) return false;

    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
    std::snprintf(info.type, sizeof info.type, "%s", TypeOf(BlockKind::File));
    info.mode = orb::StoreMethodMode(method.c_str());
    info.size = static_cast<uint32_t>(bytes.size());
    uint8_t none = 0;  // an empty file still hands over a valid pointer
    info.data = bytes.empty() ? &none : bytes.data();
    // No replacement for raw files.
    ClearStoreReason();
    const int stored = g_pStuffVLT->AddData(s.pkg, &info);
    if (stored > 0) return true;
    // AddData answers with the packed size, and an empty file kept as it is
    // (raw or crypted) packs to 0 bytes: the same 0 as a failure. Such a
    // block is stored when the package holds it now (it did not before, or
    // AddData would have answered -1).
    if (stored == 0 && info.size == 0 && info.mode != 0) {
        BlockInfo check;
        std::memset(&check, 0, sizeof check);
        g_pStuffVLT->LoadBlock(s.pkg, TypeOf(BlockKind::File), name.c_str(), &check);
        const bool present = check.data != nullptr;
        if (present) g_pStuffVLT->FreeBlock(&check);
        return present || StoreFails(s, stored);
    }
    return StoreFails(s, stored);
}

void ImportPanel(ImportSession& s) {
    if (Trovalis.XMLNodeChild(s.doc) != 1) return;
    do {
        const char* tag = Trovalis.XMLNodeGetName(s.doc);
        std::string name = tag ? tag : "";
        s.cause.clear();
        if (ImportWidget(s, name)) {
            ++s.c.done;
            ++s.c.gui;
        } else {
            std::printf("\n - WARNING: problem found importing '%s' panel, widget '%s'.\n", orb::kPanelName,
                        SafeText(name, SafeStyle::Masked).c_str());
            ++s.failed;
            PrintElementCause(s);
        }
    } while (Trovalis.XMLNodeNext(s.doc) == 1);
    Trovalis.XMLNodeParent(s.doc);
}

void PrintElementCause(ImportSession& s) {
    PrintCause(s.cause.empty() ? "the element does not describe a resource this program can rebuild; see the lines "
                                 "above, and compare it with what an export writes."
                               : s.cause.c_str());
    s.cause.clear();
}
