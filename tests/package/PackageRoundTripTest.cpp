// Blocks stored in each mode come back byte for byte; entry layout on disk.
#include <zlib.h>

#include "PackageTestSupport.h"

using namespace pkgtest;
using testsupport::ReadFile;

namespace {

class PackageRoundTrip : public PackageTest {};

TEST_F(PackageRoundTrip, EmptyPackageIs520BytesWithChecksumZeroAndOpens) {
    const std::string path = Path("empty.vlt");
    const int id = vlt().Create(path.c_str());
    ASSERT_GE(id, 1);
    vlt().Close(id);
    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 520u);
    EXPECT_EQ(0, std::memcmp(file.data(), "VLTv4.0\0", 8));
    const auto header = Header(file);
    EXPECT_EQ(LoadLE32(header.data() + 96), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(header.data()), Trovalis.MakerLine());
    EXPECT_EQ(header[93], 0);
    for (size_t i = 100; i < 510; ++i) EXPECT_LT(header[i], 255) << i;
    testsupport::LogCapture cap;
    // A new manager remembers nothing: the checksum test runs.
    IStuffVLT fresh;
    const int again = fresh.Open(path.c_str());
    EXPECT_GE(again, 1);
    BlockInfo info;
    EXPECT_EQ(fresh.FindFirst(again, &info), 0);
    EXPECT_EQ(fresh.Count(again), 0);
    fresh.Close(again);
    EXPECT_EQ(cap.Take().find("Error"), std::string::npos);
}

TEST_F(PackageRoundTrip, EveryStorageModeLoadsBackByteForByte) {
    const std::string path = Path("modes.vlt");
    int id = vlt().Create(path.c_str());
    ASSERT_GE(id, 1);
    auto text = Bytes(std::string(5000, 'a') + "tail");
    auto noise = Noise(3001);
    struct Case {
        const char* name;
        uint8_t mode;
        std::vector<uint8_t>* data;
    } cases[] = {{"packed", compressed, &text},
                 {"noise", compressed, &noise},
                 {"plain", stored, &noise},
                 {"scrambled", crypted, &noise},
                 {"scrtext", crypted, &text}};
    for (auto& c : cases) {
        BlockInfo info = Block(c.name, "FILE", c.mode, *c.data);
        const int packed = vlt().AddData(id, &info);
        ASSERT_GT(packed, 0) << c.name;
        if (c.mode != compressed) {
            EXPECT_EQ(static_cast<size_t>(packed), c.data->size());
        }
    }
    vlt().Close(id);
    // Reopened by a fresh manager: the checksum matches what Close wrote.
    IStuffVLT fresh;
    id = fresh.Open(path.c_str());
    ASSERT_GE(id, 1);
    for (auto& c : cases) {
        BlockInfo info;
        ASSERT_EQ(fresh.LoadBlock(id, "FILE", c.name, &info), static_cast<int>(c.data->size())) << c.name;
        EXPECT_EQ(info.mode, c.mode);
        EXPECT_EQ(0, std::memcmp(info.data, c.data->data(), c.data->size())) << c.name;
        fresh.FreeBlock(&info);
        EXPECT_EQ(info.data, nullptr);
    }
    fresh.Close(id);
}

TEST_F(PackageRoundTrip, CompressedRepetitiveDataIsSmallAndNoiseStaysWithinBound) {
    const int id = vlt().Create(Path("c.vlt").c_str());
    auto text = Bytes(std::string(100000, 'x'));
    BlockInfo a = Block("rep", "FILE", compressed, text);
    const int packedRep = vlt().AddData(id, &a);
    EXPECT_GT(packedRep, 0);
    EXPECT_LT(packedRep, 1000);
    auto noise = Noise(4096);
    BlockInfo b = Block("noise", "FILE", compressed, noise);
    const int packedNoise = vlt().AddData(id, &b);
    EXPECT_GT(packedNoise, 0);
    EXPECT_LE(packedNoise, 4096 + 4096 / 8 + 256);
    vlt().Close(id);
}

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
    EXPECT_EQ(d[40], stored);
    EXPECT_EQ(LoadLE32(d + 44), 13u);
    EXPECT_EQ(LoadLE32(d + 48), 13u);
    for (int i = 41; i < 44; ++i) EXPECT_EQ(d[i], 0);
    for (int i = 52; i < 64; ++i) EXPECT_EQ(d[i], 0);
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
