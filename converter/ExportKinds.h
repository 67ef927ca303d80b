// The exporter's per-kind work: one function per element kind of the first
// pass, and the widget pass. Each writes its payload file first and makes its
// element only once the payload is on disk, so that a resource that fails
// leaves no element behind; it then reports the failure with its own warning
// and is not counted, with one line after its warning that says why.
#pragma once
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Converter.h"
#include "OrbFormat.h"

class CSprite;
struct SDL_Surface;

// Why a block cannot be read, in plain words (the cause line of the export
// and of the gallery).
extern const char* const kUnreadableBlock;

// Loads sprite block n of package pkg for output: its sheet and frame size.
// Null when it can be cut into frames, else the cause why not.
const char* LoadSpriteSheet(CSprite& sprite, int pkg, const std::string& n, SDL_Surface*& sheet, int& fw, int& fh);

struct ExportSession {
    int pkg = 0;
    int doc = 0;
    std::string base;  // B: payload directory, document name without ".xml"
    int live = 0;
    orb::PayloadNamer names;
    orb::Counters c;
    bool panelMade = false;
    int failed = 0;                     // resources that were asked for and not exported
    std::string cause;                  // why the last resource failed (a sentence), or empty
    std::set<std::string> stateImages;  // names of the live state image blocks

    // Records why the resource at hand failed; false for the caller's return.
    bool Fail(std::string why) {
        cause = std::move(why);
        return false;
    }

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

// ExportPackage with a selection: with names, only the live blocks whose
// names one of them selects (NameMatch.h) are exported, a widget with its
// state images (a state image named alone brings its widget), into a
// document of exactly the layout of a full export. A name that selects no
// block the document can carry is an error reported before anything is
// written. Without names, the whole package (ExportPackage).
// counts (when given) receives how many blocks were asked for and how many
// were exported, in the units of the document's "totalblocks".
struct ExportCounts {
    int asked = 0;
    int exported = 0;
};
int ExportSelected(const char* input, const char* output, const std::vector<std::string>* names, RunOutcome* outcome,
                   ExportCounts* counts = nullptr);
