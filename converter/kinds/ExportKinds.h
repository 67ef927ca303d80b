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
#include "OutputFolder.h"

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
    std::string base;                    // B: payload directory, document name without ".xml"
    std::string folder;                  // B's last component: the payload paths of the document start with it
    outwrite::OutputSet* out = nullptr;  // where the payload files go
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

    // A payload's path in the document: relative to the document's folder.
    std::string PathOf(const std::string& file) const { return folder + "/" + file; }
    // A payload's path as the user named the output, for messages.
    std::string ShownPath(const std::string& file) const { return base + "/" + file; }
    // Whether a payload could not be written: the export stops there.
    bool Stopped() const { return out && !out->error().empty(); }
};

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
// force: files of an earlier export that were changed since it wrote them,
// or that no export wrote, are replaced instead of refused (OutputFolder.h).
int ExportSelected(const char* input, const char* output, const std::vector<std::string>* names, RunOutcome* outcome,
                   ExportCounts* counts = nullptr, bool force = false);
