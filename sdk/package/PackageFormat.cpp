// File-level helpers of the package format: header blocks, dates, checked
// reads and writes, the checksum and the block compression.
#include "package/PackageFormat.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include <SDL.h>
#include <ucl/ucl.h>
#include <ucl/uclconf.h>
#include <zlib.h>

#include "core/Endian.h"
#include "core/FileAccess.h"
#include "core/SourceDate.h"
#include "core/Trovalis.h"
#include "package/PackageCipher.h"

namespace vlt {

const uint8_t kMarker[kMarkerSize] = {0xB7, 0xAE, 0xCE, 'B', 'l', 'o',  'c',  'k',
                                      '-',  'D',  'a',  't', 'a', 0xCE, 0xAF, 0xB7};

void CurrentDate(uint8_t* field) {
    std::memset(field, 0, kDateSize);
    time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) {
        const std::string text = reproducible::DateText();
        std::memcpy(field, text.data(), text.size() < kDateSize - 1 ? text.size() : kDateSize - 1);
        return;
    }
    const time_t now = time(nullptr);
    struct tm local;
    char text[64] = {};
    if (!localtime_r(&now, &local) || !asctime_r(&local, text)) return;
    size_t n = strnlen(text, sizeof text);
    if (n && text[n - 1] == '\n') --n;
    if (n > kDateSize - 1) n = kDateSize - 1;
    std::memcpy(field, text, n);
}

void BuildHeader(uint8_t header[kHeaderSize], const char* creator, const char* created) {
    std::memset(header, 0, kHeaderSize);
    const char* maker = creator ? creator : Trovalis.MakerLine();
    std::memcpy(header + kCreatorOffset, maker, strnlen(maker, kCreatorSize - 1));
    CurrentDate(header + kModifiedOffset);
    if (created)
        std::memcpy(header + kCreatedOffset, created, strnlen(created, kDateSize - 1));
    else
        std::memcpy(header + kCreatedOffset, header + kModifiedOffset, kDateSize);
    time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) {
        FillFiller(header, 0);  // the checksum of no entries
        return;
    }
    srand(SDL_GetTicks());
    for (size_t i = 0; i < kFillerSize; ++i) header[kFillerOffset + i] = static_cast<uint8_t>(rand() % 255);
}

void FillFiller(uint8_t header[kHeaderSize], uint32_t crc) {
    uint32_t state = reproducible::Seed(&crc, sizeof crc);
    for (size_t i = 0; i < kFillerSize; ++i)
        header[kFillerOffset + i] = static_cast<uint8_t>(reproducible::Next(state) % 255);
}

void SealHeader(uint8_t header[kHeaderSize], uint32_t crc) {
    CurrentDate(header + kModifiedOffset);
    StoreLE32(header + kChecksumOffset, crc);
    time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) FillFiller(header, crc);
}

bool ChecksumFromHere(int fd, uint64_t length, uint32_t& crc) {
    // A piece small enough to stay in the cache and to come from the heap
    // rather than from fresh pages; it is read into before it is used.
    constexpr size_t kPiece = 64 * 1024;
    const size_t pieceSize = static_cast<size_t>(length < kPiece ? length : kPiece);
    std::unique_ptr<uint8_t[]> piece(new uint8_t[pieceSize ? pieceSize : 1]);
    uLong c = crc32(0L, Z_NULL, 0);
    while (length) {
        const size_t want = static_cast<size_t>(length < pieceSize ? length : pieceSize);
        const long long got = files::ReadUpTo(fd, piece.get(), want);
        if (got < 0) return false;
        if (static_cast<size_t>(got) < want) {
            errno = 0;
            return false;
        }
        c = crc32(c, piece.get(), static_cast<uInt>(got));
        length -= want;
    }
    crc = static_cast<uint32_t>(c);
    return true;
}

bool RewriteHeader(int fd, const PackageCipher& internal, std::string& error, const uint32_t* knownCrc,
                   uint64_t knownLength) {
    uint8_t stored[kHeaderSize];
    if (files::ReadUpToAt(fd, stored, kHeaderSize, kHeadSize) != static_cast<long long>(kHeaderSize)) {
        error = "the header block could not be read";
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < kFirstEntry ||
        lseek(fd, static_cast<off_t>(kFirstEntry), SEEK_SET) < 0) {
        error = strerror(errno);
        return false;
    }
    uint32_t crc = 0;
    const uint64_t length = static_cast<uint64_t>(st.st_size);
    if (knownCrc && length == knownLength) {
        crc = *knownCrc;
    } else if (!ChecksumFromHere(fd, length - kFirstEntry, crc)) {
        error = errno ? strerror(errno) : "the file ends early";
        return false;
    }
    uint8_t header[kHeaderSize];
    std::memcpy(header, stored, kHeaderSize);
    internal.Decipher(header, kHeaderSize);
    SealHeader(header, crc);
    internal.Encipher(header, kHeaderSize);
    if (!files::WriteAllAt(fd, header, kHeaderSize, kHeadSize)) {
        error = strerror(errno);
        files::WriteAllAt(fd, stored, kHeaderSize, kHeadSize);  // best effort: the old header back
        return false;
    }
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = strerror(errno);
        return false;
    }
    return true;
}

namespace {

// The NRV2B compressor allocates and frees about 800 KiB of work tables on
// every call; fresh from the system each time, their page faults cost more
// than compressing a small block. These hooks keep a few freed work blocks
// for the next call. Every block carries its capacity in front of it.
class WorkBlockPool {
public:
    // A thread takes back first the blocks it freed itself: they are still in
    // its core's cache, where a block last used by another thread is not.
    static void* Allocate(ucl_uint n) {
        Shelf* local = Local();
        if (void* p = local ? local->Take(n) : nullptr) return p;
        WorkBlockPool& pool = Get();
        {
            std::lock_guard<std::mutex> lock(pool.mutex_);
            if (void* p = pool.shelf_.Take(n)) return p;
        }
        auto* raw = static_cast<uint8_t*>(std::malloc(size_t(n) + kPrefix));
        if (!raw) return nullptr;
        std::memcpy(raw, &n, sizeof n);
        return raw + kPrefix;
    }
    static void Free(void* p) {
        if (!p) return;
        auto* raw = static_cast<uint8_t*>(p) - kPrefix;
        ucl_uint n;
        std::memcpy(&n, raw, sizeof n);
        Shelf* local = Local();
        if (local && local->Put(p, n)) return;
        WorkBlockPool& pool = Get();
        std::lock_guard<std::mutex> lock(pool.mutex_);
        if (!pool.shelf_.Put(p, n)) std::free(raw);
    }
    // The calling thread's blocks and the shared ones; a worker's own go when
    // it ends.
    static void Release() {
        if (t_shelf) t_shelf->Clear();
        WorkBlockPool& pool = Get();
        std::lock_guard<std::mutex> lock(pool.mutex_);
        pool.shelf_.Clear();
    }
    // Checked before every compression: ucl_init may have put the default
    // hooks back. The hooks only ever change between two compressions, so a
    // block is always freed by the hook that allocated it.
    static void Install() {
        ucl_malloc_hook_t a = nullptr;
        ucl_free_hook_t f = nullptr;
        ucl_get_malloc_hooks(&a, &f);
        if (a != &Allocate || f != &Free) ucl_set_malloc_hooks(&Allocate, &Free);
    }

private:
    static constexpr size_t kPrefix = 16;
    static constexpr int kKept = 8;
    // Up to kKept freed blocks, each with its capacity.
    class Shelf {
    public:
        Shelf() = default;
        Shelf(const Shelf&) = delete;
        Shelf& operator=(const Shelf&) = delete;
        ~Shelf() { Clear(); }
        // The smallest kept block of at least n bytes, or null.
        void* Take(ucl_uint n) {
            int best = -1;
            for (int i = 0; i < count_; ++i)
                if (capacity_[i] >= n && (best < 0 || capacity_[i] < capacity_[best])) best = i;
            if (best < 0) return nullptr;
            void* p = blocks_[best];
            --count_;
            blocks_[best] = blocks_[count_];
            capacity_[best] = capacity_[count_];
            return p;
        }
        bool Put(void* p, ucl_uint n) {
            if (count_ == kKept) return false;
            blocks_[count_] = p;
            capacity_[count_] = n;
            ++count_;
            return true;
        }
        void Clear() {
            for (int i = 0; i < count_; ++i) std::free(static_cast<uint8_t*>(blocks_[i]) - kPrefix);
            count_ = 0;
        }

    private:
        void* blocks_[kKept] = {};
        ucl_uint capacity_[kKept] = {};
        int count_ = 0;
    };
    static WorkBlockPool& Get() {
        static WorkBlockPool pool;  // never destroyed before the hooks' last use
        return pool;
    }
    // The calling thread's shelf; null once the thread's own objects are
    // gone (at exit, where the package manager may still be closing).
    struct LocalShelf {
        Shelf shelf;
        LocalShelf() { t_shelf = &shelf; }
        ~LocalShelf() {
            t_shelf = nullptr;
            t_ended = true;
        }
    };
    static thread_local Shelf* t_shelf;
    static thread_local bool t_ended;
    static Shelf* Local() {
        if (t_ended) return nullptr;
        thread_local LocalShelf local;
        return &local.shelf;
    }
    std::mutex mutex_;
    Shelf shelf_;
};

thread_local WorkBlockPool::Shelf* WorkBlockPool::t_shelf = nullptr;
thread_local bool WorkBlockPool::t_ended = false;

}  // namespace

void ReleaseCompressorMemory() { WorkBlockPool::Release(); }

void PrepareCompressor() { WorkBlockPool::Install(); }

bool CompressBlock(const uint8_t* data, uint32_t size, PackedBytes& out) {
    WorkBlockPool::Install();
    // UCL's bound for the worst case; left uninitialised, so that only the
    // pages the compressor writes are ever taken from the system.
    const uint64_t capacity = uint64_t(size) + size / 8 + 256;
    out.data.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity))));
    out.size = 0;
    if (!out.data) return false;
    ucl_uint outLen = static_cast<ucl_uint>(capacity);
    static const uint8_t kNothing = 0;
    const int r =
        ucl_nrv2b_99_compress(data ? data : &kNothing, size, out.data.get(), &outLen, nullptr, 6, nullptr, nullptr);
    if (r != UCL_E_OK || outLen > capacity) {
        out.data.reset();
        return false;
    }
    // Giving back the unused end keeps the buffer at the packed length.
    if (void* fitted = std::realloc(out.data.get(), outLen ? outLen : 1)) {
        out.data.release();
        out.data.reset(static_cast<uint8_t*>(fitted));
    }
    out.size = outLen;
    return true;
}

bool CompressBlock(const uint8_t* data, uint32_t size, std::vector<uint8_t>& out) {
    PackedBytes packed;
    if (!CompressBlock(data, size, packed)) return false;
    out.assign(packed.data.get(), packed.data.get() + packed.size);
    return true;
}

bool DecompressPadded(const uint8_t* packed, uint32_t packedSize, uint8_t* out, uint32_t size) {
    ucl_uint outLen = size;
    uint8_t dummy = 0;
    const int r = ucl_nrv2b_decompress_safe_8(packed, packedSize, out ? out : &dummy, &outLen, nullptr);
    return r == UCL_E_OK && outLen == size;
}

bool DecompressBlock(const uint8_t* packed, uint32_t packedSize, uint8_t* out, uint32_t size) {
    // The safe decoder checks its input position only after fetching the
    // next byte of flag bits or of a match offset, so on a cut-short stream
    // it reads a few bytes past the end before it fails. Those must be ours.
    std::vector<uint8_t> input(size_t(packedSize) + kDecompressSlack, 0);
    if (packedSize) std::memcpy(input.data(), packed, packedSize);
    return DecompressPadded(input.data(), packedSize, out, size);
}

}  // namespace vlt
