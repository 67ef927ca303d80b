// The index of one open package's entries.
//
// Entries are found by scanning: from a start offset, the first position
// whose 16 bytes are the marker; the descriptor follows it, and the next scan
// starts at the end of the packed payload (so the padding is passed over by
// the scan). The index runs that same scan once, from offset 520 to the end
// of the file, through a read window instead of one read call per byte, and
// keeps what it found: offset, deciphered descriptor, and a map from (name,
// type) to the entries that carry the pair (an open-addressing table of
// entry numbers, so that a package of many blocks costs no allocation per
// block). Appending at the end of the file
// only extends the scan from where it stopped, and a deletion rewrites one
// descriptor in place, so the index stays exactly what a scan of the file
// would give without the file being read again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "package/PackageFormat.h"

class PackageCipher;

namespace vlt {

// A cache of file bytes around the last position read.
class FileWindow {
public:
    static constexpr size_t kSize = 64 * 1024;

    void Attach(int fd);
    int fd() const { return fd_; }
    // Forgets the file and frees the buffer.
    void Release();
    void Invalidate() {
        len_ = 0;
        start_ = 0;
    }
    // Up to n bytes at offset; the count, or -1 on a read error.
    long long Get(uint64_t offset, uint8_t* dst, size_t n);

    enum class Scan { Found, End, ReadError, ShortDescriptor };
    // The scan for the next marker at or after start. On Found, marker is its
    // offset and desc the 64 raw descriptor bytes; on ShortDescriptor,
    // descBytes tells how many of them the file still held.
    Scan Next(uint64_t start, uint64_t& marker, uint8_t* desc, size_t& descBytes);

private:
    bool Fill(uint64_t offset, size_t atLeast);

    int fd_ = -1;
    uint64_t start_ = 0;
    size_t len_ = 0;
    std::vector<uint8_t> buf_;
};

struct IndexEntry {
    uint64_t marker = 0;
    uint64_t pairHash = 0;  // of the name and type in desc
    uint32_t packedSize = 0;
    uint8_t desc[kDescriptorSize] = {};  // deciphered

    uint64_t payload() const { return marker + kEntryHeadSize; }
    uint64_t resume() const { return payload() + packedSize; }
};

class PackageIndex {
public:
    // Forgets everything and reads the file behind fd afresh when next asked.
    void Reset(int fd);
    // Releases the memory of a closed package.
    void Clear();

    // Completes the scan up to the end of the file. cipher deciphers the
    // descriptors of a protected package (null for a plain one).
    void Extend(const PackageCipher* cipher);
    // The file grew at its end: the next Extend resumes the scan where the
    // previous one stopped.
    void Appended();
    // An entry (marker at the old end of the file, deciphered descriptor)
    // is appended by the caller: taken in without reading the file, when a
    // scan is sure to find exactly it. False, with nothing changed, when
    // the caller must write it and call Appended instead.
    bool Record(uint64_t end, uint64_t marker, const uint8_t* desc);
    // A descriptor was rewritten in place (entry j, new deciphered bytes).
    void Rewrite(size_t j, const uint8_t* desc);
    // Bytes of the file changed: the read window must not serve old ones.
    void Invalidate() { window_.Invalidate(); }

    const std::vector<IndexEntry>& entries() const { return entries_; }
    // The entry a scan from start finds, when start is one the index knows
    // (520, or the end of an entry's packed payload): its number, or
    // entries().size() when that scan ends the walk. -1 for any other start.
    long long AfterScanStart(uint64_t start);
    // The first entry with this name and type, or -1.
    long long FindPair(const char* name, const char* type) const;

    // How the walk ends after the last entry: 0 (end of file) or 2 (read
    // error, or a descriptor cut short with bytes in it), and whether the end
    // was a descriptor cut short (which the walk reports).
    int endResult() const { return endResult_; }
    bool endShortDescriptor() const { return endShort_; }

    FileWindow& window() { return window_; }

private:
    static uint64_t PairHash(const char* name, size_t nameLength, const char* type, size_t typeLength);
    static bool SamePair(const IndexEntry& e, const char* name, size_t nameLength, const char* type, size_t typeLength);
    void Insert(size_t j);
    void Remove(size_t j);
    void Rehash(size_t buckets);

    FileWindow window_;
    std::vector<IndexEntry> entries_;
    // Per bucket: the high 32 bits of the pair's hash, then entry number + 1
    // in the low 32 (so a probe rarely has to look at the entry itself); 0 is
    // empty, kRemoved a bucket left by a rewritten descriptor. Linear probing;
    // at most half the buckets in use.
    static constexpr uint64_t kRemoved = 0xFFFFFFFFu;
    static uint64_t Bucket(const IndexEntry& e, size_t j) { return (e.pairHash & ~uint64_t(0xFFFFFFFFu)) | (j + 1); }
    // The most entries reserved ahead of a scan (about 7 MiB of address space).
    static constexpr uint64_t kReserveBound = 1u << 16;
    std::vector<uint64_t> buckets_;
    size_t bucketsUsed_ = 0;
    uint64_t tailStart_ = kFirstEntry;
    bool complete_ = false;
    int endResult_ = 0;
    bool endShort_ = false;
    size_t hint_ = 0;
};

}  // namespace vlt
