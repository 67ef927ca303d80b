#include "core/FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
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
    if (::fstat(fd, &st) != 0) err = errno;
    else if (S_ISDIR(st.st_mode)) err = EISDIR;
    else if (!S_ISREG(st.st_mode)) err = EINVAL;
    else if (!ClearNonBlock(fd)) err = errno;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

}  // namespace files
