// The command table and the options, --help made from the rows, and the
// help and version commands themselves.
#include "Commands.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "CommandTable.h"
#include "Driver.h"
#include "Jobs.h"
#include "core/Trovalis.h"

namespace {

bool SetJson(Invocation& inv, const char*) { return inv.json = true; }
bool SetQuiet(Invocation& inv, const char*) { return inv.quiet = true; }
bool SetLong(Invocation& inv, const char*) { return inv.longList = true; }
bool SetNoWait(Invocation& inv, const char*) {
    inv.wait = false;
    return true;
}
bool SetForce(Invocation& inv, const char*) { return inv.force = true; }
bool SetAllowOutside(Invocation& inv, const char*) { return inv.allowOutside = true; }
bool SetPrune(Invocation& inv, const char*) { return inv.prune = true; }
bool SetJobs(Invocation& inv, const char* value) { return ReadJobs(value, inv.jobs); }

int RunHelp(const Invocation& inv) {
    PrintHelp(inv.out);
    return kExitOk;
}

int RunVersion(const Invocation& inv) {
    PrintVersion(inv.out);
    return kExitOk;
}

}  // namespace

const CommandRow kHelpCommand = {"--help", 0,     0, "--help takes no path (see bundlex --help)",
                                 false,    false, 0, "  bundlex --help       This text.\n",
                                 &RunHelp};
const CommandRow kVersionCommand = {"--version", 0,     0, "--version takes no path (see bundlex --help)",
                                    false,       false, 0, "  bundlex --version    The version texts.\n",
                                    &RunVersion};

const std::vector<const CommandRow*>& CommandTable() {
    static const std::vector<const CommandRow*> rows = {
        &kConvertCommand, &kListCommand,   &kVerifyCommand,  &kCheckCommand, &kGalleryCommand, &kExtractCommand,
        &kUpdateCommand,  &kDeleteCommand, &kCompactCommand, &kDiffCommand,  &kHelpCommand,    &kVersionCommand,
    };
    return rows;
}

// Options that take a value (a number of jobs, say) have takesValue set and
// read it in their setter.
const std::vector<OptionRow>& OptionTable() {
    static const std::vector<OptionRow> rows = {
        {"--json", kOptJson, false, &SetJson},    {"--quiet", kOptQuiet, false, &SetQuiet},
        {"--long", kOptLong, false, &SetLong},    {"--no-wait", kOptNoWait, false, &SetNoWait},
        {"--force", kOptForce, false, &SetForce}, {"--allow-outside", kOptAllowOutside, false, &SetAllowOutside},
        {"--prune", kOptPrune, false, &SetPrune}, {"--jobs", kOptJobs, true, &SetJobs},
    };
    return rows;
}

void PrintVersion(FILE* out) {
    std::fprintf(out, "Bundlex v%s - VLT resources export to XML and vice versa\n", "2.0");
    std::fprintf(out, "%s\n", Trovalis.VersionBanner());
}

void PrintHelp(FILE* out) {
    PrintVersion(out);
    std::fputs("\nUsage:\n", out);
    for (const CommandRow* row : CommandTable()) std::fputs(row->help, out);
    std::fputs(
        "\n"
        "With --json a command prints one JSON document and nothing else on standard output\n"
        "(docs/json.md describes every field). --quiet keeps only warnings and errors.\n"
        "Options may come anywhere on the command line; \"--\" ends them, so that a path that\n"
        "starts with \"--\" can be given after it. An unknown option is a usage error.\n"
        "An export, --extract or --gallery never replaces a file that was changed since an\n"
        "earlier run wrote it, or that no run wrote: it lists such files and writes nothing;\n"
        "with --force it replaces them.\n"
        "A command that writes a package waits while another run writes it; with --no-wait\n"
        "it fails instead.\n"
        "--jobs N (any command that reads or writes a package) compresses and decodes block\n"
        "payloads on N threads (1 to 256; default: every processor the run may use); the\n"
        "package and the files written are the same whatever N is.\n"
        "\n"
        "Exit codes: 0 success; 1 failure (export or import failed, input not supported,\n"
        "package unusable, a block damaged, a resource that does not survive the round\n"
        "trip, a NAME that matches nothing, a gallery page that is not .html or is in the\n"
        "way); 2 no input or a wrong command line; 3 the run completed but one or more\n"
        "resources were not stored, exported, updated or shown.\n",
        out);
}
