#include "core/FileLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Log.h"

namespace {

// flock, resumed when a signal interrupts the wait.
int FlockRetrying(int fd, int operation) {
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    return r;
}

// Who may open a new lock file: whoever may read or write the locked file
// (or, for a file not made yet, the new file's mode, less the umask, which
// the lock file was made with), in the locked file's group where the taker
// belongs to it. Best effort: a lock file that keeps its first mode still
// serves its maker's kind of user.
void ShareLockFile(int fd, const std::string& path) {
    struct stat locked;
    const bool exists = ::stat(path.c_str(), &locked) == 0;
    if (!exists && ::fstat(fd, &locked) != 0) return;
    const mode_t m = locked.st_mode;
    const mode_t mode = 0400 | (m & 0444) | ((m & 0222) << 1);
    if (exists) (void)::fchown(fd, static_cast<uid_t>(-1), locked.st_gid);
    ::fchmod(fd, mode & 0444);
}

// Opens (making it when needed) the lock file for reading: -1 with errno on failure.
int OpenLockFile(const std::string& lockPath, const std::string& path) {
    // O_NOFOLLOW: a link planted under the lock name is not followed to
    // create or lock a file elsewhere.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(lockPath.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            ShareLockFile(fd, path);
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = ::open(lockPath.c_str(), kFlags);
        if (fd >= 0 || errno != ENOENT) return fd;
        // Removed by its releaser in between: make it again.
    }
    return -1;
}

}  // namespace

std::string FileLock::ShortName(const std::string& name, size_t room) {
    if (name.size() <= room) return name;
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char tail[16];
    std::snprintf(tail, sizeof tail, "~%08x", static_cast<unsigned>(hash));
    size_t keep = room > 9 ? room - 9 : 0;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + tail;
}

std::string FileLock::LockPathOf(const std::string& path) {
    static const std::string kSuffix = ".lock";
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, start) + ShortName(path.substr(start), NAME_MAX - kSuffix.size()) + kSuffix;
}

int FileLock::Acquire(const std::string& path, bool wait, WaitNotice notice, void* context) {
    if (held()) return kLocked;
    error_ = 0;
    const std::string lockPath = LockPathOf(path);
    bool noticed = false;
    for (;;) {
        const int fd = OpenLockFile(lockPath, path);
        if (fd < 0) {
            error_ = errno;
            LOG_PRINT(0, " . [FileLock->Acquire('%s')] Error: the lock file could not be made: %s\n", lockPath.c_str(),
                      strerror(error_));
            return kFailed;
        }
        if (FlockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                error_ = errno;
                ::close(fd);
                LOG_PRINT(0, " . [FileLock->Acquire('%s')] Error: %s\n", lockPath.c_str(), strerror(error_));
                return kFailed;
            }
            if (!wait) {
                ::close(fd);
                return kBusy;
            }
            if (!noticed && notice) notice(context, path.c_str());
            noticed = true;
            if (FlockRetrying(fd, LOCK_EX) != 0) {
                error_ = errno;
                ::close(fd);
                LOG_PRINT(0, " . [FileLock->Acquire('%s')] Error: %s\n", lockPath.c_str(), strerror(error_));
                return kFailed;
            }
        }
        // The previous holder may have removed the name between our open and
        // our lock: then we hold a lock on a file nobody else will find.
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::lstat(lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd_ = fd;
            lockPath_ = lockPath;
            return kLocked;
        }
        ::close(fd);
    }
}

void FileLock::Release() {
    if (!held()) return;
    // Remove the name first: whoever opens it after this creates a new file.
    ::unlink(lockPath_.c_str());
    ::close(fd_);
    fd_ = -1;
    lockPath_.clear();
}
