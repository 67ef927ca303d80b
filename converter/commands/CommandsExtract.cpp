// bundlex --extract PACKAGE OUTPUT.xml NAME...: the named resources alone,
// exported by the exporter itself with a selection (ExportSelected), so that
// OUTPUT.xml and its payload folder are exactly what a full export writes
// for them and can be imported or brought back with --update as they are.
// Without --json the exporter's console lines are shown as they come, then
// one summary line; with --json they are captured and reported inside the
// one JSON document.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandTable.h"
#include "Commands.h"
#include "CommandsSupport.h"
#include "Converter.h"
#include "Driver.h"
#include "ExportKinds.h"
#include "JsonWriter.h"

using namespace commands;

int ExtractResources(const std::string& package, const std::string& output, const std::vector<std::string>& names,
                     bool json, FILE* out, bool force) {
    RunOutcome outcome;
    ExportCounts counts;
    int done = 0;
    std::string console;
    if (json) {
        TempFolder tmp;
        if (!tmp.ok()) {
            json::Writer w;
            w.BeginObject().Field("package", package).Field("output", output).Field("ok", false);
            ErrorField(w, "no-scratch", "no temporary folder could be made for the console text");
            w.EndObject();
            std::fputs(w.str().c_str(), out);
            return kExitFailed;
        }
        StdoutCapture capture(tmp / "console.txt");
        done = ExportSelected(package.c_str(), output.c_str(), &names, &outcome, &counts, force);
        console = capture.Finish();
    } else {
        std::fflush(out);
        done = ExportSelected(package.c_str(), output.c_str(), &names, &outcome, &counts, force);
        std::fflush(stdout);
    }
    const int code = !done ? kExitFailed : outcome.failed > 0 ? kExitIncomplete : kExitOk;
    if (json) {
        json::Writer w;
        w.BeginObject()
            .Field("package", package)
            .Field("output", output)
            .Field("ok", code == kExitOk)
            .Field("asked", counts.asked)
            .Field("exported", counts.exported)
            .Field("failed", outcome.failed);
        w.Key("messages").BeginArray();
        for (const std::string& line : MessageLines(console)) w.String(line);
        w.EndArray().EndObject();
        std::fputs(w.str().c_str(), out);
    } else if (done) {
        std::fprintf(out, "\n - Extracted %d of %d blocks into '%s'.\n", counts.exported, counts.asked,
                     SafeText(output).c_str());
    } else {
        std::fprintf(out, "\n - Error! nothing was extracted.\n");
    }
    return code;
}

namespace {

int RunExtract(const Invocation& inv) {
    return ExtractResources(inv.paths[0], inv.paths[1],
                            std::vector<std::string>(inv.paths.begin() + 2, inv.paths.end()), inv.json, inv.out,
                            inv.force);
}

}  // namespace

const CommandRow kExtractCommand = {
    "--extract",
    3,
    SIZE_MAX,
    "--extract needs a package, an output document and at least one name",
    false,
    true,
    kOptJson | kOptQuiet | kOptForce | kOptJobs,
    "  bundlex --extract PACKAGE OUTPUT.xml NAME... [--json] [--force]\n"
    "      Export only the named resources (exact names or shell wildcards * ? [...])\n"
    "      into OUTPUT.xml and its payload folder, as a full export writes them.\n",
    &RunExtract,
};
