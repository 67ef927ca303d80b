// The font kind: a strip of 94 glyphs; a "font" element.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"font",
     "ORB",
     "a bitmap font (FONT2 block; 1.0 FONT blocks are upgraded and exported alike)",
     {NameRow(),
      SourceRow("the font strip (the 94 glyphs from '!' to DEL side by side, with its marker row when the export "
                "needed one), relative to the document's folder"),
      BlendingRow("per-surface"), AlphaModRow(),
      Colour("colorkey", -1, Need::WrittenOnly,
             "the strip's transparent pixel value as the export found it; the import finds it from the strip"),
      Int("kerning", kIntMin, kIntMax, Need::Required,
          "the pixels added between two glyphs (negative: drawn closer)")}},
};

}  // namespace

const KindSpec kFontKind = {kinds::Kind::Font, "font_", &kElements};

}  // namespace orb
