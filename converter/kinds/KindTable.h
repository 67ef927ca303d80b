// The table of the converter's kinds: one row per kind of resource an ORBv1
// document carries (image, tile, sprite, font, sound, music, file, widget),
// keyed by the SDK's registry (resources/Kinds.h), each pointing at the file
// under kinds/ that holds everything the converter knows of that kind: its
// elements and attributes (Attributes.h), its export and import, its view in
// the gallery and its round-trip comparison. Adding a kind is its SDK class,
// its registry row, its file here and its row in KindTable.cpp.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Attributes.h"
#include "OrbFormat.h"
#include "resources/Kinds.h"

struct ExportSession;
struct ImportSession;
namespace gallery {
struct Session;
}

namespace orb {

// One side of a comparison: the package and the entry found there.
struct BlockSide {
    int pkg;
    const kinds::Entry* entry;
};

struct KindSpec {
    kinds::Kind block;         // the kind's row in the SDK's registry
    const char* filePrefix;    // its payload files' name prefix ("img_", ...)
    const Elements* elements;  // its elements with their attributes; the first is the root's child
    int Counters::*counter;    // what the progress line counts it as
    // Its elements lie in the document's one panel, after every other
    // resource (and the export takes them in a second pass): the widgets.
    bool inPanel;
    // Writes block name's payload and element; false with the cause in the
    // session (the caller warns and counts).
    bool (*exportBlock)(ExportSession& s, const std::string& name);
    // Rebuilds the block of the current element; name receives the name
    // its warnings show. False with the cause in the session.
    bool (*importElement)(ImportSession& s, std::string& name);
    // Appends the gallery element of a live entry; false with the cause.
    bool (*show)(gallery::Session& s, const kinds::Entry& e);
    // The round trip's differences of two blocks of this kind (row: the
    // registry row of a's type).
    void (*compare)(const BlockSide& a, const BlockSide& b, const kinds::KindRow& row, std::vector<std::string>& diffs);

    // Its tag as a child of the root ("panel" for the widgets).
    const char* tag() const { return elements->front().tag; }
    // The word of its warnings ("image", ...).
    const char* word() const { return kinds::Of(block).word; }
};

// Every kind, in the order the document's reference lists them.
const std::vector<const KindSpec*>& KindTable();
// The kind that handles blocks of a registry kind (a state image is a tile
// block), or null (deleted entries).
const KindSpec* SpecOf(kinds::Kind block);
// The widgets' state images (Widget.cpp): the block names of a widget's
// state images, each with its state and whether a widget of this record
// needs it (record: the widget's payload, or null).
struct StateImageBlock {
    std::string block;
    const char* state;
    bool needed;
};
std::vector<StateImageBlock> StateImagesOf(const std::string& widget, const uint8_t* record = nullptr, size_t size = 0);
// Whether block name is a state image of one of the widgets.
bool IsStateImageOf(const std::string& name, const std::set<std::string>& widgets);

// The kinds' own rows (one per file under kinds/).
extern const KindSpec kImageKind;
extern const KindSpec kTileKind;
extern const KindSpec kSpriteKind;
extern const KindSpec kFontKind;
extern const KindSpec kSoundKind;
extern const KindSpec kMusicKind;
extern const KindSpec kFileKind;
extern const KindSpec kWidgetKind;

}  // namespace orb
