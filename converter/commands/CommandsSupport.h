// Pieces shared by the package commands (--list, --verify, --check): names
// made safe for a terminal, the package head check that runs before the
// package manager is asked to open anything, and the temporary folder and
// console capture of the round trip check. The kinds of blocks and the walk
// over a package's entries are the SDK's (resources/Kinds.h).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "SafeText.h"
#include "resources/Kinds.h"

class PackageStage;
namespace json {
class Writer;
}

namespace commands {

using ::SafeText;  // escaped: what every command prints
using kinds::Entry;
using kinds::WalkEntries;

// The storage mode as a word: "compressed", "stored", "crypted", or
// "unknown" for any other byte.
const char* ModeWord(uint8_t mode);

// The 8-byte head of a package file, read before the package manager opens
// it (which would rebuild a 3.0 file in place).
enum class HeadState { Unreadable, NotPackage, Version3, Version4, OtherVersion };
struct Head {
    HeadState state = HeadState::Unreadable;
    uint64_t entryBytes = 0;  // the file's bytes after the header block
    std::string versionText;  // the version field as text ("4.0", "3", ...), safe
    std::string error;        // the system's text when the file cannot be read
};
Head ReadHead(const std::string& path);

// Opens a package for a command after its head was checked: the id, or 0
// with a reason in why. A 3.0 head is refused here (a command that may
// upgrade a copy opens it itself).
int OpenChecked(const std::string& path, const Head& head, std::string& why);

// A description of why a package cannot be used, for a head that is not
// 4.0; empty for a 4.0 head.
std::string HeadProblem(const Head& head);

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Copies a file; false (and no file at to) on any read or write failure.
// Never replaces an existing file.
bool CopyFile(const std::string& from, const std::string& to, std::string& why);

// Sends the process's standard output into a file for its lifetime (the
// converter's entry points print their console lines there) and gives the
// text back on Finish.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& file);
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    bool ok() const { return saved_ >= 0; }
    // Restores standard output and returns what was written meanwhile.
    std::string Finish();

private:
    std::string file_;
    int saved_ = -1;
};

// The warning and error lines of the converter's console text: progress
// lines (which end in a carriage return), the banner and empty lines are
// dropped; leading blanks and dashes are kept as written.
std::vector<std::string> MessageLines(const std::string& console);

// The report of a command that cannot do its work on the package at path:
// with json, one document {"package", "ok": false, "error": {code, why}}; else the
// line `format` made with the package's printable path and why. Returns the
// failure exit code.
// The start of a command that rewrites the package at path (a 4.0 or 3.0
// package): its head checked, its lock taken (waiting or not), the package
// opened through stage and its entries walked. The package id, or 0 with
// the reason in why (nothing is left open then).
int BeginRewrite(PackageStage& stage, const std::string& path, bool wait, bool json, std::vector<Entry>& entries,
                 std::string& why);

int RefuseCommand(const std::string& path, const std::string& why, bool json, FILE* out, const char* format,
                  const char* code = "package-unusable");

// A failure in a JSON report: "error": {"code": code, "cause": cause}, the
// code one of the stable words docs/json.md lists.
void ErrorField(json::Writer& w, const char* code, const std::string& cause);

// The differences between resource a of package pkgA and resource b of
// package pkgB, of the same kind, decoded through their classes as --check
// compares them ("size 64x64 became 32x32", "pixel (3,4) RGB(..) became
// RGB(..) (12 pixels differ)", "size 10 bytes became 12 bytes"): a change of
// storage alone (depth, compression) is none, except a raw file's storage
// mode. aFails and bFails say that a side does not load.
void CompareResources(int pkgA, const Entry& a, int pkgB, const Entry& b, const char* aFails, const char* bFails,
                      std::vector<std::string>& diffs);

// A property as --list --long shows it: "width 64", "states normal,pressed".
std::string PropertyText(const kinds::Property& p);

}  // namespace commands
