// The scan for block entries through a read window, and the index built on it.
#include "package/PackageIndex.h"

#include <algorithm>
#include <cstring>

#include "core/Endian.h"
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
    const long long got = ReadAt(fd_, buf_.data(), want, offset);
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
    byPair_.clear();
    tailStart_ = kFirstEntry;
    complete_ = false;
    endResult_ = 0;
    endShort_ = false;
    hint_ = 0;
    window_.Release();
}

std::string PackageIndex::Key(const char* name, const char* type) {
    std::string key(name, strnlen(name, kNameSize));
    key.push_back('\0');
    key.append(type, strnlen(type, kTypeSize));
    return key;
}

std::string PackageIndex::Key(const uint8_t* desc) {
    return Key(reinterpret_cast<const char*>(desc + kNameOffset), reinterpret_cast<const char*>(desc + kTypeOffset));
}

void PackageIndex::AddKey(const std::string& key, size_t j) {
    std::vector<uint32_t>& list = byPair_[key];
    const uint32_t v = static_cast<uint32_t>(j);
    list.insert(std::lower_bound(list.begin(), list.end(), v), v);
}

void PackageIndex::RemoveKey(const std::string& key, size_t j) {
    auto it = byPair_.find(key);
    if (it == byPair_.end()) return;
    std::vector<uint32_t>& list = it->second;
    auto pos = std::lower_bound(list.begin(), list.end(), static_cast<uint32_t>(j));
    if (pos != list.end() && *pos == j) list.erase(pos);
    if (list.empty()) byPair_.erase(it);
}

void PackageIndex::Extend(const PackageCipher* cipher) {
    if (complete_) return;
    for (;;) {
        IndexEntry e;
        size_t descBytes = 0;
        const FileWindow::Scan s = window_.Next(tailStart_, e.marker, e.desc, descBytes);
        if (s == FileWindow::Scan::Found) {
            if (cipher) cipher->Decipher(e.desc, kDescriptorSize);
            e.packedSize = LoadLE32(e.desc + kPackedOffset);
            tailStart_ = e.resume();
            entries_.push_back(e);
            AddKey(Key(e.desc), entries_.size() - 1);
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

void PackageIndex::Rewrite(size_t j, const uint8_t* desc) {
    if (j >= entries_.size()) return;
    IndexEntry& e = entries_[j];
    RemoveKey(Key(e.desc), j);
    std::memcpy(e.desc, desc, kDescriptorSize);
    // The packed size is part of the scan's path; a rewrite keeps it.
    AddKey(Key(e.desc), j);
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
    auto it = byPair_.find(Key(name, type));
    if (it == byPair_.end() || it->second.empty()) return -1;
    return it->second.front();
}

}  // namespace vlt
