#include "DocumentFolder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "FileNames.h"
#include "SafeText.h"
#include "core/FileAccess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAllowHint = " (give --allow-outside to let the document read files outside its folder)";

std::string Quoted(const std::string& text) { return "'" + SafeText(text, SafeStyle::Masked) + "'"; }

// The path without a trailing separator (the root stays "/").
std::string Trimmed(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool Inside(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    if (folder == "/") return !path.empty() && path[0] == '/';
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

// Where an open descriptor really is, every link resolved; empty when the
// system does not say.
std::string RealPathOf(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        if (buffer.size() >= (1u << 20)) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

// Opens path below the folder dir with the kernel keeping every step of
// the lookup inside it (no "..", absolute link or /proc link leads out), so
// that where the file really lies need not be asked afterwards; -1 when
// the file is not there, lies outside, or the system has no such open.
int OpenBeneath(int dir, const char* path, int flags) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, dir, path, &how, sizeof how);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)dir;
    (void)path;
    (void)flags;
    return -1;
#endif
}

// Whether a relative path climbs above where it starts ("../x", "a/../../x").
bool Climbs(const fs::path& relative) {
    const fs::path normal = relative.lexically_normal();
    return !normal.empty() && *normal.begin() == "..";
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const fs::path a = fs::absolute(path, ec);
    return ec ? std::string() : Trimmed(a.lexically_normal().string());
}

}  // namespace

DocumentFolder::~DocumentFolder() {
    if (dir_ >= 0) ::close(dir_);
}

bool DocumentFolder::Open(const std::string& documentPath, bool allowOutside) {
    allowOutside_ = allowOutside;
    fs::path parent = fs::path(documentPath).parent_path();
    if (parent.empty()) parent = ".";
    asGiven_ = fs::path(documentPath).parent_path().string();
    dir_ = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0) return false;
    given_ = Absolute(parent.string());
    real_ = RealPathOf(dir_);
    if (real_.empty()) {
        char* real = ::realpath(parent.c_str(), nullptr);
        if (real) real_ = real;
        std::free(real);
    }
    return !given_.empty();
}

bool DocumentFolder::LexicallyInside(const std::string& absolute) const {
    return Inside(absolute, given_) || Inside(absolute, real_);
}

bool DocumentFolder::RealInside(const std::string& real) const { return Inside(real, real_); }

bool DocumentFolder::Read(const std::string& source, std::vector<uint8_t>& bytes, uint64_t limit,
                          std::string& cause) const {
    // Words for a refusal, made only when one is given.
    const auto payload = [&source] { return "the payload file " + Quoted(source); };
    if (source.empty()) {
        cause = "the payload path is empty.";
        return false;
    }
    const bool absolute = source[0] == '/';
    // Refused before anything is opened: opening a device may already do
    // something.
    if (!allowOutside_) {
        if (absolute && !LexicallyInside(Absolute(source))) {
            cause =
                payload() + " is an absolute path outside the document's folder; it was not read" + kAllowHint + ".";
            return false;
        }
        if (!absolute && source.find("..") != std::string::npos && Climbs(fs::path(source))) {
            cause = payload() + " climbs out of the document's folder with \"..\"; it was not read" + kAllowHint + ".";
            return false;
        }
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = !allowOutside_ && !absolute ? OpenBeneath(dir_, source.c_str(), flags) : -1;
    const bool beneath = fd >= 0;
    if (!beneath) fd = absolute ? ::open(source.c_str(), flags) : ::openat(dir_, source.c_str(), flags);
    int err = fd < 0 ? errno : 0;
    // A document of an earlier export names its payloads from the folder it
    // was run in.
    if (fd < 0 && !absolute && (err == ENOENT || err == ENOTDIR) &&
        (allowOutside_ || LexicallyInside(Absolute(source)))) {
        fd = ::open(source.c_str(), flags);
        if (fd < 0 && errno != ENOENT && errno != ENOTDIR) err = errno;
    }
    if (fd < 0) {
        cause = payload() + " is missing (" + std::strerror(err) + ").";
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        cause = payload() + " cannot be read (" + std::strerror(errno) + ").";
    } else if (!S_ISREG(st.st_mode)) {
        cause = "the payload " + Quoted(source) + " is not a regular file.";
        ok = false;
    } else if (!allowOutside_ && !beneath) {
        const std::string real = RealPathOf(fd);
        if (real.empty()) {
            cause = payload() + " was not read: where it really lies cannot be checked" + std::string(kAllowHint) + ".";
            ok = false;
        } else if (!RealInside(real)) {
            cause = payload() + " leads outside the document's folder through a symbolic link; it was not read" +
                    kAllowHint + ".";
            ok = false;
        }
    }
    // Just opened: read from its start, the length its status gave.
    if (ok && !files::ReadExpected(fd, static_cast<uint64_t>(st.st_size), bytes, limit, true)) {
        cause = payload() + (errno == EFBIG ? " holds more than a block can."
                                            : " cannot be read (" + std::string(std::strerror(errno)) + ").");
        ok = false;
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

bool DocumentFolder::Target(const std::string& source, std::string& target, std::string& cause) const {
    const std::string hint = "; give the package on the command line (bundlex DOCUMENT.xml PACKAGE.vlt).";
    const std::string named = "the document names its package " + Quoted(source);
    if (!EndsInExtension(source, ".vlt")) {
        cause = named + ", which does not end in \".vlt\"" + hint;
        return false;
    }
    const fs::path path(source);
    std::string chosen;  // absolute and lexically normal
    if (path.is_absolute()) {
        chosen = Absolute(source);
        target = source;
    } else if (!Climbs(path)) {
        // From the document's folder, else (an earlier export's document)
        // from the current folder when the package is there.
        chosen = Trimmed((fs::path(given_) / path).lexically_normal().string());
        target = asGiven_.empty() ? source : (fs::path(asGiven_) / path).string();
        struct stat st;
        const std::string fromHere = Absolute(source);
        if (::lstat(chosen.c_str(), &st) != 0 && ::lstat(source.c_str(), &st) == 0 && LexicallyInside(fromHere)) {
            chosen = fromHere;
            target = source;
        }
    }
    bool inside = !chosen.empty() && LexicallyInside(chosen);
    if (inside) {
        // Every link along the way, the package's own name included (a
        // link that points nowhere yet is followed too: the package would
        // be made at its target).
        const auto isLink = [](const fs::path& p) {
            struct stat st;
            return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        };
        std::error_code ec;
        fs::path path = chosen;
        for (int hops = 0; hops < 40 && isLink(path); ++hops) {
            const fs::path next = fs::read_symlink(path, ec);
            if (ec) break;
            path = next.is_absolute() ? next : path.parent_path() / next;
        }
        if (!ec && !isLink(path)) {
            const fs::path real = fs::weakly_canonical(path, ec);
            inside = !ec && RealInside(Trimmed(real.string()));
        } else {
            inside = false;
        }
    }
    if (!inside) {
        cause = named + ", which lies outside the document's folder" + hint;
        return false;
    }
    return true;
}
