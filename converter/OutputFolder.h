// Where an export, an extraction and a gallery put their files: one main
// file (the document or the page) and beside it one folder of payload files.
//
// The parent folder and the payload folder are opened once; every file is
// then made relative to those descriptors, so a folder swapped for a
// symbolic link while the run goes on takes none of the files elsewhere. A
// name that is free is created with O_EXCL; a name that holds a file this
// run may replace is written under a hidden working name and renamed over it
// only when everything was written. A failed write, or a refusal, takes back
// everything the run made: an earlier export's files stay as they were.
//
// The folder keeps a record of what was written into it (".bundlex-manifest":
// a first line "bundlex manifest 1", then one line per file, "main" for the
// main file or "file" for a payload, its SHA-256 in hex, its size and its
// name). A later run replaces only files whose bytes are still those of the
// record; a file changed since, or one the record does not know, is the
// user's and is listed instead, unless the run was asked to force.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "TextRun.h"

namespace outwrite {

constexpr const char* kManifestName = ".bundlex-manifest";

// The SHA-256 of bytes as 64 lower-case hex digits.
std::string Sha256Hex(const void* data, size_t size);

// An SDL stream that writes into memory (and seeks and reads back there),
// for the image writers.
class MemoryStream {
public:
    MemoryStream();
    ~MemoryStream();
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    SDL_RWops* rw() { return rw_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    static int Seek(SDL_RWops* ctx, int offset, int whence);
    static int Read(SDL_RWops* ctx, void* ptr, int size, int maxnum);
    static int Write(SDL_RWops* ctx, const void* ptr, int size, int num);
    static int Close(SDL_RWops* ctx);
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
    SDL_RWops* rw_ = nullptr;
};

// Where a file's bytes go, piece after piece: false after a failed write.
using Sink = std::function<bool(const void* data, size_t size)>;
// Hands a file's bytes to a sink; false when a piece could not be made or
// written.
using Producer = std::function<bool(const Sink& sink)>;

class OutputSet {
public:
    enum class Status { Ok, FolderIsLink, FolderIsFile, Refused, Failed };

    // main: the path of the main file; folder: the payload folder beside it
    // (same parent). force: files changed since written or unknown to the
    // record are replaced instead of refused.
    OutputSet(const std::string& main, const std::string& folder, bool force);
    ~OutputSet();  // takes everything back unless Commit succeeded
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Makes the parent folder's missing levels and the payload folder (one
    // level), opens both and checks the main file and the recorded files:
    // those in the way are noted in conflicts(), and the run writes nothing
    // more (Commit refuses). Failed: error().
    Status Open();

    // Writes one payload file (a plain name, no separator) into the folder.
    // False after a failed write (error() says which file and why; the run
    // must stop). A name found in the way is only noted (conflicts()): then
    // nothing more is written and Commit refuses.
    bool Put(const std::string& name, const void* data, size_t size);

    // Writes the main file and the record, then puts every file in place.
    Status Commit(const void* data, size_t size);
    // The same with the main file's bytes made as they are written.
    Status Commit(const Producer& main);

    // A file with no name in the main file's folder, for a run's own
    // working data (gone when closed); -1 with errno when none could be
    // made. Failing here notes the error as for the main file.
    int OpenScratch();
    // Notes a failed write of the main file's working data (errno err): the
    // run must stop.
    bool MainFailed(int err) { return Failed(main_, err); }
    // Takes back everything this run wrote (its own new files and working
    // copies; the folder when it made it and it is empty again).
    void Rollback();

    bool refused() const { return !conflicts_.empty(); }
    const std::vector<std::string>& conflicts() const { return conflicts_; }  // path and reason per line
    const std::string& error() const { return error_; }
    const std::string& folderName() const { return folderName_; }  // the folder's last component

private:
    struct Record {
        uint8_t sha[32] = {};
        uint64_t size = 0;
    };
    struct Staged {
        std::string temp, name;
        int dir = -1;
    };
    bool WriteNew(int dir, const std::string& name, const Producer& produce, int& err);
    bool WriteStaged(int dir, const std::string& name, const Producer& produce, std::string& temp, int& err);
    bool Matches(int dir, const std::string& name, const Record& r, bool& exists) const;
    void LoadManifest();
    bool WriteManifest(const Sink& sink) const;
    void Conflict(const std::string& path, const char* reason);
    bool Failed(const std::string& path, int err);
    std::string_view NameOf(size_t i) const { return names_.View(written_[i]); }

    std::string main_, folder_, mainName_, folderName_, parent_;
    bool force_ = false;
    int parentFd_ = -1, folderFd_ = -1;
    bool madeFolder_ = false, committed_ = false;
    std::map<std::string, Record> old_;  // the record found in the folder
    bool oldMain_ = false;
    Record oldMainRecord_;
    // What this run wrote, in the order written (names are unique: a name
    // written twice keeps its last record). The names are held in one run of
    // text; the records (digest and size, kRecordSize bytes each, the n-th
    // at n * kRecordSize) are kept in memory up to kRecordsInMemory bytes and
    // then moved to a scratch file, so that a run of a million files holds
    // little more than their names.
    static constexpr size_t kRecordSize = 40;
    static constexpr size_t kRecordsInMemory = size_t(1) << 20;
    bool AddRecord(const Record& r);
    bool RecordAt(size_t i, Record& r) const;
    TextRun names_;
    std::deque<uint64_t> written_;  // the names, in names_
    std::string records_;           // the records after those in the scratch file
    int recordFd_ = -1;
    uint64_t recordsMoved_ = 0;            // bytes of records in the scratch file
    mutable std::vector<uint8_t> window_;  // a piece of the scratch file read back
    mutable uint64_t windowAt_ = 0;
    std::deque<uint32_t> created_;  // which of written_ are new names made in the folder
    std::vector<Staged> staged_;    // working copies to rename over their names
    std::vector<std::string> conflicts_;
    std::string error_;
    unsigned serial_ = 0;
};

}  // namespace outwrite
