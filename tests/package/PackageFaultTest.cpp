// Untrusted descriptors and failed writes.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PackageTestSupport.h"

using namespace pkgtest;
using testsupport::Contains;
using testsupport::ContainsAll;
using testsupport::LogCapture;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// A closed package holding one block; returns the offset of its descriptor.
size_t OneBlockPackage(const std::string& path, uint8_t mode, const std::vector<uint8_t>& data) {
    IStuffVLT m;
    const int id = m.Create(path.c_str());
    EXPECT_GT(AddTo(m, id, "blk", data, mode), 0);
    m.Close(id);
    return 536;
}

// Rewrites descriptor bytes and the checksum, as a damaged or hostile file
// that still passes the checksum test would hold them.
void Patch(const std::string& path, size_t at, const std::vector<uint8_t>& bytes) {
    auto file = ReadFile(path);
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(at));
    auto header = Header(file);
    StoreLE32(header.data() + 96, Trovalis.CRC32(file.data() + 520, static_cast<int32_t>(file.size() - 520)));
    PutHeader(file, header);
    WriteFile(path, file);
}

std::vector<uint8_t> LE(uint32_t v) {
    std::vector<uint8_t> b(4);
    StoreLE32(b.data(), v);
    return b;
}

class PackageDamage : public PackageTest {
protected:
    // Loads "blk" from a fresh manager; the logged text in logged.
    int Load(const std::string& path, std::string& logged) {
        IStuffVLT m;
        LogCapture cap;
        const int id = m.Open(path.c_str());
        EXPECT_GE(id, 1);
        BlockInfo got;
        const int r = m.LoadBlock(id, "FILE", "blk", &got);
        m.FreeBlock(&got);
        m.Close(id);
        logged = cap.Take();
        return r;
    }
};

// A few packed bytes claiming hundreds of megabytes made LoadBlock allocate
// the claim (found by fuzzing; tests/data/fuzz/package). The claim is now
// refused beyond 1024 times the packed size; the compressor's best ratio
// (about 656, 4 MiB of zeros) must still load.
TEST_F(PackageDamage, ImplausibleRatioIsDecompressed) {
    const std::string zeros = Path("zeros.vlt");
    OneBlockPackage(zeros, compressed, std::vector<uint8_t>(4u << 20, 0));
    std::string logged;
    EXPECT_EQ(Load(zeros, logged), 4 << 20);

    const std::string path = Path("claim.vlt");
    OneBlockPackage(path, compressed, Bytes(std::string(300, 'z')));
    const uint32_t packed = LoadLE32(ReadFile(path).data() + 536 + 48);
    Patch(path, 536 + 44, LE(packed * 1024 + 1));
    EXPECT_EQ(Load(path, logged), 0);
    EXPECT_TRUE(Contains(logged, " . [IStuffVLT->LoadBlock('" + path +
                                     "','FILE','blk')] Error: UCL failed to decompress the data block.\n"));
}

TEST_F(PackageDamage, DescriptorCutShortEndsTheWalkWithItsMessage) {
    const std::string path = Path("cut.vlt");
    OneBlockPackage(path, stored, Noise(8));
    // A second marker with only 10 descriptor bytes behind it (the first entry's payload of 8 needs no padding).
    auto file = ReadFile(path);
    std::vector<uint8_t> tail(vlt::kMarker, vlt::kMarker + 16);
    tail.resize(26, 'q');
    file.insert(file.end(), tail.begin(), tail.end());
    WriteFile(path, file);
    Patch(path, 0, {});  // the checksum only
    IStuffVLT m;
    LogCapture cap;
    const int id = m.Open(path.c_str());
    ASSERT_GE(id, 1);
    BlockInfo walk;
    ASSERT_EQ(m.FindFirst(id, &walk), 1);
    EXPECT_EQ(m.FindNext(id, &walk), 2);
    EXPECT_STREQ(walk.name, "blk");  // left as it was
    EXPECT_EQ(m.Count(id), 1);
    EXPECT_EQ(AddTo(m, id, "new", Bytes("x")), 0);
    m.Close(id);
    const std::string logged = cap.Take();
    const std::string message =
        " . [IStuffVLT->FindNext(" + std::to_string(id) + ")] Error: the next block was unsuccessfully loaded.\n";
    EXPECT_TRUE(ContainsAll(logged, {message, "Error: it was not possible to access to the VLT.\n"}));
}

TEST_F(PackageDamage, NamesWithoutTerminatorComeBackTerminated) {
    const std::string path = Path("noterm.vlt");
    OneBlockPackage(path, stored, Noise(8));
    std::vector<uint8_t> fields(40, 'N');  // name and type without a NUL
    Patch(path, 536, fields);
    IStuffVLT m;
    const int id = m.Open(path.c_str());
    BlockInfo walk;
    ASSERT_EQ(m.FindFirst(id, &walk), 1);
    EXPECT_EQ(std::strlen(walk.name), 31u);
    EXPECT_EQ(std::strlen(walk.type), 7u);
    m.Close(id);
}

// --- Failed writes ---------------------------------------------------------

// Lowers the file size limit for the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit l = saved_;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

class PackageWrites : public PackageTest {};

TEST_F(PackageWrites, ShortAppendLeftInThePackage) {
    const std::string path = Path("full.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_EQ(AddTo(vlt(), id, "first", Noise(100)), 100);
    const auto before = ReadFile(path);
    auto big = Noise(5000);
    BlockInfo b = Block("second", "FILE", stored, big);
    {
        FileSizeLimit limit(before.size() + 1000);  // part of the entry fits
        LogCapture cap;
        EXPECT_EQ(vlt().AddData(id, &b), 0);
        EXPECT_TRUE(Contains(cap.Take(), " . [IStuffVLT->AddData(" + std::to_string(id) +
                                             ",'second')] Error: the data block could not be written: "));
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(vlt().Count(id), 1);
    BlockInfo got;
    EXPECT_EQ(vlt().LoadBlock(id, "FILE", "second", &got), 0);
    // Once there is room again, the same block goes in and the package opens.
    EXPECT_EQ(vlt().AddData(id, &b), 5000);
    vlt().Close(id);
    IStuffVLT m;
    const int again = m.Open(path.c_str());
    ASSERT_GE(again, 1);
    EXPECT_EQ(m.Count(again), 2);
    EXPECT_EQ(m.LoadBlock(again, "FILE", "second", &got), 5000);
    m.FreeBlock(&got);
    m.Close(again);
}

// Blocks compressed by workers are written together later; a write of
// them that fails must still be the package's write error, and the file
// must be cut back to what it was.
TEST_F(PackageWrites, GatheredWriteThatFailsIsTheWriteError) {
    struct Jobs {
        Jobs() { IStuffVLT::SetJobs(2); }
        ~Jobs() { IStuffVLT::SetJobs(1); }
    } jobs;
    const std::string path = Path("gathered.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_EQ(AddTo(vlt(), id, "first", Noise(100)), 100);
    const auto before = ReadFile(path);
    {
        FileSizeLimit limit(before.size() + 3000);  // a few of the blocks fit
        for (int i = 0; i < 20; ++i)
            ASSERT_GT(AddTo(vlt(), id, ("b" + std::to_string(i)).c_str(), Noise(1000, i + 2), compressed), 0);
        LogCapture cap;
        EXPECT_EQ(vlt().Flush(id), EFBIG);
        EXPECT_TRUE(Contains(cap.Take(), " . [IStuffVLT->AddData(" + std::to_string(id) +
                                             ",'b0')] Error: the data block could not be written: "));
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(vlt().Count(id), 1);
    vlt().CloseDiscarding(id);
}

// Runs body against a package that can only be opened read-only.
int WithReadOnlyPackage(const std::string& dir, const std::string& path, int (*body)(const std::string&)) {
    chmod(path.c_str(), 0444);
    if (geteuid() != 0) return body(path);
    chmod(dir.c_str(), 0755);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        _exit(body(path));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

int ReadOnlyBody(const std::string& path) {
    int failures = 0;
    IStuffVLT m;
    LogCapture cap;
    const int id = m.Open(path.c_str());
    if (id < 1) return 50;
    if (!Contains(cap.Take(), " . [IStuffVLT->Open('" + path + "')] Warning: file opened in read only mode.\n"))
        failures |= 1;
    BlockInfo got;
    if (m.LoadBlock(id, "FILE", "blk", &got) != 8) failures |= 2;
    m.FreeBlock(&got);
    auto d = Bytes("more");
    BlockInfo b = Block("new", "FILE", stored, d);
    if (m.AddData(id, &b) != 0) failures |= 4;
    BlockInfo del = Block("blk", "FILE", stored, d);
    if (m.Delete(id, &del) != 0) failures |= 8;
    const std::string logged = cap.Take();
    if (!Contains(logged, "AddData(" + std::to_string(id) + ",'new')] Error: the VLT was opened in read only mode.\n"))
        failures |= 16;
    if (!Contains(logged, "Delete(" + std::to_string(id) + ")] Error: the VLT was opened in read only mode.\n"))
        failures |= 32;
    m.Close(id);
    return failures;
}

TEST_F(PackageWrites, ReadOnlyPackageIsWritten) {
    const std::string path = Path("ro.vlt");
    OneBlockPackage(path, stored, Noise(8));
    const auto before = ReadFile(path);
    EXPECT_EQ(WithReadOnlyPackage(dir_.path(), path, ReadOnlyBody), 0);
    EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
