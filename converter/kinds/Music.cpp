// The music kind: a piece of music stored as the user's file; a "music"
// element.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"music",
     "ORB",
     "a piece of music (MUS block), kept byte for byte",
     {NameRow(), SourceRow("the music file (MOD, MIDI, Ogg or any other, stored as it is), relative to the "
                           "document's folder; the export names it by the format its first bytes name, .bin when "
                           "they name none")}},
};

}  // namespace

const KindSpec kMusicKind = {kinds::Kind::Music, "mus_", &kElements};

}  // namespace orb
