// The image kind: a picture of its own, an "image" element.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"image",
     "ORB",
     "a picture (IMG block)",
     {NameRow(), SourceRow(), BlendingRow("per-surface"), AlphaModRow(), ColorKeyRow()}},
};

}  // namespace

const KindSpec kImageKind = {kinds::Kind::Image, "img_", &kElements};

}  // namespace orb
