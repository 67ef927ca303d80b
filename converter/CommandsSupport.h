// Pieces shared by the package commands (--list, --verify, --check): the
// table of block kinds, names made safe for a terminal, the package head
// check that runs before the package manager is asked to open anything, the
// entry walk, and the temporary folder and console capture of the round
// trip check.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace commands {

// What a block's type text stands for. Exact type texts only: the 1.0
// forms are told apart from the current ones.
enum class BlockKind { Image, Tile, StateImage, Sprite, Font, Sound, Music, Widget, File, Deleted, Other };

struct KindRow {
    const char* type;     // type text in the block descriptor
    BlockKind kind;
    const char* word;     // the kind as reports name it
    const char* current;  // the type text of the current layout (itself unless legacy)
    bool legacy;          // a 1.0 layout that the owning class upgrades when it loads it
};

// The row of a type text, or null for a type no class owns.
const KindRow* FindKind(const std::string& type);
// The kind word of a type text ("other" for unknown types).
const char* KindWord(const std::string& type);
// Every kind word in report order (the order of the totals).
const std::vector<const char*>& KindWords();

// The storage mode as a word: "compressed", "stored", "crypted", or
// "unknown" for any other byte.
const char* ModeWord(uint8_t mode);

// A text from a package or the command line as a terminal may show it:
// backslash doubled, \n \r \t, other control characters (C0, DEL, C1) and
// bytes that are not well-formed UTF-8 as \xNN.
std::string SafeText(const std::string& bytes);

// A fixed-size, NUL-terminated field as a string (never past capacity).
std::string FieldText(const char* field, size_t capacity);

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

// One entry of a package as FindFirst/FindNext return it.
struct Entry {
    std::string name;
    std::string type;
    uint8_t mode = 0;
    uint32_t size = 0;
    uint32_t packedSize = 0;
    bool deleted() const { return type == "DELETED"; }
};
// Walks the entries of an open package through the descriptors only.
// Returns 1 when the walk reached the end, 2 when a read error stopped it
// (the entries before it are in out).
int WalkEntries(int pkg, std::vector<Entry>& out);

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

}  // namespace commands
