// bundlex --update DOCUMENT.xml [PACKAGE]: a document brought back into the
// package it came from, the edit loop's last step. The import does the
// work (ImportRun.h); this file prints its summary, or, with --json, keeps
// the import's console lines out of standard output and reports them with
// the figures in one JSON document.
#include <string>

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
                  bool allowOutside) {
    ImportOptions options;
    options.allowOutside = allowOutside;
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
        .Field("rewritten", sum.rewritten);
    w.Key("messages").BeginArray();
    for (const std::string& line : MessageLines(console)) w.String(line);
    w.EndArray();
    if (!scratch.ok())
        w.Field("error", "no temporary folder for the console lines");
    else if (!done)
        w.Field("error", "the package was not updated");
    w.EndObject();
    std::fputs(w.str().c_str(), out);
    return ExitOf(done, sum);
}
