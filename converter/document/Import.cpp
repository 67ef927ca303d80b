// ImportDocument: an ORBv1 document and its payload files into a package.
//
// The root's children are taken one by one and handled by the first kind
// whose tag prefix matches (image, tile, font, sprite, music, sound, file,
// panel); anything else is skipped quietly. An element that cannot be rebuilt
// is reported and skipped, and the run goes on; a write to the package that
// fails ends the run, with the package left as it was. The package is written as a
// new file beside the target and put in place only when it is complete
// (PackageStage), so that a failed or interrupted import leaves the user's
// package as it was.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Converter.h"
#include "DocumentCheck.h"
#include "DocumentFolder.h"
#include "FileNames.h"
#include "ImportKinds.h"
#include "ImportRun.h"
#include "OrbFormat.h"
#include "PackageStage.h"
#include "Progress.h"
#include "SafeText.h"
#include "SdkHandles.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Kinds.h"

namespace {

// Handles the current root child: the first kind whose tag its tag starts
// with takes it (the panel counts its own widgets); anything else is
// skipped quietly.
void ImportRootChild(ImportSession& s) {
    if (const orb::KindSpec* kind = orb::MatchRootChild(Trovalis.XMLNodeGetName(s.doc))) ImportResource(s, *kind);
}

// An update's view of the package before the document was walked: how
// many entries it had (a block that replaces one of them takes its place,
// which the package manager remembers), and which blocks the document
// named, to prune the others.
struct UpdateOrder {
    int pkg = 0;
    uint64_t before = 0;  // entries before the walk
};

// Every entry of the package in turn, as FindFirst and FindNext give them,
// without holding them all.
template <typename Visit>
void ForEachEntry(int pkg, Visit&& visit) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    for (int r = g_pStuffVLT->FindFirst(pkg, &info); r == 1; r = g_pStuffVLT->FindNext(pkg, &info)) {
        visit(info);
        std::memset(&info, 0, sizeof info);
    }
}

bool IsDeleted(const BlockInfo& info) {
    return std::strncmp(info.type, kinds::TypeOf(kinds::Kind::Deleted), sizeof info.type) == 0;
}

bool KeepNamed(void* context, const BlockInfo& info) {
    const auto* o = static_cast<const UpdateOrder*>(context);
    return g_pStuffVLT->WasUpdated(o->pkg, info.name, info.type) == 1;
}

// A block that replaces one of the package's takes its place; a new one
// goes after all that were there.
uint64_t RankByPlace(void* context, const BlockInfo& info, uint64_t position) {
    const auto* o = static_cast<const UpdateOrder*>(context);
    if (position < o->before) return position;
    const long long place = g_pStuffVLT->UpdatedPlace(o->pkg, info.name, info.type);
    return place >= 0 ? static_cast<uint64_t>(place) : position;
}

uint64_t FileLength(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The document, open at its root, which must be an ORBv1 root; false after
// its error line.
bool OpenDocument(const char* input, XmlDocument& doc, DocumentCheck& check) {
    if (check.Load(input) == DocumentCheck::Result::Malformed) {
        std::printf(" - Error: the given XML is not well-formed: %s\n", check.error().c_str());
        return false;
    }
    doc.Reset(check.TakeStream());
    if (!doc.get()) doc.Reset(input ? Trovalis.XMLOpenStream(input) : 0);
    if (!doc.get()) {
        std::printf(" - Error: could not open the given XML.\n");
        return false;
    }
    if (Trovalis.XMLNodePointTo(doc.get(), 1, orb::kRootTag) != 1) {
        std::printf(" - Error parsing the XML, is it a ORB file?\n");
        if (!check.rootCause().empty()) PrintCause(check.rootCause().c_str());
        return false;
    }
    const char* version = nullptr;
    if (Trovalis.XMLAttributeGet(doc.get(), orb::attr::kVersion, &version) != 1 || !version ||
        std::string(version) != orb::kVersion) {
        std::printf(" - Only ORBv1 format is supported.\n");
        return false;
    }
    return true;
}

// The target as given, or the root's "source"; a path that is given but
// empty is simply one that cannot be created (the open/create error). The
// user's own path is taken as given; the document's must name a package
// inside the document's folder, since a document from someone else would
// otherwise choose which file of the user's is written. False after its
// error line.
bool ChooseTarget(int doc, const char* output, const DocumentFolder& folder, std::string& target) {
    if (output) {
        target = output;
        return true;
    }
    const char* source = nullptr;
    if (Trovalis.XMLAttributeGet(doc, orb::attr::kSource, &source) != 1 || !source) {
        std::printf(" - Error: no output VLT was given and the XML does not name its 'source' VLT.\n");
        return false;
    }
    std::string cause;
    if (folder.Target(source, target, cause)) return true;
    std::printf(" - Error: %s\n", cause.c_str());
    return false;
}

// The package the elements go into, through the stage; false after its
// error line. A package the user keeps from being written is read, not
// replaced: every element is tried and fails for that cause, as a plain
// import into it always did, and the run says so through its outcome.
bool OpenTarget(ImportSession& s, PackageStage& stage, OpenPackage& readOnly, const std::string& target,
                const ImportOptions& options) {
    stage.SetLockWait(options.wait, options.noticeToStderr);
    s.pkg = g_pStuffVLT ? stage.Begin(target, true, options.update) : 0;
    PackageHead head;
    if (s.pkg < 1 && stage.failure() == PackageStage::Failure::ReadOnly && !options.update &&
        IStuffVLT::ProbeHead(target.c_str(), &head) == IStuffVLT::kHeadVersion4) {
        readOnly.Reset(g_pStuffVLT->OpenForReading(target.c_str()));
        s.pkg = readOnly.get();
        s.readOnly = s.pkg >= 1;
    }
    if (s.pkg >= 1) return true;
    if (stage.failure() == PackageStage::Failure::Open)
        std::printf(" - Error: could not open/create the desired VLT('%s').\n",
                    SafeText(target, SafeStyle::Masked).c_str());
    else
        std::printf(" - Error: could not write the VLT('%s'): %s.\n", SafeText(target, SafeStyle::Masked).c_str(),
                    stage.FailureText().c_str());
    return false;
}

// Every root child in turn, with the progress line; the error of a write
// to the package that failed (which ends the run), or 0.
int ImportChildren(ImportSession& s) {
    ProgressLine progress;
    int writeError = 0;
    if (Trovalis.XMLNodeChild(s.doc) == 1) {
        do {
            s.check->CheckCurrent(s.doc, s.child);
            if (RefusedByCheck(*s.check, s.child))
                ++s.failed;
            else
                ImportRootChild(s);
            ++s.child;
            progress.Show(s.c, s.total);
            // A full disk or a failing device is not one element's problem:
            // every later element would meet it too, and the package would
            // be put in place without them.
            writeError = g_pStuffVLT->WriteError(s.pkg);
        } while (!writeError && Trovalis.XMLNodeNext(s.doc) == 1);
    }
    // Blocks still being compressed are written now, and a failed write
    // among them counts as any other.
    if (!writeError) writeError = g_pStuffVLT->Flush(s.pkg);
    progress.Finish();
    return writeError;
}

// An update's end: the package rewritten with its live entries (in their
// places; with --prune only those the document named), unless it changed
// nothing and had nothing to reclaim. 1 when it stands.
int FinishUpdate(ImportSession& s, PackageStage& stage, const std::string& target, int deletedBefore,
                 const ImportOptions& options, UpdateOrder& order, bool nothingStored, UpdateSummary* summary) {
    IStuffVLT::UpdateCounts counts;
    g_pStuffVLT->GetUpdateCounts(s.pkg, &counts);
    int notNamed = 0;
    ForEachEntry(s.pkg, [&](const BlockInfo& info) {
        if (!IsDeleted(info) && !g_pStuffVLT->WasUpdated(s.pkg, info.name, info.type)) ++notNamed;
    });
    const bool pruning = options.prune && s.failed == 0 && notNamed > 0;
    if (summary) {
        summary->added = counts.added;
        summary->replaced = counts.replaced;
        summary->unchanged = counts.unchanged;
        summary->failed = s.failed;
        summary->sizeAfter = summary->sizeBefore;
        summary->notNamed = notNamed;
        summary->pruned = pruning ? notNamed : 0;
    }
    if (nothingStored) {
        stage.Abandon();
        return 0;
    }
    // Nothing new, nothing to prune and nothing to reclaim: the file stays
    // as it is.
    if (counts.added == 0 && counts.replaced == 0 && deletedBefore == 0 && !pruning) {
        stage.Abandon();
        return 1;
    }
    uint64_t length = 0;
    if (!stage.CommitLive(pruning ? &KeepNamed : nullptr, &order, &length, &RankByPlace)) {
        std::printf("\n - Error: could not write the desired VLT('%s')%s; it was left as it was.\n",
                    SafeText(target, SafeStyle::Masked).c_str(), stage.CommitCause().c_str());
        return 0;
    }
    if (summary) {
        summary->sizeAfter = length;
        summary->rewritten = true;
    }
    return 1;
}

}  // namespace

int ImportDocument(const char* input, const char* output, RunOutcome* outcome) {
    return ImportDocumentWith(input, output, ImportOptions(), outcome, nullptr);
}

int ImportDocumentWith(const char* input, const char* output, const ImportOptions& options, RunOutcome* outcome,
                       UpdateSummary* summary) {
    if (outcome) *outcome = RunOutcome();
    // A package is written only under a name that says it is one: an output
    // such as "foo.json" is a slip, not a wish for a package by that name.
    // (An empty path stays what it always was: one that cannot be created.)
    if (output && *output && !EndsInExtension(output, ".vlt")) {
        std::printf(" - Error: the output package '%s' does not end in \".vlt\"; nothing was written.\n",
                    SafeText(output, SafeStyle::Masked).c_str());
        return 0;
    }
    XmlDocument doc;
    DocumentCheck check;
    if (!OpenDocument(input, doc, check)) return 0;
    DocumentFolder folder;
    if (!folder.Open(input, options.allowOutside)) {
        std::printf(" - Error: could not open the folder of the given XML.\n");
        return 0;
    }
    std::string target;
    if (!ChooseTarget(doc.get(), output, folder, target)) return 0;
    ImportSession s;
    s.doc = doc.get();
    s.folder = &folder;
    s.check = &check;
    Trovalis.XMLAttributeGet(s.doc, orb::attr::kTotalBlocks, &s.total);
    PackageStage stage;
    OpenPackage readOnly;
    if (!OpenTarget(s, stage, readOnly, target, options)) return 0;
    int deletedBefore = 0;
    if (summary) {
        *summary = UpdateSummary();
        summary->package = target;
        summary->sizeBefore = FileLength(target);
    }
    UpdateOrder order;
    if (options.update) {
        s.update = true;
        deletedBefore = g_pStuffVLT->CountDeleted(s.pkg);
        g_pStuffVLT->SetUpdating(s.pkg, true);
        order.pkg = s.pkg;
        ForEachEntry(s.pkg, [&](const BlockInfo&) { ++order.before; });
    }
    std::printf(" - Trying to generate '%s' with %d blocks\n", SafeText(target, SafeStyle::Masked).c_str(), s.total);
    if (!check.RootProblems().empty()) {
        std::printf("\n - WARNING: problem found in the document's root <%s>.\n", orb::kRootTag);
        for (const std::string& p : check.RootProblems()) PrintCause(p.c_str());
        ++s.failed;
    }
    if (const int writeError = ImportChildren(s)) {
        std::printf("\n - Error: could not write the desired VLT('%s'): %s; it was left as it was.\n",
                    SafeText(target, SafeStyle::Masked).c_str(), std::strerror(writeError));
        doc.Close();
        stage.Abandon();
        return 0;
    }
    if (s.total != s.c.done)
        PrintWarning("existing XML blocks(%d) does not match with imported ones(%d).\n", s.total, s.c.done);
    doc.Close();
    if (outcome) {
        outcome->failed = s.failed;
        outcome->done = s.c.done;
    }
    // Resources failed and not one was stored: the package is not written,
    // and one that was there stays exactly as it was.
    const bool nothingStored = s.failed > 0 && s.c.done == 0;
    if (options.update) return FinishUpdate(s, stage, target, deletedBefore, options, order, nothingStored, summary);
    if (s.readOnly) return nothingStored ? 0 : 1;
    if (nothingStored) {
        stage.Abandon();
        return 0;
    }
    if (!stage.Commit()) {
        std::printf("\n - Error: could not write the desired VLT('%s')%s; it was left as it was.\n",
                    SafeText(target, SafeStyle::Masked).c_str(), stage.CommitCause().c_str());
        return 0;
    }
    return 1;
}
