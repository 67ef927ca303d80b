#include "ExportKinds.h"

#include <cstdio>
#include <cstring>

#include <SDL.h>

#include "DocumentWriter.h"
#include "SafeText.h"
#include "core/FileAccess.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"

const char* const kUnreadableBlock =
    "the block could not be read from the package: it is damaged or not in the layout of its type.";

namespace exportstep {

namespace {

// The causes a user can act on, in plain words.
constexpr const char* kNoElement = "there is no document to take its element.";

// Why a payload file is not on disk; detail ends in the writer's words in
// brackets.
std::string NotWritten(const std::string& path, const std::string& detail) {
    std::string text = "its payload file '" + SafeText(path, SafeStyle::Masked) + "' could not be written";
    const size_t open = detail.rfind(" (");
    if (open != std::string::npos) text += detail.substr(open);
    return text + ": check that the folder is writable and the disk has room.";
}

// Writes one payload file of the folder, every byte or nothing. A failed
// write stops the export (ExportSession::Stopped).
bool WriteWholeFile(ExportSession& s, const std::string& file, const uint8_t* data, size_t size) {
    if (!s.out->Put(file, data, size)) return s.Fail(NotWritten(s.ShownPath(file), s.out->error()));
    return true;
}

}  // namespace

bool WritePayload(ExportSession& s, const char* prefix, const std::string& stem, const std::string& extension,
                  const uint8_t* data, size_t size, std::string& source) {
    const std::string file = s.names.Make(prefix, stem, extension);
    source = s.PathOf(file);
    return WriteWholeFile(s, file, data, size);
}

// The file is encoded in memory and written whole.
bool WriteGraphic(ExportSession& s, const char* prefix, const std::string& stem, SDL_Surface* surface, bool perPixel,
                  Graphic& g) {
    if (!surface || !surface->format) return s.Fail(kUnreadableBlock);
    const std::string file = s.names.Make(prefix, stem, perPixel ? ".png" : ".bmp");
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

void SetText(ExportSession& s, const char* name, const char* value) {
    const bool blockName = std::strcmp(name, orb::attr::kName) == 0;
    if (s.doc) s.doc->SetAttribute(name, blockName ? NameForDocument(value) : std::string(value));
}
void SetInt(ExportSession& s, const char* name, int value) {
    if (s.doc) s.doc->SetAttribute(name, value);
}

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

bool Open(ExportSession& s, const char* tag) {
    if (!s.doc) return s.Fail(kNoElement);
    s.doc->Open(tag);
    return true;
}
void Close(ExportSession& s) {
    if (s.doc) s.doc->Close();
}

}  // namespace exportstep

bool ExportResource(ExportSession& s, const orb::KindSpec& kind, const std::string& name) {
    if (kind.exportBlock(s, name)) {
        ++s.c.done;
        ++(s.c.*kind.counter);
        return true;
    }
    const std::string shown = SafeText(name, SafeStyle::Masked);
    if (kind.inPanel)
        PrintWarning("problem found exporting '%s' panel, widget '%s'.\n", orb::kPanelName, shown.c_str());
    else
        PrintWarning("problem found exporting '%s' %s.\n", shown.c_str(), kind.word());
    PrintCause(s.cause.empty() ? kUnreadableBlock : s.cause.c_str());
    s.cause.clear();
    ++s.failed;
    return false;
}
