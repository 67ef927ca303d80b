// Many short texts held compactly: each is copied, with a NUL after it, into
// blocks of 1 MiB allocated as they fill, and named by a 64-bit handle. A
// million names cost their bytes and a few blocks, and no text is ever moved
// (so nothing is copied when the run grows, and pointers stay valid).
// Texts must not hold NUL.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class TextRun {
public:
    // Copies text (and a NUL) into the run; its handle.
    uint64_t Add(std::string_view text) {
        const size_t need = text.size() + 1;
        if (blocks_.empty() || size_ - used_ < need) {
            size_ = need > kBlock ? need : kBlock;
            blocks_.push_back(std::unique_ptr<char[]>(new char[size_]));  // not zeroed: filled as used
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        std::memcpy(at, text.data(), text.size());
        at[text.size()] = '\0';
        const uint64_t handle = (uint64_t(blocks_.size() - 1) << 32) | used_;
        used_ += need;
        return handle;
    }
    const char* At(uint64_t handle) const { return blocks_[size_t(handle >> 32)].get() + (handle & 0xFFFFFFFFu); }
    std::string_view View(uint64_t handle) const { return At(handle); }
    void Clear() {
        blocks_.clear();
        used_ = size_ = 0;
    }

private:
    static constexpr size_t kBlock = size_t(1) << 20;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0, size_ = 0;  // bytes used in the last block, and its size
};
