// One writer at a time: an exclusive lock that a writer of a file holds
// from before it reads the file until its new version is in place.
//
// The lock is flock(2) on a lock file beside the locked file, named after
// it with ".lock" added ("game.vlt.lock"; a name too long for that is
// shortened, see ShortName). The lock file is opened for reading only, which
// is all flock needs, and is made readable by whoever may read or write the
// locked file, in its group where the taker may: every user who may write
// the file can take the lock or wait for it, whoever made the lock file, and
// a lock file left by another user's dead writer blocks nobody. The lock file is removed when
// the lock is released, without a race: a taker that got the lock checks
// afterwards that the name still leads to the file it locked (a releaser
// may have removed it in between), and starts again with a new file when
// it does not; a releaser removes the name before it unlocks. A lock file
// left by a process that died is harmless: the kernel released its lock
// with the process, and the next taker takes it over.
#pragma once
#include <string>

class FileLock {
public:
    // Results of Acquire.
    static constexpr int kLocked = 1;   // the lock is held
    static constexpr int kBusy = 0;     // another holder has it, and wait was false
    static constexpr int kFailed = -1;  // the lock file could not be made or locked (errno in error())

    // Called once, before Acquire starts waiting for another holder.
    using WaitNotice = void (*)(void* context, const char* lockedPath);

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock of path (the file to be written, which need not exist).
    // With wait, blocks until the holder releases it; without, answers
    // kBusy at once. Taking a lock already held by this object is kLocked.
    int Acquire(const std::string& path, bool wait, WaitNotice notice = nullptr, void* context = nullptr);
    // Removes the lock file and unlocks; nothing when not held.
    void Release();

    bool held() const { return fd_ >= 0; }
    int error() const { return error_; }
    // The lock file's path while held (for clean-up code that cannot call
    // Release, such as a signal handler); empty otherwise.
    const std::string& lockPath() const { return lockPath_; }
    static std::string LockPathOf(const std::string& path);
    // A file name that fits in room bytes: name itself when it does, else
    // its beginning (not cut inside a UTF-8 character), '~' and eight hex
    // digits of a hash of the whole name, so that names sharing a long
    // beginning still differ. For names derived from a file's name by
    // adding a suffix, where the result must stay within NAME_MAX.
    static std::string ShortName(const std::string& name, size_t room);

private:
    int fd_ = -1;
    int error_ = 0;
    std::string lockPath_;
};
