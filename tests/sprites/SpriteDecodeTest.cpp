// Sprite payload decoding without a package: damaged payloads from
// tests/data/sprites, every truncation and a deterministic set of
// corruptions of valid "SPR2" and "SPR" payloads. Under the sanitizer build
// these catch any read or write past a buffer.
#include <gtest/gtest.h>

#include "SpriteTestSupport.h"

using namespace spritetest;
using tiletest::Pattern;

namespace {
std::vector<uint8_t> DataFile(const std::string& name) {
    return testsupport::ReadFile(std::string(BUNDLEX_SOURCE_DIR) + "/tests/data/sprites/" + name);
}

bool Decodes(const std::vector<uint8_t>& bytes, bool version1) {
    SDL_Surface* s = CSprite::DecodeSurface(bytes.data(), bytes.size(), version1);
    if (!s) return false;
    SDL_FreeSurface(s);
    return true;
}

std::vector<std::vector<uint8_t>> ValidPayloads(bool version1) {
    std::vector<std::vector<uint8_t>> out;
    Surface paletted(Pattern(6, 4, 8));
    Surface rgba(Pattern(4, 6, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000));
    Surface rgb(Pattern(5, 2, 24));
    out.push_back(SpriteBytes(paletted.get(), 3, 2, {{2}, {1}}, 3, 255, version1));
    out.push_back(SpriteBytes(rgba.get(), 2, 2, {{0}, {2}, {1}}, kNoColorKey, 255, version1));
    out.push_back(SpriteBytes(rgb.get(), 5, 1, {{1}, {1}}, 0, 40, version1));
    return out;
}

uint32_t Next(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}
}  // namespace

TEST(SpriteDecode, DamagedPayloadFilesAreRefused) {
    for (const char* name : {"SpriteDecode.RejectsFrameTablePastPayloadEnd.spr2",
                             "SpriteDecode.RejectsAnimationCountLargerThanPayload.spr2"}) {
        const auto bytes = DataFile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        SpritePayload p;
        EXPECT_FALSE(CSprite::DecodePayload(bytes.data(), bytes.size(), p)) << name;
    }
    // Refused for its frame width alone: with a width of 4 it decodes.
    auto zero = DataFile("SpriteDecode.RejectsFrameWidthZero.spr2");
    ASSERT_FALSE(zero.empty());
    EXPECT_FALSE(Decodes(zero, false));
    StoreLE32(zero.data(), 4);
    EXPECT_TRUE(Decodes(zero, false));

    const auto old = DataFile("SpriteUpgrade.RejectsOldTablePastPayloadEnd.spr");
    ASSERT_FALSE(old.empty());
    std::vector<uint8_t> up;
    EXPECT_FALSE(CSprite::UpgradePayload(old.data(), old.size(), up));
    EXPECT_FALSE(Decodes(old, true));
}

TEST(SpriteDecode, UpgradeBuildsTheNewTableAndClearsKeyZero) {
    const auto olds = ValidPayloads(true);
    const auto news = ValidPayloads(false);
    for (size_t i = 0; i < olds.size(); ++i) {
        std::vector<uint8_t> up;
        ASSERT_TRUE(CSprite::UpgradePayload(olds[i].data(), olds[i].size(), up));
        SpritePayload a, b;
        ASSERT_TRUE(CSprite::DecodePayload(up.data(), up.size(), a));
        ASSERT_TRUE(CSprite::DecodePayload(news[i].data(), news[i].size(), b));
        ASSERT_EQ(a.animations.size(), b.animations.size());
        for (size_t n = 0; n < a.animations.size(); ++n) {
            EXPECT_EQ(a.animations[n].frames.size(), b.animations[n].frames.size());
            EXPECT_EQ(a.animations[n].startFrame, 0);
            EXPECT_EQ(a.animations[n].endFrame, a.animations[n].frames.size());
            for (size_t f = 0; f < a.animations[n].frames.size(); ++f)
                EXPECT_EQ(a.animations[n].frames[f].ms, b.animations[n].frames[f].ms);
        }
        EXPECT_EQ(a.pixelBytes, b.pixelBytes);
        EXPECT_EQ(0, std::memcmp(a.pixels, b.pixels, a.pixelBytes));
    }
    SpritePayload p;
    std::vector<uint8_t> up;
    ASSERT_TRUE(CSprite::UpgradePayload(olds[2].data(), olds[2].size(), up));
    ASSERT_TRUE(CSprite::DecodePayload(up.data(), up.size(), p));
    EXPECT_EQ(p.format.colorkey, kNoColorKey);
    EXPECT_EQ(p.format.alpha, 40);
}

TEST(SpriteDecode, EveryTruncationIsRefusedWithoutReadingPastTheEnd) {
    for (bool version1 : {false, true}) {
        for (const auto& full : ValidPayloads(version1)) {
            ASSERT_TRUE(Decodes(full, version1));
            for (size_t n = 0; n < full.size(); ++n) {
                std::vector<uint8_t> cut(full.begin(), full.begin() + n);
                EXPECT_FALSE(Decodes(cut, version1)) << "length " << n << " of " << full.size();
            }
        }
    }
}

TEST(SpriteDecode, CorruptedPayloadsNeverFault) {
    uint32_t seed = 99;
    for (bool version1 : {false, true}) {
        for (const auto& full : ValidPayloads(version1)) {
            for (int round = 0; round < 1500; ++round) {
                std::vector<uint8_t> bad = full;
                const int flips = 1 + int(Next(seed) % 4);
                for (int i = 0; i < flips; ++i) {
                    // Mostly the header and the table, where counts and sizes live.
                    const size_t span = std::min<size_t>(bad.size(), 24 + 64 * 2 + 40);
                    const size_t at = (Next(seed) % 4) ? Next(seed) % span : Next(seed) % bad.size();
                    bad[at] = static_cast<uint8_t>(Next(seed));
                }
                if (Next(seed) % 5 == 0) bad.resize(Next(seed) % (bad.size() + 1));
                SpritePayload p;
                std::vector<uint8_t> up;
                const std::vector<uint8_t>* v2 = &bad;
                if (version1) {
                    if (!CSprite::UpgradePayload(bad.data(), bad.size(), up)) continue;
                    v2 = &up;
                }
                if (CSprite::DecodePayload(v2->data(), v2->size(), p)) {
                    EXPECT_GE(p.frameWidth, 1u);
                    EXPECT_GE(p.frameHeight, 1u);
                    EXPECT_FALSE(p.animations.empty());
                }
                SDL_Surface* s = CSprite::DecodeSurface(bad.data(), bad.size(), version1);
                if (s) SDL_FreeSurface(s);
            }
        }
    }
}
