// The table of the converter's kinds: one row per kind of resource an ORBv1
// document carries (image, tile, sprite, font, sound, music, file, widget),
// keyed by the SDK's registry (resources/Kinds.h), each pointing at the file
// under kinds/ that holds everything the converter knows of that kind: its
// elements and attributes (Attributes.h), and its steps. Adding a kind is
// its SDK class, its registry row, its file here and one row in
// KindTable.cpp.
#pragma once
#include "Attributes.h"
#include "resources/Kinds.h"

namespace orb {

struct KindSpec {
    kinds::Kind block;         // the kind's row in the SDK's registry
    const char* filePrefix;    // its payload files' name prefix ("img_", ...)
    const Elements* elements;  // its elements with their attributes
};

// Every kind, in the order the document's reference lists them.
const std::vector<const KindSpec*>& KindTable();

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
