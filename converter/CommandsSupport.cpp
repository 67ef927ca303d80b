#include "CommandsSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "JsonWriter.h"
#include "package/IStuffVLT.h"

namespace commands {

namespace {

// One row per type text that a class of the SDK owns. The 1.0 forms sit
// beside the current ones; "DELETED" marks an entry that Delete rewrote.
const KindRow kKinds[] = {
    {"IMG", BlockKind::Image, "image", "IMG", false},
    {"TILE2", BlockKind::Tile, "tile", "TILE2", false},
    {"TILE", BlockKind::Tile, "tile", "TILE2", true},
    {"TILB2", BlockKind::StateImage, "state image", "TILB2", false},
    {"TILB", BlockKind::StateImage, "state image", "TILB2", true},
    {"SPR2", BlockKind::Sprite, "sprite", "SPR2", false},
    {"SPR", BlockKind::Sprite, "sprite", "SPR2", true},
    {"FONT2", BlockKind::Font, "font", "FONT2", false},
    {"FONT", BlockKind::Font, "font", "FONT2", true},
    {"SND", BlockKind::Sound, "sound", "SND", false},
    {"MUS", BlockKind::Music, "music", "MUS", false},
    {"BUT", BlockKind::Widget, "widget", "BUT", false},
    {"FILE", BlockKind::File, "file", "FILE", false},
    {"DELETED", BlockKind::Deleted, "deleted", "DELETED", false},
};

bool ReadFully(int fd, uint8_t* buf, size_t n, size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool WriteFully(int fd, const uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, buf + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

const KindRow* FindKind(const std::string& type) {
    for (const KindRow& row : kKinds)
        if (type == row.type) return &row;
    return nullptr;
}

const char* KindWord(const std::string& type) {
    const KindRow* row = FindKind(type);
    return row ? row->word : "other";
}

const std::vector<const char*>& KindWords() {
    static const std::vector<const char*> words = {"image", "tile",   "state image", "sprite", "font",   "sound",
                                                   "music", "widget", "file",        "other",  "deleted"};
    return words;
}

const char* ModeWord(uint8_t mode) {
    switch (mode) {
        case compressed: return "compressed";
        case stored: return "stored";
        case crypted: return "crypted";
        default: return "unknown";
    }
}

std::string SafeText(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    char hex[8];
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t c = static_cast<uint8_t>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0x80) {
            uint32_t cp = 0;
            const size_t len = json::Utf8SequenceAt(bytes, i, cp);
            if (len > 0 && cp >= 0xA0) {
                out.append(bytes, i, len);
                i += len;
                continue;
            }
            // Not UTF-8, or a C1 control: every byte of it escaped.
            const size_t n = len > 0 ? len : 1;
            for (size_t k = 0; k < n; ++k) {
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<uint8_t>(bytes[i + k])));
                out += hex;
            }
            i += n;
            continue;
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
            out += hex;
        }
        ++i;
    }
    return out;
}

std::string FieldText(const char* field, size_t capacity) { return std::string(field, strnlen(field, capacity)); }

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

int WalkEntries(int pkg, std::vector<Entry>& out) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    int r = g_pStuffVLT->FindFirst(pkg, &info);
    while (r == 1) {
        Entry e;
        e.name = FieldText(info.name, sizeof info.name);
        e.type = FieldText(info.type, sizeof info.type);
        e.mode = info.mode;
        e.size = info.size;
        e.packedSize = info.packedSize;
        out.push_back(std::move(e));
        std::memset(&info, 0, sizeof info);
        r = g_pStuffVLT->FindNext(pkg, &info);
    }
    return r == 0 ? 1 : 2;
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
    std::vector<uint8_t> buf(1 << 16);
    bool ok = true;
    for (;;) {
        size_t got = 0;
        if (!ReadFully(in, buf.data(), buf.size(), got)) {
            why = std::string("read: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!WriteFully(out, buf.data(), got)) {
            why = std::string("write: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (got < buf.size()) break;
    }
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
    std::string text;
    const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
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

}  // namespace commands
