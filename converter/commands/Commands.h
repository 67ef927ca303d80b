// The package commands beside the two-path conversion, each with its row
// in the command table (CommandTable.h) and its own file:
//   bundlex --list PACKAGE [--json] [--long]  the entries, from their descriptors
//                                       (--long, and --json always: block properties)
//   bundlex --verify PACKAGE [--json]   every live block decoded; never writes
//   bundlex --check PACKAGE [--json]    export and import of a copy, compared
//   bundlex --gallery PACKAGE [OUTPUT.html] [--json]  a page that shows every resource
//   bundlex --extract PACKAGE OUTPUT.xml NAME... [--json]  the named resources alone
//   bundlex --update DOCUMENT.xml [PACKAGE] [--prune]  a document brought back into its package
//   bundlex --delete PACKAGE NAME...          resources taken out of a package
//   bundlex --compact PACKAGE                 the package without its deleted entries
//   bundlex --diff A.vlt B.vlt [--json]       what changed from one package to another
//   bundlex --help, bundlex --version
// Each command returns the process exit code: 0 success, 1 failure (a
// package that cannot be used, a damaged block, a resource that does not
// survive the round trip, a NAME that matches nothing), 2 a wrong command
// line, 3 a run that completed with resources left behind. The writers
// (--update, --delete, --compact) take the package's lock and wait for
// another writer unless told not to (--no-wait: then exit 1).
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// The commands themselves, for callers that have started the SDK. Reports
// go to out; with json, out receives one JSON document and nothing else.
// properties: each live entry's properties as well (always with json).
int ListPackage(const std::string& path, bool json, FILE* out, bool properties = false);
int VerifyPackage(const std::string& path, bool json, FILE* out);
int CheckPackage(const std::string& path, bool json, FILE* out);
// The gallery page of a package at output (empty: the package's path with
// ".html" for its extension) and its folder of files. force: files changed
// since an earlier run wrote them are replaced instead of refused.
int GalleryPackage(const std::string& package, const std::string& output, bool json, FILE* out, bool force = false);
// The resources that names select, exported into output (an ORBv1 document
// path ending in ".xml") and its payload folder; force as for the gallery.
int ExtractResources(const std::string& package, const std::string& output, const std::vector<std::string>& names,
                     bool json, FILE* out, bool force = false);
// package may be empty: the document's "source". prune: the blocks the
// document does not name are deleted as well.
int UpdatePackage(const std::string& document, const std::string& package, bool json, bool wait, FILE* out,
                  bool allowOutside = false, bool prune = false);
int DeleteFromPackage(const std::string& path, const std::vector<std::string>& names, bool json, bool wait, FILE* out);
int CompactPackage(const std::string& path, bool json, bool wait, FILE* out);
// The resources added, removed and changed from package a to package b:
// 0 the same, 1 different, 2 trouble (as diff and cmp).
int DiffPackages(const std::string& a, const std::string& b, bool json, FILE* out);

// The usage text of every command (the two-path form first), and the
// version texts.
void PrintHelp(FILE* out);
void PrintVersion(FILE* out);
