// Command-line handling of the package commands: which option was given,
// its package path and its "--json" switch, the SDK start and stop around
// the work, and the help and version texts.
#include "Commands.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "Driver.h"
#include "Jobs.h"
#include "core/Trovalis.h"

namespace {

enum class Command { None, List, Verify, Check, Gallery, Extract, Update, Delete, Compact, Diff, Help, Version };

Command CommandOf(const char* arg) {
    if (!arg) return Command::None;
    if (std::strcmp(arg, "--list") == 0) return Command::List;
    if (std::strcmp(arg, "--verify") == 0) return Command::Verify;
    if (std::strcmp(arg, "--check") == 0) return Command::Check;
    if (std::strcmp(arg, "--gallery") == 0) return Command::Gallery;
    if (std::strcmp(arg, "--extract") == 0) return Command::Extract;
    if (std::strcmp(arg, "--update") == 0) return Command::Update;
    if (std::strcmp(arg, "--delete") == 0) return Command::Delete;
    if (std::strcmp(arg, "--compact") == 0) return Command::Compact;
    if (std::strcmp(arg, "--diff") == 0) return Command::Diff;
    if (std::strcmp(arg, "--help") == 0) return Command::Help;
    if (std::strcmp(arg, "--version") == 0) return Command::Version;
    return Command::None;
}

}  // namespace

bool IsCommandOption(const char* arg) { return CommandOf(arg) != Command::None; }

void PrintVersion(FILE* out) {
    std::fprintf(out, "Bundlex v%s - VLT resources export to XML and vice versa\n", "2.0");
    std::fprintf(out, "%s\n", Trovalis.VersionBanner());
}

void PrintHelp(FILE* out) {
    PrintVersion(out);
    std::fprintf(out,
                 "\n"
                 "Usage:\n"
                 "  bundlex input.[xml|vlt] [output.vlt|output.xml] [--force]\n"
                 "      Export a package (.vlt) to an ORBv1 document and its payload folder,\n"
                 "      or import an ORBv1 document (.xml) into a package.\n"
                 "  bundlex -- input [output]\n"
                 "      The same, for an input path that starts with \"--\".\n"
                 "  bundlex --allow-outside input.xml [output.vlt]\n"
                 "      An import whose document may read payload files outside its own folder\n"
                 "      (absolute paths, \"..\", symbolic links that lead out); without it they\n"
                 "      are refused. The package a document names must lie in its folder.\n"
                 "  bundlex --list PACKAGE [--json] [--long]\n"
                 "      List every entry: name, type, storage mode, size, packed size, deleted;\n"
                 "      then the totals per kind and the live count. Reads descriptors only.\n"
                 "      --long (and --json always) adds each live block's properties read from\n"
                 "      its head: sizes, depth, alpha, colour key, tiles, frames, glyphs, sound\n"
                 "      format, widget type and state images.\n"
                 "  bundlex --verify PACKAGE [--json]\n"
                 "      Open the package and decode every live block through its class; one line\n"
                 "      per block that fails, then a summary. Never writes to the package.\n"
                 "  bundlex --check PACKAGE [--json]\n"
                 "      Export a copy of the package and import it again in a temporary folder,\n"
                 "      then compare every resource with the original. The package is not modified.\n"
                 "  bundlex --gallery PACKAGE [OUTPUT.html] [--json] [--force]\n"
                 "      Write one HTML page (default: the package's name with \".html\") and beside\n"
                 "      it a folder of the page's name with \"_gallery\" that show every resource as\n"
                 "      the game draws or plays it. Needs no network. The package is not modified.\n"
                 "  bundlex --extract PACKAGE OUTPUT.xml NAME... [--json] [--force]\n"
                 "      Export only the named resources (exact names or shell wildcards * ? [...])\n"
                 "      into OUTPUT.xml and its payload folder, as a full export writes them.\n"
                 "  bundlex --update DOCUMENT.xml [PACKAGE] [--json] [--no-wait] [--allow-outside]\n"
                 "      Bring a document back into its package (PACKAGE, else the document's source):\n"
                 "      every element replaces the block of its name and type, blocks that are the\n"
                 "      same are left alone, new ones are added; the package is rewritten without\n"
                 "      deleted entries, and not at all when nothing changed. Prints a summary.\n"
                 "  bundlex --delete PACKAGE NAME... [--json] [--no-wait]\n"
                 "      Take the resources whose names match out of the package (exact names or\n"
                 "      shell wildcards * ? [...]); a widget takes its state images with it.\n"
                 "  bundlex --compact PACKAGE [--json] [--no-wait]\n"
                 "      Rewrite the package with its live entries only, in the same order, copied\n"
                 "      as stored; reports the bytes reclaimed.\n"
                 "  bundlex --diff A.vlt B.vlt [--json]\n"
                 "      The resources added, removed and changed from package A to package B, and\n"
                 "      what changed: properties, pixels, samples, bytes. Deleted entries and storage\n"
                 "      (compression, depth) are not compared. Exit 0 the same, 1 different, 2 trouble.\n"
                 "  bundlex --help       This text.\n"
                 "  bundlex --version    The version texts.\n"
                 "\n"
                 "With --json a command prints one JSON document and nothing else on standard output.\n"
                 "A package path that starts with \"--\" can be given after \"--\".\n"
                 "An export, --extract or --gallery never replaces a file that was changed since an\n"
                 "earlier run wrote it, or that no run wrote: it lists such files and writes nothing;\n"
                 "with --force it replaces them.\n"
                 "A command that writes a package waits while another run writes it; with --no-wait\n"
                 "it fails instead.\n"
                 "--jobs N (any form and command) compresses and decodes block payloads on N\n"
                 "threads (1 to 256; default: every processor the run may use); the package and\n"
                 "the files written are the same whatever N is.\n"
                 "\n"
                 "Exit codes: 0 success; 1 failure (export or import failed, input not supported,\n"
                 "package unusable, a block damaged, a resource that does not survive the round\n"
                 "trip, a NAME that matches nothing, a gallery page that is not .html or is in the\n"
                 "way); 2 no input or a wrong command line; 3 the run completed but one or more\n"
                 "resources were not stored, exported, updated or shown.\n");
}

int RunCommand(int argc, char** argv) {
    const Command cmd = argc > 1 ? CommandOf(argv[1]) : Command::None;
    if (cmd == Command::Help) {
        PrintHelp(stdout);
        std::fflush(stdout);
        return kExitOk;
    }
    if (cmd == Command::Version) {
        PrintVersion(stdout);
        std::fflush(stdout);
        return kExitOk;
    }
    if (cmd == Command::None) return kExitUsage;

    // Paths and the options, in any order; after "--" every argument is a
    // path.
    const bool writer = cmd == Command::Update || cmd == Command::Delete || cmd == Command::Compact;
    bool json = false;
    bool longList = false;
    bool wait = true;
    bool allowOutside = false;
    bool force = false;
    unsigned jobs = 0;
    bool optionsEnd = false;
    std::vector<std::string> paths;
    for (int i = 2; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) continue;
        if (!optionsEnd && std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (!optionsEnd && cmd == Command::List && std::strcmp(a, "--long") == 0) {
            longList = true;
        } else if (writer && !optionsEnd && std::strcmp(a, "--no-wait") == 0) {
            wait = false;
        } else if (cmd == Command::Update && !optionsEnd && std::strcmp(a, "--allow-outside") == 0) {
            allowOutside = true;
        } else if ((cmd == Command::Extract || cmd == Command::Gallery) && !optionsEnd &&
                   std::strcmp(a, "--force") == 0) {
            force = true;
        } else if (!optionsEnd && std::strcmp(a, "--jobs") == 0) {
            const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
            if (!ReadJobs(value, jobs)) {
                ReportBadJobs(value);
                return kExitUsage;
            }
            ++i;
        } else if (!optionsEnd && std::strcmp(a, "--") == 0) {
            optionsEnd = true;
        } else if (!optionsEnd && std::strncmp(a, "--", 2) == 0) {
            std::fprintf(stderr, "bundlex: unknown option '%s' (see bundlex --help)\n", a);
            return kExitUsage;
        } else {
            paths.emplace_back(a);
        }
    }
    const size_t most = (cmd == Command::Update || cmd == Command::Gallery)   ? 2
                        : (cmd == Command::Delete || cmd == Command::Extract) ? SIZE_MAX
                                                                              : 1;
    const size_t least = cmd == Command::Extract ? 3 : cmd == Command::Delete ? 2 : 1;
    if (cmd == Command::Diff && paths.size() != 2) {
        std::fprintf(stderr, "bundlex: --diff needs two package paths (see bundlex --help)\n");
        return kExitUsage;
    }
    if (cmd != Command::Diff && (paths.size() < least || paths.size() > most)) {
        if (cmd == Command::Extract)
            std::fprintf(stderr,
                         "bundlex: --extract needs a package, an output document and at least one name "
                         "(see bundlex --help)\n");
        else if (cmd == Command::Gallery)
            std::fprintf(stderr,
                         "bundlex: --gallery needs a package and at most one output page (see bundlex --help)\n");
        else if (cmd == Command::Update)
            std::fprintf(stderr,
                         "bundlex: --update needs a document and at most one package path (see bundlex --help)\n");
        else if (cmd == Command::Delete)
            std::fprintf(stderr, "bundlex: --delete needs a package path and at least one name (see bundlex --help)\n");
        else
            std::fprintf(stderr, "bundlex: %s needs exactly one package path (see bundlex --help)\n", argv[1]);
        return kExitUsage;
    }

    UseJobs(jobs);
    Trovalis.Init(0);
    int code = kExitFailed;
    switch (cmd) {
        case Command::List: code = ListPackage(paths[0], json, stdout, longList); break;
        case Command::Verify: code = VerifyPackage(paths[0], json, stdout); break;
        case Command::Check: code = CheckPackage(paths[0], json, stdout); break;
        case Command::Gallery:
            code = GalleryPackage(paths[0], paths.size() > 1 ? paths[1] : "", json, stdout, force);
            break;
        case Command::Extract:
            code = ExtractResources(paths[0], paths[1], std::vector<std::string>(paths.begin() + 2, paths.end()), json,
                                    stdout, force);
            break;
        case Command::Update:
            code =
                UpdatePackage(paths[0], paths.size() > 1 ? paths[1] : std::string(), json, wait, stdout, allowOutside);
            break;
        case Command::Delete:
            code = DeleteFromPackage(paths[0], std::vector<std::string>(paths.begin() + 1, paths.end()), json, wait,
                                     stdout);
            break;
        case Command::Compact: code = CompactPackage(paths[0], json, wait, stdout); break;
        case Command::Diff: code = DiffPackages(paths[0], paths[1], json, stdout); break;
        default: break;
    }
    Trovalis.Quit();
    // A report that did not reach its reader is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "bundlex: could not write the report to standard output\n");
        code = cmd == Command::Diff ? kExitUsage : kExitFailed;
    }
    return code;
}
