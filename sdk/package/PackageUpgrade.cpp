// Update3to4: the rebuild of a 3.0 package as 4.0.
#include "package/PackageUpgrade.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/Endian.h"
#include "core/FileAccess.h"
#include "core/Log.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"

namespace vlt {
namespace {

constexpr size_t kV3HeaderSize = 256;
constexpr size_t kV3MarkerSize = 11;
constexpr size_t kV3CreatorOffset = 8;
constexpr size_t kV3CreatedOffset = 37;
constexpr size_t kV3NameSize = 32;
constexpr size_t kV3TypeSize = 5;
constexpr size_t kV3FieldsSize = kV3NameSize + kV3TypeSize + 1 + 4 + 4;  // 46
const uint8_t kV3MarkerDots[kV3MarkerSize] = {'.', 'B', 'l', 'o', 'c', 'k', 'D', 'a', 't', 'a', '.'};
const uint8_t kV3MarkerB7[kV3MarkerSize] = {0xB7, 'B', 'l', 'o', 'c', 'k', 'D', 'a', 't', 'a', 0xB7};
const uint8_t kV3Deleted[kV3TypeSize] = {'D', 'E', 'L', 'E', 0};

// Closes a descriptor on every path out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Renames without ever replacing an existing file. Where the file system
// cannot refuse atomically, the existence test just before has to do.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (Exists(to)) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

// A new file beside the package, under a name that does not exist yet.
int CreateTemporary(const std::string& path, std::string& tempName) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        tempName = dir + (attempt ? "tmp-" + std::to_string(attempt) + ".vlt" : std::string("tmp.vlt"));
        const int fd = open(tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::string V3BackupName(const std::string& path) {
    std::string name = path;
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    else
        name.clear();
    return name + "_v3.vlt";
}

namespace {

// The 4.0 head and header block, the creator and date taken from the 3.0
// header; the header is rewritten with the checksum once the blocks are in.
bool WriteNewHead(int fd, const uint8_t* v3Header, const PackageCipher& internal) {
    char creator[kCreatorSize] = {};
    std::memcpy(creator, v3Header + kV3CreatorOffset, kCreatorSize - 1);
    char created[kDateSize] = {};
    std::memcpy(created, v3Header + kV3CreatedOffset, kDateSize - 1);
    uint8_t header[kHeaderSize];
    BuildHeader(header, creator, created);
    internal.Encipher(header, kHeaderSize);
    return files::WriteAll(fd, kHead4, kHeadSize) && files::WriteAll(fd, header, kHeaderSize);
}

// One 4.0 entry: its marker, its descriptor and its padded payload. A failed
// write stops the upgrade: the 3.0 file stays as it is.
bool WriteEntry(int fd, const std::vector<uint8_t>& entry, size_t padded, const LogTag& tag) {
    if (!files::WriteAll(fd, entry.data(), kMarkerSize)) return tag.Fail(false, "new ID block is corrupted.\n");
    if (!files::WriteAll(fd, entry.data() + kMarkerSize, kDescriptorSize))
        return tag.Fail(false, "new header block is corrupted.\n");
    if (!files::WriteAll(fd, entry.data() + kEntryHeadSize, padded))
        return tag.Fail(false, "new data block is corrupted.\n");
    return true;
}

// Copies every live block of the 3.0 file (read from just past its header)
// into the new file as a 4.0 entry; deleted blocks are dropped. Gives the
// number of blocks copied, or -1.
int CopyBlocks(int oldFd, int newFd, uint64_t oldLength, const LogTag& tag) {
    uint64_t offset = kV3HeaderSize;
    int count = 0;
    std::vector<uint8_t> entry;
    for (;;) {
        uint8_t marker[kV3MarkerSize];
        const long long m = files::ReadUpTo(oldFd, marker, kV3MarkerSize);
        if (m == 0) return count;  // the old file is complete
        if (m < static_cast<long long>(kV3MarkerSize)) return -1;
        if (std::memcmp(marker, kV3MarkerDots, kV3MarkerSize) != 0 &&
            std::memcmp(marker, kV3MarkerB7, kV3MarkerSize) != 0)
            return tag.Fail(-1, "header block does not match.\n");
        offset += kV3MarkerSize;
        uint8_t fields[kV3FieldsSize];
        if (files::ReadUpTo(oldFd, fields, kV3FieldsSize) != static_cast<long long>(kV3FieldsSize))
            return tag.Fail(-1, "data block is corrupted.\n");
        offset += kV3FieldsSize;
        const uint8_t* name = fields;
        const uint8_t* type = fields + kV3NameSize;
        const uint32_t packed = LoadLE32(fields + kV3NameSize + kV3TypeSize + 5);
        // The packed size is checked against what the file holds before
        // anything is allocated for it.
        if (packed > oldLength - offset) return tag.Fail(-1, "data block is corrupted.\n");
        const size_t padded = static_cast<size_t>(PaddedLength(packed));
        entry.assign(kEntryHeadSize + padded, 0);
        std::memcpy(entry.data(), kMarker, kMarkerSize);
        uint8_t* desc = entry.data() + kMarkerSize;
        std::memcpy(desc + kNameOffset, name, kV3NameSize);
        std::memcpy(desc + kTypeOffset, type, kV3TypeSize);
        desc[kModeOffset] = fields[kV3NameSize + kV3TypeSize];
        StoreLE32(desc + kSizeOffset, LoadLE32(fields + kV3NameSize + kV3TypeSize + 1));
        StoreLE32(desc + kPackedOffset, packed);
        if (files::ReadUpTo(oldFd, entry.data() + kEntryHeadSize, packed) != static_cast<long long>(packed))
            return tag.Fail(-1, "data block is corrupted.\n");
        offset += packed;
        if (std::memcmp(type, kV3Deleted, kV3TypeSize) == 0) continue;  // deleted blocks are dropped
        if (!WriteEntry(newFd, entry, padded, tag)) return -1;
        ++count;
        tag.Info(2, "imported block %d - Name '%.32s' - Type '%.5s' - Size %d Kb\n", count,
                 reinterpret_cast<const char*>(name), reinterpret_cast<const char*>(type),
                 static_cast<int>(packed / 1024));
    }
}

// The 3.0 file becomes the backup and the new file takes its name; when the
// second rename fails the 3.0 file is put back.
bool SwapIn(const char* path, const std::string& backup, const std::string& tempName, const LogTag& tag) {
    if (!RenameNoReplace(path, backup))
        return tag.Fail(false, "could not rename it to '%s': %s\n", backup.c_str(), strerror(errno));
    if (rename(tempName.c_str(), path) != 0) {
        const int why = errno;
        const bool restored = RenameNoReplace(backup, path);
        return tag.Fail(false, "could not rename '%s' to it: %s%s\n", tempName.c_str(), strerror(why),
                        restored ? "" : " (the original stays as the backup)");
    }
    return true;
}

}  // namespace

int UpgradeV3Package(const char* path, const PackageCipher& internal, uint8_t* head) {
    const std::string backup = V3BackupName(path);
    // The backup is never overwritten: refuse before anything is written.
    const LogTag tag("IStuffVLT->Update3to4('%s')", path);
    if (Exists(backup)) return tag.Fail(-1, "the backup file '%s' exists already.\n", backup.c_str());

    Fd old;
    old.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (old.fd < 0) return -1;
    // A 3.0 header shorter than 256 bytes reads as zeros: empty texts.
    uint8_t v3Header[kV3HeaderSize] = {};
    if (files::ReadUpTo(old.fd, v3Header, kV3HeaderSize) < 0) return -1;
    struct stat st;
    if (fstat(old.fd, &st) != 0) return -1;
    const uint64_t oldLength = static_cast<uint64_t>(st.st_size);

    std::string tempName;
    Fd temp;
    temp.fd = CreateTemporary(path, tempName);
    if (temp.fd < 0) return tag.Fail(-1, "the temporary file could not be created: %s\n", strerror(errno));
    // Until the renames succeed, the temporary file goes on every way out.
    struct RemoveUnlessKept {
        const std::string& name;
        bool keep = false;
        ~RemoveUnlessKept() {
            if (!keep) unlink(name.c_str());
        }
    } removeTemp{tempName};

    if (!WriteNewHead(temp.fd, v3Header, internal)) return tag.Fail(-1, "new header block is corrupted.\n");
    if (lseek(old.fd, static_cast<off_t>(kV3HeaderSize), SEEK_SET) < 0) return -1;
    LOG_PRINT(2, "\n . [IStuffVLT->Update3to4('%s')] Info: creating new VLT v4.0...\n", path);
    const int count = CopyBlocks(old.fd, temp.fd, oldLength, tag);
    if (count < 0) return -1;
    close(old.release());

    std::string error;
    if (!RewriteHeader(temp.fd, internal, error)) return tag.Fail(-1, "new header block is corrupted.\n");
    if (close(temp.release()) != 0) return tag.Fail(-1, "new data block is corrupted.\n");
    tag.Info(2, "total blocks imported: %d\n", count);
    if (!SwapIn(path, backup, tempName, tag)) return -1;
    removeTemp.keep = true;
    LOG_PRINT(2, "   - Original VLT v3.0 was renamed to %s\n\n", backup.c_str());

    Fd done;
    done.fd = open(path, O_RDWR | O_CLOEXEC);
    if (done.fd < 0) return -1;
    if (files::ReadUpTo(done.fd, head, kHeadSize) != static_cast<long long>(kHeadSize)) return -1;
    return done.release();
}

}  // namespace vlt
