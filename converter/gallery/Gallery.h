// The pieces of bundlex --gallery (CommandsGallery.cpp) that write the page:
// the escaping of package texts for HTML and URLs and the page frame
// (GalleryHtml.cpp), and one element per resource (GalleryKinds.cpp, with
// each kind's own element in its file under kinds/).
// Every resource element carries data-name (the block name) and data-kind
// (image, tile, sprite, font, sound, music, file, widget); a sprite's also
// data-frames (its frame table's count), a font's data-glyphs (its table's
// entries). Files the page shows go into the gallery folder under the
// export's safe names.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "OrbFormat.h"
#include "OutputFolder.h"
#include "resources/Kinds.h"

namespace gallery {

// A text from a package for HTML text and attribute values: & < > " '
// as references, C0 controls and DEL as numeric references, well-formed
// UTF-8 kept, every other byte read as Latin-1 (as the JSON reports do).
std::string Html(const std::string& bytes);
// A path for a URL: every byte but letters, digits, "-._~" and "/"
// percent-encoded.
std::string Url(const std::string& bytes);

// What the page shows beside its resources.
struct Summary {
    std::string package;  // the package path as given
    std::string version;  // of its head
    uint64_t fileSize = 0;
    int live = 0, deleted = 0;
    uint64_t size = 0, packed = 0;                   // sums over live entries
    std::vector<std::pair<std::string, int>> kinds;  // gallery kind, count
};
// The page around the resource elements and the deleted list.
std::string PageStart(const Summary& s);
std::string PageEnd();
// Whether the head of a file is one of these pages (the generator line).
bool IsGalleryPage(const std::string& head);
constexpr size_t kPageMarkLimit = 512;  // the mark lies within these first bytes

struct Session {
    int pkg = 0;
    std::string folder;                  // where the files go
    outwrite::OutputSet* out = nullptr;  // the folder, opened once
    std::string folderUrl;               // the folder as the page links it
    orb::PayloadNamer names;
    std::string html;                   // the elements written so far
    std::vector<std::string> files;     // every file written
    std::set<std::string> stateImages;  // names of the live state image blocks
    std::set<std::string> liveWidgets;  // names of the live widget blocks
    std::string cause;                  // why the resource at hand failed
    int players = 0;                    // sound and music players on the page
    int pngLevel = -2;                  // the PNG files' level (IImage::kQuickLevel)

    bool Fail(std::string why) {
        cause = std::move(why);
        return false;
    }
};

// The gallery kind of a block type ("" for a deleted entry; a type no class
// owns is a raw file).
const char* KindOf(const kinds::Entry& e, const Session& s);
// Appends the element of one live entry to s.html (a failed resource gets an
// element saying so). False, with s.cause, when it cannot be shown; true
// for a state image shown with its widget (nothing appended).
bool ShowEntry(Session& s, const kinds::Entry& e);

// The steps the kinds' elements share (GalleryKinds.cpp).

// Cut-outs shown per tile set or sprite strip: a page of a million 1x1
// tiles would show nothing more useful than the first thousand.
constexpr int kMaxCells = 1024;
// Players that read their file's head as the page opens; beyond that many,
// a page of thousands of sounds would open only once every one was read.
constexpr int kMaxPreloads = 100;

std::string N(long long v);
// Writes bytes as a new file of the folder (OutputFolder.h); every byte or
// no file. The file's URL in url.
bool WriteBytes(Session& s, const std::string& file, const uint8_t* data, size_t size, std::string& url);
// A surface as drawn, as a PNG file of the folder named prefix + name; its
// URL in url.
bool WritePng(Session& s, const char* prefix, const std::string& name, SDL_Surface* surface, std::string& url);
// The element of a resource. sheet: the picture its cut-outs show (--src
// of the style), "" for none.
std::string Open(const char* kind, const std::string& name, const std::string& extra = "",
                 const std::string& sheet = "");
// A whole picture, scaled down by the style to a thumbnail.
std::string Picture(const std::string& url, int w, int h);
// A w x h cut-out at (x, y) of the picture of its element's --src.
std::string Cut(int x, int y, int w, int h);
// Depth, alpha kind and key of a graphic as the game uses them.
std::string GraphicFacts(SDL_Surface* g);
// A raw file, or a block of a type no class owns (File.cpp).
bool ShowRaw(Session& s, const kinds::Entry& e);
// A tile block as a PNG file named prefix + stem (Tile.cpp): its URL and
// size. 0 when the block does not load, -1 when the file could not be
// written (the cause in the session), 1 when written.
int WriteTilePng(Session& s, const std::string& block, const char* type, const char* prefix, const std::string& stem,
                 std::string& url, int& w, int& h);

}  // namespace gallery
