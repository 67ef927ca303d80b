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

int UpgradeV3Package(const char* path, const PackageCipher& internal, uint8_t* head) {
    const std::string backup = V3BackupName(path);
    // The backup is never overwritten: refuse before anything is written.
    const LogTag tag("IStuffVLT->Update3to4('%s')", path);
    if (Exists(backup)) {
        tag.Error("the backup file '%s' exists already.\n", backup.c_str());
        return -1;
    }

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
    if (temp.fd < 0) {
        tag.Error("the temporary file could not be created: %s\n", strerror(errno));
        return -1;
    }
    // Until the renames succeed, the temporary file goes on every way out.
    struct RemoveUnlessKept {
        const std::string& name;
        bool keep = false;
        ~RemoveUnlessKept() {
            if (!keep) unlink(name.c_str());
        }
    } removeTemp{tempName};

    char creator[kCreatorSize] = {};
    std::memcpy(creator, v3Header + kV3CreatorOffset, kCreatorSize - 1);
    char created[kDateSize] = {};
    std::memcpy(created, v3Header + kV3CreatedOffset, kDateSize - 1);
    uint8_t header[kHeaderSize];
    BuildHeader(header, creator, created);
    internal.Encipher(header, kHeaderSize);
    if (!files::WriteAll(temp.fd, kHead4, kHeadSize) || !files::WriteAll(temp.fd, header, kHeaderSize)) {
        tag.Error("new header block is corrupted.\n");
        return -1;
    }

    if (lseek(old.fd, static_cast<off_t>(kV3HeaderSize), SEEK_SET) < 0) return -1;
    LOG_PRINT(2, "\n . [IStuffVLT->Update3to4('%s')] Info: creating new VLT v4.0...\n", path);

    uint64_t offset = kV3HeaderSize;
    int count = 0;
    std::vector<uint8_t> entry;
    for (;;) {
        uint8_t marker[kV3MarkerSize];
        const long long m = files::ReadUpTo(old.fd, marker, kV3MarkerSize);
        if (m == 0) break;  // the old file is complete
        if (m < static_cast<long long>(kV3MarkerSize)) return -1;
        if (std::memcmp(marker, kV3MarkerDots, kV3MarkerSize) != 0 &&
            std::memcmp(marker, kV3MarkerB7, kV3MarkerSize) != 0) {
            tag.Error("header block does not match.\n");
            return -1;
        }
        offset += kV3MarkerSize;
        uint8_t fields[kV3FieldsSize];
        if (files::ReadUpTo(old.fd, fields, kV3FieldsSize) != static_cast<long long>(kV3FieldsSize)) {
            tag.Error("data block is corrupted.\n");
            return -1;
        }
        offset += kV3FieldsSize;
        const uint8_t* name = fields;
        const uint8_t* type = fields + kV3NameSize;
        const uint8_t mode = fields[kV3NameSize + kV3TypeSize];
        const uint32_t size = LoadLE32(fields + kV3NameSize + kV3TypeSize + 1);
        const uint32_t packed = LoadLE32(fields + kV3NameSize + kV3TypeSize + 5);
        // The packed size is checked against what the file holds before
        // anything is allocated for it.
        if (packed > oldLength - offset) {
            tag.Error("data block is corrupted.\n");
            return -1;
        }
        const size_t padded = static_cast<size_t>(PaddedLength(packed));
        entry.assign(kEntryHeadSize + padded, 0);
        std::memcpy(entry.data(), kMarker, kMarkerSize);
        uint8_t* desc = entry.data() + kMarkerSize;
        std::memcpy(desc + kNameOffset, name, kV3NameSize);
        std::memcpy(desc + kTypeOffset, type, kV3TypeSize);
        desc[kModeOffset] = mode;
        StoreLE32(desc + kSizeOffset, size);
        StoreLE32(desc + kPackedOffset, packed);
        if (files::ReadUpTo(old.fd, entry.data() + kEntryHeadSize, packed) != static_cast<long long>(packed)) {
            tag.Error("data block is corrupted.\n");
            return -1;
        }
        offset += packed;
        if (std::memcmp(type, kV3Deleted, kV3TypeSize) == 0) continue;  // deleted blocks are dropped

        // A failed write stops the upgrade: the 3.0 file stays as it is.
        if (!files::WriteAll(temp.fd, entry.data(), kMarkerSize)) {
            tag.Error("new ID block is corrupted.\n");
            return -1;
        }
        if (!files::WriteAll(temp.fd, desc, kDescriptorSize)) {
            tag.Error("new header block is corrupted.\n");
            return -1;
        }
        if (!files::WriteAll(temp.fd, entry.data() + kEntryHeadSize, padded)) {
            tag.Error("new data block is corrupted.\n");
            return -1;
        }
        ++count;
        tag.Info(2, "imported block %d - Name '%.32s' - Type '%.5s' - Size %d Kb\n", count,
                 reinterpret_cast<const char*>(name), reinterpret_cast<const char*>(type),
                 static_cast<int>(packed / 1024));
    }
    close(old.release());

    std::string error;
    if (!RewriteHeader(temp.fd, internal, error)) {
        tag.Error("new header block is corrupted.\n");
        return -1;
    }
    if (close(temp.release()) != 0) {
        tag.Error("new data block is corrupted.\n");
        return -1;
    }
    tag.Info(2, "total blocks imported: %d\n", count);

    if (!RenameNoReplace(path, backup)) {
        tag.Error("could not rename it to '%s': %s\n", backup.c_str(), strerror(errno));
        return -1;
    }
    if (rename(tempName.c_str(), path) != 0) {
        const int why = errno;
        // Put the 3.0 file back where it was.
        const bool restored = RenameNoReplace(backup, path);
        tag.Error("could not rename '%s' to it: %s%s\n", tempName.c_str(), strerror(why),
                  restored ? "" : " (the original stays as the backup)");
        return -1;
    }
    removeTemp.keep = true;
    LOG_PRINT(2, "   - Original VLT v3.0 was renamed to %s\n\n", backup.c_str());

    Fd done;
    done.fd = open(path, O_RDWR | O_CLOEXEC);
    if (done.fd < 0) return -1;
    if (files::ReadUpTo(done.fd, head, kHeadSize) != static_cast<long long>(kHeadSize)) return -1;
    return done.release();
}

}  // namespace vlt
