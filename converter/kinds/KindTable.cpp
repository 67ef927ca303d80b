#include "KindTable.h"

namespace orb {

const std::vector<const KindSpec*>& KindTable() {
    static const std::vector<const KindSpec*> table = {&kImageKind, &kTileKind,  &kSpriteKind, &kFontKind,
                                                       &kSoundKind, &kMusicKind, &kFileKind,   &kWidgetKind};
    return table;
}

}  // namespace orb
