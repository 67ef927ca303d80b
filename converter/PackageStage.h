// Import never writes into the user's package in place: a package's checksum
// is rewritten only when it is closed, so an import that is interrupted
// (killed, disk full, power cut) would leave a package that no longer opens.
// The import works on a new file beside the target instead, a copy of the
// target when one exists, and puts it in place with an atomic rename only
// after it has been closed and opens again; on any failure the target is
// left exactly as it was and the working file is removed.
//
// The working file is named after the target and the process
// ("game.vlt.importing-PID.vlt"; a target name too long for that is
// shortened). A target that is a symbolic link to a package is written at
// the link's target, and the link stays. A fatal signal during the stage (a crash,
// Ctrl-C, kill, hang-up) removes it before the process ends; one left anyway
// (killed outright, power cut) is removed by the next stage on the same
// target, once no process with that id exists.
//
// Every command that writes a package goes through a stage, and a stage is
// one writer at a time: Begin takes the target's lock (core/FileLock.h)
// before it reads the target, and the lock is held until the new file is in
// place or the stage is abandoned. A second writer waits for the first (and
// says so once on the console) or, told not to wait, fails.
//
// Commands that only leave entries out (--compact, --delete) need no copy:
// a stage begun without one opens the target itself, never writes to it,
// and CommitLive writes the live entries to the new file directly.
#pragma once
#include <string>

#include "core/FileLock.h"
#include "package/IStuffVLT.h"

// While it lives, a fatal signal (Ctrl-C, kill, hang-up, a closed pipe, a
// crash) removes the folder at path and everything in it before the process
// ends, as a stage removes its working files. One folder at a time: a second
// object while one lives arms nothing.
class SignalCleanupFolder {
public:
    explicit SignalCleanupFolder(const std::string& path);
    ~SignalCleanupFolder();
    SignalCleanupFolder(const SignalCleanupFolder&) = delete;
    SignalCleanupFolder& operator=(const SignalCleanupFolder&) = delete;

private:
    bool armed_ = false;
};

class PackageStage {
public:
    // Why Begin failed.
    enum class Failure { None, Busy, ReadOnly, Lock, Missing, Copy, Open };

    PackageStage() = default;
    ~PackageStage();  // an uncommitted stage is abandoned
    PackageStage(const PackageStage&) = delete;
    PackageStage& operator=(const PackageStage&) = delete;

    // Waiting for another writer: wait (the default) or fail at once with
    // Failure::Busy; the notice goes to standard error instead of standard
    // output when toStderr (a command whose standard output is JSON).
    void SetLockWait(bool wait, bool toStderr) {
        wait_ = wait;
        noticeToStderr_ = toStderr;
    }

    // Takes the lock, makes the working file and opens it as a package: the
    // package id, or below 1 on failure (nothing is left behind then, and
    // failure() says why). With copy false the target must exist and is
    // opened itself, for reading only (a 3.0 target is still copied, since
    // opening upgrades it); with mustExist a missing target is a failure
    // instead of a new package.
    int Begin(const std::string& target, bool copy = true, bool mustExist = false);
    // Closes the package, checks that the result opens as a package, flushes
    // it to disk and renames it over the target. False on any failure, with
    // the target untouched and the working file removed.
    bool Commit();
    // Writes the open package's live entries that keep accepts to a new file
    // (IStuffVLT::WriteLive), checks that it opens, flushes it and renames it
    // over the target; the working copy, if any, is removed. The new file
    // takes the target's permissions. False on any failure, target untouched.
    // rank, when given, orders the entries (IStuffVLT::RankEntry).
    bool CommitLive(IStuffVLT::KeepEntry keep = nullptr, void* context = nullptr, uint64_t* length = nullptr,
                    IStuffVLT::RankEntry rank = nullptr);
    // Closes the package and removes the working file.
    void Abandon();

    const std::string& WorkPath() const { return work_; }
    Failure failure() const { return failure_; }
    // A sentence (without its full stop) saying why Begin failed.
    std::string FailureText() const;
    // Why the last Commit or CommitLive failed, as " (cause)" after the
    // words that say it failed, when a system call said why; else empty.
    std::string CommitCause() const;

private:
    void RemoveBackup();
    void Finish();  // disarms the signal handlers and releases the lock
    // Checks (when reopen: that it opens), flushes and renames file over the target.
    bool PutInPlace(const std::string& file, bool reopen);
    std::string NewWorkName() const;

    std::string target_;
    std::string workBackup_;  // where a 3.0 upgrade of the copy keeps its original
    std::string work_;        // the working copy; empty for a stage without one
    std::string live_;        // CommitLive's new file
    FileLock lock_;
    int id_ = 0;
    int lockError_ = 0;
    int copyError_ = 0;
    int commitError_ = 0;
    bool active_ = false;
    bool wait_ = true;
    bool noticeToStderr_ = false;
    Failure failure_ = Failure::None;
};
