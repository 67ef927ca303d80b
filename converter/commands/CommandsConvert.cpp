// The conversion, the command without a command option: a package (.vlt)
// exported to an ORBv1 document and its payload folder, or a document
// (.xml) imported into a package, chosen by the input's extension. It
// prints the banner, a progress line, the warnings and a final verdict
// that says how many resources failed when any did; with --json the
// console lines are captured and reported in one JSON document instead.
#include <cctype>
#include <cstdio>
#include <string>

#include "CommandTable.h"
#include "CommandsSupport.h"
#include "Converter.h"
#include "Driver.h"
#include "ExportKinds.h"
#include "ImportRun.h"
#include "JsonWriter.h"
#include "core/Trovalis.h"

namespace {

using namespace commands;

void PrintBanner() {
    const std::string rule(57, '-');
    std::printf("%s\n", rule.c_str());
    std::printf("Bundlex v%s - VLT resources export to XML and vice versa\n", "2.0");
    std::printf("   (c) 2025-2026 the Bundlex developers - built on the Trovalis SDK\n");
    std::printf("%s\n\n", rule.c_str());
    std::printf(" Export VLT resources to a XML file using Quillmark Interchange\n");
    std::printf(" XML v1.0 format(ORBv1) or import a ORBv1 format into a VLT\n");
}

// The extension of the last path component, from its last '.', lower-cased;
// empty when there is none. Kept whole whatever its length: a long extension
// simply matches neither ".vlt" nor ".xml".
std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string ext = last.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

enum class Work { Export, Import, Unsupported };

// What one conversion did, for its verdict and its JSON report.
struct Done {
    Work work = Work::Unsupported;
    int result = 0;       // the entry point's result
    RunOutcome outcome;   // resources stored or exported, and failed
    std::string package;  // the package an import wrote
};

Done Convert(const Invocation& inv) {
    Done d;
    const std::string& input = inv.paths[0];
    const char* output = inv.paths.size() > 1 ? inv.paths[1].c_str() : nullptr;
    const std::string ext = LowerExtension(input);
    if (ext == ".vlt") {
        d.work = Work::Export;
        ExportCounts counts;
        d.result = ExportSelected(input.c_str(), output, nullptr, &d.outcome, &counts, inv.force);
        d.outcome.done = counts.exported;
    } else if (ext == ".xml") {
        d.work = Work::Import;
        ImportOptions options;
        options.allowOutside = inv.allowOutside;
        options.wait = inv.wait;
        UpdateSummary sum;
        d.result = ImportDocumentWith(input.c_str(), output, options, &d.outcome, &sum);
        d.package = sum.package;
    }
    return d;
}

// The final line, and the exit code it stands for.
int Verdict(const Done& d) {
    const int failed = d.outcome.failed;
    const int total = d.outcome.done + failed;
    if (d.work == Work::Export) {
        if (!d.result) {
            std::printf("\n - Error! the VLT was not exported.\n");
            return kExitFailed;
        }
        if (failed == 0) {
            std::printf("\n - VLT exported successfully to a XML + gfx resources.\n");
            return kExitOk;
        }
        std::printf(
            "\n - WARNING: the VLT was exported to a XML + gfx resources, but %d of its %d resources "
            "failed.\n",
            failed, total);
        return kExitIncomplete;
    }
    if (!d.result) {
        if (failed > 0 && d.outcome.done == 0)
            std::printf("\n - Error! the XML was not imported: none of its %d resources could be stored.\n", failed);
        else
            std::printf("\n - Error! the XML was not imported.\n");
        return kExitFailed;
    }
    if (failed == 0) {
        std::printf("\n - XML imported successfully into a new VLT.\n");
        return kExitOk;
    }
    std::printf("\n - WARNING: the XML was imported into the VLT, but %d of its %d resources failed.\n", failed, total);
    return kExitIncomplete;
}

// The first error line of the console text, for a JSON failure's cause.
std::string FirstError(const std::vector<std::string>& lines, const char* otherwise) {
    for (const std::string& line : lines)
        if (line.find("Error") != std::string::npos) return line;
    return otherwise;
}

int ReportJson(const Invocation& inv, const Done& d, int code, const std::string& console) {
    const std::vector<std::string> lines = MessageLines(console);
    json::Writer w;
    w.BeginObject();
    if (d.work == Work::Import) {
        w.Field("document", inv.paths[0]);
        if (!d.package.empty()) w.Field("package", d.package);
    } else if (d.work == Work::Export) {
        w.Field("package", inv.paths[0]);
        if (inv.paths.size() > 1) w.Field("output", inv.paths[1]);
    } else {
        w.Field("input", inv.paths[0]);
    }
    w.Field("ok", code == kExitOk);
    if (d.work != Work::Unsupported)
        w.Field(d.work == Work::Export ? "exported" : "imported", d.outcome.done).Field("failed", d.outcome.failed);
    w.Key("messages").BeginArray();
    for (const std::string& line : lines) w.String(line);
    w.EndArray();
    if (d.work == Work::Unsupported)
        ErrorField(w, "unsupported-input", "input file it is not supported. Try with a VLT or XML (ORBv1 format) file");
    else if (!d.result && d.outcome.failed > 0 && d.outcome.done == 0)
        ErrorField(w, "nothing-stored", "none of the document's resources could be stored; no package was written");
    else if (!d.result)
        ErrorField(w, d.work == Work::Export ? "not-exported" : "not-imported",
                   FirstError(lines, d.work == Work::Export ? "the VLT was not exported" : "the XML was not imported"));
    w.EndObject();
    std::fputs(w.str().c_str(), inv.out);
    return code;
}

int RunConvert(const Invocation& inv) {
    if (inv.json && inv.paths.empty()) {
        std::fprintf(stderr, "bundlex: the conversion needs an input path (see bundlex --help)\n");
        return kExitUsage;
    }
    if (inv.json) {
        // The console lines go to a file; the report carries their warnings.
        TempFolder scratch;
        std::string console;
        Done d;
        int code = kExitFailed;
        if (scratch.ok()) {
            StdoutCapture capture(scratch / "console.txt");
            if (capture.ok()) {
                Trovalis.Init(0);
                d = Convert(inv);
                code = d.work == Work::Unsupported ? kExitFailed : Verdict(d);
                Trovalis.Quit();
                console = capture.Finish();
            }
        }
        if (console.empty() && d.work == Work::Unsupported && !scratch.ok()) {
            json::Writer w;
            w.BeginObject().Field("ok", false);
            ErrorField(w, "no-scratch", "no temporary folder could be made for the console lines");
            std::fputs(w.EndObject().str().c_str(), inv.out);
            return kExitFailed;
        }
        return ReportJson(inv, d, code, console);
    }
    PrintBanner();
    if (inv.paths.empty()) {
        std::printf(" Usage: Bundlex.exe input.[xml|vlt] [output.vlt|output.xml]\n\n");
        return kExitUsage;
    }
    Trovalis.Init(0);  // the work is attempted whatever Init returns
    const std::string ext = LowerExtension(inv.paths[0]);
    int code = kExitFailed;
    if (ext == ".vlt" || ext == ".xml") {
        std::printf(" - Processing blocks...\n");
        std::fflush(stdout);
        code = Verdict(Convert(inv));
    } else {
        std::printf(" - Error: input file it is not supported. Try with a VLT or XML (ORBv1 format) file\n");
    }
    Trovalis.Quit();
    return code;
}

}  // namespace


const CommandRow kConvertCommand = {
    "",
    1,
    SIZE_MAX,
    "the conversion needs an input path",
    true,
    false,
    kOptJson | kOptQuiet | kOptForce | kOptAllowOutside | kOptNoWait | kOptJobs,
    "  bundlex input.[xml|vlt] [output.vlt|output.xml] [--force] [--json] [--quiet]\n"
    "      Export a package (.vlt) to an ORBv1 document and its payload folder,\n"
    "      or import an ORBv1 document (.xml) into a package.\n"
    "  bundlex -- input [output]\n"
    "      The same, for an input path that starts with \"--\".\n"
    "  bundlex --allow-outside input.xml [output.vlt]\n"
    "      An import whose document may read payload files outside its own folder\n"
    "      (absolute paths, \"..\", symbolic links that lead out); without it they\n"
    "      are refused. The package a document names must lie in its folder.\n",
    &RunConvert,
};
