// The sprite kind: a sheet of frames, one animation per row of frames; a
// "sprite" element with one "animation" child per row, each with one
// "frame" child per frame.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"sprite",
     "ORB",
     "a sprite sheet (SPR2 block; 1.0 SPR blocks are upgraded and exported alike)",
     {NameRow(), SourceRow(), BlendingRow("per-surface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow(),
      Int("xoffset", 1, kIntMax, Need::Required,
          "the width of one frame, in pixels; the sheet's width is a whole number of frames"),
      Int("yoffset", 1, kIntMax, Need::Required,
          "the height of one frame, in pixels; the sheet holds one row of frames per animation")}},
    {"animation",
     "sprite",
     "one animation per row of frames of the sheet, each row once (a child that is no animation fails the sprite)",
     {Int("id", 0, kIntMax, Need::Required, "the animation's row, from 0; at most the sheet's number of rows"),
      IntOf("type", {"2", "4", "8"}, Need::Required, "how the animation plays, as the sprite class numbers it"),
      Int("status", 0, kU16Max, Need::Required, "the animation's status bits, as the sprite class keeps them"),
      Int("frames", kIntMin, kIntMax, Need::Required,
          "the number of frames of the animation; when it has frame children, exactly that many"),
      Int("hotx", kI16Min, kI16Max, Need::Required, "the hot spot's distance from the frame's left edge, in pixels"),
      Int("hoty", kI16Min, kI16Max, Need::Required, "the hot spot's distance from the frame's top edge, in pixels"),
      Int("starframe", 0, kU16Max, Need::Required, "the first frame the animation plays (the format's own spelling)"),
      Int("endframe", 0, kU16Max, Need::Required, "the last frame the animation plays")}},
    {"frame",
     "animation",
     "one frame of the animation and how long it shows (an animation may give none)",
     {Int("id", 0, kIntMax, Need::Required, "the frame's place in its animation, from 0; at most its frames"),
      Int("ms", kIntMin, kIntMax, Need::Required,
          "how long the frame shows, in milliseconds (a 32-bit value: one above 2147483647 is written negative)")}},
};

}  // namespace

const KindSpec kSpriteKind = {kinds::Kind::Sprite, "spr_", &kElements};

}  // namespace orb
