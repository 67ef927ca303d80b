// The set of block names and types, its bytes in chunks.
#include "package/PairSet.h"

#include <cstring>

#include "package/PackageFormat.h"

namespace vlt {

uint64_t PairHash(const char* name, size_t nameLength, const char* type, size_t typeLength) {
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
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

bool ByteStore::Add(const uint8_t* bytes, size_t n, uint32_t& at) {
    // Every string starts inside a chunk, an empty one too (the first, or
    // one at the end of a full chunk).
    if (used_ + n > kChunk || used_ == kChunk) {
        // Positions are 32-bit: the store ends below 4 GiB.
        if ((chunks_.size() + 1) * kChunk > UINT32_MAX) return false;
        chunks_.emplace_back(new uint8_t[kChunk]);
        used_ = 0;
    }
    at = static_cast<uint32_t>((chunks_.size() - 1) * kChunk + used_);
    if (n) std::memcpy(chunks_.back().get() + used_, bytes, n);
    used_ += n;
    return true;
}

void ByteStore::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    used_ = kChunk;
}

long long PairSet::Add(const char* name, const char* type, bool* added) {
    if (added) *added = false;
    const long long found = Find(name, type);
    if (found >= 0) return found;
    const size_t nameLength = strnlen(name, kNameSize);
    const size_t typeLength = strnlen(type, kTypeSize);
    uint8_t record[2 + kNameSize + kTypeSize];
    record[0] = static_cast<uint8_t>(nameLength);
    record[1] = static_cast<uint8_t>(typeLength);
    std::memcpy(record + 2, name, nameLength);
    std::memcpy(record + 2 + nameLength, type, typeLength);
    uint32_t at = 0;
    if (at_.size() >= 0xFFFFFFF0u || !bytes_.Add(record, 2 + nameLength + typeLength, at)) return -1;
    at_.push_back(at);
    const size_t n = at_.size() - 1;
    if (at_.size() * 2 > buckets_.size()) {
        size_t count = 64;
        while (count < at_.size() * 2) count *= 2;
        Rehash(count);  // places n too
    } else {
        const size_t mask = buckets_.size() - 1;
        const uint64_t h = PairHash(name, nameLength, type, typeLength);
        size_t pos = static_cast<size_t>(h) & mask;
        while (buckets_[pos] != 0) pos = (pos + 1) & mask;
        buckets_[pos] = static_cast<uint32_t>(n + 1);
        tags_[pos] = static_cast<uint8_t>(h >> 56);
    }
    if (added) *added = true;
    return static_cast<long long>(n);
}

bool PairSet::Same(size_t n, const char* name, size_t nameLength, const char* type, size_t typeLength) const {
    const uint8_t* r = bytes_.At(at_[n]);
    return r[0] == nameLength && r[1] == typeLength && std::memcmp(r + 2, name, nameLength) == 0 &&
           std::memcmp(r + 2 + nameLength, type, typeLength) == 0;
}

long long PairSet::Find(const char* name, const char* type) const {
    if (buckets_.empty()) return -1;
    const size_t nameLength = strnlen(name, kNameSize);
    const size_t typeLength = strnlen(type, kTypeSize);
    const uint64_t h = PairHash(name, nameLength, type, typeLength);
    const uint8_t tag = static_cast<uint8_t>(h >> 56);
    const size_t mask = buckets_.size() - 1;
    for (size_t pos = static_cast<size_t>(h) & mask; buckets_[pos] != 0; pos = (pos + 1) & mask) {
        if (tags_[pos] != tag) continue;
        const size_t n = static_cast<size_t>(buckets_[pos]) - 1;
        if (Same(n, name, nameLength, type, typeLength)) return static_cast<long long>(n);
    }
    return -1;
}

void PairSet::Rehash(size_t count) {
    std::vector<uint32_t>().swap(buckets_);  // freed before the new ones are made
    buckets_.assign(count, 0);
    tags_.assign(count, 0);
    const size_t mask = count - 1;
    for (size_t n = 0; n < at_.size(); ++n) {
        const uint8_t* r = bytes_.At(at_[n]);
        const char* name = reinterpret_cast<const char*>(r + 2);
        const uint64_t h = PairHash(name, r[0], name + r[0], r[1]);
        size_t pos = static_cast<size_t>(h) & mask;
        while (buckets_[pos] != 0) pos = (pos + 1) & mask;
        buckets_[pos] = static_cast<uint32_t>(n + 1);
        tags_[pos] = static_cast<uint8_t>(h >> 56);
    }
}

void PairSet::Clear() {
    bytes_.Clear();
    std::vector<uint32_t>().swap(at_);
    std::vector<uint32_t>().swap(buckets_);
    std::vector<uint8_t>().swap(tags_);
}

}  // namespace vlt
