#include "Driver.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "CommandTable.h"
#include "CommandsSupport.h"
#include "Jobs.h"
#include "core/Trovalis.h"

namespace {

const char* Shown(const CommandRow& row) { return *row.name ? row.name : "the conversion"; }

int UsageError(const std::string& text) {
    std::fprintf(stderr, "bundlex: %s (see bundlex --help)\n", text.c_str());
    return kExitUsage;
}

// Parses the arguments into inv and the chosen row; 0, or the usage
// error's exit code after its message.
int Parse(int argc, char** argv, Invocation& inv, const CommandRow*& chosen) {
    chosen = nullptr;
    unsigned given = 0;
    bool optionsEnd = false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char* a = argv[i];
        if (optionsEnd || std::strncmp(a, "--", 2) != 0) {
            inv.paths.emplace_back(a);
            continue;
        }
        if (a[2] == '\0') {
            optionsEnd = true;
            continue;
        }
        const CommandRow* command = nullptr;
        for (const CommandRow* row : CommandTable())
            if (*row->name && std::strcmp(row->name, a) == 0) command = row;
        if (command) {
            if (chosen && chosen != command)
                return UsageError(std::string(chosen->name) + " and " + a + " cannot be given together");
            chosen = command;
            continue;
        }
        const OptionRow* option = nullptr;
        for (const OptionRow& row : OptionTable())
            if (std::strcmp(row.name, a) == 0) option = &row;
        if (!option) return UsageError(std::string("unknown option '") + SafeText(a) + "'");
        const char* value = nullptr;
        if (option->takesValue) {
            if (i + 1 >= argc || !argv[i + 1]) return UsageError(std::string(a) + " needs a value");
            value = argv[++i];
        }
        if (!option->set(inv, value)) {
            if (option->bit != kOptJobs)
                return UsageError(std::string("'") + SafeText(value ? value : "") + "' is not a value for " + a);
            ReportBadJobs(value);
            return kExitUsage;
        }
        given |= option->bit;
    }
    if (!chosen) chosen = &kConvertCommand;
    for (const OptionRow& row : OptionTable())
        if ((given & row.bit) && !(chosen->options & row.bit))
            return UsageError(std::string(row.name) + " does not apply to " + Shown(*chosen));
    // The conversion without an input path answers with its usage line.
    if (chosen == &kConvertCommand && inv.paths.empty()) return 0;
    if (inv.paths.size() < chosen->leastPaths || inv.paths.size() > chosen->mostPaths)
        return UsageError(chosen->countText);
    return 0;
}

}  // namespace

int RunDriver(int argc, char** argv) {
    Invocation inv;
    const CommandRow* row = nullptr;
    const int usage = Parse(argc, argv, inv, row);
    if (usage != 0) return usage;
    // JSON is quiet already: standard output carries the document alone.
    if (inv.json) inv.quiet = false;

    UseJobs(inv.jobs);
    int code = kExitFailed;
    {
        // With --quiet the command's lines are held back and only its
        // warnings and errors are written, when it is done.
        // The scratch folder is made only then.
        std::optional<commands::TempFolder> scratch;
        if (inv.quiet) scratch.emplace();
        std::string console;
        bool captured = false;
        if (scratch && scratch->ok()) {
            commands::StdoutCapture capture(*scratch / "console.txt");
            if (capture.ok()) {
                captured = true;
                if (row->startsSdk) Trovalis.Init(0);  // the work is attempted whatever Init returns
                code = row->run(inv);
                if (row->startsSdk) Trovalis.Quit();
                console = capture.Finish();
            }
        }
        if (captured) {
            for (const std::string& line : commands::MessageLines(console)) std::fprintf(stdout, "%s\n", line.c_str());
        } else {
            if (row->startsSdk) Trovalis.Init(0);
            code = row->run(inv);
            if (row->startsSdk) Trovalis.Quit();
        }
    }
    // A report that did not reach its reader is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "bundlex: could not write the report to standard output\n");
        code = row == &kDiffCommand ? kExitUsage : kExitFailed;
    }
    return code;
}
