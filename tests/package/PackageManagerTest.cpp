// The package manager: the registry of open packages, AddData's and
// Delete's rules, walks and the checksum test; blocks stored in each mode
// coming back byte for byte and the entry layout on disk; the cipher with the
// byte order of package files; and the writer operations (AddData while
// updating, WriteLive).

#include <dirent.h>
#include <zlib.h>

#include <tuple>

#include "PackageTestSupport.h"
#include "package/PairSet.h"

using namespace pkgtest;
using testsupport::Contains;
using testsupport::Count;
using testsupport::LogCapture;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

class PackageRegistry : public PackageTest {};

TEST_F(PackageRegistry, ReopenedPackageGetsAnOldId) {
    IStuffVLT m;
    const int a = m.Create(Path("a.vlt").c_str());
    const int b = m.Create(Path("b.vlt").c_str());
    EXPECT_EQ(b, a + 1);
    m.Close(a);
    m.Close(b);
    // A package opened again after its close receives a new id.
    EXPECT_EQ(m.Open(Path("a.vlt").c_str()), b + 1);
    m.Close(b + 1);
}

TEST_F(PackageRegistry, FirstOfTwoClosesClosesThePackage) {
    const std::string path = Path("twice.vlt");
    const int id = vlt().Create(path.c_str());
    EXPECT_EQ(vlt().Open(path.c_str()), id);
    EXPECT_EQ(AddTo(vlt(), id, "one", Bytes("payload")), 7);
    vlt().Close(id);
    ASSERT_NE(vlt().GetName(id), nullptr);
    EXPECT_EQ(path, vlt().GetName(id));
    EXPECT_EQ(StoredChecksum(ReadFile(path)), 0u);  // not yet rewritten
    vlt().Close(id);
    EXPECT_EQ(vlt().GetName(id), nullptr);
    EXPECT_EQ(vlt().Count(id), -1);
    EXPECT_NE(StoredChecksum(ReadFile(path)), 0u);
}

TEST_F(PackageRegistry, ThirtyThirdPackageLeaksItsDescriptor) {
    IStuffVLT m;
    std::vector<int> ids;
    for (int i = 0; i < 32; ++i) ids.push_back(m.Create(Path("p" + std::to_string(i) + ".vlt").c_str()));
    for (int id : ids) ASSERT_GE(id, 1);
    const std::string extra = Path("extra.vlt");
    {
        IStuffVLT maker;
        maker.Close(maker.Create(extra.c_str()));
    }
    const int before = OpenDescriptors();
    LogCapture cap;
    EXPECT_EQ(m.Open(extra.c_str()), 0);
    EXPECT_TRUE(Contains(cap.Take(), " . [IStuffVLT] Warning: reached maximum limit of VLT files opened(32).\n"));
    EXPECT_EQ(OpenDescriptors(), before);
    for (int id : ids) m.Close(id);
}

// ProbeHead, which the commands ask before anything opens a package, tells these files apart as Open does.
TEST_F(PackageRegistry, ProbeDisagreesWithOpen) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
        int probe;
    } cases[] = {
        {Bytes("VLTx4.0"), "Error: it is not a valid VLT.\n", IStuffVLT::kHeadNotPackage},
        {Bytes("VLT"), "Error: it is not a valid VLT.\n", IStuffVLT::kHeadNotPackage},
        {Bytes(std::string("VLTv5.0\0", 8)), "Error: 'VLTv5.0' version is not supported.\n",
         IStuffVLT::kHeadOtherVersion},
        {Bytes(std::string("VLTv4.0\0short", 13)), "Error: the given VLT is corrupted.\n", IStuffVLT::kHeadVersion4},
    };
    const std::string path = Path("bad.vlt");
    PackageHead head;
    for (const Case& c : cases) {
        WriteFile(path, c.bytes);
        LogCapture cap;
        EXPECT_EQ(vlt().Open(path.c_str()), -1);
        EXPECT_TRUE(Contains(cap.Take(), c.message)) << c.message;
        EXPECT_EQ(IStuffVLT::ProbeHead(path.c_str(), &head), c.probe) << c.message;
        EXPECT_EQ(head.entryBytes, 0u);
    }
    EXPECT_STREQ(head.version, "4.0");
    LogCapture cap;
    EXPECT_EQ(vlt().Open(Path("missing.vlt").c_str()), -1);
    EXPECT_TRUE(Contains(cap.Take(), "')] Error: No such file or directory\n"));
    EXPECT_EQ(IStuffVLT::ProbeHead(Path("missing.vlt").c_str(), &head), IStuffVLT::kHeadUnreadable);
    EXPECT_EQ(head.error, ENOENT);
    EXPECT_EQ(IStuffVLT::ProbeHead(dir_.path().c_str(), &head), IStuffVLT::kHeadNotRegular);
    const int id = vlt().Create(path.c_str());
    ASSERT_GT(AddTo(vlt(), id, "one", Bytes("abc")), 0);
    vlt().Close(id);
    EXPECT_EQ(IStuffVLT::ProbeHead(path.c_str(), &head), IStuffVLT::kHeadVersion4);
    EXPECT_EQ(head.entryBytes, ReadFile(path).size() - 520);
}

TEST_F(PackageRegistry, LongPathIsCutShort) {
    std::string path = dir_.path();
    for (int i = 0; i < 12; ++i) path += "/" + std::string(40, static_cast<char>('a' + i));
    path += "/long.vlt";
    {
        IStuffVLT m;
        const int id = m.Create(path.c_str());
        ASSERT_GE(id, 1);
        EXPECT_EQ(path, m.GetName(id));
        AddTo(m, id, "b", Bytes("abc"), crypted);
    }  // not closed: the destructor rewrites the header
    IStuffVLT m;
    const int id = m.Open(path.c_str());
    EXPECT_GE(id, 1);
    m.Close(id);
}

class PackageBlocks : public PackageTest {
protected:
    void SetUp() override {
        path_ = Path("blocks.vlt");
        id_ = vlt().Create(path_.c_str());
        ASSERT_GE(id_, 1);
    }
    void TearDown() override { vlt().Close(id_); }
    int Add(const char* name, const char* type, uint8_t mode = stored, const std::string& text = "data") {
        return AddTo(vlt(), id_, name, Bytes(text), mode, type);
    }
    std::string path_;
    int id_ = 0;
};

TEST_F(PackageBlocks, OverlongNameOrTypeIsStored) {
    EXPECT_EQ(Add(std::string(31, 'n').c_str(), "SEVENCH"), 4);
    auto d = Bytes("data");
    BlockInfo longName = Block("", "FILE", stored, d);
    std::memset(longName.name, 'n', sizeof longName.name);  // 32 characters, no NUL
    EXPECT_EQ(vlt().AddData(id_, &longName), 0);
    BlockInfo longType = Block("x", "", stored, d);
    std::memcpy(longType.type, "EIGHTCHR", 8);
    EXPECT_EQ(vlt().AddData(id_, &longType), 0);
    EXPECT_EQ(vlt().Count(id_), 1);
}

TEST_F(PackageBlocks, ModeSevenIsStoredAsCrypted) {
    auto d = Bytes("secret");
    BlockInfo b = Block("m7", "FILE", 7, d);
    EXPECT_EQ(vlt().AddData(id_, &b), 6);
    EXPECT_EQ(b.mode, crypted);
    BlockInfo got;
    ASSERT_EQ(vlt().LoadBlock(id_, "FILE", "m7", &got), 6);
    EXPECT_EQ(got.mode, crypted);
    EXPECT_EQ(0, std::memcmp(got.data, "secret", 6));
    vlt().FreeBlock(&got);
}

TEST_F(PackageBlocks, ExistingPairIsOverwritten) {
    ASSERT_EQ(Add("dup", "FILE"), 4);
    ASSERT_EQ(Add("other", "FILE"), 4);
    const auto before = ReadFile(path_);
    auto d = Bytes("something else");
    BlockInfo b = Block("dup", "FILE", compressed, d);
    LogCapture cap;
    EXPECT_EQ(vlt().AddData(id_, &b), -1);
    EXPECT_EQ(cap.Take(), " . [IStuffVLT->AddData(" + std::to_string(id_) + ",'dup')] Info: block already exists.\n");
    // info now holds the stored entry
    EXPECT_EQ(std::make_tuple(b.data, b.mode, b.size), std::make_tuple(static_cast<uint8_t*>(nullptr), stored, 4u));
    EXPECT_EQ(ReadFile(path_), before);
    EXPECT_EQ(Add("dup", "IMG"), 4);  // another type is another block
}

TEST_F(PackageBlocks, FindNextFollowsTheCursorLeftByAnotherPackage) {
    // The cursor is shared by all packages.
    Add("first", "FILE", stored, "12345678");  // payload 600..608
    Add("second", "FILE");                     // marker at 608
    IStuffVLT& m = vlt();
    const int other = m.Create(Path("other.vlt").c_str());
    auto d = Bytes("abcd");
    BlockInfo b = Block("short", "FILE", stored, d);
    ASSERT_EQ(m.AddData(other, &b), 4);  // payload 600..604
    BlockInfo walk;
    ASSERT_EQ(m.FindFirst(other, &walk), 1);
    ASSERT_EQ(m.FindNext(id_, &walk), 1);  // from 604, inside "first"'s payload
    EXPECT_STREQ(walk.name, "second");
    EXPECT_EQ(m.FindNext(id_, &walk), 0);
    ASSERT_EQ(m.FindFirst(other, &walk), 1);
    EXPECT_EQ(m.FindNext(other, &walk), 0);
    m.Close(other);
}

TEST_F(PackageBlocks, ProtectedPackageGivesItsBlocks) {
    Add("inside", "FILE");
    vlt().Close(id_);
    auto bytes = ReadFile(path_);
    auto header = Header(bytes);
    header[93] = 1;  // the protected flag; the checksum does not cover the header
    PutHeader(bytes, header);
    WriteFile(path_, bytes);
    IStuffVLT m;
    const int id = m.Open(path_.c_str());
    ASSERT_GE(id, 1);
    LogCapture cap;
    EXPECT_EQ(m.Count(id), 0);
    BlockInfo got;
    EXPECT_EQ(m.LoadBlock(id, "FILE", "inside", &got), 0);
    auto d = Bytes("x");
    BlockInfo a = Block("new", "FILE", stored, d);
    EXPECT_EQ(m.AddData(id, &a), 0);
    EXPECT_EQ(m.Delete(id, &a), 0);
    EXPECT_EQ(Count(cap.Take(), "Error: the given VLT is protected and the key was not set.\n"), 4);
    m.Close(id);
    EXPECT_EQ(ReadFile(path_), bytes);
    id_ = vlt().Open(path_.c_str());
}

}  // namespace

namespace {

class PackageRoundTrip : public PackageTest {};

TEST_F(PackageRoundTrip, EntriesArePaddedWithZerosToMultipleOfEight) {
    const std::string path = Path("pad.vlt");
    const int id = vlt().Create(path.c_str());
    auto thirteen = Noise(13);
    auto sixteen = Noise(16);
    BlockInfo a = Block("thirteen", "FILE", stored, thirteen);
    BlockInfo b = Block("sixteen", "FILE", crypted, sixteen);
    EXPECT_EQ(vlt().AddData(id, &a), 13);
    EXPECT_EQ(vlt().AddData(id, &b), 16);
    vlt().Close(id);
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 520u + 96u + 96u);
    EXPECT_EQ(0, std::memcmp(file.data() + 520, vlt::kMarker, 16));
    EXPECT_EQ(0, std::memcmp(file.data() + 616, vlt::kMarker, 16));
    const uint8_t* d = file.data() + 536;
    EXPECT_STREQ(reinterpret_cast<const char*>(d), "thirteen");
    EXPECT_STREQ(reinterpret_cast<const char*>(d + 32), "FILE");
    std::vector<uint8_t> tail(24, 0);  // mode, sizes, the rest zero
    tail[0] = stored;
    StoreLE32(&tail[4], 13);
    StoreLE32(&tail[8], 13);
    EXPECT_EQ(std::vector<uint8_t>(d + 40, d + 64), tail);
    EXPECT_EQ(0, std::memcmp(file.data() + 600, thirteen.data(), 13));
    for (int i = 613; i < 616; ++i) EXPECT_EQ(file[i], 0) << i;
    // The crypted payload differs from the data by the scrambling byte everywhere.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(file[696 + i], sixteen[i] ^ BlockScrambleByte());
    // The checksum written at Close covers everything from offset 520.
    const uint32_t crc = static_cast<uint32_t>(crc32(0, file.data() + 520, static_cast<uInt>(file.size() - 520)));
    EXPECT_EQ(StoredChecksum(file), crc);
}

TEST_F(PackageRoundTrip, StoredBlockOfSizeZeroGivesZeroBothWays) {
    const int id = vlt().Create(Path("zero.vlt").c_str());
    std::vector<uint8_t> none;
    BlockInfo a = Block("nothing", "FILE", stored, none);
    EXPECT_EQ(vlt().AddData(id, &a), 0);
    BlockInfo got;
    EXPECT_EQ(vlt().LoadBlock(id, "FILE", "nothing", &got), 0);
    vlt().FreeBlock(&got);
    EXPECT_EQ(vlt().Count(id), 1);
    vlt().Close(id);
}

}  // namespace

namespace {

struct Vector {
    std::vector<uint8_t> key;
    uint32_t plainL, plainR, cipherL, cipherR;
};

// The published Blowfish test vectors give L and R as numbers.
std::vector<uint8_t> BlockBytes(uint32_t l, uint32_t r) {
    std::vector<uint8_t> b(8);
    StoreLE32(b.data(), l);
    StoreLE32(b.data() + 4, r);
    return b;
}

TEST(PackageCipher, MatchesPublishedVectorsWithLittleEndianWords) {
    const Vector vectors[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0x00000000, 0x00000000, 0x4EF99745, 0x6198DD78},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0xFFFFFFFF, 0x51866FD5, 0xB85ECB8A},
        {{0x30, 0, 0, 0, 0, 0, 0, 0}, 0x10000000, 0x00000001, 0x7D856F9A, 0x613063F2},
        {{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}, 0x01234567, 0x89ABCDEF, 0x0ACEAB0F, 0xC6A0A28D},
        // A 16-byte key, the length of the internal key.
        {{0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87, 0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F},
         0xFEDCBA98,
         0x76543210,
         0x93142887,
         0xEE3BE15C},
    };
    for (const Vector& v : vectors) {
        PackageCipher c;
        ASSERT_TRUE(c.SetKey(v.key.data(), v.key.size()));
        auto block = BlockBytes(v.plainL, v.plainR);
        c.Encipher(block.data(), block.size());
        EXPECT_EQ(LoadLE32(block.data()), v.cipherL);
        EXPECT_EQ(LoadLE32(block.data() + 4), v.cipherR);
        c.Decipher(block.data(), block.size());
        EXPECT_EQ(block, BlockBytes(v.plainL, v.plainR));
    }
}

}  // namespace

namespace {

struct UpdateCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint8_t mode;
    const char* outcome;  // "added", "replaced" or "unchanged"
};

}  // namespace

// A block of the same bytes stored another way is not the same block.
TEST_F(PackageTest, UpdatingKeepsOnlyABlockOfTheSameBytesAndMode) {
    const int id = vlt().Create(Path("p.vlt").c_str());
    ASSERT_GT(id, 0);
    std::vector<uint8_t> text = Bytes("some text, some text, some text"), noise = Noise(300);
    for (const char* name : {"same", "mode", "bytes"}) {
        BlockInfo b = Block(name, "FILE", stored, text);
        ASSERT_GT(vlt().AddData(id, &b), 0);
    }
    ASSERT_EQ(vlt().SetUpdating(id, true), 1);
    const UpdateCase cases[] = {
        {"same", text, stored, "unchanged"},
        {"mode", text, compressed, "replaced"},
        {"bytes", noise, stored, "replaced"},
        {"new", noise, crypted, "added"},
    };
    for (const UpdateCase& c : cases) {
        IStuffVLT::UpdateCounts before, after;
        vlt().GetUpdateCounts(id, &before);
        std::vector<uint8_t> bytes = c.bytes;
        BlockInfo b = Block(c.name, "FILE", c.mode, bytes);
        EXPECT_GT(vlt().AddData(id, &b), 0) << c.name;
        vlt().GetUpdateCounts(id, &after);
        const std::string outcome = after.added > before.added           ? "added"
                                    : after.replaced > before.replaced   ? "replaced"
                                    : after.unchanged > before.unchanged ? "unchanged"
                                                                         : "none";
        EXPECT_EQ(outcome, c.outcome) << c.name;
        BlockInfo loaded;
        vlt().LoadBlock(id, "FILE", c.name, &loaded);
        EXPECT_EQ(std::vector<uint8_t>(loaded.data, loaded.data + loaded.size), c.bytes) << c.name;
        EXPECT_EQ(loaded.mode, c.mode) << c.name;
        vlt().FreeBlock(&loaded);
    }
    // the two replaced blocks, and only them
    EXPECT_EQ(std::make_pair(vlt().CountDeleted(id), vlt().Count(id)), std::make_pair(2, 6));
    vlt().Close(id);
}

// WriteLive keeps the live entries that the callback accepts, in order, with the header's creator and creation date.
TEST_F(PackageTest, WriteLiveCopiesLiveEntriesAndRefusesOneThatRunsPastTheEnd) {
    const std::string path = Path("p.vlt");
    int id = vlt().Create(path.c_str());
    ASSERT_GT(id, 0);
    std::vector<uint8_t> noise = Noise(1000);
    for (const char* name : {"a", "gone", "b", "dropped", "c"}) {
        BlockInfo b = Block(name, "FILE", compressed, noise);
        ASSERT_GT(vlt().AddData(id, &b), 0);
    }
    BlockInfo gone = Block("gone", "FILE", compressed, noise);
    ASSERT_EQ(vlt().Delete(id, &gone), 1);
    const auto keep = [](void*, const BlockInfo& info) { return std::strcmp(info.name, "dropped") != 0; };
    ASSERT_EQ(vlt().WriteLive(id, Path("live.vlt").c_str(), keep, nullptr), 1);
    vlt().Close(id);
    std::vector<std::string> names;
    for (const auto& e : testsupport::Entries(Path("live.vlt"))) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(testsupport::Block(Path("live.vlt"), "FILE", "c"), noise);
    const std::vector<uint8_t> h1 = Header(testsupport::ReadFile(path)),
                               h2 = Header(testsupport::ReadFile(Path("live.vlt")));
    EXPECT_TRUE(std::equal(h1.begin(), h1.begin() + 61, h2.begin()));  // creator and creation date

    // The last entry's packed size made larger than the file.
    std::vector<uint8_t> file = testsupport::ReadFile(path);
    size_t marker = file.size();
    while (marker-- > 520)
        if (std::memcmp(file.data() + marker, vlt::kMarker, vlt::kMarkerSize) == 0) break;
    StoreLE32(file.data() + marker + vlt::kMarkerSize + vlt::kPackedOffset, 4000);
    ASSERT_TRUE(testsupport::WriteFile(path, file));
    id = vlt().Open(path.c_str());
    ASSERT_GT(id, 0);
    testsupport::LogCapture log;
    EXPECT_EQ(vlt().WriteLive(id, Path("bad.vlt").c_str(), nullptr, nullptr), 0);
    EXPECT_TRUE(
        testsupport::Contains(log.Take(), "Error: an entry runs into the next one or past the end of the VLT."));
    EXPECT_FALSE(testsupport::FileExists(Path("bad.vlt")));
    vlt().Close(id);
}

// Worker threads: what one package manager writes and loads with jobs.
class PackageJobs : public PackageTest {
protected:
    ~PackageJobs() override { IStuffVLT::SetJobs(1); }
    // Blocks of every mode, a pair added twice, an update of every third
    // block, then every block loaded in package order: the file from its
    // first entry on, what each call answered and what each load gave.
    std::vector<uint8_t> Run(unsigned jobs, const std::string& path, std::vector<int>& answers) {
        IStuffVLT::SetJobs(jobs);
        IStuffVLT m;
        auto payload = [](int i, int round) {
            std::vector<uint8_t> b = Noise(40 + 97 * (i % 23), static_cast<uint32_t>(i));
            b.resize(b.size() + 300 * (i % 5), static_cast<uint8_t>(round + i));
            return b;
        };
        for (int round = 0; round < 2; ++round) {
            const int id = round ? m.Open(path.c_str()) : m.Create(path.c_str());
            if (round) m.SetUpdating(id, true);
            for (int i = 0; i < 120; ++i) {
                const std::string name = "b" + std::to_string(i % 110);  // the last ten pairs come twice
                const uint8_t mode = i % 40 == 7 ? stored : i % 40 == 8 ? crypted : compressed;
                answers.push_back(AddTo(m, id, name.c_str(), payload(i, round && i % 3 == 0), mode) > 0);
            }
            IStuffVLT::UpdateCounts counts;
            m.GetUpdateCounts(id, &counts);
            answers.insert(answers.end(), {counts.added, counts.replaced, counts.unchanged});
            m.Close(id);
        }
        const int id = m.Open(path.c_str());
        BlockInfo info;
        for (int r = m.FindFirst(id, &info); r == 1; r = m.FindNext(id, &info)) {
            const std::string name = info.name, type = info.type;
            if (type == "DELETED") continue;  // a load finds the first of their names
            BlockInfo found;
            std::vector<uint8_t> bytes;
            if (m.LoadBlock(id, type.c_str(), name.c_str(), &found) > 0)
                bytes.assign(found.data, found.data + found.size);
            m.FreeBlock(&found);
            answers.push_back(static_cast<int>(bytes.size()));
            answers.push_back(static_cast<int>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size()))));
        }
        m.Close(id);
        const std::vector<uint8_t> file = ReadFile(path);
        return std::vector<uint8_t>(file.begin() + 520, file.end());
    }
};

// An appended entry is taken into the index without reading the file back
// only where a scan finds exactly it: after the first 15 bytes of a marker,
// the scan finds a marker of their own that runs into the new one.
TEST_F(PackageJobs, AppendAfterTheStartOfAMarkerIsWalkedAsTheFileIs) {
    for (unsigned jobs : {1u, 2u}) {
        const std::string path = Path("junk" + std::to_string(jobs) + ".vlt");
        {
            IStuffVLT m;
            const int id = m.Create(path.c_str());
            ASSERT_EQ(AddTo(m, id, "first", Noise(8)), 8);
            m.Close(id);
        }
        std::vector<uint8_t> file = ReadFile(path);
        file.insert(file.end(), vlt::kMarker, vlt::kMarker + vlt::kMarkerSize - 1);
        std::vector<uint8_t> header = Header(file);
        StoreLE32(header.data() + 96,
                  static_cast<uint32_t>(crc32(0, file.data() + 520, static_cast<uInt>(file.size() - 520))));
        PutHeader(file, header);
        ASSERT_TRUE(WriteFile(path, file));
        auto walk = [&](IStuffVLT& m, int id) {
            std::vector<std::string> names;
            BlockInfo info;
            for (int r = m.FindFirst(id, &info); r == 1; r = m.FindNext(id, &info)) names.push_back(info.name);
            return names;
        };
        IStuffVLT::SetJobs(jobs);
        std::vector<std::string> seen, scanned;
        {
            IStuffVLT m;
            const int id = m.Open(path.c_str());
            ASSERT_GE(id, 1);
            ASSERT_GT(AddTo(m, id, "second", Noise(300), compressed), 0);
            seen = walk(m, id);
            m.Close(id);
        }
        IStuffVLT fresh;
        const int id = fresh.Open(path.c_str());
        ASSERT_GE(id, 1);
        scanned = walk(fresh, id);
        fresh.Close(id);
        EXPECT_EQ(seen, scanned) << jobs;
    }
}

TEST_F(PackageJobs, WorkersWriteAndLoadTheBytesOfOneThread) {
    std::vector<int> one, three;
    const std::vector<uint8_t> a = Run(1, Path("one.vlt"), one);
    EXPECT_EQ(Run(3, Path("three.vlt"), three), a);
    EXPECT_EQ(three, one);
    EXPECT_GT(a.size(), 100000u);
}

namespace {

// The offsets of the entries' markers in the bytes of a package file.
std::vector<size_t> Markers(const std::vector<uint8_t>& file) {
    std::vector<size_t> at;
    for (size_t i = 520; i + vlt::kMarkerSize <= file.size(); ++i)
        if (std::memcmp(file.data() + i, vlt::kMarker, vlt::kMarkerSize) == 0) at.push_back(i);
    return at;
}

}  // namespace

// Descriptors as another writer may leave them, with bytes no field of the
// index names: the walk and a deletion see the file's own bytes (a deletion
// changes the name's first byte and the type alone), and of two live blocks
// of one pair the first is deleted, then the second.
TEST_F(PackageTest, DescriptorBytesBesideTheFieldsAreLost) {
    const struct {
        const char* what;
        size_t at;  // in the descriptor
        std::string bytes;
    } rows[] = {
        {"a byte after the name's end", 10, "x"},
        {"a byte after the type's end", 38, "y"},
        {"a padding byte", 42, "\x07"},
        {"a reserved byte", 60, "\x09"},
        {"a name of 32 bytes without its end", 0, std::string(32, 'n')},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = Path("d" + std::to_string(n++) + ".vlt");
        int id = vlt().Create(path.c_str());
        ASSERT_GT(id, 0);
        ASSERT_EQ(AddTo(vlt(), id, "one", Bytes("12345678")), 8);
        ASSERT_EQ(AddTo(vlt(), id, "two", Bytes("abcd")), 4);
        ASSERT_EQ(AddTo(vlt(), id, "twx", Bytes("efgh")), 4);
        vlt().Close(id);
        std::vector<uint8_t> file = ReadFile(path);
        const std::vector<size_t> markers = Markers(file);
        ASSERT_EQ(markers.size(), 3u);
        uint8_t* two = file.data() + markers[1] + vlt::kMarkerSize;
        uint8_t* twx = file.data() + markers[2] + vlt::kMarkerSize;
        std::memcpy(two + row.at, row.bytes.data(), row.bytes.size());
        std::memcpy(twx, two, vlt::kNameSize);  // the same pair: a second live block of it
        std::vector<uint8_t> header = Header(file);
        StoreLE32(header.data() + 96, static_cast<uint32_t>(crc32(0, file.data() + 520, file.size() - 520)));
        PutHeader(file, header);
        ASSERT_TRUE(WriteFile(path, file));

        id = vlt().Open(path.c_str());
        ASSERT_GT(id, 0);
        BlockInfo pair;
        std::memset(&pair, 0, sizeof pair);
        std::memcpy(pair.name, two, vlt::kNameSize);  // all 32 bytes: a name without its end too
        std::strcpy(pair.type, "FILE");
        std::vector<std::string> walk;
        BlockInfo info;
        for (int r = vlt().FindFirst(id, &info); r == 1; r = vlt().FindNext(id, &info))
            walk.push_back(std::string(info.name) + ":" + info.type);
        const std::string name(reinterpret_cast<const char*>(two), strnlen(reinterpret_cast<const char*>(two), 31));
        EXPECT_EQ(walk, (std::vector<std::string>{"one:FILE", name + ":FILE", name + ":FILE"}));
        // The first of the two goes, then the second.
        const auto descriptorAt = [&](size_t marker) {
            const std::vector<uint8_t> now = ReadFile(path);
            return std::vector<uint8_t>(now.begin() + marker + vlt::kMarkerSize,
                                        now.begin() + marker + vlt::kEntryHeadSize);
        };
        const std::vector<uint8_t> second = descriptorAt(markers[2]);
        std::vector<uint8_t> deleted(two, two + vlt::kDescriptorSize);
        deleted[0] = '?';
        std::memcpy(deleted.data() + vlt::kTypeOffset, "DELETED", 8);
        BlockInfo copy = pair;
        ASSERT_EQ(vlt().Delete(id, &copy), 1);
        EXPECT_EQ(descriptorAt(markers[1]), deleted);
        EXPECT_EQ(descriptorAt(markers[2]), second);
        copy = pair;
        ASSERT_EQ(vlt().Delete(id, &copy), 1);
        deleted.assign(second.begin(), second.end());
        deleted[0] = '?';
        std::memcpy(deleted.data() + vlt::kTypeOffset, "DELETED", 8);
        EXPECT_EQ(descriptorAt(markers[2]), deleted);
        vlt().Close(id);
    }
}

// A block without a name, the first of the package and after a full chunk
// of names: found, loaded and deleted by its empty name.
TEST_F(PackageTest, EmptyNameIsLost) {
    const std::string path = Path("e.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_GT(id, 0);
    ASSERT_EQ(AddTo(vlt(), id, "", Bytes("abcd")), 4);
    // 16 names of 31 bytes and 2168 of 30 fill the first 64 KiB chunk of
    // the index's names exactly.
    for (int i = 0; i < 16 + 2168; ++i) {
        const std::string name = "n" + std::to_string(100000 + i) + std::string(i < 16 ? 24 : 23, 'x');
        ASSERT_EQ(AddTo(vlt(), id, name.c_str(), Bytes("z")), 1);
    }
    ASSERT_EQ(AddTo(vlt(), id, "", Bytes("efgh"), stored, "IMG"), 4);
    vlt().Close(id);
    const int again = vlt().Open(path.c_str());
    ASSERT_GT(again, 0);
    BlockInfo info;
    ASSERT_EQ(vlt().FindFirst(again, &info), 1);
    EXPECT_STREQ(info.name, "");
    for (const char* type : {"FILE", "IMG"}) {
        BlockInfo got;
        ASSERT_EQ(vlt().LoadBlock(again, type, "", &got), 4) << type;
        vlt().FreeBlock(&got);
        std::vector<uint8_t> none;
        BlockInfo gone = Block("", type, stored, none);
        EXPECT_EQ(vlt().Delete(again, &gone), 1) << type;
    }
    vlt().Close(again);
}

// WriteLive with ranks that move entries before earlier ones: the order of
// the ranks, entries of equal rank in package order.
TEST_F(PackageTest, WriteLiveLosesTheRankOrder) {
    const std::string path = Path("r.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_GT(id, 0);
    // name: rank
    const std::vector<std::pair<std::string, uint64_t>> ranks = {{"a", 0},  {"b", 10}, {"c", 20}, {"d", 30},
                                                                 {"e", 20}, {"f", 5},  {"g", 40}, {"h", 5}};
    for (const auto& r : ranks) ASSERT_EQ(AddTo(vlt(), id, r.first.c_str(), Bytes("x" + r.first)), 2);
    const auto rank = [](void* context, const BlockInfo& info, uint64_t) {
        for (const auto& r : *static_cast<decltype(ranks)*>(context))
            if (r.first == info.name) return r.second;
        return uint64_t(0);
    };
    ASSERT_EQ(vlt().WriteLive(id, Path("ranked.vlt").c_str(), nullptr,
                              const_cast<void*>(static_cast<const void*>(&ranks)), nullptr, rank),
              1);
    vlt().Close(id);
    std::string order;
    for (const auto& e : testsupport::Entries(Path("ranked.vlt"))) order += e.name;
    EXPECT_EQ(order, "afhbcedg");
    EXPECT_EQ(testsupport::Block(Path("ranked.vlt"), "FILE", "h"), Bytes("xh"));
}

// A pair set through many growths: every pair keeps its number, and pairs
// that differ in one byte, or only past a NUL or a field's end, are told
// apart as a block's name and type are.
TEST(PairSet, GrowingSetLosesOrConfusesPairs) {
    vlt::PairSet set;
    const auto name = [](int i) { return "block" + std::to_string(i); };
    const char* types[] = {"FILE", "IMG", "TILB2"};
    for (int i = 0; i < 3000; ++i) {
        bool added = false;
        ASSERT_EQ(set.Add(name(i).c_str(), types[i % 3], &added), i);
        ASSERT_TRUE(added);
    }
    for (int i = 0; i < 3000; ++i) {
        bool added = true;
        EXPECT_EQ(set.Add(name(i).c_str(), types[i % 3], &added), i);
        EXPECT_FALSE(added);
        EXPECT_EQ(set.Find(name(i).c_str(), types[(i + 1) % 3]), -1);
    }
    const std::string full(32, 'n');  // a name field without its end
    char field[33] = {};
    std::memcpy(field, full.data(), 32);
    const long long whole = set.Add(field, "FILE");
    EXPECT_NE(set.Find(full.substr(0, 31).c_str(), "FILE"), whole);
    EXPECT_EQ(set.Find((full + "past the field").c_str(), "FILE"), whole);
    EXPECT_EQ(set.Find("block1", "IMGX"), -1);
    EXPECT_EQ(set.Find("block1", "IMG\0X"), set.Find("block1", "IMG"));
    EXPECT_EQ(set.Find("block", "FILE"), -1);
}

// Two live blocks of one pair (the second renamed in the file, its checksum
// made good): --verify, which counts the blocks of each pair while it walks
// the package, names both.
TEST_F(PackageTest, SecondLiveBlockOfAPairPassesTheVerify) {
    const std::string path = Path("dup.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_GT(id, 0);
    for (const char* name : {"one", "dup", "dux"}) ASSERT_EQ(AddTo(vlt(), id, name, Bytes("abcd")), 4);
    vlt().Close(id);
    std::vector<uint8_t> file = ReadFile(path);
    const std::vector<size_t> markers = Markers(file);
    ASSERT_EQ(markers.size(), 3u);
    file[markers[2] + vlt::kMarkerSize + 2] = 'p';
    std::vector<uint8_t> header = Header(file);
    StoreLE32(header.data() + 96, static_cast<uint32_t>(crc32(0, file.data() + 520, file.size() - 520)));
    PutHeader(file, header);
    ASSERT_TRUE(WriteFile(path, file));
    std::string out;
    EXPECT_EQ(testsupport::RunBundlex({"--verify", "dup.vlt"}, out, dir_.path()), 1);
    const std::string same =
        "(FILE): another live block has the same name and type; only the first of them can be loaded.\n";
    EXPECT_TRUE(testsupport::InOrder(
        out, {" - Error: block 2 'dup' " + same, " - Error: block 3 'dup' " + same, " - 1 of 3 blocks are sound.\n"}))
        << out;
}
