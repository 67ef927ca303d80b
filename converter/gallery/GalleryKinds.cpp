// One element of the gallery page per resource, each kind shown as the game
// shows it: graphics as drawn (IImage::AsDrawn: colour key and per-surface
// alpha as transparency, per-pixel alpha kept) over a checkerboard, tile sets
// cut into numbered tiles, sprites playing each animation row with its frame
// strip below, fonts as their table of 96 characters and a sentence printed
// by the font class itself, sounds and music in a player where a browser can play
// them, widgets with their state images side by side, raw files by their
// first bytes. Every payload is read through its SDK class; the page shows
// cut-outs of one PNG per graphic (object-position), never a second file.
#include <cstdio>

#include "ExportKinds.h"
#include "Gallery.h"
#include "KindTable.h"
#include "SafeText.h"
#include "SdkHandles.h"
#include "core/FileAccess.h"
#include "resources/IImage.h"

namespace gallery {

namespace {

// Why a file is not on disk; detail ends in the system's words in brackets.
std::string NotWritten(const std::string& path, const std::string& detail) {
    std::string text = "its file '" + SafeText(path, SafeStyle::Masked) + "' could not be written";
    const size_t open = detail.rfind(" (");
    if (open != std::string::npos) text += detail.substr(open);
    return text + ": check that the folder is writable and the disk has room.";
}

}  // namespace

std::string N(long long v) { return std::to_string(v); }

// Writes bytes as a new file of the folder (OutputFolder.h); every byte or
// no file. The file's URL in url.
bool WriteBytes(Session& s, const std::string& file, const uint8_t* data, size_t size, std::string& url) {
    const std::string path = s.folder + "/" + file;
    if (!s.out->Put(file, data, size)) return s.Fail(NotWritten(path, s.out->error()));
    s.files.push_back(path);
    url = s.folderUrl + Url(file);
    return true;
}

// A surface as drawn, as a PNG file of the folder; its URL in url.
bool WritePng(Session& s, const char* prefix, const std::string& name, SDL_Surface* surface, std::string& url) {
    if (!surface) return s.Fail(kUnreadableBlock);
    SurfacePtr drawn(IImage::AsDrawn(surface));
    if (!drawn) return s.Fail("no surface could be made to draw it on (out of memory).");
    const std::string file = s.names.Make(prefix, name, ".png");
    outwrite::MemoryStream encoded;
    if (!encoded.rw() || g_pImage->WritePNG(encoded.rw(), drawn.get(), s.pngLevel) != 0 || encoded.bytes().empty())
        return s.Fail(std::string("its PNG file could not be made (") + SDL_GetError() + ").");
    return WriteBytes(s, file, encoded.bytes().data(), encoded.bytes().size(), url);
}

// The element of a resource. sheet: the picture its cut-outs show (--src
// of the style), "" for none.
std::string Open(const char* kind, const std::string& name, const std::string& extra, const std::string& sheet) {
    return std::string("<section class=\"res") + (sheet.empty() ? "" : " wide") + "\" data-kind=\"" + kind +
           "\" data-name=\"" + Html(name) + "\"" + extra +
           (sheet.empty() ? "" : " style=\"--src:url(" + sheet + ")\"") + ">\n<h3>" + Html(name) + "</h3>\n";
}

// A whole picture, scaled down by the style to a thumbnail.
std::string Picture(const std::string& url, int w, int h) {
    return "<a href=\"" + url + "\"><img class=\"pic chk\" src=\"" + url + "\" width=\"" + N(w) + "\" height=\"" +
           N(h) + "\" loading=\"lazy\" alt=\"\"></a>\n";
}

// A w x h cut-out at (x, y) of the picture of its element's --src. Cut-outs
// are backgrounds, not pictures: a page of thousands of tiles, frames and
// glyphs stays quick to open, and nothing is fetched for an element that
// is not on screen (the style skips those).
std::string Cut(int x, int y, int w, int h) {
    return "<i class=\"cut\" style=\"width:" + N(w) + "px;height:" + N(h) + "px;--p:" + N(-x) + "px " + N(-y) +
           "px\"></i>";
}

// Depth, alpha kind and key of a graphic as the game uses them.
std::string GraphicFacts(SDL_Surface* g) {
    std::string t = N(g->w) + " x " + N(g->h) + ", " + N(g->format->BitsPerPixel) + " bits, ";
    if ((g->flags & SDL_SRCALPHA) && g->format->Amask)
        t += "per-pixel alpha";
    else if (g->flags & SDL_SRCALPHA)
        t += "per-surface alpha " + N(g->format->alpha);
    else
        t += "opaque";
    if (!((g->flags & SDL_SRCALPHA) && g->format->Amask) && (g->flags & SDL_SRCCOLORKEY) &&
        g->format->colorkey != 0xFFFFFFFFu) {
        Uint8 r = 0, gr = 0, b = 0;
        SDL_GetRGB(g->format->colorkey, g->format, &r, &gr, &b);
        char key[48];
        std::snprintf(key, sizeof key, ", colour key 0x%X (#%02X%02X%02X)", g->format->colorkey, r, gr, b);
        t += key;
    } else {
        t += ", no colour key";
    }
    return t;
}

const char* KindOf(const kinds::Entry& e, const Session& s) {
    if (e.deleted()) return "";
    const kinds::KindRow* row = kinds::Find(e.type);
    if (!row) return "file";
    // A state image belongs to its widget's element; one without a live
    // widget is shown as the tile it is.
    if (row->kind == kinds::Kind::StateImage) return orb::IsStateImageOf(e.name, s.liveWidgets) ? "widget" : "tile";
    return row->element;
}

bool ShowEntry(Session& s, const kinds::Entry& e) {
    const kinds::KindRow* row = kinds::Find(e.type);
    if (!row) return ShowRaw(s, e);
    if (row->kind == kinds::Kind::StateImage && orb::IsStateImageOf(e.name, s.liveWidgets)) return true;
    const orb::KindSpec* kind = orb::SpecOf(row->kind);
    return !kind || kind->show(s, e);
}

}  // namespace gallery
