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
    void Close(int id);
    const char* GetName(int id);
    int FindFirst(int id, BlockInfo* info);
    int FindNext(int id, BlockInfo* info);
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

private:
    // Rebuilds the 3.0 package at path as 4.0 (see PackageUpgrade.h): a
    // read-write handle of the new file after its head, with the head in the
    // head buffer; -1 on failure.
    int Update3to4(const char* path);

    struct Impl;
    Impl* impl_;
};

// The package manager between Init and Quit; empty before and after.
extern IStuffVLT* g_pStuffVLT;
