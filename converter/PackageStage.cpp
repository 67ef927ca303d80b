#include "PackageStage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "SafeText.h"
#include "core/FileAccess.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"

namespace {

// Gives a new file the permission bits, group and (for the superuser) owner
// of the file it replaces, as far as the user may: a package shared through
// its group stays shared. A new file takes the umask otherwise, so its
// permission bits are set whatever the umask.
bool KeepAccessOf(int fd, const struct stat& st) {
    (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);  // not a member of the group: the user's own
    if (::geteuid() == 0) (void)::fchown(fd, st.st_uid, static_cast<gid_t>(-1));
    return ::fchmod(fd, st.st_mode & 0777) == 0;
}

// Copies src into the new file dst (which must not exist yet), keeping the
// source's permission bits and group: 1, else 0 when src is no regular file
// that can be read, or -1 when the copy could not be made or written, with
// dst removed and errno set.
int CopyNewFile(const std::string& src, const std::string& dst) {
    const int in = files::OpenRegular(src.c_str(), O_RDONLY);
    if (in < 0) return 0;
    struct stat st;
    if (::fstat(in, &st) != 0) {
        ::close(in);
        return 0;
    }
    const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        errno = err;
        return -1;
    }
    bool readFailed = false;
    bool ok = KeepAccessOf(out, st) && files::CopyToEnd(in, out, &readFailed);
    int err = errno;
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) ::unlink(dst.c_str());
    errno = err;
    return ok ? 1 : readFailed ? 0 : -1;
}

bool SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

void SyncDirectoryOf(const std::string& path) {
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (dir.empty()) dir = ".";
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename itself is what must be atomic
    ::close(fd);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The working files of the stage in progress, and the temporary folder of a
// command that has one (SignalCleanupFolder), removed when a fatal signal
// ends the process first: an interrupted import would otherwise leave a copy
// of the package behind for every attempt. A closed pipe (SIGPIPE, as for
// "bundlex ... | head -1") ends the process like Ctrl-C. The handler may use
// async-signal-safe calls only, so the names wait in fixed buffers, filled
// before the handlers go in.
constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
char g_workName[PATH_MAX];
char g_backupName[PATH_MAX];
char g_liveName[PATH_MAX];  // CommitLive's new file
char g_lockName[PATH_MAX];  // the lock file: its name goes before the lock does
char g_folderName[PATH_MAX];
struct sigaction g_previous[kSignalCount];
bool g_replaced[kSignalCount];
bool g_installed = false;
volatile sig_atomic_t g_armed = 0;        // the stage's names are to be removed
volatile sig_atomic_t g_folderArmed = 0;  // the folder is to be removed
const PackageStage* g_owner = nullptr;

// Removes everything inside the open folder dir, with system calls only
// (a signal handler's), never following a link; depth bounds the nesting.
void EmptyFolderAt(int dir, int depth) {
    alignas(8) char buf[2048];
    // Entries removed while the folder is read may hide others from the
    // same pass: read it again until a pass removes nothing.
    for (int pass = 0; pass < 64; ++pass) {
        bool removed = false;
        if (::lseek(dir, 0, SEEK_SET) != 0) return;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, dir, buf, sizeof buf);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* e = reinterpret_cast<const struct dirent64*>(buf + at);
                if (e->d_reclen == 0) break;
                at += e->d_reclen;
                const char* name = e->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
                if (::unlinkat(dir, name, 0) == 0) {
                    removed = true;
                    continue;
                }
                if (errno != EISDIR || depth <= 0) continue;
                const int sub = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) continue;
                EmptyFolderAt(sub, depth - 1);
                ::close(sub);
                if (::unlinkat(dir, name, AT_REMOVEDIR) == 0) removed = true;
            }
        }
        if (!removed) return;
    }
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
    const int savedErrno = errno;
    if (g_armed) {
        g_armed = 0;
        if (g_workName[0]) ::unlink(g_workName);
        if (g_backupName[0]) ::unlink(g_backupName);
        if (g_liveName[0]) ::unlink(g_liveName);
        if (g_lockName[0]) ::unlink(g_lockName);
    }
    if (g_folderArmed) {
        g_folderArmed = 0;
        const int dir = ::open(g_folderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) {
            EmptyFolderAt(dir, 8);
            ::close(dir);
            ::rmdir(g_folderName);
        }
    }
    // Then the signal takes the course it had before: its previous handler
    // or its default action (in this program, the end of the process). A
    // fault the processor raised comes back by itself when the faulting
    // instruction runs again, in its own context; a sent one (and a closed
    // pipe's) is sent again.
    for (size_t i = 0; i < kSignalCount; ++i)
        if (kFatalSignals[i] == sig) ::sigaction(sig, &g_previous[i], nullptr);
    if (!info || info->si_code <= 0) ::raise(sig);
    errno = savedErrno;
}

bool CopyName(char* to, const std::string& from) {
    if (from.size() >= PATH_MAX) return false;
    std::memcpy(to, from.c_str(), from.size() + 1);
    return true;
}

void InstallHandlers() {
    if (g_installed) return;
    g_installed = true;
    struct sigaction act;
    std::memset(&act, 0, sizeof act);
    act.sa_sigaction = OnFatalSignal;
    act.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&act.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i) {
        g_replaced[i] = false;
        if (::sigaction(kFatalSignals[i], nullptr, &g_previous[i]) != 0) continue;
        // A signal the user chose to ignore (nohup) stays ignored.
        if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN) continue;
        g_replaced[i] = ::sigaction(kFatalSignals[i], &act, nullptr) == 0;
    }
}

// The handlers go when neither a stage nor a folder needs them.
void RemoveHandlersWhenIdle() {
    if (!g_installed || g_armed || g_folderArmed) return;
    for (size_t i = 0; i < kSignalCount; ++i)
        if (g_replaced[i]) ::sigaction(kFatalSignals[i], &g_previous[i], nullptr);
    g_installed = false;
}

// Arms the handlers for one stage; false (nothing armed) when another stage
// holds them or a name does not fit, in which case only the next import's
// clean-up removes what a crash leaves.
bool ArmSignals(const PackageStage* owner, const std::string& work, const std::string& backup,
                const std::string& lock) {
    if (g_owner || !CopyName(g_workName, work) || !CopyName(g_backupName, backup) || !CopyName(g_lockName, lock))
        return false;
    g_liveName[0] = '\0';
    g_owner = owner;
    InstallHandlers();
    g_armed = 1;
    return true;
}

void DisarmSignals(const PackageStage* owner) {
    if (g_owner != owner) return;
    g_armed = 0;
    g_workName[0] = g_backupName[0] = g_liveName[0] = g_lockName[0] = '\0';
    g_owner = nullptr;
    RemoveHandlersWhenIdle();
}

// The handlers remove this file too (or, with an empty name, no longer).
void RemoveOnSignal(const PackageStage* owner, char* slot, const std::string& name) {
    if (g_owner != owner) return;
    if (!CopyName(slot, name)) slot[0] = '\0';
}

// From here on the handlers leave the working backup in place.
void KeepBackupOnSignal(const PackageStage* owner) {
    if (g_owner == owner) g_backupName[0] = '\0';
}

// The beginning of the working file names of the package named targetName:
// the name and ".importing-", with the name shortened when a working name
// (a process id, a "-" and number, ".vlt", and the 3.0 backup's "_v3" in
// place of the dot) would not fit in NAME_MAX.
std::string WorkingPrefix(const std::string& targetName) {
    static const std::string kMark = ".importing-";
    constexpr size_t kRoom = 10 + 4 + 7;
    return FileLock::ShortName(targetName, NAME_MAX - kMark.size() - kRoom) + kMark;
}

// The process id in a working file name of target's, or 0 when name is
// none: target's name, ".importing-", the id, an optional "-" and number,
// then ".vlt". The 3.0 backup of a working file ("..._v3.vlt") is not one:
// a commit whose target already had a backup leaves the replaced original
// under that name.
pid_t WorkingFileOwner(const std::string& targetName, const char* name) {
    const std::string prefix = WorkingPrefix(targetName);
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return 0;
    const char* p = name + prefix.size();
    long pid = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        if (digits == 9) return 0;
        pid = pid * 10 + (*p - '0');
    }
    if (digits == 0 || pid < 1) return 0;
    if (*p == '-') {
        const char* n = ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (p == n) return 0;
    }
    return std::strcmp(p, ".vlt") == 0 ? static_cast<pid_t>(pid) : 0;
}

// Removes the working files that imports into target left behind when their
// process ended without finishing them (killed outright, power cut): those
// whose process no longer exists. A process that exists, even an unrelated
// one that took the number over, keeps its files.
void RemoveStaleWorkingFiles(const std::string& target) {
    const std::filesystem::path t(target);
    const std::string targetName = t.filename().string();
    std::string dir = t.parent_path().string();
    if (dir.empty()) dir = ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const pid_t pid = WorkingFileOwner(targetName, e->d_name);
        if (pid == 0 || pid == ::getpid()) continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        const std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(d);
}

// A package the user keeps from being written: a file without write
// permission, or one in a folder without it. Judged by the permission bits
// as well as by access(2), so that a run as the superuser (whom access lets
// write anything on a writable file system) respects them too.
bool IsReadOnly(const std::string& target) {
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (::access(target.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0))
        return true;
    std::string dir = std::filesystem::path(target).parent_path().string();
    if (dir.empty()) dir = ".";
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (::access(dir.c_str(), W_OK | X_OK) != 0 || (st.st_mode & 0222) == 0);
}

// The package a path names: a symbolic link that leads to a regular file
// is followed, so that the package is written where it is (the link stays a
// link) and its lock is the one that writers through its real path take.
// Any other path is taken as given.
std::string ThroughLink(const std::string& target) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return target;
    char* real = ::realpath(target.c_str(), nullptr);
    if (!real) return target;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

struct NoticeTarget {
    FILE* stream;
};

void PrintWaitNotice(void* context, const char* path) {
    FILE* stream = static_cast<const NoticeTarget*>(context)->stream;
    std::fprintf(stream, " - Waiting: another run is writing '%s'...\n", SafeText(path, SafeStyle::Masked).c_str());
    std::fflush(stream);
}

}  // namespace

SignalCleanupFolder::SignalCleanupFolder(const std::string& path) {
    if (g_folderArmed || path.empty() || !CopyName(g_folderName, path)) return;
    armed_ = true;
    InstallHandlers();
    g_folderArmed = 1;
}

SignalCleanupFolder::~SignalCleanupFolder() {
    if (!armed_) return;
    g_folderArmed = 0;
    g_folderName[0] = '\0';
    RemoveHandlersWhenIdle();
}

PackageStage::~PackageStage() {
    if (active_) Abandon();
}

std::string PackageStage::NewWorkName() const {
    // A name of our own beside the target, on the same file system, that
    // names no existing file; it keeps the extension so that names derived
    // from it (the 3.0 backup) stay recognisably ours.
    const std::filesystem::path t(target_);
    const std::string stem =
        (t.parent_path() / WorkingPrefix(t.filename().string())).string() + std::to_string(::getpid());
    for (int n = 0; n < 1000; ++n) {
        const std::string name = (n == 0 ? stem : stem + "-" + std::to_string(n)) + ".vlt";
        if (!Exists(name)) return name;
    }
    return std::string();
}

int PackageStage::Begin(const std::string& target, bool copy, bool mustExist) {
    failure_ = Failure::Open;
    if (active_ || !g_pStuffVLT || target.empty()) return 0;
    target_ = ThroughLink(target);
    work_.clear();
    workBackup_.clear();
    live_.clear();
    if (IsReadOnly(target_)) {
        failure_ = Failure::ReadOnly;
        return 0;
    }
    // The lock comes before anything of the target is read: a writer that
    // read it before another one's rename would write back a package
    // without the other's work.
    const NoticeTarget notice{noticeToStderr_ ? stderr : stdout};
    const int locked = lock_.Acquire(target_, wait_, &PrintWaitNotice, const_cast<NoticeTarget*>(&notice));
    if (locked != FileLock::kLocked) {
        failure_ = locked == FileLock::kBusy ? Failure::Busy : Failure::Lock;
        lockError_ = lock_.error();
        return 0;
    }
    RemoveStaleWorkingFiles(target_);
    const bool exists = Exists(target_);
    if ((!copy || mustExist) && !exists) {
        failure_ = Failure::Missing;
        lock_.Release();
        return 0;
    }
    PackageHead head;
    if (!copy && IStuffVLT::ProbeHead(target_.c_str(), &head) == IStuffVLT::kHeadVersion4) {
        // Read in place: nothing is written to the target.
        ArmSignals(this, "", "", lock_.lockPath());
        id_ = g_pStuffVLT->Open(target_.c_str());
        if (id_ < 1) {
            id_ = 0;
            Finish();
            return 0;
        }
        active_ = true;
        failure_ = Failure::None;
        return id_;
    }
    work_ = NewWorkName();
    if (work_.empty()) {
        lock_.Release();
        return 0;
    }
    // Opening a 3.0 package rebuilds it as 4.0 and keeps the original under
    // a backup name derived from the path that was opened: the copy's.
    workBackup_ = IStuffVLT::UpgradeBackupName(work_.c_str());
    if (Exists(workBackup_)) workBackup_.clear();  // not ours to move or remove
    ArmSignals(this, work_, workBackup_, lock_.lockPath());
    if (exists) {
        const int copied = CopyNewFile(target_, work_);
        if (copied != 1) {
            copyError_ = errno;
            if (copied < 0) failure_ = Failure::Copy;
            Finish();
            return 0;
        }
        id_ = g_pStuffVLT->Open(work_.c_str());
    } else {
        id_ = g_pStuffVLT->Create(work_.c_str());
    }
    if (id_ < 1) {
        ::unlink(work_.c_str());
        RemoveBackup();
        Finish();
        id_ = 0;
        return 0;
    }
    active_ = true;
    failure_ = Failure::None;
    return id_;
}

std::string PackageStage::CommitCause() const {
    return commitError_ ? std::string(" (") + std::strerror(commitError_) + ")" : std::string();
}

std::string PackageStage::FailureText() const {
    switch (failure_) {
        case Failure::None: return std::string();
        case Failure::Busy: return "another run is writing it (and --no-wait was given)";
        case Failure::ReadOnly: return "it is read-only (the file or its folder has no write permission)";
        case Failure::Lock: return std::string("its lock file could not be made (") + std::strerror(lockError_) + ")";
        case Failure::Missing: return "there is no such package";
        case Failure::Copy:
            return std::string("it could not be copied for the rewrite (") + std::strerror(copyError_) + ")";
        case Failure::Open: break;
    }
    return "it could not be opened or copied";
}

void PackageStage::Finish() {
    DisarmSignals(this);
    lock_.Release();
}

bool PackageStage::Commit() {
    commitError_ = 0;
    if (!active_) return false;
    if (work_.empty()) return CommitLive();
    // A block whose write failed while it waited for its compression keeps
    // the working file from being put in place.
    if (const int err = g_pStuffVLT->Flush(id_)) {
        commitError_ = err;
        Abandon();
        return false;
    }
    g_pStuffVLT->Close(id_);
    id_ = 0;
    active_ = false;
    return PutInPlace(work_, true);
}

bool PackageStage::CommitLive(IStuffVLT::KeepEntry keep, void* context, uint64_t* length, IStuffVLT::RankEntry rank) {
    if (!active_) return false;
    commitError_ = 0;
    live_ = NewWorkName();
    bool ok = !live_.empty();
    if (ok) {
        commitError_ = g_pStuffVLT->Flush(id_);  // blocks that waited for their compression
        ok = commitError_ == 0;
    }
    if (ok) {
        RemoveOnSignal(this, g_liveName, live_);
        ok = g_pStuffVLT->WriteLive(id_, live_.c_str(), keep, context, length, rank) == 1;
        if (!ok) commitError_ = errno;
    }
    // The package read from: the target itself, closed as it is, or the
    // working copy, which goes without its header being rewritten.
    if (work_.empty()) {
        g_pStuffVLT->Close(id_);
    } else {
        g_pStuffVLT->CloseDiscarding(id_);
        ::unlink(work_.c_str());
        RemoveOnSignal(this, g_workName, "");
    }
    id_ = 0;
    active_ = false;
    struct stat st;
    if (ok && ::stat(target_.c_str(), &st) == 0) {
        const int fd = ::open(live_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        ok = fd >= 0 && KeepAccessOf(fd, st);
        if (!ok) commitError_ = errno;
        if (fd >= 0) ::close(fd);
    }
    if (!ok) {
        if (!live_.empty()) ::unlink(live_.c_str());
        RemoveBackup();
        Finish();
        return false;
    }
    // WriteLive checked every read and write and wrote the checksum of the
    // bytes it wrote: no second reading of the file is needed.
    return PutInPlace(live_, false);
}

bool PackageStage::PutInPlace(const std::string& file, bool reopen) {
    // Close reports nothing: the package is trusted only once it opens again.
    bool ok = true;
    if (reopen) {
        const int check = g_pStuffVLT->Open(file.c_str());
        ok = check >= 1;
        if (ok) g_pStuffVLT->Close(check);
    }
    if (ok && !SyncFile(file)) {
        ok = false;
        commitError_ = errno;
    }
    // The 3.0 original, which the target still holds and the working copy
    // was upgraded from, takes the backup name the target itself would have
    // given it. It moves before the target is replaced, and from then on a
    // crash leaves it alone: it may be the only copy of the original.
    std::string movedBackup;
    if (ok && !workBackup_.empty() && Exists(workBackup_)) {
        const std::string backup = IStuffVLT::UpgradeBackupName(target_.c_str());
        if (!Exists(backup) && ::rename(workBackup_.c_str(), backup.c_str()) == 0) movedBackup = backup;
        KeepBackupOnSignal(this);
    }
    if (ok && ::rename(file.c_str(), target_.c_str()) != 0) {
        ok = false;
        commitError_ = errno;
    }
    if (!ok) {
        ::unlink(file.c_str());
        if (!movedBackup.empty()) ::unlink(movedBackup.c_str());  // a copy: the target is unchanged
        RemoveBackup();
        Finish();
        return false;
    }
    // Only now: until the rename, a crash must still remove the working file.
    DisarmSignals(this);
    SyncDirectoryOf(target_);
    lock_.Release();
    return true;
}

void PackageStage::RemoveBackup() {
    // The backup of a copy is a copy as well: the target still holds it.
    if (!workBackup_.empty()) ::unlink(workBackup_.c_str());
}

void PackageStage::Abandon() {
    if (!active_) return;
    if (work_.empty()) {
        g_pStuffVLT->Close(id_);
    } else {
        g_pStuffVLT->CloseDiscarding(id_);
        ::unlink(work_.c_str());
    }
    id_ = 0;
    active_ = false;
    RemoveBackup();
    Finish();
}
