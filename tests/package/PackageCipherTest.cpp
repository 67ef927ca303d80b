// Blowfish with the byte order of package files, and the block scrambling.
#include "PackageTestSupport.h"

namespace {

struct Vector {
    std::vector<uint8_t> key;
    uint32_t plainL, plainR, cipherL, cipherR;
};

// The published Blowfish test vectors give L and R as numbers; a package
// stores each as a little-endian word, so the bytes below are laid out that way.
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

TEST(PackageCipher, InternalKeyIsAcceptedAndRoundTripsInCodeBookMode) {
    PackageCipher internal, package;
    ASSERT_TRUE(PackageCipher::KeyWithInternalKey(internal, package));
    auto data = pkgtest::Noise(512);
    std::copy(data.begin(), data.begin() + 8, data.begin() + 8);  // two equal blocks
    const auto plain = data;
    internal.Encipher(data.data(), data.size());
    EXPECT_NE(data, plain);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 8, data.begin() + 8));
    // Both states carry the same key.
    auto other = plain;
    package.Encipher(other.data(), other.size());
    EXPECT_EQ(other, data);
    internal.Decipher(data.data(), data.size());
    EXPECT_EQ(data, plain);
}

TEST(PackageCipher, ScramblingIsBytewiseXorForEveryLength) {
    for (size_t n : {0u, 1u, 3u, 4u, 7u, 13u, 64u}) {
        auto data = pkgtest::Noise(n, 7);
        const auto plain = data;
        ScrambleBlock(data.data(), data.size());
        for (size_t i = 0; i < n; ++i) EXPECT_EQ(data[i], plain[i] ^ BlockScrambleByte());
        ScrambleBlock(data.data(), data.size());
        EXPECT_EQ(data, plain);
    }
    EXPECT_NE(BlockScrambleByte(), 0);
}

}  // namespace
