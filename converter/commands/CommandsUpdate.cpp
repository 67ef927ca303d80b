// bundlex --update DOCUMENT.xml [PACKAGE]: a document brought back into the
// package it came from, the edit loop's last step. The import does the
// work (ImportRun.h); this file prints its summary, or, with --json, keeps
// the import's console lines out of standard output and reports them with
// the figures in one JSON document.
#include <string>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Driver.h"
#include "ImportRun.h"
#include "JsonWriter.h"

namespace {

using namespace commands;

int ExitOf(int done, const UpdateSummary& sum) {
    if (!done) return kExitFailed;
    return sum.failed > 0 ? kExitIncomplete : kExitOk;
}

}  // namespace

int UpdatePackage(const std::string& document, const std::string& package, bool json, bool wait, FILE* out,
                  bool allowOutside, bool prune) {
    ImportOptions options;
    options.allowOutside = allowOutside;
    options.prune = prune;
    options.update = true;
    options.wait = wait;
    options.noticeToStderr = json;
    UpdateSummary sum;
    RunOutcome outcome;
    const char* target = package.empty() ? nullptr : package.c_str();
    if (!json) {
        std::fprintf(out, " - Updating from '%s'...\n", SafeText(document, SafeStyle::Masked).c_str());
        std::fflush(out);
        const int done = ImportDocumentWith(document.c_str(), target, options, &outcome, &sum);
        if (!done) {
            if (outcome.failed > 0 && outcome.done == 0)
                std::fprintf(out,
                             "\n - Error! the package was not updated: none of the document's %d resources could be "
                             "stored.\n",
                             outcome.failed);
            else
                std::fprintf(out, "\n - Error! the package was not updated.\n");
            return kExitFailed;
        }
        std::fprintf(out, "\n - Updated '%s': %d added, %d replaced, %d unchanged, %d failed.\n",
                     SafeText(sum.package, SafeStyle::Masked).c_str(), sum.added, sum.replaced, sum.unchanged,
                     sum.failed);
        if (sum.rewritten)
            std::fprintf(out, " - Size: %llu bytes before, %llu bytes after.\n",
                         static_cast<unsigned long long>(sum.sizeBefore),
                         static_cast<unsigned long long>(sum.sizeAfter));
        else
            std::fprintf(out, " - Nothing changed: the package was left as it was (%llu bytes).\n",
                         static_cast<unsigned long long>(sum.sizeBefore));
        if (sum.pruned > 0)
            std::fprintf(out, " - Pruned %d blocks that the document does not name.\n", sum.pruned);
        else if (prune && sum.failed > 0)
            std::fprintf(out, " - Nothing was pruned, since %d resources failed.\n", sum.failed);
        else if (sum.notNamed > 0 && sum.failed == 0)
            std::fprintf(out, " - %d blocks of the package are not named by the document (--prune deletes them).\n",
                         sum.notNamed);
        return ExitOf(done, sum);
    }

    // The import's console lines go to a file of their own; their warnings,
    // errors and causes go into the report.
    TempFolder scratch;
    int done = 0;
    std::string console;
    if (scratch.ok()) {
        StdoutCapture capture(scratch / "console.txt");
        if (capture.ok()) {
            done = ImportDocumentWith(document.c_str(), target, options, &outcome, &sum);
            console = capture.Finish();
        }
    }
    json::Writer w;
    w.BeginObject().Field("document", document).Field("package", sum.package).Field("ok", done != 0);
    w.Field("added", sum.added)
        .Field("replaced", sum.replaced)
        .Field("unchanged", sum.unchanged)
        .Field("failed", sum.failed)
        .Field("size_before", sum.sizeBefore)
        .Field("size_after", sum.sizeAfter)
        .Field("rewritten", sum.rewritten)
        .Field("not_named", sum.notNamed)
        .Field("pruned", sum.pruned);
    w.Key("messages").BeginArray();
    for (const std::string& line : MessageLines(console)) w.String(line);
    w.EndArray();
    if (!scratch.ok())
        ErrorField(w, "no-scratch", "no temporary folder could be made for the console lines");
    else if (!done && outcome.failed > 0 && outcome.done == 0)
        ErrorField(w, "nothing-stored",
                   "none of the document's resources could be stored; the package was left as it was");
    else if (!done)
        ErrorField(w, "not-updated", "the package was not updated");
    w.EndObject();
    std::fputs(w.str().c_str(), out);
    return ExitOf(done, sum);
}

namespace {

int RunUpdate(const Invocation& inv) {
    return UpdatePackage(inv.paths[0], inv.paths.size() > 1 ? inv.paths[1] : std::string(), inv.json, inv.wait, inv.out,
                         inv.allowOutside, inv.prune);
}

}  // namespace

const CommandRow kUpdateCommand = {
    "--update",
    1,
    2,
    "--update needs a document and at most one package path",
    true,
    true,
    kOptJson | kOptQuiet | kOptNoWait | kOptAllowOutside | kOptPrune | kOptJobs,
    "  bundlex --update DOCUMENT.xml [PACKAGE] [--json] [--no-wait] [--allow-outside] [--prune]\n"
    "      Bring a document back into its package (PACKAGE, else the document's source):\n"
    "      every element replaces the block of its name and type, blocks that are the\n"
    "      same are left alone, new ones are added; the package is rewritten without\n"
    "      deleted entries, and not at all when nothing changed. Prints a summary.\n"
    "      A replaced block keeps its place. --prune also deletes the blocks the\n"
    "      document does not name (unless an element failed); without it the summary\n"
    "      says how many there are.\n",
    &RunUpdate,
};
