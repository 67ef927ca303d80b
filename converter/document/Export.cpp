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
//
// An extraction (ExportSelected with names) walks the same list and skips
// every entry outside the selection, so that what it writes is exactly what
// a full export writes for those resources.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Converter.h"
#include "ExportKinds.h"
#include "NameMatch.h"
#include "OrbFormat.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "SafeText.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"
#include "resources/Kinds.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

namespace {

bool EndsInXml(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".xml";
}

bool IsWidget(const kinds::Entry& e) {
    const std::string widgetType = TypeOf(BlockKind::Widget);
    return e.type.compare(0, widgetType.size(), widgetType) == 0;
}

bool IsStateImage(const kinds::Entry& e) {
    const kinds::KindRow* row = kinds::Find(e.type);
    return row && row->kind == BlockKind::StateImage;
}

// Which entries an extraction takes: live blocks whose names a NAME selects
// and that the document can carry (a first-pass kind or a widget); a state
// image of a live widget selects that widget. Returns the number of blocks that will be
// exported (a widget counts with its state images), or -1 after reporting a
// NAME that selects nothing.
int Select(const std::vector<kinds::Entry>& entries, const std::vector<std::string>& names,
           std::vector<bool>& selected) {
    selected.assign(entries.size(), false);
    // The names a live widget gives its state images: a state image without
    // its widget has no place in a document.
    std::set<std::string> widgetStates;
    for (const kinds::Entry& e : entries)
        if (!e.deleted() && IsWidget(e))
            for (const ButtonStateImage& state : IButton::kStateImages) widgetStates.insert(e.name + state.suffix);
    std::vector<std::string> candidates;
    for (size_t i = 0; i < entries.size(); ++i) {
        const kinds::Entry& e = entries[i];
        if (e.deleted() ||
            !(orb::MatchBlockType(e.type.c_str()) || IsWidget(e) || (IsStateImage(e) && widgetStates.count(e.name))))
            continue;
        candidates.push_back(e.name);
        selected[i] = AnyMatches(names, e.name);
    }
    if (const std::string* unmatched = FirstUnmatched(names, candidates)) {
        std::printf(" - Error: no resource matches '%s'.\n", SafeText(*unmatched, SafeStyle::Masked).c_str());
        return -1;
    }
    // A state image is exported with its widget only: naming it names the
    // widget.
    std::set<std::string> liveStates, namedStates;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].deleted() || !IsStateImage(entries[i])) continue;
        liveStates.insert(entries[i].name);
        if (selected[i]) namedStates.insert(entries[i].name);
        selected[i] = false;
    }
    int total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool widget = !entries[i].deleted() && IsWidget(entries[i]);
        int states = 0;
        for (const ButtonStateImage& state : IButton::kStateImages) {
            if (!widget) break;
            const std::string stateName = entries[i].name + state.suffix;
            if (namedStates.count(stateName)) selected[i] = true;
            states += liveStates.count(stateName) ? 1 : 0;
        }
        if (selected[i]) total += 1 + states;
    }
    return total;
}

// The files in the way of an export, one line each.
void PrintRefusal(const outwrite::OutputSet& files) {
    std::printf(
        "\n - Error: these files were changed since the export that wrote them, or no export wrote them; nothing "
        "was written (give --force to replace them):\n");
    for (const std::string& c : files.conflicts()) std::printf("   %s\n", c.c_str());
}

// The package's path as the document names it: relative to the document's
// folder, so that the document works from any current folder.
std::string RelativeTo(const std::string& package, const std::string& document) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path from = fs::weakly_canonical(fs::absolute(fs::path(document), ec).parent_path(), ec);
    const fs::path to = ec ? fs::path() : fs::weakly_canonical(fs::absolute(fs::path(package), ec), ec);
    if (ec || from.empty() || to.empty()) return package;
    const fs::path rel = to.lexically_relative(from);
    return rel.empty() ? package : rel.generic_string();
}

}  // namespace

int ExportPackage(const char* input, const char* output, RunOutcome* outcome) {
    return ExportSelected(input, output, nullptr, outcome);
}

int ExportSelected(const char* input, const char* output, const std::vector<std::string>* names, RunOutcome* outcome,
                   ExportCounts* counts, bool force) {
    if (outcome) *outcome = RunOutcome();
    if (counts) *counts = ExportCounts();
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
    int live = count - g_pStuffVLT->CountDeleted(pkg);

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
        // Anything else would lose its last four characters, whatever they
        // are ("foo.json" would write "foo..xml" and a folder "foo.").
        if (!EndsInXml(out)) {
            std::printf(
                " - Error: the output file '%s' does not end in \".xml\"; give the document's name with "
                "that extension.\n",
                SafeText(out, SafeStyle::Masked).c_str());
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

    // The selection is settled before anything is written: a NAME that
    // selects nothing leaves no document and no folder behind.
    std::vector<bool> selected(entries.size(), true);
    if (names) {
        live = Select(entries, *names, selected);
        if (live < 0) {
            g_pStuffVLT->Close(pkg);
            return 0;
        }
    }

    // The document's name taken by a folder: nothing could be saved there.
    struct stat st;
    if (::lstat(documentName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        g_pStuffVLT->Close(pkg);
        std::printf("\n - Error: could not save the output XML('%s').\n",
                    SafeText(documentName, SafeStyle::Masked).c_str());
        return 0;
    }
    // The folder is opened once and every payload made inside it; files of
    // an earlier export are replaced only where they are still as it wrote
    // them.
    outwrite::OutputSet files(documentName, base, force);
    switch (files.Open()) {
        case outwrite::OutputSet::Status::Ok: break;
        case outwrite::OutputSet::Status::FolderIsLink:
            g_pStuffVLT->Close(pkg);
            std::printf(" - Error: the payload folder '%s' is a symbolic link; nothing is written through it.\n",
                        SafeText(base, SafeStyle::Masked).c_str());
            return 0;
        case outwrite::OutputSet::Status::FolderIsFile:
            g_pStuffVLT->Close(pkg);
            std::printf(" - Error: the payload folder '%s' is taken by a file that is no folder; nothing is written.\n",
                        SafeText(base, SafeStyle::Masked).c_str());
            return 0;
        case outwrite::OutputSet::Status::Refused:
            g_pStuffVLT->Close(pkg);
            PrintRefusal(files);
            return 0;
        case outwrite::OutputSet::Status::Failed:
            g_pStuffVLT->Close(pkg);
            std::printf(" - Error: %s; nothing is written.\n", files.error().c_str());
            return 0;
    }

    ExportSession s;
    s.pkg = pkg;
    s.base = base;
    s.folder = files.folderName();
    s.out = &files;
    s.live = live;
    for (const kinds::Entry& e : entries)
        if (!e.deleted() && IsStateImage(e)) s.stateImages.insert(e.name);
    s.doc = Trovalis.XMLCreate(orb::kRootTag);
    bool sourceSet = false;
    if (s.doc) {
        Trovalis.XMLCommentSet(s.doc, orb::kComment);
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kVersion, orb::kVersion);
        sourceSet = Trovalis.XMLAttributeSet(s.doc, orb::attr::kSource, RelativeTo(input, documentName).c_str()) == 1;
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kDate, orb::DateText(pkg).c_str());
        Trovalis.XMLAttributeSet(s.doc, orb::attr::kCreator, orb::kCreator);
    }
    if (!s.doc || !sourceSet) {
        g_pStuffVLT->Close(pkg);
        if (s.doc) Trovalis.XMLClose(s.doc);
        std::printf(" - Error creating the output XML\n");
        return 0;
    }

    // First pass: every resource except widgets, as children of the root.
    ProgressLine progress;
    for (size_t i = 0; i < entries.size() && !s.Stopped(); ++i) {
        if (!selected[i]) continue;
        const kinds::Entry& e = entries[i];
        if (const orb::KindRow* row = orb::MatchBlockType(e.type.c_str())) {
            if (ExportResource(s, *row, e.name)) {
                ++s.c.done;
                ++s.c.Of(row->kind);
            }
        }
        progress.Show(s.c, live);
    }
    // Second pass: widgets into one panel (any type text that starts with
    // the widget's).
    for (size_t i = 0; i < entries.size() && !s.Stopped(); ++i) {
        if (!selected[i]) continue;
        if (IsWidget(entries[i])) ExportWidget(s, entries[i].name);
        progress.Show(s.c, live);
    }
    progress.Finish();
    g_pStuffVLT->Close(pkg);
    if (outcome) outcome->failed = s.failed;
    if (counts) {
        counts->asked = live;
        counts->exported = s.c.done;
    }

    int result = 1;
    Trovalis.XMLNodePointTo(s.doc, 1, orb::kRootTag);
    Trovalis.XMLAttributeSet(s.doc, orb::attr::kTotalBlocks, s.c.done);
    std::string text;
    if (s.Stopped()) {
        // A write error ends the run: what it wrote is taken back, and the
        // files of an earlier export stay as they were.
        files.Rollback();
        std::printf("\n - Error: the export stopped: it %s; nothing it wrote was kept.\n", files.error().c_str());
        result = 0;
    } else if (files.refused()) {
        files.Rollback();
        PrintRefusal(files);
        result = 0;
    } else if (s.c.done == 0) {
        files.Rollback();
    } else if (Trovalis.XMLPrint(s.doc, &text) != 1 ||
               files.Commit(text.data(), text.size()) != outwrite::OutputSet::Status::Ok) {
        // A document that did not reach the disk is a failed export, and
        // its payload files are taken back with it.
        std::printf("\n - Error: could not save the output XML('%s').\n",
                    SafeText(documentName, SafeStyle::Masked).c_str());
        if (!files.error().empty()) PrintCause(files.error().c_str());
        result = 0;
    }
    Trovalis.XMLClose(s.doc);

    if (result && live != s.c.done) {
        std::printf("\n - WARNING: existing VLT blocks(%d) does not match with exported ones(%d).", live, s.c.done);
        std::printf("\n - Info: remember that button,sound,music and files blocks are not exported.\n");
    }
    return result;
}
