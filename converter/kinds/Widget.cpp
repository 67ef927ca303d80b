// The widget kind: a button, slider, progress bar, check box or input box
// of the game's interface, with its state images; a "widget" element inside
// the document's one "panel", with one "image" child per state image.
#include "KindTable.h"

namespace orb {

namespace {

const char* const kTypeMeaning =
    "what the widget is (a type the export does not know is written \"unknown\", which the import refuses); a button "
    "given a \"hovered\" image becomes a complex button";

const Elements kElements = {
    {"panel",
     "ORB",
     "the panel that holds every widget: at most one, after every resource (its attributes are written, not read)",
     {Of("name", ValueType::Text, Need::WrittenOnly, "the panel's name, always \"default\""),
      Int("xposition", 0, 0, Need::WrittenOnly, "the panel's left edge, always 0"),
      Int("yposition", 0, 0, Need::WrittenOnly, "the panel's top edge, always 0"),
      Int("width", 800, 800, Need::WrittenOnly, "the panel's width, always 800"),
      Int("height", 600, 600, Need::WrittenOnly, "the panel's height, always 600"),
      Int("alphamod", 0, 0, Need::WrittenOnly, "the panel's alpha, always 0")}},
    {"widget",
     "panel",
     "a widget (BUT block) of the game's interface",
     {NameRow(),
      Words("type", {"button", "hslider", "progressbar", "checkbox", "inputbox"}, Need::Required, kTypeMeaning),
      Int("id", 1, kIntMax, Need::WrittenOnly, "the widget's number in the panel, from 1"),
      Int("xposition", kI16Min, kU16Max, Need::Required,
          "the widget's left edge, in pixels (16 bits: -32768 to -1 are 32768 to 65535)"),
      Int("yposition", kI16Min, kU16Max, Need::Required,
          "the widget's top edge, in pixels (16 bits: -32768 to -1 are 32768 to 65535)"),
      Int("key", 0, kU16Max, Need::Required,
          "the key code that presses it, 0 for none (the widget class takes at most 321)"),
      Colour("selectboxRGB", kIntMin, Need::Required, "the colour of its selection box, 0xRRGGBB in decimal"),
      Int("value", kIntMin, kIntMax, Need::Required,
          "its value (a slider's or progress bar's from 0 to its range, a check box's 0 or 1)"),
      Int("range", kI16Min, kU16Max, Need::Required,
          "the largest value of a slider or progress bar (the widget class takes 0 to 255), an input box's length")}},
    {"image",
     "widget",
     "one state image of the widget (a TILB2 block named after the widget and the state's suffix _n, _s, _p or _o)",
     {Words("state", {"normal", "hovered", "pressed", "deactivated"}, Need::Required,
            "the state it shows (every widget needs normal, pressed and deactivated; a complex button hovered too)"),
      SourceRow(), BlendingRow("per-surface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow()}},
};

}  // namespace

const KindSpec kWidgetKind = {kinds::Kind::Widget, "wid_", &kElements};

}  // namespace orb
