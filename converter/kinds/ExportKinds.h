// The exporter's steps that every kind shares (each kind's own export is in
// its file under kinds/). A kind writes its payload file first and makes its
// element only once the payload is on disk, so that a resource that fails
// leaves no element behind; it is then reported with its warning and a line
// that says why, and not counted.
#pragma once
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Converter.h"
#include "OrbFormat.h"
#include "OutputFolder.h"

#include "KindTable.h"

struct SDL_Surface;
namespace orb {
class DocumentWriter;
}

// Why a block cannot be read, in plain words (the cause line of the export
// and of the gallery).
extern const char* const kUnreadableBlock;

struct ExportSession {
    int pkg = 0;
    orb::DocumentWriter* doc = nullptr;  // the document, written as the export goes
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

// Exports one block of its kind (KindSpec::exportBlock); true when it was
// exported, and counted. A failure is warned about, with its cause, and
// counted as failed. The current element is the root again afterwards (the
// panel for a widget).
bool ExportResource(ExportSession& s, const orb::KindSpec& kind, const std::string& name);

// The steps the kinds share.
namespace exportstep {

// A graphic payload as written: where, and the attributes that describe it.
struct Graphic {
    std::string source;
    bool perPixel = false;
    int alphamod = 255;
    int colorkey = orb::kNoColorKeyValue;
};
// Writes the surface as PNG (per-pixel) or BMP (per-surface) under a fresh
// safe name made of prefix and stem, and fills g.
bool WriteGraphic(ExportSession& s, const char* prefix, const std::string& stem, SDL_Surface* surface, bool perPixel,
                  Graphic& g);
// Writes one payload file of the folder, every byte or nothing, under a
// fresh safe name made of prefix, stem and extension; its path in the
// document in source. A failed write stops the export.
bool WritePayload(ExportSession& s, const char* prefix, const std::string& stem, const std::string& extension,
                  const uint8_t* data, size_t size, std::string& source);
// Makes the element as a child of the current one; false (nothing made)
// when there is no document.
bool Open(ExportSession& s, const char* tag);
void Close(ExportSession& s);
// Attributes of the current element; a block name goes into the document in
// its escaped form (NameForDocument).
void SetText(ExportSession& s, const char* name, const char* value);
void SetInt(ExportSession& s, const char* name, int value);
// "source", "alphablending" and, per surface, "alphamod" and "colorkey".
void SetGraphicAttributes(ExportSession& s, const Graphic& g, const char* perSurfaceText);
// The tile block of this type as a graphic payload named prefix + stem
// (Tile.cpp; the widgets' state images are tile blocks). 0 when the package
// holds no such block that loads, -1 when its payload could not be written
// (the cause in the session), 1 when written.
int WriteTileGraphic(ExportSession& s, const std::string& block, const char* type, const char* prefix,
                     const std::string& stem, Graphic& g);

}  // namespace exportstep

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
