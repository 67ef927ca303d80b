// The scan for block entries through a read window, and the index built on it.
#include "package/PackageIndex.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "core/Endian.h"
#include "core/FileAccess.h"
#include "package/PackageCipher.h"

namespace vlt {

void FileWindow::Attach(int fd) {
    fd_ = fd;
    Invalidate();
}

void FileWindow::Release() {
    Attach(-1);
    buf_.clear();
    buf_.shrink_to_fit();
}

bool FileWindow::Fill(uint64_t offset, size_t atLeast) {
    const size_t want = std::max(kSize, atLeast);
    if (buf_.size() < want) buf_.resize(want);
    len_ = 0;
    start_ = offset;
    const long long got = files::ReadUpToAt(fd_, buf_.data(), want, offset);
    if (got < 0) return false;
    len_ = static_cast<size_t>(got);
    return true;
}

long long FileWindow::Get(uint64_t offset, uint8_t* dst, size_t n) {
    if (!(offset >= start_ && offset - start_ <= len_ && n <= len_ - (offset - start_))) {
        if (!Fill(offset, n)) return -1;
    }
    const size_t from = static_cast<size_t>(offset - start_);
    const size_t have = std::min(n, len_ - from);
    if (have) std::memcpy(dst, buf_.data() + from, have);
    return static_cast<long long>(have);
}

FileWindow::Scan FileWindow::Next(uint64_t start, uint64_t& marker, uint8_t* desc, size_t& descBytes) {
    uint64_t pos = start;
    for (;;) {
        if (!(pos >= start_ && pos - start_ < len_)) {
            if (!Fill(pos, 0)) return Scan::ReadError;
            if (len_ == 0) return Scan::End;
        }
        const size_t from = static_cast<size_t>(pos - start_);
        const void* hit = std::memchr(buf_.data() + from, kMarker[0], len_ - from);
        if (!hit) {
            pos = start_ + len_;
            continue;
        }
        const uint64_t at = start_ + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - buf_.data());
        uint8_t candidate[kMarkerSize];
        const long long got = Get(at, candidate, kMarkerSize);
        if (got < 0) return Scan::ReadError;
        if (got == static_cast<long long>(kMarkerSize) && std::memcmp(candidate, kMarker, kMarkerSize) == 0) {
            marker = at;
            const long long d = Get(at + kMarkerSize, desc, kDescriptorSize);
            if (d < 0) return Scan::ReadError;
            descBytes = static_cast<size_t>(d);
            return descBytes == kDescriptorSize ? Scan::Found : Scan::ShortDescriptor;
        }
        pos = at + 1;  // not the marker: resume one byte after that B7
    }
}

void PackageIndex::Reset(int fd) {
    Clear();
    window_.Attach(fd);
}

void PackageIndex::Clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    buckets_.clear();
    buckets_.shrink_to_fit();
    bucketsUsed_ = 0;
    tailStart_ = kFirstEntry;
    complete_ = false;
    endResult_ = 0;
    endShort_ = false;
    hint_ = 0;
    window_.Release();
}

uint64_t PackageIndex::PairHash(const char* name, size_t nameLength, const char* type, size_t typeLength) {
    // FNV-1a over the name, a NUL and the type.
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](const char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            h ^= static_cast<uint8_t>(p[i]);
            h *= 0x100000001b3ull;
        }
    };
    mix(name, nameLength);
    mix("", 1);
    mix(type, typeLength);
    // A final mix, so that the low bits (the bucket) and the high bits (the
    // tag kept in the bucket) both depend on every byte.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

bool PackageIndex::SamePair(const IndexEntry& e, const char* name, size_t nameLength, const char* type,
                            size_t typeLength) {
    const char* n = reinterpret_cast<const char*>(e.desc + kNameOffset);
    const char* t = reinterpret_cast<const char*>(e.desc + kTypeOffset);
    return strnlen(n, kNameSize) == nameLength && strnlen(t, kTypeSize) == typeLength &&
           std::memcmp(n, name, nameLength) == 0 && std::memcmp(t, type, typeLength) == 0;
}

void PackageIndex::Rehash(size_t count) {
    buckets_.assign(count, 0);
    bucketsUsed_ = 0;
    const size_t mask = count - 1;
    for (size_t j = 0; j < entries_.size(); ++j) {
        size_t pos = static_cast<size_t>(entries_[j].pairHash) & mask;
        while (buckets_[pos] != 0) pos = (pos + 1) & mask;
        buckets_[pos] = Bucket(entries_[j], j);
        ++bucketsUsed_;
    }
}

void PackageIndex::Insert(size_t j) {
    if ((bucketsUsed_ + 1) * 2 > buckets_.size()) {
        size_t count = 64;
        while (count < (entries_.size() + 1) * 4) count *= 2;
        Rehash(count);  // places every entry already in entries_, j among them
        return;
    }
    const size_t mask = buckets_.size() - 1;
    size_t pos = static_cast<size_t>(entries_[j].pairHash) & mask;
    while (buckets_[pos] != 0 && buckets_[pos] != kRemoved) pos = (pos + 1) & mask;
    if (buckets_[pos] == 0) ++bucketsUsed_;
    buckets_[pos] = Bucket(entries_[j], j);
}

void PackageIndex::Remove(size_t j) {
    if (buckets_.empty()) return;
    const size_t mask = buckets_.size() - 1;
    for (size_t pos = static_cast<size_t>(entries_[j].pairHash) & mask; buckets_[pos] != 0; pos = (pos + 1) & mask) {
        if (buckets_[pos] == Bucket(entries_[j], j)) {
            buckets_[pos] = kRemoved;
            return;
        }
    }
}

void PackageIndex::Extend(const PackageCipher* cipher) {
    if (complete_) return;
    if (entries_.empty()) {
        // Room for as many entries as the file can hold (80 bytes each at
        // least), up to a bound: one allocation instead of a chain of growing
        // copies. Pages of it that are never used are never touched.
        struct stat st;
        if (fstat(window_.fd(), &st) == 0 && static_cast<uint64_t>(st.st_size) > kFirstEntry) {
            const uint64_t most = (static_cast<uint64_t>(st.st_size) - kFirstEntry) / kEntryHeadSize;
            entries_.reserve(static_cast<size_t>(std::min<uint64_t>(most, kReserveBound)));
        }
    }
    for (;;) {
        IndexEntry e;
        size_t descBytes = 0;
        const FileWindow::Scan s = window_.Next(tailStart_, e.marker, e.desc, descBytes);
        if (s == FileWindow::Scan::Found) {
            if (cipher) cipher->Decipher(e.desc, kDescriptorSize);
            e.packedSize = LoadLE32(e.desc + kPackedOffset);
            tailStart_ = e.resume();
            const char* name = reinterpret_cast<const char*>(e.desc + kNameOffset);
            const char* type = reinterpret_cast<const char*>(e.desc + kTypeOffset);
            e.pairHash = PairHash(name, strnlen(name, kNameSize), type, strnlen(type, kTypeSize));
            entries_.push_back(e);
            Insert(entries_.size() - 1);
            continue;
        }
        endShort_ = (s == FileWindow::Scan::ShortDescriptor);
        if (s == FileWindow::Scan::End) {
            endResult_ = 0;
        } else if (s == FileWindow::Scan::ShortDescriptor) {
            endResult_ = descBytes ? 2 : 0;
        } else {
            endResult_ = 2;
        }
        // A read error may pass; the next Extend tries again from the same place.
        complete_ = (s != FileWindow::Scan::ReadError);
        return;
    }
}

void PackageIndex::Appended() {
    complete_ = false;
    window_.Invalidate();
}

bool PackageIndex::Record(uint64_t end, uint64_t marker, const uint8_t* desc) {
    // The scan reached the end of the file cleanly, and the bytes it has not
    // matched (the last payload's padding) are too few to begin a false
    // marker that runs into the new one: the marker's only border is its
    // first byte, so that would take 15 of them.
    if (!complete_ || endResult_ != 0 || endShort_ || marker != end || end < tailStart_ ||
        end - tailStart_ >= kMarkerSize - 1)
        return false;
    IndexEntry e;
    e.marker = marker;
    std::memcpy(e.desc, desc, kDescriptorSize);
    e.packedSize = LoadLE32(e.desc + kPackedOffset);
    const char* name = reinterpret_cast<const char*>(e.desc + kNameOffset);
    const char* type = reinterpret_cast<const char*>(e.desc + kTypeOffset);
    e.pairHash = PairHash(name, strnlen(name, kNameSize), type, strnlen(type, kTypeSize));
    tailStart_ = e.resume();
    entries_.push_back(e);
    Insert(entries_.size() - 1);
    window_.Invalidate();
    return true;
}

void PackageIndex::Rewrite(size_t j, const uint8_t* desc) {
    if (j >= entries_.size()) return;
    Remove(j);
    IndexEntry& e = entries_[j];
    std::memcpy(e.desc, desc, kDescriptorSize);
    // The packed size is part of the scan's path; a rewrite keeps it.
    const char* name = reinterpret_cast<const char*>(e.desc + kNameOffset);
    const char* type = reinterpret_cast<const char*>(e.desc + kTypeOffset);
    e.pairHash = PairHash(name, strnlen(name, kNameSize), type, strnlen(type, kTypeSize));
    Insert(j);
    window_.Invalidate();
}

long long PackageIndex::AfterScanStart(uint64_t start) {
    if (start == kFirstEntry) {
        hint_ = 0;
        return 0;
    }
    const size_t n = entries_.size();
    // Walks ask for the entry after the one they saw last.
    if (hint_ < n && entries_[hint_].resume() == start) return static_cast<long long>(++hint_);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), start,
                               [](const IndexEntry& e, uint64_t s) { return e.resume() < s; });
    if (it == entries_.end() || it->resume() != start) return -1;
    hint_ = static_cast<size_t>(it - entries_.begin()) + 1;
    return static_cast<long long>(hint_);
}

long long PackageIndex::FindPair(const char* name, const char* type) const {
    if (buckets_.empty()) return -1;
    const size_t nameLength = strnlen(name, kNameSize);
    const size_t typeLength = strnlen(type, kTypeSize);
    const uint64_t h = PairHash(name, nameLength, type, typeLength);
    const size_t mask = buckets_.size() - 1;
    // The walk stops at the first entry with the pair: the lowest number.
    long long first = -1;
    const uint64_t tag = h & ~uint64_t(0xFFFFFFFFu);
    for (size_t pos = static_cast<size_t>(h) & mask; buckets_[pos] != 0; pos = (pos + 1) & mask) {
        const uint64_t b = buckets_[pos];
        if (b == kRemoved || (b & ~uint64_t(0xFFFFFFFFu)) != tag) continue;
        const size_t j = static_cast<size_t>(b & 0xFFFFFFFFu) - 1;
        const IndexEntry& e = entries_[j];
        if (e.pairHash == h && SamePair(e, name, nameLength, type, typeLength) &&
            (first < 0 || static_cast<long long>(j) < first))
            first = static_cast<long long>(j);
    }
    return first;
}

}  // namespace vlt
