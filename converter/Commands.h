// The package commands beside the two-path conversion:
//   bundlex --list PACKAGE [--json]     the entries, from their descriptors
//   bundlex --verify PACKAGE [--json]   every live block decoded; never writes
//   bundlex --check PACKAGE [--json]    export and import of a copy, compared
//   bundlex --help, bundlex --version
// They are recognised only when the first argument is one of these options;
// every other command line is the two-path form. Each command returns the
// process exit code: 0 success, 1 failure (a package that cannot be used,
// a damaged block, a resource that does not survive the round trip), 2 a
// wrong command line.
#pragma once
#include <cstdio>
#include <string>

// Whether arg names one of the commands above.
bool IsCommandOption(const char* arg);

// Runs the command named by argv[1] (IsCommandOption is true for it).
int RunCommand(int argc, char** argv);

// The commands themselves, for callers that have started the SDK. Reports
// go to out; with json, out receives one JSON document and nothing else.
int ListPackage(const std::string& path, bool json, FILE* out);
int VerifyPackage(const std::string& path, bool json, FILE* out);
int CheckPackage(const std::string& path, bool json, FILE* out);

// The usage text of every command (the two-path form first), and the
// version texts.
void PrintHelp(FILE* out);
void PrintVersion(FILE* out);
