// The command table: one row per command, from which the command line is
// parsed, --help is written and the work is dispatched. A command lives in
// one file (Commands<Name>.cpp) that defines its row; adding one is that
// file plus one line in the table (Commands.cpp).
//
// The command line: every argument that starts with "--" is an option,
// wherever it stands, until an argument "--", after which every argument is
// a path. The command is chosen by its option (--list, --verify, ...), or is
// the conversion when none is given. An option that is unknown, or that the
// chosen command does not take, is a usage error (exit 2) that names it.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What the command line asked for, as the handlers receive it.
struct Invocation {
    std::vector<std::string> paths;  // the arguments that are not options, in order
    bool json = false;               // one JSON document on standard output, nothing else
    bool quiet = false;              // only warnings and errors on standard output
    bool longList = false;           // --list: each block's properties too
    bool wait = true;                // a writer waits for another writer of the package
    bool force = false;              // files changed since an earlier run may be replaced
    bool allowOutside = false;       // a document may read payloads outside its folder
    bool prune = false;              // --update: blocks the document does not name go
    unsigned jobs = 0;               // worker threads for block payloads (0: every processor)
    FILE* out = stdout;
};

// The options, each a bit in a row's mask of the options it takes.
enum OptionBit : unsigned {
    kOptJson = 1u << 0,
    kOptQuiet = 1u << 1,
    kOptLong = 1u << 2,
    kOptNoWait = 1u << 3,
    kOptForce = 1u << 4,
    kOptAllowOutside = 1u << 5,
    kOptPrune = 1u << 6,
    kOptJobs = 1u << 7,
};

struct OptionRow {
    const char* name;  // "--json"
    unsigned bit;
    // Sets the option; value is the next argument for an option that takes
    // one (takesValue), else null. False: the value is not acceptable.
    bool takesValue;
    bool (*set)(Invocation& inv, const char* value);
};

struct CommandRow {
    const char* name;       // "--list"; empty for the conversion (no command option)
    size_t leastPaths;      // how many paths it needs
    size_t mostPaths;       // and takes (SIZE_MAX: any number)
    const char* countText;  // the usage error for another count, after "bundlex: "
    bool writes;            // writes a package (takes its lock, and --no-wait)
    bool startsSdk;         // the SDK is started around the work
    unsigned options;       // the OptionBit mask of the options it takes (kOptJson: it reports in JSON)
    const char* help;       // its lines of --help, each ending in "\n"
    int (*run)(const Invocation& inv);
};

// The rows, in the order of --help; the options.
const std::vector<const CommandRow*>& CommandTable();
const std::vector<OptionRow>& OptionTable();

// The rows defined by the command files.
extern const CommandRow kConvertCommand;
extern const CommandRow kListCommand;
extern const CommandRow kVerifyCommand;
extern const CommandRow kCheckCommand;
extern const CommandRow kGalleryCommand;
extern const CommandRow kExtractCommand;
extern const CommandRow kUpdateCommand;
extern const CommandRow kDeleteCommand;
extern const CommandRow kCompactCommand;
extern const CommandRow kDiffCommand;
extern const CommandRow kHelpCommand;
extern const CommandRow kVersionCommand;
