#include "ExportKinds.h"

#include "SafeText.h"
#include "SdkHandles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

const char* const kUnreadableBlock =
    "the block could not be read from the package: it is damaged or not in the layout of its type.";

const char* LoadSpriteSheet(CSprite& sprite, int pkg, const std::string& n, SDL_Surface*& sheet, int& fw, int& fh) {
    if (sprite.Load(pkg, n.c_str(), TypeOf(BlockKind::Sprite)) <= 0) return kUnreadableBlock;
    sheet = sprite.GetSurface();
    sprite.GetOffset(&fw, &fh);
    // No row count exists for a frame size of 0: such a sprite cannot be
    // cut, and is reported instead of dividing by it.
    if (!sheet) return kUnreadableBlock;
    if (fw < 1 || fh < 1) return "its frame width or height is 0, so its sheet cannot be cut into frames.";
    return nullptr;
}

namespace {


void Warn(const char* word, const std::string& name) {
    std::printf("\n - WARNING: problem found exporting '%s' %s.\n", SafeText(name, SafeStyle::Masked).c_str(), word);
}

// The causes a user can act on, in plain words.
constexpr const char* kNoElement = "the document could not take its element (out of memory).";

// Why a payload file is not on disk; err is the errno of the failed call,
// or 0 when the writer did not say (detail then holds its words).
std::string NotWritten(const std::string& path, int err, const std::string& detail = "") {
    std::string text = "its payload file '" + SafeText(path, SafeStyle::Masked) + "' could not be written";
    if (err != 0) text += std::string(" (") + std::strerror(err) + ")";
    const size_t open = detail.rfind(" (");
    if (err == 0 && open != std::string::npos) text += detail.substr(open);
    return text + ": check that the folder is writable and the disk has room.";
}

// Writes the cause of the resource that just failed after its warning.
void PrintCauseOf(ExportSession& s) {
    PrintCause(s.cause.empty() ? kUnreadableBlock : s.cause.c_str());
    s.cause.clear();
}

// Writes one payload file of the folder, every byte or nothing. A failed
// write stops the export (ExportSession::Stopped).
bool WriteWholeFile(ExportSession& s, const std::string& file, const uint8_t* data, size_t size) {
    if (!s.out->Put(file, data, size)) return s.Fail(NotWritten(s.ShownPath(file), 0, s.out->error()));
    return true;
}

// A graphic payload as written: where, and the attributes that describe it.
struct Graphic {
    std::string source;
    bool perPixel = false;
    int alphamod = 255;
    int colorkey = orb::kNoColorKeyValue;
};

// Writes the surface as PNG (per-pixel) or BMP (per-surface) under a fresh
// safe name and fills g. The file is encoded in memory and written whole.
bool WriteGraphic(ExportSession& s, const char* prefix, const std::string& name, SDL_Surface* surface, bool perPixel,
                  Graphic& g) {
    if (!surface || !surface->format) return s.Fail(kUnreadableBlock);
    const std::string file = s.names.Make(prefix, name, perPixel ? ".png" : ".bmp");
    g.source = s.PathOf(file);
    g.perPixel = perPixel;
    g.alphamod = surface->format->alpha;
    g.colorkey = static_cast<int>(surface->format->colorkey);
    // A key is a pixel value, and the BMP is read back in its own layout (24
    // bits, blue first): the key is given as that colour there, or a surface
    // read from a PNG (red first) or kept in 16 bits would have its key name
    // another colour. A paletted key is an index and stays one.
    if (!perPixel && surface->format->colorkey != 0xFFFFFFFFu && !surface->format->palette) {
        Uint8 r = 0, gr = 0, b = 0;
        SDL_GetRGB(surface->format->colorkey, surface->format, &r, &gr, &b);
        g.colorkey = (int(r) << 16) | (int(gr) << 8) | int(b);
    }
    outwrite::MemoryStream encoded;
    const bool made = encoded.rw() && (perPixel ? g_pImage->WritePNG(encoded.rw(), surface, -1) == 0
                                                : g_pImage->WriteBMP(encoded.rw(), surface) == 1);
    if (!made || encoded.bytes().empty())
        return s.Fail("its " + std::string(perPixel ? "PNG" : "BMP") + " file could not be made (" + SDL_GetError() +
                      ").");
    return WriteWholeFile(s, file, encoded.bytes().data(), encoded.bytes().size());
}

// A block name goes into the document in its escaped form (NameForDocument).
void SetText(ExportSession& s, const char* name, const char* value) {
    const bool blockName = std::strcmp(name, orb::attr::kName) == 0;
    Trovalis.XMLAttributeSet(s.doc, name, blockName ? NameForDocument(value).c_str() : value);
}
void SetInt(ExportSession& s, const char* name, int value) { Trovalis.XMLAttributeSet(s.doc, name, value); }

void SetGraphicAttributes(ExportSession& s, const Graphic& g, const char* perSurfaceText) {
    SetText(s, orb::attr::kSource, g.source.c_str());
    if (g.perPixel) {
        SetText(s, orb::attr::kAlphaBlending, orb::kPerPixel);
    } else {
        SetText(s, orb::attr::kAlphaBlending, perSurfaceText);
        SetInt(s, orb::attr::kAlphaMod, g.alphamod);
        SetInt(s, orb::attr::kColorKey, g.colorkey);
    }
}

// Makes the element as a child of the current one; false (nothing made)
// when the document has no current element.
bool Open(ExportSession& s, const char* tag) { return Trovalis.XMLNodeCreate(s.doc, tag) == 1 || s.Fail(kNoElement); }
void Close(ExportSession& s) { Trovalis.XMLNodeParent(s.doc); }

bool ExportImage(ExportSession& s, const std::string& n) {
    SurfacePtr surface(g_pImage->Load(s.pkg, n.c_str(), nullptr));
    if (!surface) return s.Fail(kUnreadableBlock);
    const bool perPixel = (surface->flags & SDL_SRCALPHA) && surface->format->alpha == 255;
    Graphic g;
    if (!WriteGraphic(s, orb::Row(orb::Kind::Image).filePrefix, n, surface.get(), perPixel, g)) return false;
    if (!Open(s, orb::Row(orb::Kind::Image).tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetGraphicAttributes(s, g, orb::kPerSurface);
    Close(s);
    return true;
}

bool ExportTile(ExportSession& s, const std::string& n) {
    CTile tile;
    if (!tile.Load(s.pkg, n.c_str(), TypeOf(BlockKind::Tile))) return s.Fail(kUnreadableBlock);
    Graphic g;
    if (!WriteGraphic(s, orb::Row(orb::Kind::Tile).filePrefix, n, tile.GetSurface(), tile.GetAlpha() == 256, g))
        return false;
    if (!Open(s, orb::Row(orb::Kind::Tile).tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetGraphicAttributes(s, g, orb::kTilePerSurface);
    SetInt(s, orb::attr::kXPosition, tile.GetPositionX());
    SetInt(s, orb::attr::kYPosition, tile.GetPositionY());
    int xo = 0, yo = 0;
    if (tile.GetTileset(&xo, &yo)) {
        SetText(s, orb::attr::kTileset, orb::kEnabled);
        SetInt(s, orb::attr::kXOffset, xo);
        SetInt(s, orb::attr::kYOffset, yo);
    } else {
        SetText(s, orb::attr::kTileset, orb::kDisabled);
    }
    Close(s);
    return true;
}

bool ExportSprite(ExportSession& s, const std::string& n) {
    CSprite sprite;
    SDL_Surface* sheet = nullptr;
    int w = 0, h = 0;
    if (const char* why = LoadSpriteSheet(sprite, s.pkg, n, sheet, w, h)) return s.Fail(why);
    Graphic g;
    if (!WriteGraphic(s, orb::Row(orb::Kind::Sprite).filePrefix, n, sheet, sprite.GetAlpha() == 256, g)) return false;
    if (!Open(s, orb::Row(orb::Kind::Sprite).tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetGraphicAttributes(s, g, orb::kPerSurface);
    SetInt(s, orb::attr::kXOffset, w);
    SetInt(s, orb::attr::kYOffset, h);
    const int rows = sheet->h / h;
    for (int a = 0; a < rows; ++a) {
        uint16_t type = 0, status = 0, frames = 0, start = 0, end = 0;
        int16_t hotx = 0, hoty = 0;
        sprite.GetAnimProperties(a + 1, &type, &status, &frames, &hotx, &hoty, &start, &end);
        if (!Open(s, orb::kAnimationTag)) break;
        SetInt(s, orb::attr::kId, a);
        SetInt(s, orb::attr::kType, type);
        SetInt(s, orb::attr::kStatus, status);
        SetInt(s, orb::attr::kFrames, frames);
        SetInt(s, orb::attr::kHotX, hotx);
        SetInt(s, orb::attr::kHotY, hoty);
        SetInt(s, orb::attr::kStartFrame, start);
        SetInt(s, orb::attr::kEndFrame, end);
        for (int f = 0; f < frames; ++f) {
            uint32_t ms = 0;
            sprite.GetFrame(a + 1, f + 1, &ms);
            if (!Open(s, orb::kFrameTag)) break;
            SetInt(s, orb::attr::kId, f);
            SetInt(s, orb::attr::kMs, static_cast<int>(ms));
            Close(s);
        }
        Close(s);
    }
    Close(s);
    return true;
}

bool ExportFont(ExportSession& s, const std::string& n) {
    CFont font;
    if (!font.Load(s.pkg, n.c_str())) return s.Fail(kUnreadableBlock);
    // The bitmap as the package keeps it: with its marker row when the
    // glyphs could not be found again from the ink alone (a glyph with an
    // empty column inside, a blank glyph), so that the file imports again
    // to the same font. Should no such bitmap be made, the pixels still go
    // out as they are.
    SurfacePtr marked(font.StoredBitmap());
    SDL_Surface* bitmap = marked ? marked.get() : font.GetSurface();
    if (!bitmap || !font.GetSurface()) return s.Fail(kUnreadableBlock);
    bitmap->format->colorkey = font.GetSurface()->format->colorkey;
    bitmap->format->alpha = font.GetSurface()->format->alpha;
    Graphic g;
    if (!WriteGraphic(s, orb::Row(orb::Kind::Font).filePrefix, n, bitmap, font.GetAlpha() == 256, g)) return false;
    if (!Open(s, orb::Row(orb::Kind::Font).tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetGraphicAttributes(s, g, orb::kPerSurface);
    SetInt(s, orb::attr::kKerning, font.GetKerning());
    Close(s);
    return true;
}

// The format text names the payload's extension; only the SDK's own short
// alphanumeric texts are accepted.
bool UsableFormat(const std::string& f) {
    if (f.empty() || f.size() > 8) return false;
    for (char c : f)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

// A sound or music block holds the user's own file. One that the SDK cannot
// decode (u-law or float samples, AIFF-C, a VOC that SDL_mixer would
// misread, or no audio format at all) is still written out byte for byte,
// named by what its first bytes say, or ".bin" when they name nothing; the
// import said so when it stored it, and --verify says what it is. Only a
// block that does not load is not exported.
bool ExportAudio(ExportSession& s, const std::string& n, bool music) {
    const orb::KindRow& row = orb::Row(music ? orb::Kind::Music : orb::Kind::Sound);
    const uint8_t kind = music ? 1 : 0;
    AudioInfo info;
    std::memset(&info, 0, sizeof info);
    const bool decoded =
        music ? g_pSoundFX->MusicInfo(s.pkg, n.c_str(), &info) : g_pSoundFX->SoundInfo(s.pkg, n.c_str(), &info);
    if (!decoded && !g_pSoundFX->Identify(s.pkg, n.c_str(), kind, &info)) return s.Fail(kUnreadableBlock);
    std::string format(info.format, strnlen(info.format, sizeof info.format));
    if (format.empty()) format = "bin";
    if (!UsableFormat(format)) return s.Fail("its audio format text cannot be used in a file name.");
    BlockPayload block;
    g_pStuffVLT->LoadBlock(s.pkg, TypeOf(music ? BlockKind::Music : BlockKind::Sound), n.c_str(), &block.info);
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    const std::string file = s.names.Make(row.filePrefix, n, "." + format);
    const std::string path = s.PathOf(file);
    if (!WriteWholeFile(s, file, block.info.data, block.info.size)) return false;
    if (!Open(s, row.tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetText(s, orb::attr::kSource, path.c_str());
    Close(s);
    return true;
}

bool ExportFile(ExportSession& s, const std::string& n) {
    const orb::KindRow& row = orb::Row(orb::Kind::File);
    BlockPayload block;
    // A loaded block always comes with a buffer, even an empty one; a
    // missing or damaged block comes without.
    g_pStuffVLT->LoadBlock(s.pkg, TypeOf(BlockKind::File), n.c_str(), &block.info);
    if (!block.info.data) return s.Fail(kUnreadableBlock);
    const std::string file = s.names.Make(row.filePrefix, n, "");
    const std::string path = s.PathOf(file);
    if (!WriteWholeFile(s, file, block.info.data, block.info.size)) return false;
    if (!Open(s, row.tag)) return false;
    SetText(s, orb::attr::kName, n.c_str());
    SetText(s, orb::attr::kSource, path.c_str());
    SetText(s, orb::attr::kStoreMethod, orb::StoreMethodName(block.info.mode));
    Close(s);
    return true;
}

void WarnState(ExportSession& s, const std::string& w, const ButtonStateImage& state) {
    std::printf("\n - WARNING: problem found exporting '%s' state of widget '%s'.\n", state.state,
                SafeText(w, SafeStyle::Masked).c_str());
    PrintCauseOf(s);
    ++s.failed;
}

// One state image of widget w: silently absent when the package holds no
// such block; a block that is there but does not load is a failure. True
// when it was exported.
bool ExportStateImage(ExportSession& s, const std::string& w, const ButtonStateImage& state) {
    const std::string blockName = w + state.suffix;
    CTile tile;
    if (!tile.Load(s.pkg, blockName.c_str(), TypeOf(BlockKind::StateImage))) {
        if (s.stateImages.count(blockName)) WarnState(s, w, state);
        return false;
    }
    Graphic g;
    if (!WriteGraphic(s, "wid_", w + "_" + state.state, tile.GetSurface(), tile.GetAlpha() == 256, g)) {
        WarnState(s, w, state);
        return false;
    }
    if (!Open(s, orb::kImageTag)) {
        WarnState(s, w, state);
        return false;
    }
    SetText(s, orb::attr::kState, state.state);
    SetGraphicAttributes(s, g, orb::kPerSurface);
    Close(s);
    return true;
}

}  // namespace

bool ExportResource(ExportSession& s, const orb::KindRow& row, const std::string& name) {
    bool ok = false;
    switch (row.kind) {
        case orb::Kind::Image: ok = ExportImage(s, name); break;
        case orb::Kind::Tile: ok = ExportTile(s, name); break;
        case orb::Kind::Sprite: ok = ExportSprite(s, name); break;
        case orb::Kind::Font: ok = ExportFont(s, name); break;
        case orb::Kind::Music: ok = ExportAudio(s, name, true); break;
        case orb::Kind::Sound: ok = ExportAudio(s, name, false); break;
        case orb::Kind::File: ok = ExportFile(s, name); break;
        case orb::Kind::Panel: break;
    }
    if (!ok) {
        Warn(row.word, name);
        PrintCauseOf(s);
        ++s.failed;
    }
    return ok;
}

void ExportWidget(ExportSession& s, const std::string& w) {
    ButtonRecord record;
    {
        // The record is the first 24 bytes of the block; the widget class
        // reads them.
        BlockPayload block;
        g_pStuffVLT->LoadBlock(s.pkg, TypeOf(BlockKind::Widget), w.c_str(), &block.info);
        if (!block.info.data || block.info.size < orb::kWidgetRecordSize ||
            !IButton::DecodePayload(block.info.data, orb::kWidgetRecordSize, record)) {
            std::printf("\n - WARNING: problem found exporting '%s' panel, widget '%s'.\n", orb::kPanelName,
                        SafeText(w, SafeStyle::Masked).c_str());
            PrintCause("the widget record could not be read: the block is damaged or not 24 bytes long.");
            ++s.failed;
            return;
        }
    }
    auto fail = [&] {
        std::printf("\n - WARNING: problem found exporting '%s' panel, widget '%s'.\n", orb::kPanelName,
                    SafeText(w, SafeStyle::Masked).c_str());
        PrintCauseOf(s);
        ++s.failed;
    };
    if (!s.panelMade) {
        if (!Open(s, orb::Row(orb::Kind::Panel).tag)) return fail();
        SetText(s, orb::attr::kName, orb::kPanelName);
        SetInt(s, orb::attr::kXPosition, 0);
        SetInt(s, orb::attr::kYPosition, 0);
        SetInt(s, orb::attr::kWidth, orb::kPanelWidth);
        SetInt(s, orb::attr::kHeight, orb::kPanelHeight);
        SetInt(s, orb::attr::kAlphaMod, 0);
        s.panelMade = true;
    }
    if (!Open(s, orb::kWidgetTag)) return fail();
    ++s.c.gui;
    SetText(s, orb::attr::kName, w.c_str());
    SetText(s, orb::attr::kType, orb::WidgetTypeName(record.type));
    SetInt(s, orb::attr::kId, s.c.gui);
    SetInt(s, orb::attr::kXPosition, static_cast<uint16_t>(record.x));
    SetInt(s, orb::attr::kYPosition, static_cast<uint16_t>(record.y));
    SetInt(s, orb::attr::kKey, record.key);
    SetInt(s, orb::attr::kSelectBox, static_cast<int>(record.selectBox));
    SetInt(s, orb::attr::kValue, record.value);
    SetInt(s, orb::attr::kRange, record.range);
    for (const ButtonStateImage& state : IButton::kStateImages)
        if (ExportStateImage(s, w, state)) ++s.c.done;
    ++s.c.done;
    Close(s);
}
