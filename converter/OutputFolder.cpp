#include "OutputFolder.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

#include "SafeText.h"
#include "core/FileAccess.h"

namespace outwrite {

namespace {

constexpr const char* kManifestHead = "bundlex manifest 1";
// A record larger than this is no record this program wrote.
constexpr off_t kManifestLimit = 64 << 20;

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(const uint8_t* digest, size_t n) {
    std::string out(n * 2, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kHexDigits[digest[i] >> 4];
        out[2 * i + 1] = kHexDigits[digest[i] & 15];
    }
    return out;
}

// 64 lower-case hex digits back into the 32 bytes of a digest.
bool FromHex(const std::string& hex, uint8_t* digest) {
    if (hex.size() != 64) return false;
    for (size_t i = 0; i < 64; ++i) {
        const char c = hex[i];
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) return false;
        digest[i / 2] = static_cast<uint8_t>(i % 2 ? (digest[i / 2] | v) : v << 4);
    }
    return true;
}

void Digest(const void* data, size_t size, uint8_t* digest) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, size, static_cast<const uint8_t*>(data));
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, digest);
}

// The folder part and the last component of a path ("." for none).
void Split(const std::string& path, std::string& parent, std::string& last) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) {
        parent = ".";
        last = p;
    } else {
        parent = slash == 0 ? "/" : p.substr(0, slash);
        last = p.substr(slash + 1);
    }
}

bool PlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\n') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

std::string Sha256Hex(const void* data, size_t size) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    Digest(data, size, digest);
    return Hex(digest, sizeof digest);
}

// The memory stream.

MemoryStream::MemoryStream() {
    rw_ = SDL_AllocRW();
    if (!rw_) return;
    rw_->seek = Seek;
    rw_->read = Read;
    rw_->write = Write;
    rw_->close = Close;
    rw_->hidden.unknown.data1 = this;
}

MemoryStream::~MemoryStream() {
    if (rw_) SDL_FreeRW(rw_);
}

int MemoryStream::Seek(SDL_RWops* ctx, int offset, int whence) {
    MemoryStream* m = static_cast<MemoryStream*>(ctx->hidden.unknown.data1);
    long long base = whence == RW_SEEK_SET   ? 0
                     : whence == RW_SEEK_CUR ? (long long)m->pos_
                                             : (long long)m->bytes_.size();
    const long long to = base + offset;
    if (to < 0 || to > 0x7FFFFFFF) {
        SDL_SetError("seek out of range");
        return -1;
    }
    m->pos_ = size_t(to);
    return int(to);
}

int MemoryStream::Read(SDL_RWops* ctx, void* ptr, int size, int maxnum) {
    MemoryStream* m = static_cast<MemoryStream*>(ctx->hidden.unknown.data1);
    if (size <= 0 || maxnum <= 0 || m->pos_ >= m->bytes_.size()) return 0;
    const size_t avail = (m->bytes_.size() - m->pos_) / size_t(size);
    const size_t n = avail < size_t(maxnum) ? avail : size_t(maxnum);
    std::memcpy(ptr, m->bytes_.data() + m->pos_, n * size_t(size));
    m->pos_ += n * size_t(size);
    return int(n);
}

int MemoryStream::Write(SDL_RWops* ctx, const void* ptr, int size, int num) {
    MemoryStream* m = static_cast<MemoryStream*>(ctx->hidden.unknown.data1);
    if (size <= 0 || num <= 0) return 0;
    const size_t len = size_t(size) * size_t(num);
    if (m->pos_ + len > 0x7FFFFFFF) {
        SDL_SetError("image too large for memory");
        return 0;
    }
    if (m->bytes_.size() < m->pos_ + len) m->bytes_.resize(m->pos_ + len);
    std::memcpy(m->bytes_.data() + m->pos_, ptr, len);
    m->pos_ += len;
    return num;
}

int MemoryStream::Close(SDL_RWops*) { return 0; }  // the object owns the stream

// The output set.

OutputSet::OutputSet(const std::string& main, const std::string& folder, bool force)
    : main_(main), folder_(folder), force_(force) {
    std::string folderParent;
    Split(main, parent_, mainName_);
    Split(folder, folderParent, folderName_);
}

OutputSet::~OutputSet() {
    if (!committed_) Rollback();
    if (recordFd_ >= 0) ::close(recordFd_);
    if (folderFd_ >= 0) ::close(folderFd_);
    if (parentFd_ >= 0) ::close(parentFd_);
}

void OutputSet::Conflict(const std::string& path, const char* reason) {
    conflicts_.push_back("'" + SafeText(path, SafeStyle::Masked) + "' (" + reason + ")");
}

bool OutputSet::Failed(const std::string& path, int err) {
    if (error_.empty())
        error_ = "could not write '" + SafeText(path, SafeStyle::Masked) + "' (" + std::strerror(err ? err : EIO) + ")";
    return false;
}

OutputSet::Status OutputSet::Open() {
    if (!PlainName(mainName_) || !PlainName(folderName_)) {
        error_ = "the output name '" + SafeText(main_, SafeStyle::Masked) + "' leaves no file name";
        return Status::Failed;
    }
    std::error_code ec;
    std::filesystem::create_directories(parent_, ec);
    parentFd_ = ::open(parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd_ < 0) {
        error_ = "the folder '" + SafeText(parent_, SafeStyle::Masked) + "' could not be opened (" +
                 std::strerror(errno) + ")";
        return Status::Failed;
    }
    madeFolder_ = ::mkdirat(parentFd_, folderName_.c_str(), 0755) == 0;
    folderFd_ = ::openat(parentFd_, folderName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd_ < 0) {
        const int err = errno;
        struct stat st;
        if (::fstatat(parentFd_, folderName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) return Status::FolderIsLink;
            if (!S_ISDIR(st.st_mode)) return Status::FolderIsFile;
        }
        error_ = "the folder '" + SafeText(folder_, SafeStyle::Masked) + "' could not be made or opened (" +
                 std::strerror(err) + ")";
        return Status::Failed;
    }
    if (!madeFolder_) LoadManifest();

    struct stat st;
    if (::fstatat(parentFd_, mainName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        bool exists = true;
        if (!oldMain_)
            Conflict(main_, "not written by an earlier run");
        else if (!Matches(parentFd_, mainName_, oldMainRecord_, exists))
            Conflict(main_, "changed since it was written");
    }
    for (auto it = old_.begin(); it != old_.end();) {
        bool exists = true;
        if (!Matches(folderFd_, it->first, it->second, exists))
            Conflict(folder_ + "/" + it->first, "changed since it was written");
        it = exists ? std::next(it) : old_.erase(it);
    }
    // With conflicts the run goes on writing nothing, to find every other
    // file in its way; Commit then refuses.
    if (force_) conflicts_.clear();
    return Status::Ok;
}

bool OutputSet::Matches(int dir, const std::string& name, const Record& r, bool& exists) const {
    exists = true;
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        exists = errno != ENOENT;
        return !exists;
    }
    struct stat st;
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == r.size;
    if (same) {
        sha256_ctx ctx;
        sha256_init(&ctx);
        std::vector<uint8_t> buf(size_t(1) << 16);
        uint64_t total = 0;
        for (;;) {
            const long long n = files::ReadUpTo(fd, buf.data(), buf.size());
            if (n < 0) {
                same = false;
                break;
            }
            if (n == 0) break;
            total += uint64_t(n);
            sha256_update(&ctx, size_t(n), buf.data());
        }
        uint8_t digest[SHA256_DIGEST_SIZE];
        sha256_digest(&ctx, sizeof digest, digest);
        same = same && total == r.size && std::memcmp(digest, r.sha, sizeof digest) == 0;
    }
    ::close(fd);
    return same;
}

// A record that cannot be read or parsed is no record: every file in the
// way is then unknown.
void OutputSet::LoadManifest() {
    const int fd = ::openat(folderFd_, kManifestName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    std::vector<uint8_t> bytes;
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kManifestLimit &&
                      files::ReadToEnd(fd, bytes, uint64_t(kManifestLimit));
    ::close(fd);
    if (!read) return;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    if (!std::getline(in, line) || line != kManifestHead) return;
    std::map<std::string, Record> files;
    bool haveMain = false;
    Record mainRecord;
    while (std::getline(in, line)) {
        // kind sha size name; the name is the rest of the line.
        const size_t a = line.find(' ');
        const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        const size_t c = b == std::string::npos ? b : line.find(' ', b + 1);
        if (c == std::string::npos) return;
        const std::string kind = line.substr(0, a), sha = line.substr(a + 1, b - a - 1);
        const std::string size = line.substr(b + 1, c - b - 1), name = line.substr(c + 1);
        Record r;
        if (!FromHex(sha, r.sha) || size.empty() || size.size() > 19 ||
            size.find_first_not_of("0123456789") != std::string::npos || !PlainName(name))
            return;
        r.size = std::stoull(size);
        if (kind == "main" && name == mainName_) {
            haveMain = true;
            mainRecord = r;
        } else if (kind == "file") {
            files[name] = r;
        } else if (kind != "main") {
            return;
        }
    }
    old_.swap(files);
    oldMain_ = haveMain;
    oldMainRecord_ = mainRecord;
}

bool OutputSet::WriteManifest(const Sink& sink) const {
    // The files by name: the earlier record's, each replaced by what this run
    // wrote under its name (the last write of a name counts).
    std::vector<uint32_t> wrote(written_.size());
    for (size_t i = 0; i < wrote.size(); ++i) wrote[i] = uint32_t(i);
    std::stable_sort(wrote.begin(), wrote.end(), [&](uint32_t a, uint32_t b) { return NameOf(a) < NameOf(b); });
    // Written out in pieces of about this size.
    constexpr size_t kPiece = 1 << 16;
    std::string text;
    text.reserve(kPiece + 256);
    text += kManifestHead;
    text += '\n';
    bool ok = true;
    auto line = [&](const char* kind, std::string_view name, const Record& r) {
        text += kind;
        text += ' ';
        const size_t at = text.size();
        text.resize(at + 64);
        for (size_t i = 0; i < 32; ++i) {
            text[at + 2 * i] = kHexDigits[r.sha[i] >> 4];
            text[at + 2 * i + 1] = kHexDigits[r.sha[i] & 15];
        }
        text += ' ';
        text += std::to_string(r.size);
        text += ' ';
        text += name;
        text += '\n';
        if (text.size() >= kPiece) {
            ok = ok && sink(text.data(), text.size());
            text.clear();
        }
    };
    line("main", mainName_, oldMainRecord_);
    auto old = old_.begin();
    for (size_t i = 0; i < wrote.size() && ok; ++i) {
        const std::string_view name = NameOf(wrote[i]);
        if (i + 1 < wrote.size() && NameOf(wrote[i + 1]) == name) continue;
        for (; old != old_.end() && std::string_view(old->first) < name; ++old) line("file", old->first, old->second);
        if (old != old_.end() && std::string_view(old->first) == name) ++old;
        Record r;
        if (!RecordAt(wrote[i], r)) return false;
        line("file", name, r);
    }
    for (; old != old_.end() && ok; ++old) line("file", old->first, old->second);
    return ok && (text.empty() || sink(text.data(), text.size()));
}

bool OutputSet::AddRecord(const Record& r) {
    const size_t at = records_.size();
    records_.resize(at + kRecordSize);
    std::memcpy(&records_[at], r.sha, sizeof r.sha);
    for (int i = 0; i < 8; ++i) records_[at + 32 + size_t(i)] = char(uint8_t(r.size >> (8 * i)));
    if (records_.size() < kRecordsInMemory) return true;
    if (recordFd_ < 0 && (recordFd_ = OpenScratch()) < 0) return false;
    if (!files::WriteAll(recordFd_, records_.data(), records_.size())) return false;
    recordsMoved_ += records_.size();
    records_.clear();
    window_.clear();
    return true;
}

bool OutputSet::RecordAt(size_t i, Record& r) const {
    const uint64_t at = uint64_t(i) * kRecordSize;
    const char* bytes = nullptr;
    if (at >= recordsMoved_) {
        bytes = records_.data() + (at - recordsMoved_);
    } else {
        // Records are read back a small aligned window at a time: in the
        // order written (the usual case, names in package order) that is one
        // read per hundred records, in any other order one small read each.
        if (window_.empty() || at < windowAt_ || at + kRecordSize > windowAt_ + window_.size()) {
            constexpr uint64_t kWindow = kRecordSize * 100;
            windowAt_ = at - at % kWindow;
            const uint64_t left = recordsMoved_ - windowAt_;
            window_.resize(left < kWindow ? size_t(left) : size_t(kWindow));
            size_t got = 0;
            while (got < window_.size()) {
                const ssize_t n =
                    ::pread(recordFd_, window_.data() + got, window_.size() - got, off_t(windowAt_ + got));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    if (n == 0) errno = EIO;
                    window_.clear();
                    return false;
                }
                got += size_t(n);
            }
        }
        bytes = reinterpret_cast<const char*>(window_.data()) + (at - windowAt_);
    }
    std::memcpy(r.sha, bytes, sizeof r.sha);
    r.size = 0;
    for (int k = 7; k >= 0; --k) r.size = (r.size << 8) | uint8_t(bytes[32 + k]);
    return true;
}

bool OutputSet::WriteNew(int dir, const std::string& name, const Producer& produce, int& err) {
    const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        err = errno;
        return false;
    }
    err = 0;
    bool ok = produce([&](const void* data, size_t size) {
        if (files::WriteAll(fd, data, size)) return true;
        err = errno;
        return false;
    });
    // A piece that could not be made has left its cause in errno.
    if (!ok && err == 0) err = errno ? errno : EIO;
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (!ok) ::unlinkat(dir, name.c_str(), 0);
    return ok;
}

bool OutputSet::WriteStaged(int dir, const std::string& name, const Producer& produce, std::string& temp, int& err) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = ".bundlex-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_) + ".part";
        if (WriteNew(dir, temp, produce, err)) {
            staged_.push_back({temp, name, dir});
            return true;
        }
        if (err != EEXIST) return false;
    }
    return false;
}

int OutputSet::OpenScratch() {
    int fd = ::openat(parentFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // A file system without unnamed files: a working name, removed at once.
    for (int attempt = 0; fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EEXIST) && attempt < 100;
         ++attempt) {
        const std::string temp =
            ".bundlex-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_) + ".scratch";
        fd = ::openat(parentFd_, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) ::unlinkat(parentFd_, temp.c_str(), 0);
    }
    if (fd < 0) Failed(main_, errno);
    return fd;
}

bool OutputSet::Put(const std::string& name, const void* data, size_t size) {
    if (!error_.empty()) return false;
    auto path = [&] { return folder_ + "/" + name; };
    if (!PlainName(name) || name == kManifestName) return Failed(path(), EINVAL);
    const auto recorded = old_.find(name);
    if (refused()) {
        // Only what else is in the way is looked for now.
        struct stat st;
        if (recorded == old_.end() && ::fstatat(folderFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            Conflict(path(), "not written by an earlier run");
        return true;
    }
    int err = 0;
    std::string temp;
    bool ok = false;
    bool created = false;
    const Producer bytes = [&](const Sink& sink) { return sink(data, size); };
    if (recorded != old_.end()) {
        ok = WriteStaged(folderFd_, name, bytes, temp, err);
    } else {
        ok = WriteNew(folderFd_, name, bytes, err);
        if (ok) {
            created = true;
        } else if (err == EEXIST && force_) {
            ok = WriteStaged(folderFd_, name, bytes, temp, err);
        } else if (err == EEXIST) {
            Conflict(path(), "not written by an earlier run");
            return true;
        }
    }
    if (!ok) return Failed(path(), err);
    if (created) created_.push_back(uint32_t(written_.size()));
    written_.push_back(names_.Add(name));
    Record r;
    Digest(data, size, r.sha);
    r.size = uint64_t(size);
    return AddRecord(r) || Failed(path(), errno);
}

OutputSet::Status OutputSet::Commit(const void* data, size_t size) {
    return Commit([&](const Sink& sink) { return sink(data, size); });
}

OutputSet::Status OutputSet::Commit(const Producer& main) {
    if (!error_.empty() || refused()) {
        Rollback();
        return error_.empty() ? Status::Refused : Status::Failed;
    }
    // The main file is written first, so that the record can hold its
    // digest; it is still put in place last.
    sha256_ctx ctx;
    sha256_init(&ctx);
    uint64_t size = 0;
    const Producer hashed = [&](const Sink& sink) {
        return main([&](const void* data, size_t n) {
            sha256_update(&ctx, n, static_cast<const uint8_t*>(data));
            size += n;
            return sink(data, n);
        });
    };
    std::string temp;
    int err = 0;
    if (!WriteStaged(parentFd_, mainName_, hashed, temp, err)) {
        Failed(main_, err);
        Rollback();
        return Status::Failed;
    }
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, oldMainRecord_.sha);
    oldMainRecord_.size = size;
    if (!WriteStaged(
            folderFd_, kManifestName, [&](const Sink& sink) { return WriteManifest(sink); }, temp, err)) {
        Failed(folder_ + "/" + kManifestName, err);
        Rollback();
        return Status::Failed;
    }
    std::swap(staged_[staged_.size() - 1], staged_[staged_.size() - 2]);
    // Payloads first, the record next, the main file last.
    for (size_t i = 0; i < staged_.size(); ++i) {
        const int dir = staged_[i].dir;
        if (::renameat(dir, staged_[i].temp.c_str(), dir, staged_[i].name.c_str()) != 0) {
            Failed(dir == parentFd_ ? main_ : folder_ + "/" + staged_[i].name, errno);
            // What is not in place yet is taken back; what is stays.
            staged_.erase(staged_.begin(), staged_.begin() + long(i));
            created_.clear();
            madeFolder_ = false;
            Rollback();
            return Status::Failed;
        }
    }
    staged_.clear();
    committed_ = true;
    return Status::Ok;
}

void OutputSet::Rollback() {
    for (uint32_t i : created_) ::unlinkat(folderFd_, std::string(NameOf(i)).c_str(), 0);
    for (const Staged& st : staged_) ::unlinkat(st.dir, st.temp.c_str(), 0);
    created_.clear();
    staged_.clear();
    written_.clear();
    names_.Clear();
    records_.clear();
    recordsMoved_ = 0;
    window_.clear();
    if (recordFd_ >= 0) ::close(recordFd_);
    recordFd_ = -1;
    if (madeFolder_ && parentFd_ >= 0) ::unlinkat(parentFd_, folderName_.c_str(), AT_REMOVEDIR);
    madeFolder_ = false;
}

}  // namespace outwrite
