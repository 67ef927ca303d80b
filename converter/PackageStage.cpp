#include "PackageStage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "package/PackageUpgrade.h"

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies src into the new file dst (which must not exist yet), keeping the
// source's permission bits. False, with dst removed, on any failure.
bool CopyNewFile(const std::string& src, const std::string& dst) {
    const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0) ok = false;
    if (!ok) ::unlink(dst.c_str());
    return ok;
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

}  // namespace

PackageStage::~PackageStage() {
    if (active_) Abandon();
}

int PackageStage::Begin(const std::string& target) {
    if (active_ || !g_pStuffVLT || target.empty()) return 0;
    target_ = target;
    // A name of our own beside the target, on the same file system, that
    // names no existing file; it keeps the extension so that names derived
    // from it (the 3.0 backup) stay recognisably ours.
    const std::string stem = target + ".importing-" + std::to_string(::getpid());
    for (int n = 0; n < 1000; ++n) {
        work_ = (n == 0 ? stem : stem + "-" + std::to_string(n)) + ".vlt";
        if (!Exists(work_)) break;
        work_.clear();
    }
    if (work_.empty()) return 0;
    // Opening a 3.0 package rebuilds it as 4.0 and keeps the original under
    // a backup name derived from the path that was opened: the copy's.
    workBackup_ = vlt::V3BackupName(work_);
    if (Exists(workBackup_)) workBackup_.clear();  // not ours to move or remove
    if (Exists(target_)) {
        if (!CopyNewFile(target_, work_)) return 0;
        id_ = g_pStuffVLT->Open(work_.c_str());
    } else {
        id_ = g_pStuffVLT->Create(work_.c_str());
    }
    if (id_ < 1) {
        ::unlink(work_.c_str());
        RemoveBackup();
        id_ = 0;
        return 0;
    }
    active_ = true;
    return id_;
}

bool PackageStage::Commit() {
    if (!active_) return false;
    g_pStuffVLT->Close(id_);
    id_ = 0;
    active_ = false;
    // Close reports nothing: the package is trusted only once it opens again.
    const int check = g_pStuffVLT->Open(work_.c_str());
    bool ok = check >= 1;
    if (ok) g_pStuffVLT->Close(check);
    ok = ok && SyncFile(work_) && ::rename(work_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        ::unlink(work_.c_str());
        RemoveBackup();
        return false;
    }
    // The 3.0 original now replaced takes the backup name the target itself
    // would have given it.
    if (!workBackup_.empty() && Exists(workBackup_)) {
        const std::string backup = vlt::V3BackupName(target_);
        if (!Exists(backup)) ::rename(workBackup_.c_str(), backup.c_str());
    }
    SyncDirectoryOf(target_);
    return true;
}

void PackageStage::RemoveBackup() {
    // The backup of a copy is a copy as well: the target still holds it.
    if (!workBackup_.empty()) ::unlink(workBackup_.c_str());
}

void PackageStage::Abandon() {
    if (!active_) return;
    g_pStuffVLT->Close(id_);
    id_ = 0;
    active_ = false;
    ::unlink(work_.c_str());
    RemoveBackup();
}
