// What a document may reach: the folder it lies in and nothing else.
//
// A document and its payload folder are traded like an archive, so a path
// in it is treated as an archive treats its member names. A payload path is
// read only when the file it opens lies inside the document's folder tree:
// an absolute path elsewhere, a path that climbs out with "..", and a path
// that leads out through a symbolic link are refused (unless the user lifts
// the confinement). Each payload is opened once, without waiting (a FIFO
// never blocks the run), and only a regular file is read; the place checked
// is the real place of the opened file, so nothing swapped in between a
// check and the open is ever read.
//
// Relative paths are taken from the document's folder; a path that is not
// there is looked up from the current folder, as documents of earlier
// exports wrote them, and is read only when it lies inside the document's
// folder too.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class DocumentFolder {
public:
    DocumentFolder() = default;
    ~DocumentFolder();
    DocumentFolder(const DocumentFolder&) = delete;
    DocumentFolder& operator=(const DocumentFolder&) = delete;

    // The folder of the document at documentPath; false when it cannot be
    // opened.
    bool Open(const std::string& documentPath, bool allowOutside);

    // Reads the whole payload named by source into bytes (at most limit
    // bytes). False with cause set to a full sentence on any refusal or
    // failure.
    bool Read(const std::string& source, std::vector<uint8_t>& bytes, uint64_t limit, std::string& cause) const;

    // The package path that a document names as its own (its root
    // "source"), when no package was given: it must end in ".vlt" and lie
    // inside the document's folder tree. False with cause set otherwise.
    bool Target(const std::string& source, std::string& target, std::string& cause) const;

private:
    // Whether path, made absolute and lexically normal, lies inside the
    // folder (as given or as it really is).
    bool LexicallyInside(const std::string& path) const;
    bool RealInside(const std::string& real) const;

    int dir_ = -1;
    std::string asGiven_;  // the document path's folder part, as given (may be empty)
    std::string given_;    // the folder, absolute and lexically normal
    std::string real_;     // the folder with every link resolved
    bool allowOutside_ = false;
};
