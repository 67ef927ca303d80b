// The importer's per-kind work: one function per element kind. Each is
// called with the element as the document's current element, leaves it
// current again on every path, and returns whether the resource was stored;
// the caller counts it. Failures print their own warnings, and leave the
// cause in plain words in the session for the line after the warning.
#pragma once
#include <string>

#include "OrbFormat.h"

class DocumentFolder;

// The most a payload file may hold: what one block holds.
constexpr unsigned long long kMaxPayloadBytes = 0xFFFFFFFFull;

struct ImportSession {
    int doc = 0;
    int pkg = 0;
    int total = 0;
    orb::Counters c;
    int failed = 0;                          // elements and widgets that were not stored
    std::string cause;                       // why the element at hand failed, when known (PrintCause)
    bool readOnly = false;                   // the package is opened for reading only: every store fails
    bool update = false;                     // a block that means what the element means is kept as it is
    const DocumentFolder* folder = nullptr;  // where the payloads are read from
};

// The cause line for an element whose handler failed: s.cause, or a
// general sentence when no cause is known.
void PrintElementCause(ImportSession& s);

bool ImportImage(ImportSession& s, std::string& name);
bool ImportTile(ImportSession& s, std::string& name);
bool ImportFont(ImportSession& s, std::string& name);
bool ImportSprite(ImportSession& s, std::string& name);
bool ImportAudio(ImportSession& s, std::string& name, bool music);
bool ImportFile(ImportSession& s, std::string& name);
// The panel counts its own widgets and state images.
void ImportPanel(ImportSession& s);
