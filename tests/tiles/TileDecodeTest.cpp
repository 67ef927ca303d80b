// Tile payload decoding without a package: damaged payloads from
// tests/data/tiles, every truncation and a deterministic set of corruptions
// of valid 2.0 and 1.0 payloads. Run under the sanitizer build, these catch
// any read or write past a buffer.
#include <gtest/gtest.h>

#include "TileTestSupport.h"
#include "resources/Tile.h"

using namespace tiletest;

namespace {
std::vector<uint8_t> DataFile(const std::string& name) {
    return testsupport::ReadFile(std::string(BUNDLEX_SOURCE_DIR) + "/tests/data/tiles/" + name);
}

bool Decodes(const std::vector<uint8_t>& bytes, bool version1) {
    SDL_Surface* s = CTile::DecodeSurface(bytes.data(), bytes.size(), version1);
    if (!s) return false;
    SDL_FreeSurface(s);
    return true;
}

std::vector<std::vector<uint8_t>> ValidPayloads(bool version1) {
    std::vector<std::vector<uint8_t>> out;
    SDL_Surface* paletted = Pattern(5, 3, 8);
    SDL_Surface* rgba = Pattern(3, 2, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    SDL_Surface* rgb = Pattern(7, 2, 24);
    TileFields f;
    f.tileset = 1;
    f.xoffset = 2;
    f.yoffset = 1;
    for (SDL_Surface* s : {paletted, rgba, rgb}) {
        out.push_back(TileBytes(s, f, version1));
        SDL_FreeSurface(s);
    }
    return out;
}

uint32_t Next(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}
}  // namespace

TEST(TileDecode, DamagedPayloadFilesAreRefused) {
    for (const char* name : {"TileDecode.RejectsPixelAreaThatWrapsIn32Bits.tile2", "TileDecode.RejectsPaletteCutShort.tile2"}) {
        const auto bytes = DataFile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        TilePayload p;
        EXPECT_FALSE(CTile::DecodePayload(bytes.data(), bytes.size(), p)) << name;
        EXPECT_FALSE(Decodes(bytes, false)) << name;
    }
    const auto old = DataFile("TileDecode.RejectsVersion1HeaderWithoutPixels.tile");
    ASSERT_EQ(old.size(), 64u);
    EXPECT_FALSE(Decodes(old, true));
}

TEST(TileDecode, ValidPayloadsOfEveryDepthDecode) {
    for (const auto& v : ValidPayloads(false)) EXPECT_TRUE(Decodes(v, false));
    for (const auto& v : ValidPayloads(true)) EXPECT_TRUE(Decodes(v, true));
}

TEST(TileDecode, Version1UpgradeCopiesTheOffsetAndClearsKeyZero) {
    SDL_Surface* s = Pattern(4, 4, 24);
    TileFields f;
    f.xoffset = 16;
    f.colorkey = 0;
    const auto old = TileBytes(s, f, true);
    SDL_FreeSurface(s);
    std::vector<uint8_t> up;
    ASSERT_TRUE(CTile::UpgradePayload(old.data(), old.size(), up));
    ASSERT_EQ(up.size(), old.size() + 64);
    TilePayload p;
    ASSERT_TRUE(CTile::DecodePayload(up.data(), up.size(), p));
    EXPECT_EQ(p.yoffset, 16);
    EXPECT_EQ(p.format.colorkey, kNoColorKey);
    EXPECT_FALSE(CTile::UpgradePayload(old.data(), 63, up));
}

TEST(TileDecode, EveryTruncationIsRefusedWithoutReadingPastTheEnd) {
    for (bool version1 : {false, true}) {
        for (const auto& full : ValidPayloads(version1)) {
            for (size_t n = 0; n < full.size(); ++n) {
                // A copy of exactly n bytes, so the sanitizer sees any overread.
                std::vector<uint8_t> cut(full.begin(), full.begin() + n);
                EXPECT_FALSE(Decodes(cut, version1)) << "length " << n << " of " << full.size();
            }
        }
    }
}

TEST(TileDecode, CorruptedPayloadsNeverFaultAndGiveSurfacesOfTheirHeader) {
    uint32_t seed = 12345;
    for (bool version1 : {false, true}) {
        for (const auto& full : ValidPayloads(version1)) {
            for (int round = 0; round < 1500; ++round) {
                std::vector<uint8_t> bad = full;
                const int flips = 1 + int(Next(seed) % 4);
                for (int i = 0; i < flips; ++i) {
                    // Mostly the header and record, where the sizes live.
                    const size_t at = (Next(seed) % 4) ? Next(seed) % 64 : Next(seed) % bad.size();
                    bad[at] = static_cast<uint8_t>(Next(seed));
                }
                if (Next(seed) % 5 == 0) bad.resize(Next(seed) % (bad.size() + 1));
                SDL_Surface* s = CTile::DecodeSurface(bad.data(), bad.size(), version1);
                if (s) {
                    EXPECT_EQ(uint32_t(s->w), LoadLE32(bad.data()));
                    EXPECT_EQ(uint32_t(s->h), LoadLE32(bad.data() + 4));
                    SDL_FreeSurface(s);
                }
            }
        }
    }
}
