// The importer's steps that every kind shares (each kind's own import is in
// its file under kinds/). A kind's import is called with the element as the
// document's current element, leaves it current again on every path, and
// returns whether the resource was stored; the caller counts it. A failure
// leaves its cause in plain words in the session for the line after the
// warning.
#pragma once
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KindTable.h"
#include "OrbFormat.h"

struct SDL_Surface;

class DocumentCheck;
class DocumentFolder;

// The most a payload file may hold: what one block holds.
constexpr unsigned long long kMaxPayloadBytes = 0xFFFFFFFFull;

struct ImportSession {
    int doc = 0;
    int pkg = 0;
    int total = 0;
    orb::Counters c;
    int failed = 0;                          // elements and widgets that were not stored
    std::string cause;                       // why the element at hand failed, when known (PrintCause)
    bool readOnly = false;                   // the package is opened for reading only: every store fails
    bool update = false;                     // a block that means what the element means is kept as it is
    const DocumentFolder* folder = nullptr;  // where the payloads are read from
    DocumentCheck* check = nullptr;          // the document's strict check: what it refused is not imported
    size_t child = 0;                        // the root child at hand, from 0
};

// The cause line for an element whose handler failed: s.cause, or a
// general sentence when no cause is known.
void PrintElementCause(ImportSession& s);

// Imports the current element as a resource of its kind, warns about a
// failure with its cause, and counts either (the panel counts its own
// widgets).
void ImportResource(ImportSession& s, const orb::KindSpec& kind);

// The steps the kinds share.
namespace importstep {

constexpr long long kU16 = 0xFFFF;
constexpr long long kI16Min = -0x8000;
constexpr long long kI16Max = 0x7FFF;

// Sets the cause of the element's failure and answers false.
bool Fail(ImportSession& s, const std::string& cause);
// A text from the document as the warnings quote it.
std::string Quoted(const std::string& text);
// Attribute reads on the current element: false when the attribute is
// missing (or, for integers, does not start with a decimal number); the
// output is left alone then, and the cause names the attribute.
bool Text(ImportSession& s, const char* name, std::string& out);
// A whole number between lo and hi: one that does not fit its field is
// refused (it would be stored wrapped round, as another number).
bool Int(ImportSession& s, const char* name, int& out, long long lo = INT_MIN, long long hi = INT_MAX);
// The element's "name", which also becomes the name its warnings show; a
// block name holds at most 31 characters.
bool ReadName(ImportSession& s, std::string& name);
// The element's payload path and the payload's bytes, read once through
// the document's folder (DocumentFolder says what may be read).
bool Source(ImportSession& s, std::string& out, std::vector<uint8_t>& bytes);
// The cause for a payload that its loader refused: what it is instead, or
// that it is damaged ("PNG" or "BMP" expected).
bool PayloadFails(ImportSession& s, const std::string& path, const std::vector<uint8_t>& bytes, const char* expected);
// An image payload decoded as the image classes read a file of their own:
// a BMP, else a PNG, without the display conversion.
SDL_Surface* DecodeImageFile(const std::vector<uint8_t>& bytes);
// A per-pixel payload: every transparency the PNG holds (a tRNS key colour
// or palette entries) comes as its alpha channel, so none is lost.
SDL_Surface* LoadPerPixel(const std::vector<uint8_t>& bytes);
// "alphamod" between 0 and 255.
bool ReadAlphaMod(ImportSession& s, int& alphamod);
// Reads "colorkey" and "alphamod" of a per-surface element; the key (-1 for
// none) must be a pixel value of the surface.
bool ReadSurfaceKeys(ImportSession& s, const SDL_Surface* surface, int& colorkey, int& alphamod);
// The same, set on a resource of a graphic class.
template <class Resource>
bool ReadSurfaceKeysInto(ImportSession& s, const SDL_Surface* surface, Resource& r) {
    int colorkey = 0, alphamod = 0;
    if (!ReadSurfaceKeys(s, surface, colorkey, alphamod)) return false;
    r.SetColorKey(static_cast<uint32_t>(colorkey));
    r.SetAlpha(alphamod);
    return true;
}
// Forgets the SDK's earlier errors, so that a failing store names its own.
void ClearStoreReason();
// The cause of a store that did not give a block.
bool StoreFails(ImportSession& s, int result);
// In an update, a block of this name and type whose resource means what
// same() finds in the new one is kept as it is stored (the package manager
// counts it unchanged): a payload file that reads back in another byte
// layout is no edit. True when kept.
bool KeptAsStored(ImportSession& s, const char* type, const std::string& name, const std::function<bool()>& same);
// Stores through save(); when the block exists already (-1), removes the old
// block of that name and type and stores again. The final result decides:
// above 0 is stored (a failed first store, 0, is a failure, not a success).
bool StoreReplacing(ImportSession& s, const char* type, const std::string& name, const std::function<int()>& save,
                    int* last = nullptr);
// The tile block of the current element (Tile.cpp; a widget's state images
// are tile blocks): its payload with "alphablending", and with place, its
// "xposition", "yposition" and "tileset", stored under block and type.
// tooLong: the cause when block is longer than a block name may be.
bool ImportTileBlock(ImportSession& s, const std::string& block, const char* type, bool place, const char* tooLong);

}  // namespace importstep
