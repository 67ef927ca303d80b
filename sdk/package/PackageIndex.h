// The index of one open package's entries.
//
// Entries are found by scanning: from a start offset, the first position
// whose 16 bytes are the marker; the descriptor follows it, and the next scan
// starts at the end of the packed payload (so the padding is passed over by
// the scan). The index runs that same scan once, from offset 520 to the end
// of the file, through a read window instead of one read call per byte, and
// keeps what it found: per entry its offset, sizes, mode, type and name
// (28 bytes and the name's, the descriptor rebuilt from them when asked
// for), and a map from (name, type) to the entries that carry the pair (an
// open-addressing table of entry numbers, 10 bytes or less an entry), so
// that a package of a million blocks is indexed in about 45 MB and costs no
// allocation per block. Appending at the end of the file only extends the
// scan from where it stopped, and a deletion rewrites one descriptor in
// place, so the index stays exactly what a scan of the file would give
// without the file being read again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "package/PackageFormat.h"
#include "package/PairSet.h"

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

// One entry as a scan of the file gives it: the offset of its marker, its
// deciphered descriptor and the packed size the scan passed over.
struct IndexEntry {
    uint64_t marker = 0;
    uint32_t packedSize = 0;
    uint8_t desc[kDescriptorSize] = {};  // deciphered

    uint64_t payload() const { return marker + kEntryHeadSize; }
    uint64_t resume() const { return payload() + packedSize; }
};

class PackageIndex {
public:
    // The entries in file order, each rebuilt on demand from what the index
    // keeps of it.
    class EntryList {
    public:
        explicit EntryList(const PackageIndex& index) : index_(&index) {}
        size_t size() const { return index_->slots_.size(); }
        bool empty() const { return index_->slots_.empty(); }
        IndexEntry operator[](size_t j) const { return index_->Entry(j); }

    private:
        const PackageIndex* index_;
    };

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

    EntryList entries() const { return EntryList(*this); }
    IndexEntry Entry(size_t j) const;
    uint64_t Marker(size_t j) const { return slots_[j].Marker(); }
    uint32_t PackedSize(size_t j) const { return slots_[j].packedSize; }
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
    // What the index keeps of one entry: 28 bytes, and its name in the name
    // store. A descriptor the fields cannot give back byte for byte (bytes
    // after the name's end, a reserved byte set, a packed size other than
    // the one the scan passed over) is kept whole in the name store instead.
    struct Slot {
        uint32_t markerLow = 0;
        uint32_t packedSize = 0;
        uint32_t size = 0;
        uint32_t at = 0;  // of the name (or of the whole descriptor) in the store
        char type[kTypeSize] = {};
        uint8_t mode = 0;
        uint8_t nameLength = 0;
        uint8_t whole = 0;  // 1: the store holds the whole descriptor
        uint8_t markerHigh = 0;
        uint64_t Marker() const { return (uint64_t(markerHigh) << 32) | markerLow; }
        uint64_t Resume() const { return Marker() + kEntryHeadSize + packedSize; }
    };
    static_assert(sizeof(Slot) == 28, "an entry of the index stays small");
    // The highest marker offset a slot can hold (a sparse file may be larger).
    static constexpr uint64_t kMarkerLimit = uint64_t(1) << 40;

    // Fills slot from a deciphered descriptor; false when the name store is full.
    bool Keep(Slot& slot, const uint8_t* desc);
    // The descriptor of a slot kept as fields, its name bytes at name.
    static void Rebuild(const Slot& slot, uint8_t* desc, const uint8_t* name);
    void PairOf(const Slot& slot, const char*& name, size_t& nameLength, const char*& type, size_t& typeLength) const;
    uint64_t HashOf(const Slot& slot) const;
    void Insert(size_t j);
    void Remove(size_t j);
    void Rehash(size_t buckets);

    FileWindow window_;
    // Entries in chunks too: a growing index never copies itself.
    std::deque<Slot> slots_;
    ByteStore names_;
    // Per bucket: entry number + 1, 0 for empty, kRemoved for a bucket left
    // by a rewritten descriptor; beside it the top byte of the pair's hash,
    // so that a probe rarely has to look at the entry itself. Linear
    // probing; at most half the buckets in use.
    static constexpr uint32_t kRemoved = 0xFFFFFFFFu;
    // The most entries the buckets can number.
    static constexpr size_t kMostEntries = 0xFFFFFFF0u;
    static uint8_t Tag(uint64_t hash) { return static_cast<uint8_t>(hash >> 56); }
    std::vector<uint32_t> buckets_;
    std::vector<uint8_t> tags_;
    size_t bucketsUsed_ = 0;
    uint64_t tailStart_ = kFirstEntry;
    bool complete_ = false;
    int endResult_ = 0;
    bool endShort_ = false;
    size_t hint_ = 0;
};

}  // namespace vlt
