#include "ImportKinds.h"

#include "Converter.h"
#include "SafeText.h"
#include "SdkHandles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <SDL.h>

#include "core/FileAccess.h"
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
std::string KindOfFile(const std::string& path) {
    uint8_t head[16] = {};
    long long got = -1;
    const int fd = files::OpenRegular(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        got = files::ReadUpTo(fd, head, sizeof head);
        ::close(fd);
    }
    if (got == 0) return "an empty file";
    if (got < 4) return std::string();
    const auto is = [&](const char* magic, size_t at = 0) {
        const size_t n = std::strlen(magic);
        return static_cast<size_t>(got) >= at + n && std::memcmp(head + at, magic, n) == 0;
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
bool PayloadFails(ImportSession& s, const std::string& path, const char* expected) {
    const std::string what = KindOfFile(path);
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
// The element's payload path. Only a regular file is a payload: a FIFO or a
// device named by a hand-edited document would make the import wait forever
// or read without end.
bool Source(ImportSession& s, std::string& out) {
    if (!Text(s, orb::attr::kSource, out)) return false;
    out = FromDocument(s.folder, out);
    struct stat st;
    if (stat(out.c_str(), &st) != 0)
        return Fail(s, "the payload file " + Quoted(out) + " is missing (" + std::strerror(errno) + ").");
    if (!S_ISREG(st.st_mode)) return Fail(s, "the payload " + Quoted(out) + " is not a regular file.");
    return true;
}
bool Int(ImportSession& s, const char* name, int& out) {
    if (Trovalis.XMLAttributeGet(s.doc, name, &out) == 1) return true;
    return Fail(s, std::string("the element has no \"") + name + "\" attribute with a whole number.");
}

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
    return Fail(s, "the package did not store the block (a write error, or a full disk).");
}

// Stores through save(); when the block exists already (-1), removes the old
// block of that name and type and stores again. The final result decides:
// above 0 is stored (a failed first store, 0, is a failure, not a success).
template <typename Save>
bool StoreReplacing(ImportSession& s, const char* type, const std::string& name, Save save, int* last = nullptr) {
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

// Reads "colorkey" and "alphamod" of a per-surface element.
bool ReadSurfaceKeys(ImportSession& s, int& colorkey, int& alphamod) {
    return Int(s, orb::attr::kColorKey, colorkey) && Int(s, orb::attr::kAlphaMod, alphamod) &&
           AlphaInRange(s, alphamod);
}

// A tile made from the element's payload: per-pixel from the PNG surface,
// per-surface from the file, with its colour key and alpha.
bool CreateTile(ImportSession& s, CTile& tile, bool perPixel) {
    std::string source;
    if (!Source(s, source)) return false;
    if (perPixel) {
        SurfacePtr surface(g_pImage->LoadPNG(source.c_str()));
        if (!surface) return PayloadFails(s, source, "PNG");
        return tile.Create(surface.get(), "temp") || Fail(s, "the tile class refused the image.");
    }
    if (!tile.Create(source.c_str(), "temp")) return PayloadFails(s, source, "BMP");
    int colorkey = 0, alphamod = 0;
    if (!ReadSurfaceKeys(s, colorkey, alphamod)) return false;
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
    return StoreReplacing(s, TypeOf(BlockKind::StateImage), blockName,
                          [&] { return tile.Save(s.pkg, TypeOf(BlockKind::StateImage)); });
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
    if (!Int(s, orb::attr::kId, id) || !Int(s, orb::attr::kType, type) || !Int(s, orb::attr::kStatus, status) ||
        !Int(s, orb::attr::kFrames, frames) || !Int(s, orb::attr::kHotX, hotx) || !Int(s, orb::attr::kHotY, hoty) ||
        !Int(s, orb::attr::kStartFrame, start) || !Int(s, orb::attr::kEndFrame, end))
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
    if (!Int(s, orb::attr::kXPosition, x) || !Int(s, orb::attr::kYPosition, y) || !Text(s, orb::attr::kType, typeName))
        return false;
    uint8_t code = orb::WidgetTypeCode(typeName.c_str());
    if (code == 0) return Fail(s, "its \"type\" " + Quoted(typeName) + " is not a widget type this program knows.");
    if (!Int(s, orb::attr::kKey, key) || !Int(s, orb::attr::kSelectBox, select) || !Int(s, orb::attr::kValue, value) ||
        !Int(s, orb::attr::kRange, range))
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
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending) || !Source(s, source)) return false;
    SurfacePtr surface;
    if (orb::IsPerPixel(blending.c_str())) {
        surface.reset(g_pImage->LoadPNG(source.c_str()));
        if (!surface) return PayloadFails(s, source, "PNG");
    } else {
        surface.reset(g_pImage->LoadBMP(source.c_str()));
        if (!surface) return PayloadFails(s, source, "BMP");
        int colorkey = 0, alphamod = 0;
        if (!ReadSurfaceKeys(s, colorkey, alphamod)) return false;
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
        if (!Int(s, orb::attr::kXOffset, xo) || !Int(s, orb::attr::kYOffset, yo)) return false;
        tile.SetTileset(1, xo, yo);
    }
    tile.SetName(name.c_str());
    return StoreReplacing(s, TypeOf(BlockKind::Tile), name, [&] { return tile.Save(s.pkg, TypeOf(BlockKind::Tile)); });
}

bool ImportFont(ImportSession& s, std::string& name) {
    std::string blending, source;
    if (!ReadName(s, name) || !Text(s, orb::attr::kAlphaBlending, blending)) return false;
    CFont font;
    const bool perPixel = orb::IsPerPixel(blending.c_str());
    if (!Source(s, source)) return false;
    {
        SurfacePtr surface(perPixel ? g_pImage->LoadPNG(source.c_str()) : g_pImage->LoadBMP(source.c_str()));
        if (!surface) return PayloadFails(s, source, perPixel ? "PNG" : "BMP");
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
    if (!Source(s, source)) return false;
    CSprite sprite;
    if (orb::IsPerPixel(blending.c_str())) {
        SurfacePtr surface(g_pImage->LoadPNG(source.c_str()));
        if (!surface) return PayloadFails(s, source, "PNG");
        if (sprite.Create(surface.get(), "temp", xo, yo) <= 0)
            return Fail(s, SheetCause(surface->w, surface->h, xo, yo));
    } else {
        if (sprite.Create(source.c_str(), "temp", xo, yo) <= 0) {
            SurfacePtr sheet(g_pImage->LoadBMP(source.c_str()));
            if (!sheet) return PayloadFails(s, source, "BMP");
            return Fail(s, SheetCause(sheet->w, sheet->h, xo, yo));
        }
        int colorkey = 0, alphamod = 0;
        if (!ReadSurfaceKeys(s, colorkey, alphamod)) return false;
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
    return StoreReplacing(s, TypeOf(BlockKind::Sprite), name,
                          [&] { return sprite.Save(s.pkg, TypeOf(BlockKind::Sprite)); });
}

bool ImportAudio(ImportSession& s, std::string& name, bool music) {
    std::string source;
    if (!ReadName(s, name) || !Source(s, source)) return false;
    // No replacement: a block that exists already makes the element fail
    // (an update replaces it, in the package manager).
    const int result = music ? g_pSoundFX->MusicImport(s.pkg, name.c_str(), source.c_str())
                             : g_pSoundFX->SoundImport(s.pkg, name.c_str(), source.c_str());
    return result > 0 || StoreFails(s, result);
}

bool ImportFile(ImportSession& s, std::string& name) {
    std::string method, source;
    if (!ReadName(s, name) || !Text(s, orb::attr::kStoreMethod, method) || !Source(s, source)) return false;

    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(s, "the payload file " + Quoted(source) + " cannot be opened (" + std::strerror(errno) + ").");
    struct stat st;
    std::vector<uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<unsigned long long>(st.st_size) <= 0xFFFFFFFFull;
    // The block takes exactly what was read, whatever the size said (the
    // file may change under us), and never more than a block holds.
    if (ok) ok = files::ReadToEnd(fd, bytes, 0xFFFFFFFFull);
    ::close(fd);
    if (!ok) return Fail(s, "the payload file " + Quoted(source) + " cannot be read, or holds more than 4 GiB.");

    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
    std::snprintf(info.type, sizeof info.type, "%s", TypeOf(BlockKind::File));
    info.mode = orb::StoreMethodMode(method.c_str());
    info.size = static_cast<uint32_t>(bytes.size());
    uint8_t none = 0;  // an empty file still hands over a valid pointer
    info.data = bytes.empty() ? &none : bytes.data();
    // No replacement for raw files.
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

std::string FromDocument(const std::string& folder, const std::string& path) {
    if (folder.empty() || path.empty() || path[0] == '/') return path;
    const std::string beside = folder + "/" + path;
    return ::access(beside.c_str(), F_OK) != 0 && ::access(path.c_str(), F_OK) == 0 ? path : beside;
}

void PrintElementCause(ImportSession& s) {
    PrintCause(s.cause.empty() ? "the element does not describe a resource this program can rebuild; see the lines "
                                 "above, and compare it with what an export writes."
                               : s.cause.c_str());
    s.cause.clear();
}
