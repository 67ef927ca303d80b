#include "CommandsSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "Driver.h"
#include "JsonWriter.h"
#include "PackageStage.h"
#include "core/FileAccess.h"
#include "package/IStuffVLT.h"

namespace commands {

const char* ModeWord(uint8_t mode) {
    switch (mode) {
        case compressed: return "compressed";
        case stored: return "stored";
        case crypted: return "crypted";
        default: return "unknown";
    }
}

Head ReadHead(const std::string& path) {
    Head h;
    PackageHead probe;
    const int found = IStuffVLT::ProbeHead(path.c_str(), &probe);
    h.entryBytes = probe.entryBytes;
    switch (found) {
        case IStuffVLT::kHeadNotRegular: h.error = "not a regular file"; return h;
        case IStuffVLT::kHeadUnreadable: h.error = std::strerror(probe.error); return h;
        case IStuffVLT::kHeadNotPackage: h.state = HeadState::NotPackage; return h;
        case IStuffVLT::kHeadVersion3: h.state = HeadState::Version3; break;
        case IStuffVLT::kHeadVersion4: h.state = HeadState::Version4; break;
        default: h.state = HeadState::OtherVersion; break;
    }
    h.versionText = SafeText(probe.version);
    return h;
}

std::string HeadProblem(const Head& head) {
    switch (head.state) {
        case HeadState::Unreadable: return "the file cannot be read (" + head.error + ")";
        case HeadState::NotPackage: return "it is not a VLT package";
        case HeadState::Version3:
            return "it is a VLT v3.0 package: it needs the upgrade to v4.0, which opening it would do in place; "
                   "it was left unchanged";
        case HeadState::OtherVersion: return "VLT version '" + head.versionText + "' is not supported";
        case HeadState::Version4: return std::string();
    }
    return std::string();
}

int OpenChecked(const std::string& path, const Head& head, std::string& why) {
    if (head.state != HeadState::Version4) {
        why = HeadProblem(head);
        return 0;
    }
    if (!g_pStuffVLT) {
        why = "the SDK did not start";
        return 0;
    }
    const int id = g_pStuffVLT->Open(path.c_str());
    if (id < 1) {
        // The head was sound, so what failed is the header block, the
        // checksum over the entries, or the registry.
        why = id == 0 ? "too many packages are open"
                      : "it does not open: its header block is damaged or its checksum does not match its "
                        "contents";
        return 0;
    }
    return id;
}

TempFolder::TempFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "bundlex-check-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) path_ = buf.data();
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool CopyFile(const std::string& from, const std::string& to, std::string& why) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = std::strerror(errno);
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        why = std::strerror(errno);
        ::close(in);
        return false;
    }
    bool readFailed = false;
    bool ok = files::CopyToEnd(in, out, &readFailed);
    if (!ok) why = std::string(readFailed ? "read: " : "write: ") + std::strerror(errno);
    ::close(in);
    if (::close(out) != 0 && ok) {
        why = std::string("write: ") + std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(to.c_str());
    return ok;
}

StdoutCapture::StdoutCapture(const std::string& file) : file_(file) {
    std::fflush(stdout);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    saved_ = ::dup(STDOUT_FILENO);
    if (saved_ < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
        if (saved_ >= 0) ::close(saved_);
        saved_ = -1;
    }
    ::close(fd);
}

StdoutCapture::~StdoutCapture() { Finish(); }

std::string StdoutCapture::Finish() {
    if (saved_ < 0) return std::string();
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
    // A failure to write the capture file is not a failure of the report
    // that follows on the real output.
    std::clearerr(stdout);
    // What was read before a read error is what the report gets.
    std::string text;
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        long long n;
        while ((n = files::ReadUpTo(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        ::close(fd);
    }
    return text;
}

std::vector<std::string> MessageLines(const std::string& console) {
    std::vector<std::string> lines;
    std::string line;
    auto flush = [&](bool progress) {
        const bool message = line.find("WARNING") != std::string::npos || line.find("Error") != std::string::npos ||
                             line.find("Info:") != std::string::npos;
        if (!progress && message) lines.push_back(line);
        line.clear();
    };
    for (char c : console) {
        if (c == '\n')
            flush(false);
        else if (c == '\r')
            flush(true);
        else
            line += c;
    }
    flush(false);
    return lines;
}

int BeginRewrite(PackageStage& stage, const std::string& path, bool wait, bool json, std::vector<Entry>& entries,
                 std::string& why) {
    const Head head = ReadHead(path);
    if (head.state != HeadState::Version4 && head.state != HeadState::Version3) {
        why = HeadProblem(head);
        return 0;
    }
    stage.SetLockWait(wait, json);
    const int pkg = stage.Begin(path, false);
    if (pkg < 1) {
        why = stage.FailureText();
        return 0;
    }
    if (WalkEntries(pkg, entries) != 1) {
        stage.Abandon();
        why = "a read error stopped the walk over its entries";
        return 0;
    }
    return pkg;
}

void ErrorField(json::Writer& w, const char* code, const std::string& cause) {
    w.Key("error").BeginObject().Field("code", code).Field("cause", cause).EndObject();
}

int RefuseCommand(const std::string& path, const std::string& why, bool json, FILE* out, const char* format,
                  const char* code) {
    if (json) {
        json::Writer w;
        w.BeginObject().Field("package", path).Field("ok", false);
        ErrorField(w, code, why);
        w.EndObject();
        std::fputs(w.str().c_str(), out);
    } else {
        std::fprintf(out, format, SafeText(path).c_str(), why.c_str());
    }
    return kExitFailed;
}

}  // namespace commands
