#include "KindTable.h"

#include <cstring>

namespace orb {

const std::vector<const KindSpec*>& KindTable() {
    static const std::vector<const KindSpec*> table = {&kImageKind, &kTileKind,  &kSpriteKind, &kFontKind,
                                                       &kSoundKind, &kMusicKind, &kFileKind,   &kWidgetKind};
    return table;
}

const KindSpec* SpecOf(kinds::Kind block) {
    if (block == kinds::Kind::StateImage) block = kinds::Kind::Tile;
    for (const KindSpec* spec : KindTable())
        if (spec->block == block) return spec;
    return nullptr;
}

const KindSpec* MatchRootChild(const char* tag) {
    if (!tag) return nullptr;
    for (const KindSpec* spec : KindTable())
        if (std::strncmp(tag, spec->tag(), std::strlen(spec->tag())) == 0) return spec;
    return nullptr;
}

const KindSpec* MatchBlockType(const char* type) {
    if (!type) return nullptr;
    for (const KindSpec* spec : KindTable()) {
        // The older type text starts the current one: both are taken.
        const kinds::KindRow& row = kinds::Of(spec->block);
        const char* prefix = row.older ? row.older : row.type;
        if (std::strncmp(type, prefix, std::strlen(prefix)) == 0) return spec;
    }
    return nullptr;
}

}  // namespace orb
