#include "ImportKinds.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <SDL.h>

#include "Converter.h"
#include "DocumentCheck.h"
#include "DocumentFolder.h"
#include "SafeText.h"
#include "SdkHandles.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace {

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

}  // namespace

namespace importstep {

// Sets the cause of the element's failure and answers false.
bool Fail(ImportSession& s, const std::string& cause) {
    s.cause = cause;
    return false;
}

std::string Quoted(const std::string& text) { return "'" + SafeText(text, SafeStyle::Masked) + "'"; }

// The cause for a payload that its loader refused: what it is instead, or
// that it is damaged.
bool PayloadFails(ImportSession& s, const std::string& path, const std::vector<uint8_t>& bytes, const char* expected) {
    const std::string what = KindOfFile(bytes);
    const std::string want = std::string("a ") + expected + " image";
    if (what == want)
        return Fail(s, "the payload file " + Quoted(path) + " is " + want +
                           " that could not be read: it is damaged or of a form this program does not take.");
    // The other picture format: the element's blending chooses the format.
    if (what == "a PNG image" && want == "a BMP image")
        return Fail(s, "a per-surface picture takes a BMP file; the payload file " + Quoted(path) +
                           " is a PNG: use alphablending \"per-pixel\" or convert it to BMP.");
    if (what == "a BMP image" && want == "a PNG image")
        return Fail(s, "a per-pixel picture takes a PNG file; the payload file " + Quoted(path) +
                           " is a BMP: use alphablending \"per-surface\" or convert it to PNG.");
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
bool Int(ImportSession& s, const char* name, int& out, long long lo, long long hi) {
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

bool ReadAlphaMod(ImportSession& s, int& alphamod) {
    if (!Int(s, orb::attr::kAlphaMod, alphamod)) return false;
    return (alphamod >= 0 && alphamod <= 255) || Fail(s, "its \"alphamod\" is not between 0 and 255.");
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
bool StoreReplacing(ImportSession& s, const char* type, const std::string& name, const std::function<int()>& save,
                    int* last) {
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
bool KeptAsStored(ImportSession& s, const char* type, const std::string& name, const std::function<bool()>& same) {
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
    if (!Int(s, orb::attr::kColorKey, colorkey) || !ReadAlphaMod(s, alphamod)) return false;
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

}  // namespace importstep

namespace {

// Imports the current element; true when a block was stored for it.
bool ImportOne(ImportSession& s, const orb::KindSpec& kind, std::string& name) {
    s.cause.clear();
    if (kind.importElement(s, name)) return true;
    ++s.failed;
    return false;
}

}  // namespace

void ImportResource(ImportSession& s, const orb::KindSpec& kind) {
    if (!kind.inPanel) {
        std::string name = "no name attribute";
        if (ImportOne(s, kind, name)) {
            ++s.c.done;
            ++(s.c.*kind.counter);
            return;
        }
        PrintWarning("problem found importing '%s' %s.\n", SafeText(name, SafeStyle::Masked).c_str(), kind.word());
        PrintElementCause(s);
        return;
    }
    if (Trovalis.XMLNodeChild(s.doc) != 1) return;
    size_t widget = 0;
    do {
        const char* tag = Trovalis.XMLNodeGetName(s.doc);
        std::string name = tag ? tag : "";
        const char* given = nullptr;
        const bool named = Trovalis.XMLAttributeGet(s.doc, orb::attr::kName, &given) == 1 && given;
        if (s.check && WidgetRefusedByCheck(*s.check, s.child, widget++, named ? NameFromDocument(given) : name)) {
            ++s.failed;
        } else if (ImportOne(s, kind, name)) {
            ++s.c.done;
            ++(s.c.*kind.counter);
        } else {
            PrintWarning("problem found importing '%s' panel, widget '%s'.\n", orb::kPanelName,
                         SafeText(name, SafeStyle::Masked).c_str());
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
