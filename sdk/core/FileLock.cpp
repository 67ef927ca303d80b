#include "core/FileLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

int FileLock::Acquire(const std::string& path, bool wait, WaitNotice notice, void* context) {
    if (held()) return kLocked;
    error_ = 0;
    const std::string lockPath = LockPathOf(path);
    bool noticed = false;
    for (;;) {
        // O_NOFOLLOW: a link planted under the lock name is not followed to
        // create or lock a file elsewhere.
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
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
