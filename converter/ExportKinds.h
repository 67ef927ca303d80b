// The exporter's per-kind work: one function per element kind of the first
// pass, and the widget pass. Each writes its payload file first and makes its
// element only once the payload is on disk, so that a resource that fails
// leaves no element behind; it then reports the failure with its own warning
// and is not counted.
#pragma once
#include <string>

#include "OrbFormat.h"

struct ExportSession {
    int pkg = 0;
    int doc = 0;
    std::string base;  // B: payload directory, document name without ".xml"
    int live = 0;
    orb::PayloadNamer names;
    orb::Counters c;
    bool panelMade = false;

    std::string PathOf(const std::string& file) const { return base + "/" + file; }
};

// Whether the payload directory B is a symbolic link. Payloads are written
// into B by name, so a link planted there (in a folder others can write to)
// would carry every one of them to wherever it points; the export refuses
// such a B, and each payload is written only while B is a real directory.
bool PayloadFolderIsLink(const std::string& base);

// Exports one block of the first pass as an element of the root; true when
// it was exported (the caller counts it). The current element is the root
// again afterwards.
bool ExportResource(ExportSession& s, const orb::KindRow& row, const std::string& name);

// Exports one "BUT" block and its state images into the panel (made before
// the first widget) and counts them. The panel is the current element
// afterwards.
void ExportWidget(ExportSession& s, const std::string& name);
