// A view over bytes we did not write (block payloads, file contents). Every
// read checks what is left first and fails, copying nothing, when asked for
// more, so a parser never reads past the end of what was actually loaded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Endian.h"

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    size_t remaining() const { return size_ - pos_; }
    size_t position() const { return pos_; }
    const uint8_t* current() const { return data_ + pos_; }

    bool u8(uint8_t& v) {
        if (remaining() < 1) return false;
        v = data_[pos_++];
        return true;
    }
    bool u16le(uint16_t& v) {
        if (remaining() < 2) return false;
        v = LoadLE16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool u32le(uint32_t& v) {
        if (remaining() < 4) return false;
        v = LoadLE32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool bytes(void* dst, size_t n) {
        if (n > remaining()) return false;
        if (n) std::memcpy(dst, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool skip(size_t n) {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }
    bool seek(size_t offset) {
        if (offset > size_) return false;
        pos_ = offset;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Appends little-endian values to a growing buffer; the writing twin of ByteReader.
#include <vector>
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16le(uint16_t v) {
        uint8_t b[2];
        StoreLE16(b, v);
        out_.insert(out_.end(), b, b + 2);
    }
    void u32le(uint32_t v) {
        uint8_t b[4];
        StoreLE32(b, v);
        out_.insert(out_.end(), b, b + 4);
    }
    void bytes(const void* src, size_t n) {
        const uint8_t* p = static_cast<const uint8_t*>(src);
        out_.insert(out_.end(), p, p + n);
    }
    void zeros(size_t n) { out_.insert(out_.end(), n, 0); }

private:
    std::vector<uint8_t>& out_;
};
