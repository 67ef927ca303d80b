// The scan for block entries through a read window, and the index built on it.
#include "package/PackageIndex.h"

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

bool PackageIndex::Keep(Slot& slot, const uint8_t* desc) {
    std::memcpy(slot.type, desc + kTypeOffset, kTypeSize);
    slot.mode = desc[kModeOffset];
    slot.size = LoadLE32(desc + kSizeOffset);
    const size_t nameLength = strnlen(reinterpret_cast<const char*>(desc + kNameOffset), kNameSize);
    slot.nameLength = static_cast<uint8_t>(nameLength);
    slot.whole = 0;
    uint8_t rebuilt[kDescriptorSize];
    Rebuild(slot, rebuilt, desc + kNameOffset);
    if (std::memcmp(rebuilt, desc, kDescriptorSize) != 0) {
        slot.whole = 1;
        return names_.Add(desc, kDescriptorSize, slot.at);
    }
    return names_.Add(desc + kNameOffset, nameLength, slot.at);
}

void PackageIndex::Rebuild(const Slot& slot, uint8_t* desc, const uint8_t* name) {
    std::memset(desc, 0, kDescriptorSize);
    if (slot.nameLength) std::memcpy(desc + kNameOffset, name, slot.nameLength);
    std::memcpy(desc + kTypeOffset, slot.type, kTypeSize);
    desc[kModeOffset] = slot.mode;
    StoreLE32(desc + kSizeOffset, slot.size);
    StoreLE32(desc + kPackedOffset, slot.packedSize);
}

IndexEntry PackageIndex::Entry(size_t j) const {
    const Slot& slot = slots_[j];
    IndexEntry e;
    e.marker = slot.Marker();
    e.packedSize = slot.packedSize;
    if (slot.whole)
        std::memcpy(e.desc, names_.At(slot.at), kDescriptorSize);
    else
        Rebuild(slot, e.desc, names_.At(slot.at));
    return e;
}

void PackageIndex::PairOf(const Slot& slot, const char*& name, size_t& nameLength, const char*& type,
                          size_t& typeLength) const {
    name = reinterpret_cast<const char*>(names_.At(slot.at));
    nameLength = slot.nameLength;
    type = slot.type;
    typeLength = strnlen(slot.type, kTypeSize);
}

uint64_t PackageIndex::HashOf(const Slot& slot) const {
    const char* name;
    const char* type;
    size_t nameLength, typeLength;
    PairOf(slot, name, nameLength, type, typeLength);
    return PairHash(name, nameLength, type, typeLength);
}

void PackageIndex::Reset(int fd) {
    Clear();
    window_.Attach(fd);
}

void PackageIndex::Clear() {
    std::deque<Slot>().swap(slots_);
    names_.Clear();
    std::vector<uint32_t>().swap(buckets_);
    std::vector<uint8_t>().swap(tags_);
    bucketsUsed_ = 0;
    tailStart_ = kFirstEntry;
    complete_ = false;
    endResult_ = 0;
    endShort_ = false;
    hint_ = 0;
    window_.Release();
}

void PackageIndex::Rehash(size_t count) {
    std::vector<uint32_t>().swap(buckets_);  // freed before the new ones are made
    buckets_.assign(count, 0);
    tags_.assign(count, 0);
    bucketsUsed_ = 0;
    const size_t mask = count - 1;
    for (size_t j = 0; j < slots_.size(); ++j) {
        const uint64_t h = HashOf(slots_[j]);
        size_t pos = static_cast<size_t>(h) & mask;
        while (buckets_[pos] != 0) pos = (pos + 1) & mask;
        buckets_[pos] = static_cast<uint32_t>(j + 1);
        tags_[pos] = Tag(h);
        ++bucketsUsed_;
    }
}

void PackageIndex::Insert(size_t j) {
    if ((bucketsUsed_ + 1) * 2 > buckets_.size()) {
        size_t count = 64;
        while (count < (slots_.size() + 1) * 2) count *= 2;
        Rehash(count);  // places every entry already in slots_, j among them
        return;
    }
    const uint64_t h = HashOf(slots_[j]);
    const size_t mask = buckets_.size() - 1;
    size_t pos = static_cast<size_t>(h) & mask;
    while (buckets_[pos] != 0 && buckets_[pos] != kRemoved) pos = (pos + 1) & mask;
    if (buckets_[pos] == 0) ++bucketsUsed_;
    buckets_[pos] = static_cast<uint32_t>(j + 1);
    tags_[pos] = Tag(h);
}

void PackageIndex::Remove(size_t j) {
    if (buckets_.empty()) return;
    const uint64_t h = HashOf(slots_[j]);
    const size_t mask = buckets_.size() - 1;
    for (size_t pos = static_cast<size_t>(h) & mask; buckets_[pos] != 0; pos = (pos + 1) & mask) {
        if (buckets_[pos] == j + 1) {
            buckets_[pos] = kRemoved;
            return;
        }
    }
}

void PackageIndex::Extend(const PackageCipher* cipher) {
    if (complete_) return;
    for (;;) {
        uint64_t marker = 0;
        uint8_t desc[kDescriptorSize];
        size_t descBytes = 0;
        const FileWindow::Scan s = window_.Next(tailStart_, marker, desc, descBytes);
        if (s == FileWindow::Scan::Found) {
            if (cipher) cipher->Decipher(desc, kDescriptorSize);
            Slot slot;
            slot.markerLow = static_cast<uint32_t>(marker);
            slot.markerHigh = static_cast<uint8_t>(marker >> 32);
            slot.packedSize = LoadLE32(desc + kPackedOffset);
            // Beyond what the index can record (only a sparse file of a
            // terabyte gets there): the walk ends as at a read error.
            if (marker >= kMarkerLimit || slots_.size() >= kMostEntries || !Keep(slot, desc)) {
                endShort_ = false;
                endResult_ = 2;
                complete_ = true;
                return;
            }
            tailStart_ = slot.Resume();
            slots_.push_back(slot);
            Insert(slots_.size() - 1);
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
    Slot slot;
    slot.markerLow = static_cast<uint32_t>(marker);
    slot.markerHigh = static_cast<uint8_t>(marker >> 32);
    slot.packedSize = LoadLE32(desc + kPackedOffset);
    if (marker >= kMarkerLimit || slots_.size() >= kMostEntries || !Keep(slot, desc)) return false;
    tailStart_ = slot.Resume();
    slots_.push_back(slot);
    Insert(slots_.size() - 1);
    window_.Invalidate();
    return true;
}

void PackageIndex::Rewrite(size_t j, const uint8_t* desc) {
    if (j >= slots_.size()) return;
    Remove(j);
    Slot& slot = slots_[j];
    // The packed size is part of the scan's path; a rewrite keeps it (and
    // a descriptor that says otherwise is kept whole). The new name goes
    // over the old one when it fits there.
    const Slot old = slot;
    Slot fresh = old;
    uint8_t rebuilt[kDescriptorSize];
    fresh.nameLength = static_cast<uint8_t>(strnlen(reinterpret_cast<const char*>(desc + kNameOffset), kNameSize));
    std::memcpy(fresh.type, desc + kTypeOffset, kTypeSize);
    fresh.mode = desc[kModeOffset];
    fresh.size = LoadLE32(desc + kSizeOffset);
    fresh.whole = 0;
    Rebuild(fresh, rebuilt, desc + kNameOffset);
    const bool whole = std::memcmp(rebuilt, desc, kDescriptorSize) != 0;
    const size_t room = old.whole ? kDescriptorSize : old.nameLength;
    const size_t need = whole ? kDescriptorSize : fresh.nameLength;
    if (need <= room) {
        std::memcpy(names_.At(old.at), desc, need);
        fresh.whole = whole;
        slot = fresh;
    } else if (Keep(fresh, desc)) {
        slot = fresh;
    } else {
        // The name store is full (4 GiB of names, which no file below a
        // terabyte fills): the old fields stay.
        slot = old;
    }
    Insert(j);
    window_.Invalidate();
}

long long PackageIndex::AfterScanStart(uint64_t start) {
    if (start == kFirstEntry) {
        hint_ = 0;
        return 0;
    }
    const size_t n = slots_.size();
    // Walks ask for the entry after the one they saw last.
    if (hint_ < n && slots_[hint_].Resume() == start) return static_cast<long long>(++hint_);
    size_t lo = 0, hi = n;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (slots_[mid].Resume() < start)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == n || slots_[lo].Resume() != start) return -1;
    hint_ = lo + 1;
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
    const uint8_t tag = Tag(h);
    for (size_t pos = static_cast<size_t>(h) & mask; buckets_[pos] != 0; pos = (pos + 1) & mask) {
        const uint32_t b = buckets_[pos];
        if (b == kRemoved || tags_[pos] != tag) continue;
        const size_t j = static_cast<size_t>(b) - 1;
        const char* n;
        const char* t;
        size_t nl, tl;
        PairOf(slots_[j], n, nl, t, tl);
        if (nl == nameLength && tl == typeLength && std::memcmp(n, name, nameLength) == 0 &&
            std::memcmp(t, type, typeLength) == 0 && (first < 0 || static_cast<long long>(j) < first))
            first = static_cast<long long>(j);
    }
    return first;
}

}  // namespace vlt
