// The sound kind: a sound effect stored as the user's file; a "sound"
// element.
#include "KindTable.h"

namespace orb {

namespace {

const Elements kElements = {
    {"sound",
     "ORB",
     "a sound effect (SND block), kept byte for byte",
     {NameRow(), SourceRow("the sound file (WAV, AIFF, VOC, Ogg or any other, stored as it is), relative to the "
                           "document's folder; the export names it by the format its first bytes name, .bin when "
                           "they name none")}},
};

}  // namespace

const KindSpec kSoundKind = {kinds::Kind::Sound, "snd_", &kElements};

}  // namespace orb
