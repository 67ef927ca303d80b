// What the sound and music kinds share: each block holds the user's own
// file, stored and exported byte for byte (Sound.cpp, Music.cpp).
#pragma once
#include <string>

#include "KindTable.h"

namespace audio {

bool Export(ExportSession& s, const std::string& n, bool music);
bool Import(ImportSession& s, std::string& name, bool music);
bool Show(gallery::Session& s, const kinds::Entry& e, bool music);

}  // namespace audio
