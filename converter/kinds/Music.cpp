// The music kind: a piece of music stored as the user's file; a "music"
// element.
#include "Audio.h"
#include "KindTable.h"
#include "SameMeaning.h"

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

bool Export(ExportSession& s, const std::string& n) { return audio::Export(s, n, true); }
bool Import(ImportSession& s, std::string& name) { return audio::Import(s, name, true); }
bool Show(gallery::Session& s, const kinds::Entry& e) { return audio::Show(s, e, true); }

}  // namespace

const KindSpec kMusicKind = {kinds::Kind::Music,        "mus_", &kElements, &Counters::mus, false, Export, Import, Show,
                             samemeaning::CompareStored};

}  // namespace orb
