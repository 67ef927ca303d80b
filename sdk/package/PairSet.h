// A compact set of block names and types.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vlt {

// Short byte strings (names) kept one after the other in chunks that never
// move, so that a growing store never holds two copies; a string never
// spans two chunks.
class ByteStore {
public:
    static constexpr size_t kChunk = 64 * 1024;
    // Copies n bytes (n <= 255); false when the store is full (positions
    // are 32-bit: it ends below 4 GiB).
    bool Add(const uint8_t* bytes, size_t n, uint32_t& at);
    const uint8_t* At(uint32_t at) const { return chunks_[at / kChunk].get() + at % kChunk; }
    uint8_t* At(uint32_t at) { return chunks_[at / kChunk].get() + at % kChunk; }
    void Clear();

private:
    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
    size_t used_ = kChunk;  // in the last chunk
};

// A set of (name, type) pairs, as a block's name (at most 32 bytes) and type
// text (at most 8) are compared: up to their first NUL. Each pair gets a
// number, 0 for the first added and so on, for values kept beside the set.
// About 20 bytes a pair and its name, instead of a node and a string of its own.
class PairSet {
public:
    // The pair's number; added tells whether it was new. -1 when the set
    // cannot grow (4 GiB of names).
    long long Add(const char* name, const char* type, bool* added = nullptr);
    // The pair's number, or -1.
    long long Find(const char* name, const char* type) const;
    size_t size() const { return at_.size(); }
    void Clear();

private:
    bool Same(size_t n, const char* name, size_t nameLength, const char* type, size_t typeLength) const;
    void Rehash(size_t count);

    ByteStore bytes_;                // per pair: name length, type length, name, type
    std::vector<uint32_t> at_;       // per number: where its bytes are
    std::vector<uint32_t> buckets_;  // number + 1, 0 for empty
    std::vector<uint8_t> tags_;      // the top byte of the hash of each bucket's pair
};

// FNV-1a over the name, a NUL and the type, then a final mix, so that the
// low bits (a bucket) and the high bits (a tag kept in the bucket) both
// depend on every byte.
uint64_t PairHash(const char* name, size_t nameLength, const char* type, size_t typeLength);

}  // namespace vlt
