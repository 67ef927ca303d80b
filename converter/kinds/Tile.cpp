// The tile kind: a picture placed on the map, or a tile set cut into tiles
// of one size; a "tile" element.
#include "KindTable.h"

namespace orb {

namespace {

const char* const kTileset = "tileset starts with \"enabled\"";

const Elements kElements = {
    {"tile",
     "ORB",
     "a tile or a tile set (TILE2 block; 1.0 TILE blocks are upgraded and exported alike)",
     {NameRow(), SourceRow(), BlendingRow("per-pSurface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow(),
      Int("xposition", kIntMin, kIntMax, Need::Required, "the tile's place on the map, left to right, in pixels"),
      Int("yposition", kIntMin, kIntMax, Need::Required, "the tile's place on the map, top to bottom, in pixels"),
      Words("tileset", {"enabled", "disabled"}, Need::Required,
            "whether the picture is a tile set: a value that starts with \"enabled\" cuts it into tiles of xoffset x "
            "yoffset; any other value keeps it whole"),
      Int("xoffset", 1, kIntMax, Need::Conditional, "the width of one tile of the set, in pixels", kTileset),
      Int("yoffset", 1, kIntMax, Need::Conditional, "the height of one tile of the set, in pixels", kTileset)}},
};

}  // namespace

const KindSpec kTileKind = {kinds::Kind::Tile, "tile_", &kElements};

}  // namespace orb
