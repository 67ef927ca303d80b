// The sound kind: a sound effect stored as the user's file; a "sound"
// element.
#include "Audio.h"
#include "KindTable.h"
#include "SameMeaning.h"

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

bool Export(ExportSession& s, const std::string& n) { return audio::Export(s, n, false); }
bool Import(ImportSession& s, std::string& name) { return audio::Import(s, name, false); }
bool Show(gallery::Session& s, const kinds::Entry& e) { return audio::Show(s, e, false); }

}  // namespace

const KindSpec kSoundKind = {kinds::Kind::Sound,        "snd_", &kElements, &Counters::snd, false, Export, Import, Show,
                             samemeaning::CompareStored};

}  // namespace orb
