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
// resource twice; the list holds names and types only, never payloads, and
// holds them compactly (one run of names, a small record per entry), so that
// a package of a million blocks is walked in a few tens of megabytes.
//
// An extraction (ExportSelected with names) walks the same list and skips
// every entry outside the selection, so that what it writes is exactly what
// a full export writes for those resources.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "Converter.h"
#include "DocumentWriter.h"
#include "ExportKinds.h"
#include "FileNames.h"
#include "KindTable.h"
#include "NameMatch.h"
#include "OrbFormat.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "SafeText.h"
#include "SdkHandles.h"
#include "TextRun.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Kinds.h"

using BlockKind = kinds::Kind;
using kinds::TypeOf;

namespace {

// The entries of the package as the walk found them.
class EntryList {
public:
    // Walks the open package's entries; false when nothing could be walked.
    bool Walk(int pkg);
    size_t size() const { return rows_.size(); }
    std::string name(size_t i) const { return std::string(names_.View(rows_[i].name)); }
    const std::string& type(size_t i) const { return types_[rows_[i].type].text; }
    bool deleted(size_t i) const { return types_[rows_[i].type].deleted; }
    // The kind that exports the entry's type, or null.
    const orb::KindSpec* kind(size_t i) const { return types_[rows_[i].type].kind; }
    // A widget: any type text that starts with the widget's.
    bool widget(size_t i) const { return !deleted(i) && kind(i) && kind(i)->inPanel; }
    bool stateImage(size_t i) const { return !deleted(i) && types_[rows_[i].type].stateImage; }

private:
    struct Row {
        uint64_t name = 0;  // in names_
        uint32_t type = 0;
    };
    struct Type {
        std::string text;
        bool deleted = false, stateImage = false;
        const orb::KindSpec* kind = nullptr;
    };
    uint32_t TypeIndex(const std::string& text);
    TextRun names_;
    std::deque<Row> rows_;     // grows without copying
    std::vector<Type> types_;  // the distinct type texts, few in any package
    std::unordered_map<std::string, uint32_t> typeIndex_;
};

uint32_t EntryList::TypeIndex(const std::string& text) {
    const auto found = typeIndex_.find(text);
    if (found != typeIndex_.end()) return found->second;
    Type t;
    t.text = text;
    t.deleted = text == TypeOf(BlockKind::Deleted);
    const kinds::KindRow* row = kinds::Find(text);
    t.stateImage = row && row->kind == BlockKind::StateImage;
    t.kind = orb::MatchBlockType(text.c_str());
    types_.push_back(std::move(t));
    typeIndex_.emplace(text, uint32_t(types_.size() - 1));
    return uint32_t(types_.size() - 1);
}

bool EntryList::Walk(int pkg) {
    if (!g_pStuffVLT) return false;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    for (int r = g_pStuffVLT->FindFirst(pkg, &info); r == 1; r = g_pStuffVLT->FindNext(pkg, &info)) {
        Row row;
        row.name = names_.Add(std::string_view(info.name, strnlen(info.name, sizeof info.name)));
        row.type = TypeIndex(std::string(info.type, strnlen(info.type, sizeof info.type)));
        rows_.push_back(row);
        std::memset(&info, 0, sizeof info);
    }
    return !rows_.empty();
}

// Which entries an extraction takes: live blocks whose names a NAME selects
// and that the document can carry (a first-pass kind or a widget); a state
// image of a live widget selects that widget. Returns the number of blocks that will be
// exported (a widget counts with its state images), or -1 after reporting a
// NAME that selects nothing.
int Select(const EntryList& entries, const std::vector<std::string>& names, std::vector<bool>& selected) {
    selected.assign(entries.size(), false);
    // The names a live widget gives its state images: a state image without
    // its widget has no place in a document.
    std::set<std::string> widgetStates;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries.widget(i))
            for (const orb::StateImageBlock& state : orb::StateImagesOf(entries.name(i)))
                widgetStates.insert(state.block);
    std::vector<std::string> candidates;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries.deleted(i) || !(entries.kind(i) || (entries.stateImage(i) && widgetStates.count(entries.name(i)))))
            continue;
        candidates.push_back(entries.name(i));
        selected[i] = AnyMatches(names, candidates.back());
    }
    if (const std::string* unmatched = FirstUnmatched(names, candidates)) {
        std::printf(" - Error: no resource matches '%s'.\n", SafeText(*unmatched, SafeStyle::Masked).c_str());
        return -1;
    }
    // A state image is exported with its widget only: naming it names the
    // widget.
    std::set<std::string> liveStates, namedStates;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries.stateImage(i)) continue;
        liveStates.insert(entries.name(i));
        if (selected[i]) namedStates.insert(entries.name(i));
        selected[i] = false;
    }
    int total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool widget = entries.widget(i);
        int states = 0;
        for (const orb::StateImageBlock& state : orb::StateImagesOf(entries.name(i))) {
            if (!widget) break;
            if (namedStates.count(state.block)) selected[i] = true;
            states += liveStates.count(state.block) ? 1 : 0;
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

// The package to export, open; false after its error line.
bool OpenSource(const char* input, OpenPackage& pkg) {
    if (input && g_pStuffVLT) pkg.Reset(g_pStuffVLT->Open(input));
    if (pkg.get() < 1) {
        std::printf(" - Error: could not open the given VLT.\n");
        return false;
    }
    if (g_pStuffVLT->Count(pkg.get()) <= 0) {
        std::printf(" - Error: could not access to the given VLT. Is it password protected?\n");
        return false;
    }
    return true;
}

// The document's base name: the output (or input) path without its last
// four characters; false after its error line.
bool BaseName(const char* input, const char* output, std::string& base) {
    if (!output) {
        const std::string in(input);
        base = in.size() >= 4 ? in.substr(0, in.size() - 4) : std::string();
        // A package named only ".vlt" leaves no base name: its payload paths
        // would read "/" + file name, at the root of the file system.
        if (!base.empty()) return true;
        std::printf(" - Error: output file requires a valid extension.\n");
        return false;
    }
    const std::string out(output);
    if (out.size() < 5) {
        std::printf(" - Error: output file requires a valid extension.\n");
        return false;
    }
    // Anything else would lose its last four characters, whatever they are
    // ("foo.json" would write "foo..xml" and a folder "foo.").
    if (!EndsInExtension(out, ".xml")) {
        std::printf(
            " - Error: the output file '%s' does not end in \".xml\"; give the document's name with that "
            "extension.\n",
            SafeText(out, SafeStyle::Masked).c_str());
        return false;
    }
    base = out.substr(0, out.size() - 4);
    return true;
}

// The document's place and its payload folder, opened once: files of an
// earlier export are replaced only where they are still as it wrote them.
// False after its error lines.
bool OpenOutput(const std::string& documentName, const std::string& base, outwrite::OutputSet& files) {
    // The document's name taken by a folder: nothing could be saved there.
    struct stat st;
    if (::lstat(documentName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::printf("\n - Error: could not save the output XML('%s').\n",
                    SafeText(documentName, SafeStyle::Masked).c_str());
        return false;
    }
    const std::string shown = SafeText(base, SafeStyle::Masked);
    switch (files.Open()) {
        case outwrite::OutputSet::Status::Ok: return true;
        case outwrite::OutputSet::Status::FolderIsLink:
            std::printf(" - Error: the payload folder '%s' is a symbolic link; nothing is written through it.\n",
                        shown.c_str());
            return false;
        case outwrite::OutputSet::Status::FolderIsFile:
            std::printf(" - Error: the payload folder '%s' is taken by a file that is no folder; nothing is written.\n",
                        shown.c_str());
            return false;
        case outwrite::OutputSet::Status::Refused: PrintRefusal(files); return false;
        case outwrite::OutputSet::Status::Failed:
            std::printf(" - Error: %s; nothing is written.\n", files.error().c_str());
            return false;
    }
    return false;
}

// The root of the document with its attributes.
void StartDocument(ExportSession& s, orb::DocumentWriter& doc, outwrite::OutputSet& files, const char* input,
                   const std::string& documentName) {
    s.doc = &doc;
    doc.SpillTo(&files);
    doc.SetRootAttribute(orb::attr::kVersion, orb::kVersion);
    doc.SetRootAttribute(orb::attr::kSource, RelativeTo(input, documentName));
    doc.SetRootAttribute(orb::attr::kDate, orb::DateText(s.pkg));
    doc.SetRootAttribute(orb::attr::kCreator, orb::kCreator);
}

// Both passes over the selected entries: every resource except widgets as
// children of the root, then the widgets into one panel.
void ExportPasses(ExportSession& s, const EntryList& entries, const std::vector<bool>& selected) {
    ProgressLine progress;
    for (bool panel : {false, true}) {
        for (size_t i = 0; i < entries.size() && !s.Stopped(); ++i) {
            if (!selected[i]) continue;
            const orb::KindSpec* kind = entries.kind(i);
            if (kind && kind->inPanel == panel) ExportResource(s, *kind, entries.name(i));
            progress.Show(s.c, s.live);
        }
    }
    progress.Finish();
}

// Writes the document beside its payload files, or takes back everything
// the run wrote; 1 when the export stands.
int SaveDocument(ExportSession& s, outwrite::OutputSet& files, const std::string& documentName) {
    s.doc->SetRootAttribute(orb::attr::kTotalBlocks, std::to_string(s.c.done));
    if (s.Stopped()) {
        // A write error ends the run: what it wrote is taken back, and the
        // files of an earlier export stay as they were.
        files.Rollback();
        std::printf("\n - Error: the export stopped: it %s; nothing it wrote was kept.\n", files.error().c_str());
        return 0;
    }
    if (files.refused()) {
        files.Rollback();
        PrintRefusal(files);
        return 0;
    }
    if (s.c.done == 0) {
        files.Rollback();
        return 1;
    }
    if (files.Commit([&](const outwrite::Sink& sink) { return s.doc->WriteTo(sink); }) !=
        outwrite::OutputSet::Status::Ok) {
        // A document that did not reach the disk is a failed export, and
        // its payload files are taken back with it.
        std::printf("\n - Error: could not save the output XML('%s').\n",
                    SafeText(documentName, SafeStyle::Masked).c_str());
        if (!files.error().empty()) PrintCause(files.error().c_str());
        return 0;
    }
    return 1;
}

void WarnUnexported(int live, int exported) {
    PrintWarning("existing VLT blocks(%d) does not match with exported ones(%d).", live, exported);
    std::printf("\n - Info: remember that button,sound,music and files blocks are not exported.\n");
}

}  // namespace

int ExportPackage(const char* input, const char* output, RunOutcome* outcome) {
    return ExportSelected(input, output, nullptr, outcome);
}

int ExportSelected(const char* input, const char* output, const std::vector<std::string>* names, RunOutcome* outcome,
                   ExportCounts* counts, bool force) {
    if (outcome) *outcome = RunOutcome();
    if (counts) *counts = ExportCounts();
    OpenPackage pkg;
    if (!OpenSource(input, pkg)) return 0;
    int live = g_pStuffVLT->Count(pkg.get()) - g_pStuffVLT->CountDeleted(pkg.get());
    EntryList entries;
    if (!entries.Walk(pkg.get())) {
        // Nothing could be walked (the first FindFirst failed, a read error
        // after a non-zero count): no document, no directory.
        pkg.Close();
        if (live != 0) WarnUnexported(live, 0);
        return 1;
    }
    std::string base;
    if (!BaseName(input, output, base)) return 0;
    const std::string documentName = base + ".xml";
    // The selection is settled before anything is written: a NAME that
    // selects nothing leaves no document and no folder behind.
    std::vector<bool> selected(entries.size(), true);
    if (names && (live = Select(entries, *names, selected)) < 0) return 0;
    outwrite::OutputSet files(documentName, base, force);
    if (!OpenOutput(documentName, base, files)) return 0;

    ExportSession s;
    s.pkg = pkg.get();
    s.base = base;
    s.folder = files.folderName();
    s.out = &files;
    s.live = live;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries.stateImage(i)) s.stateImages.insert(entries.name(i));
    orb::DocumentWriter doc(orb::kRootTag, orb::kComment);
    StartDocument(s, doc, files, input, documentName);
    ExportPasses(s, entries, selected);
    pkg.Close();
    if (outcome) outcome->failed = s.failed;
    if (counts) {
        counts->asked = live;
        counts->exported = s.c.done;
    }
    const int result = SaveDocument(s, files, documentName);
    if (result && live != s.c.done) WarnUnexported(live, s.c.done);
    return result;
}
