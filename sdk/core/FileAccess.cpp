#include "core/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace files {

namespace {

// O_NONBLOCK only keeps the open itself from waiting; the reads and writes
// that follow are ordinary blocking ones.
bool ClearNonBlock(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

bool SingleRegular(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

}  // namespace

int OpenForWriting(const char* path, mode_t mode) {
    if (!path || !*path) {
        errno = ENOENT;
        return -1;
    }
    // Each round looks at the name, then opens it so that the open fails
    // rather than follows whatever may have been put there in between; a
    // name that changed under us is looked at again, a few times at most.
    for (int round = 0; round < 4; ++round) {
        struct stat st;
        bool fresh = true;
        if (::lstat(path, &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return -1;
            }
            if (SingleRegular(st)) {
                fresh = false;
            } else if (::unlink(path) != 0 && errno != ENOENT) {
                return -1;
            }
        } else if (errno != ENOENT) {
            return -1;
        }
        const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (fresh ? O_EXCL : 0);
        const int fd = ::open(path, flags, mode);
        if (fd < 0) {
            if (errno == EEXIST || errno == ELOOP) continue;  // something was put there meanwhile
            return -1;
        }
        struct stat got;
        if (::fstat(fd, &got) != 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        if (!SingleRegular(got)) {  // swapped between the look and the open
            ::close(fd);
            continue;
        }
        if (::ftruncate(fd, 0) != 0 || !ClearNonBlock(fd)) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

FILE* OpenStreamForWriting(const char* path, mode_t mode) {
    const int fd = OpenForWriting(path, mode);
    if (fd < 0) return nullptr;
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        const int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

namespace {

// One loop for both writes: offset < 0 writes at the file position.
bool WriteLoop(int fd, const void* data, size_t size, long long offset) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, p, size) : ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        if (offset >= 0) offset += n;
    }
    return true;
}

// One loop for both reads: offset < 0 reads at the file position.
long long ReadLoop(int fd, void* data, size_t size, long long offset) {
    char* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        const ssize_t n =
            offset < 0 ? ::read(fd, p + got, size - got)
                       : ::pread(fd, p + got, size - got, static_cast<off_t>(offset + static_cast<long long>(got)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<long long>(got);
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size) { return WriteLoop(fd, data, size, -1); }

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return false;
    }
    return WriteLoop(fd, data, size, static_cast<long long>(offset));
}

long long ReadUpTo(int fd, void* data, size_t size) { return ReadLoop(fd, data, size, -1); }

long long ReadUpToAt(int fd, void* data, size_t size, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return -1;
    }
    return ReadLoop(fd, data, size, static_cast<long long>(offset));
}

bool ReadToEnd(int fd, std::vector<uint8_t>& out, uint64_t limit) {
    out.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    const off_t here = S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_CUR) : -1;
    const uint64_t expect = here >= 0 && st.st_size > here ? static_cast<uint64_t>(st.st_size - here) : 0;
    return ReadExpected(fd, expect, out, limit, here >= 0 && st.st_size >= here);
}

bool ReadExpected(int fd, uint64_t expect, std::vector<uint8_t>& out, uint64_t limit, bool regular) {
    out.clear();
    if (expect > limit) {
        errno = EFBIG;
        return false;
    }
    // Read what the size promised, then on in small steps whatever the size
    // said; the caller gets exactly what was read. A regular file's read
    // returns less than it asks for only at the file's end, so one byte asked
    // beyond the size tells in the same read whether the file ends there.
    out.resize(static_cast<size_t>(expect) + (regular ? 1 : 0));
    long long first = 0;
    if (regular) {
        ssize_t n;
        do n = ::read(fd, out.data(), out.size());
        while (n < 0 && errno == EINTR);
        first = n;
    } else {
        first = ReadUpTo(fd, out.data(), out.size());
    }
    if (first < 0) return false;
    out.resize(static_cast<size_t>(first));
    if (regular && static_cast<uint64_t>(first) == expect) return true;
    if (out.size() > limit) {
        errno = EFBIG;
        return false;
    }
    // A file that grew or shrank since its size was taken, or a stream, is
    // read on until a read gives nothing. Most of them end where their size
    // said: a small probe finds that without a large buffer for every file.
    uint8_t probe[512];
    std::vector<uint8_t> piece;
    for (;;) {
        uint8_t* into = piece.empty() ? probe : piece.data();
        const long long n = ReadUpTo(fd, into, piece.empty() ? sizeof probe : piece.size());
        if (n < 0) return false;
        if (n == 0) return true;
        if (out.size() + static_cast<uint64_t>(n) > limit) {
            errno = EFBIG;
            return false;
        }
        out.insert(out.end(), into, into + n);
        if (piece.empty()) piece.resize(65536);
    }
}

bool CopyToEnd(int in, int out, bool* readFailed) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const long long n = ReadUpTo(in, buffer.data(), buffer.size());
        if (readFailed) *readFailed = n < 0;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) return false;
    }
}

int OpenRegular(const char* path, int access) {
    if (!path) {
        errno = ENOENT;
        return -1;
    }
    const int fd = ::open(path, access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    else if (!ClearNonBlock(fd))
        err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

}  // namespace files
