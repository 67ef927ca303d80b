// The package manager: the only code that touches package files. One
// instance exists (g_pStuffVLT), created first by Init and destroyed last by
// Quit. It keeps a registry of up to 32 packages, each known by a positive id.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/Trovalis.h"

enum StorageMode : uint8_t {
    compressed = 0,  // UCL NRV2B stream
    stored = 1,      // the data unchanged
    crypted = 2,     // every byte XORed with the block scrambling byte
};

// The record through which callers exchange blocks with the manager. Its
// first five fields have the layout of the first 52 bytes of an on-disk
// descriptor.
struct BlockInfo {
    char name[32];        // NUL-terminated, at most 31 characters
    char type[8];         // NUL-terminated, at most 7 characters
    uint8_t mode;         // StorageMode
    uint32_t size;        // payload length as loaded
    uint32_t packedSize;  // payload length as stored, before padding
    uint8_t* data;        // the payload in memory, or null
};

// What IStuffVLT::ProbeHead read of a file.
struct PackageHead {
    char version[5] = {};     // the version field (bytes 4 to 7) up to its first NUL, as stored
    uint64_t entryBytes = 0;  // the file's bytes after the header block, where entries are; 0 for none
    int error = 0;            // for kHeadUnreadable: the errno of the call that failed
};

class IStuffVLT;

struct PackageSlot {
    int32_t handle = 0;           // file descriptor; 0 when not open
    int32_t id = 0;               // 0 when not open
    int32_t protectedFlag = 0;    // the protected flag of the header block
    std::string fileName;         // the path as given to Open (any length)
    uint32_t recordedLength = 0;  // file length, kept in step with appends; 0 = never used
    uint32_t modified = 0;        // set by AddData and Delete: Close rewrites the header
    int32_t openCount = 0;        // Open calls not yet matched by Close
    bool readOnly = false;        // opened read-only: every write is refused
};

class IStuffVLT {
public:
    static constexpr int kMaxPackages = 32;

    IStuffVLT();
    ~IStuffVLT();
    IStuffVLT(const IStuffVLT&) = delete;
    IStuffVLT& operator=(const IStuffVLT&) = delete;

    int Create(const char* path);
    int Open(const char* path);
    // Open for reading only, whatever the file's permissions allow: every
    // AddData and Delete on it is refused (a package the user keeps from
    // being written, which a superuser could open for writing all the same).
    int OpenForReading(const char* path);
    void Close(int id);
    const char* GetName(int id);
    // The modification date that package id's header block holds on disk
    // (as written, up to 31 characters, untrusted) into text, NUL-terminated;
    // 1, or 0 when it is not open or its header cannot be read.
    int GetModified(int id, char text[32]);
    int FindFirst(int id, BlockInfo* info);
    int FindNext(int id, BlockInfo* info);
    // The entry that FindFirst and n calls of FindNext would find, with the
    // cursor left where they leave it, found without walking there: a walk
    // resumes at entry n after other operations moved the cursor. 1 found,
    // 0 when the walk ends before it, 2 when it stops on a read error.
    int FindNth(int id, uint64_t n, BlockInfo* info);
    int Count(int id);
    int CountDeleted(int id);
    int LoadBlock(int id, const char* type, const char* name, BlockInfo* info);
    int FreeBlock(BlockInfo* info);
    int AddData(int id, BlockInfo* info);
    int Delete(int id, BlockInfo* info);
    uint32_t CalculateCRC(int handle);

    // What ProbeHead finds at a path.
    static constexpr int kHeadNotRegular = -2;   // not a regular file (a directory, a device): nothing read
    static constexpr int kHeadUnreadable = -1;   // open, status or read failed (error holds errno)
    static constexpr int kHeadNotPackage = 0;    // fewer than 8 bytes, or no "VLTv"
    static constexpr int kHeadOtherVersion = 1;  // a version byte that Open refuses
    static constexpr int kHeadVersion3 = 3;      // Open upgrades it in place
    static constexpr int kHeadVersion4 = 4;
    // Reads the 8-byte head of the file at path without opening it as a
    // package (Open would rebuild a 3.0 file in place) and returns one of the
    // codes above; head receives what was read. Needs no Init.
    static int ProbeHead(const char* path, PackageHead* head);
    // The name under which Open keeps a 3.0 package that it upgrades: the
    // path cut at its last '.' (its first character is not looked at), or
    // to nothing when there is none, plus "_v3.vlt". Empty for a null path.
    static std::string UpgradeBackupName(const char* path);

    // Updating a package: while it is on for package id, AddData of a block
    // whose name and type a live block already has does not answer -1.
    // It compares the block as handed over (before compression) with the
    // stored one (its storage mode undone): when the bytes and the mode are
    // the same, nothing is written and AddData answers the stored block's
    // packed size; otherwise the new block is appended and the old one then
    // deleted. The counts say what AddData did since the mode was set.
    struct UpdateCounts {
        int added = 0;      // no live block of that name and type was there
        int replaced = 0;   // a different block was there and is now deleted
        int unchanged = 0;  // the same block was there; nothing was written
    };
    // 1, or 0 for a package that is not open.
    int SetUpdating(int id, bool on);
    int GetUpdateCounts(int id, UpdateCounts* counts);
    // 1 when, since updating was set for package id, AddData was handed a
    // block of this name and type (added, replaced or unchanged); else 0.
    int WasUpdated(int id, const char* name, const char* type) const;
    // Where the block of this name and type was when updating was set: the
    // entry number of the first live block of the pair then, as the first
    // AddData of the pair since found it; -1 when there was none (or AddData
    // was not handed the pair).
    long long UpdatedPlace(int id, const char* name, const char* type) const;

    // The errno of the first write to package id's file that failed since it
    // was opened (AddData or Delete answered 0 for it), or 0. A write error
    // (a full disk, a failing device) is no fault of the block handed over:
    // every later write would meet it as well.
    int WriteError(int id) const;

    // Decides, for WriteLive, whether a live entry is written (true) or left
    // out; info holds its descriptor fields, data is null.
    using KeepEntry = bool (*)(void* context, const BlockInfo& info);
    // Where, for WriteLive, a live entry goes: entries are written in the
    // order of their ranks (equal ranks in package order). position is the
    // entry's place among all entries of the package, deleted ones counted.
    using RankEntry = uint64_t (*)(void* context, const BlockInfo& info, uint64_t position);
    // Writes a new package file at path (which must not exist) holding the
    // live entries of open package id that keep accepts (all of them when
    // keep is null), in package order (or in the order rank gives), each copied as stored (marker,
    // descriptor and padded payload, never decoded or recompressed). The
    // header block is the package's own with a new modification date and
    // the checksum of the new entries. 1 on success, with the new file's
    // length in length when given; 0 on failure, logged, with nothing left
    // at path and errno holding the cause of a failed system call (else 0). A package whose entries overlap, run past
    // its end or cannot all be read is refused.
    int WriteLive(int id, const char* path, KeepEntry keep, void* context, uint64_t* length = nullptr,
                  RankEntry rank = nullptr);
    // Closes package id without rewriting its header, whatever was written
    // to it: for a working file that its caller removes next.
    void CloseDiscarding(int id);

    // How many worker threads compress and decode block payloads: 0 for
    // every processor the process may run on, 1 (the default) for none.
    // With more than one, AddData of a compressed block copies the block,
    // hands its compression to a worker and answers 1 at once; the calling
    // thread writes the finished blocks in the order AddData was called,
    // during later AddData calls and before any other operation (Flush
    // writes them all), so the file's bytes are those of a run without
    // workers. LoadBlock has the compressed blocks that follow the one it
    // loads decoded ahead. Workers never touch the registry, the index or
    // the files' write side; every operation is still made by one thread.
    // Takes effect at the next operation that finds nothing pending.
    static void SetJobs(unsigned jobs);
    static unsigned Jobs();
    // Writes every block still waiting for its compression (of any package,
    // in the order they were added) and answers WriteError(id): a block
    // whose write fails is reported there, as a failed compression is
    // (EIO), and the blocks added after it are not written.
    int Flush(int id);

private:
    int LoadBlockNow(int id, const char* type, const char* name, BlockInfo* info);
    int DeleteNow(int id, BlockInfo* info);
    // Rebuilds the 3.0 package at path as 4.0 (see PackageUpgrade.h): a
    // read-write handle of the new file after its head, with the head in the
    // head buffer; -1 on failure.
    int Update3to4(const char* path);

    struct Impl;
    Impl* impl_;
};

// The package manager between Init and Quit; empty before and after.
extern IStuffVLT* g_pStuffVLT;
