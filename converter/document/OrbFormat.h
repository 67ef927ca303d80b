// The ORBv1 interchange document, defined once: the tags and attribute names
// that the exporter writes and the importer reads, the value encodings, the
// prefix tests, the payload file names and the counting rules.
//
// A document with base name B is B + ".xml"; its payload files lie in the
// directory B and every "source" attribute reads B + "/" + file name. The
// root "ORB" carries "version" ("v1"), "source", "date", "creator" and
// "totalblocks". Its children are one element per resource, in the
// package's block order, then at most one "panel" holding every "widget";
// a widget holds one "image" child per state image.
//
// "totalblocks" counts package blocks: one per image, tile, sprite, font,
// music, sound and file element, one per widget and one per widget state
// image. Both directions count in these units.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "TextRun.h"
#include "resources/Kinds.h"

namespace orb {

// Root.
constexpr const char* kRootTag = "ORB";
constexpr const char* kVersion = "v1";
constexpr const char* kCreator = "Bundlex v2.0";
constexpr const char* kComment = " Quillmark Interchange XML format v1.0 (ORBv1), by the Bundlex developers ";

// Attribute names.
namespace attr {
constexpr const char* kVersion = "version";
constexpr const char* kSource = "source";
constexpr const char* kDate = "date";
constexpr const char* kCreator = "creator";
constexpr const char* kTotalBlocks = "totalblocks";
constexpr const char* kName = "name";
constexpr const char* kAlphaBlending = "alphablending";
constexpr const char* kAlphaMod = "alphamod";
constexpr const char* kColorKey = "colorkey";
constexpr const char* kXPosition = "xposition";
constexpr const char* kYPosition = "yposition";
constexpr const char* kTileset = "tileset";
constexpr const char* kXOffset = "xoffset";
constexpr const char* kYOffset = "yoffset";
constexpr const char* kKerning = "kerning";
constexpr const char* kStoreMethod = "storemethod";
constexpr const char* kId = "id";
constexpr const char* kType = "type";
constexpr const char* kStatus = "status";
constexpr const char* kFrames = "frames";
constexpr const char* kHotX = "hotx";
constexpr const char* kHotY = "hoty";
constexpr const char* kStartFrame = "starframe";  // sic: the format's own spelling
constexpr const char* kEndFrame = "endframe";
constexpr const char* kMs = "ms";
constexpr const char* kWidth = "width";
constexpr const char* kHeight = "height";
constexpr const char* kKey = "key";
constexpr const char* kSelectBox = "selectboxRGB";
constexpr const char* kValue = "value";
constexpr const char* kRange = "range";
constexpr const char* kState = "state";
}  // namespace attr

// Attribute values.
constexpr const char* kPerPixel = "per-pixel";
constexpr const char* kPerSurface = "per-surface";
constexpr const char* kTilePerSurface = "per-pSurface";  // what tiles write instead of "per-surface"
constexpr const char* kEnabled = "enabled";
constexpr const char* kDisabled = "disabled";
constexpr int kNoColorKeyValue = -1;  // 0xFFFFFFFF written with "%d"

// The converter's kinds (kinds/KindTable.h): the kind whose tag the
// element's tag starts with, or null (such an element is skipped without a
// message); the kind whose block type (its older text, which the current
// one starts with) the type text starts with, or null.
struct KindSpec;
const KindSpec* MatchRootChild(const char* tag);
const KindSpec* MatchBlockType(const char* type);

// Children of sprites and panels, compared by prefix.
constexpr const char* kAnimationTag = "animation";
constexpr const char* kFrameTag = "frame";
constexpr const char* kWidgetTag = "widget";
constexpr const char* kImageTag = "image";
bool TagIs(const char* tag, const char* expected);  // prefix of strlen(expected)

// Widgets: panel attributes, block type texts, kinds and states.
constexpr const char* kPanelName = "default";
constexpr int kPanelWidth = 800;
constexpr int kPanelHeight = 600;
constexpr size_t kWidgetRecordSize = 24;

// "button" for codes 1, 2 and 4 ... "unknown" for any code outside the table.
const char* WidgetTypeName(uint8_t code);
// The code read back for a type name; 0 for a name that is refused.
uint8_t WidgetTypeCode(const char* name);
constexpr uint8_t kButton = 1;
constexpr uint8_t kComplexButton = 4;

// The block name suffix of a widget's state image ("_n" for "normal"); ""
// for a text outside the widgets' table.
const char* StateSuffix(const char* state);

// Value encodings.
bool IsPerPixel(const char* alphablending);  // its first nine characters are "per-pixel"
bool IsTilesetEnabled(const char* tileset);  // its first seven characters are "enabled"
const char* StoreMethodName(uint8_t mode);   // 0 "compressed", 2 "crypted", else "raw"
uint8_t StoreMethodMode(const char* text);   // exact "compressed" 0, exact "crypted" 2, else 1

// The longest block name a package holds (the on-disk field is 32 bytes with
// its NUL).
constexpr size_t kMaxBlockName = 31;

// Payload file names. A block name comes from an untrusted package and may
// hold path separators, "..", control characters or anything else, so it is
// never used as a path as it stands: every byte outside [A-Za-z0-9._-] becomes
// "_", and a name that had to change gets "~" and the 8 hex digits of the
// CRC-32 of the real name appended (a "~" never survives the filter, so such a
// name cannot meet a clean one). Names are kept unique within one export
// (compared case-insensitively, so the directory also works on file systems
// that ignore case): a repeat gets "~2", "~3", ... before its extension.
// The element's "name" attribute always keeps the real block name.
class PayloadNamer {
public:
    // prefix + safe(name) + extension, unique within this namer.
    std::string Make(const std::string& prefix, const std::string& name, const std::string& extension);

private:
    // Whether key was new (it is then taken).
    bool Take(const std::string& key);
    size_t Slot(const char* key, size_t length) const;
    // The names taken, compactly (a million of them in a few tens of MB):
    // held in one run of text, found through an open-addressed table of
    // their handles plus one (0: a free slot).
    TextRun text_;
    std::vector<uint64_t> slots_;
    size_t count_ = 0;
};
// The filtered form of one name component (no uniqueness).
std::string SafeComponent(const std::string& name);


// The current local time as "Www Mmm dd hh:mm:ss yyyy\n".
std::string DateText();
// The export's date attribute for open package id, in the same form, so that
// exporting the same package twice gives the same document: the source date
// (core/SourceDate.h) when there is one, else the package's own modification
// date, else (a header whose date is not in that form) the local time.
std::string DateText(int package);

// Counters of one export or import, and the progress line both write after
// each step (ending in a carriage return so that it overwrites itself).
struct Counters {
    int done = 0;  // exported or imported blocks
    int img = 0, til = 0, spr = 0, fnt = 0, mus = 0, snd = 0, fil = 0, gui = 0;
};
void PrintProgress(const Counters& c, int total);

}  // namespace orb
