// ExportPackage: one VLT package to an ORBv1 document plus its payload files.
//
// Two passes over the package's entries: the first writes images, tiles,
// sprites, fonts, music, sounds and raw files as children of the root, the
// second every "BUT" widget, with its state images, into one panel. Every
// payload goes through the SDK class that owns the block's format; this file
// decides names, attributes, order and counting, and reports on the console.
//
// Both passes walk a list of the entries taken when the export begins. Loading
// a 1.0 tile, sprite or font block upgrades it inside the package: the class
// appends the 2.0 block and marks the old one deleted. A walk that followed
// the live entry table would meet the appended block again and export the
// resource twice; the list holds names and types only, never payloads.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Converter.h"
#include "ExportKinds.h"
#include "OrbFormat.h"
#include "SafeText.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Kinds.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

int ExportPackage(const char* input, const char* output, RunOutcome* outcome) {
    if (outcome) *outcome = RunOutcome();
    if (!input || !g_pStuffVLT) {
        std::printf(" - Error: could not open the given VLT.\n");
        return 0;
    }
    const int pkg = g_pStuffVLT->Open(input);
    if (pkg < 1) {
        std::printf(" - Error: could not open the given VLT.\n");
        return 0;
    }
    const int count = g_pStuffVLT->Count(pkg);
    if (count <= 0) {
        std::printf(" - Error: could not access to the given VLT. Is it password protected?\n");
        g_pStuffVLT->Close(pkg);
        return 0;
    }
    const int live = count - g_pStuffVLT->CountDeleted(pkg);

    std::vector<kinds::Entry> entries;
    kinds::WalkEntries(pkg, entries);
    if (entries.empty()) {
        // Nothing could be walked (the first FindFirst failed, a read error
        // after a non-zero count): no document, no directory.
        g_pStuffVLT->Close(pkg);
        if (live != 0) {
            std::printf("\n - WARNING: existing VLT blocks(%d) does not match with exported ones(%d).", live, 0);
            std::printf("\n - Info: remember that button,sound,music and files blocks are not exported.\n");
        }
        return 1;
    }

    // Base name: the output (or input) path without its last four characters.
    std::string base;
    if (output) {
        const std::string out(output);
        if (out.size() < 5) {
            std::printf(" - Error: output file requires a valid extension.\n");
            g_pStuffVLT->Close(pkg);
            return 0;
        }
        base = out.substr(0, out.size() - 4);
    } else {
        const std::string in(input);
        base = in.size() >= 4 ? in.substr(0, in.size() - 4) : std::string();
        // A package named only ".vlt" leaves no base name: its payload paths
        // would read "/" + file name, at the root of the file system.
        if (base.empty()) {
            std::printf(" - Error: output file requires a valid extension.\n");
            g_pStuffVLT->Close(pkg);
            return 0;
        }
    }
    const std::string documentName = base + ".xml";

    ExportSession s;
    s.pkg = pkg;
    s.base = base;
    s.live = live;
    s.doc = Trovalis.XMLCreate(orb::kRootTag);
    bool sourceSet = false;
    if (s.doc) {
        Trovalis.XMLCommentSet(s.doc, orb::kComment);
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kVersion, orb::kVersion);
        sourceSet = Trovalis.XMLAttributeSet(s.doc, orb::attr::kSource, input) == 1;
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kDate, orb::DateText().c_str());
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kCreator, orb::kCreator);
    }
    // One level only; an existing directory is fine. Deeper missing levels
    // are created along each payload path as it is written.
    const bool madeBase = ::mkdir(base.c_str(), 0755) == 0;
    if (!s.doc || !sourceSet) {
        g_pStuffVLT->Close(pkg);
        if (s.doc) Trovalis.XMLClose(s.doc);
        std::printf(" - Error creating the output XML\n");
        return 0;
    }
    if (PayloadFolderIsLink(base)) {
        g_pStuffVLT->Close(pkg);
        Trovalis.XMLClose(s.doc);
        std::printf(" - Error: the payload folder '%s' is a symbolic link; nothing is written through it.\n",
                    SafeText(base, SafeStyle::Masked).c_str());
        return 0;
    }

    // First pass: every resource except widgets, as children of the root.
    for (const kinds::Entry& e : entries) {
        if (const orb::KindRow* row = orb::MatchBlockType(e.type.c_str())) {
            if (ExportResource(s, *row, e.name)) {
                ++s.c.done;
                ++s.c.Of(row->kind);
            }
        }
        orb::PrintProgress(s.c, live);
    }
    // Second pass: widgets into one panel (any type text that starts with
    // the widget's).
    const std::string widgetType = TypeOf(BlockKind::Widget);
    for (const kinds::Entry& e : entries) {
        if (e.type.compare(0, widgetType.size(), widgetType) == 0) ExportWidget(s, e.name);
        orb::PrintProgress(s.c, live);
    }
    g_pStuffVLT->Close(pkg);

    int result = 1;
    Trovalis.XMLNodePointTo(s.doc, 1, orb::kRootTag);
    Trovalis.XMLAttributeSet(s.doc, orb::attr::kTotalBlocks, s.c.done);
    if (s.c.done == 0) {
        if (madeBase) ::rmdir(base.c_str());
    } else if (Trovalis.XMLSave(s.doc, documentName.c_str()) != 1) {
        // A document that did not reach the disk is a failed export; what
        // the failed write left behind is no document either.
        ::unlink(documentName.c_str());
        std::printf("\n - Error: could not save the output XML('%s').\n", documentName.c_str());
        result = 0;
    }
    Trovalis.XMLClose(s.doc);

    if (result && live != s.c.done) {
        std::printf("\n - WARNING: existing VLT blocks(%d) does not match with exported ones(%d).", live, s.c.done);
        std::printf("\n - Info: remember that button,sound,music and files blocks are not exported.\n");
    }
    return result;
}
