// "FONT2" blocks: Save and Load round trips, the in-package upgrade of
// "FONT" blocks, fonts whose bitmap alone would not give their glyphs back,
// and damaged payloads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "FontBitmap.h"
#include "TestSupport.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"

using fonttest::Layout;
using fonttest::MakeBitmap;
using testsupport::LogCapture;
using testsupport::SdkSession;
using testsupport::TempDir;

namespace {

class FontBlock : public ::testing::Test {
protected:
    void SetUp() override {
        id_ = g_pStuffVLT->Create((dir_ / "fonts.vlt").c_str());
        ASSERT_GE(id_, 1);
    }
    void TearDown() override { g_pStuffVLT->Close(id_); }

    // The payload of block (type, name), empty when there is none.
    std::vector<uint8_t> Payload(const char* type, const char* name) {
        BlockInfo info{};
        std::vector<uint8_t> bytes;
        if (g_pStuffVLT->LoadBlock(id_, type, name, &info) > 0 && info.data)
            bytes.assign(info.data, info.data + info.size);
        g_pStuffVLT->FreeBlock(&info);
        return bytes;
    }
    int Store(const char* type, const char* name, std::vector<uint8_t> bytes) {
        BlockInfo info{};
        std::strncpy(info.name, name, sizeof info.name - 1);
        std::strncpy(info.type, type, sizeof info.type - 1);
        info.mode = compressed;
        info.size = static_cast<uint32_t>(bytes.size());
        info.data = bytes.data();
        return g_pStuffVLT->AddData(id_, &info);
    }
    static void ExpectSameTables(const CFont& a, const CFont& b) {
        for (int i = 0; i < CFont::kTableEntries; ++i) {
            ASSERT_EQ(a.GetBoundary(i), b.GetBoundary(i)) << i;
            ASSERT_EQ(a.GetAdvance(i), b.GetAdvance(i)) << i;
        }
        EXPECT_EQ(a.GetSpaceAdvance(), b.GetSpaceAdvance());
        EXPECT_EQ(a.GetCursorOffset(), b.GetCursorOffset());
        EXPECT_EQ(a.GetColorKey(), b.GetColorKey());
    }
    // Whether row 0 of a stored 32-bit bitmap holds a magenta pixel.
    static bool StoredRow0HasMagenta(const std::vector<uint8_t>& p, Uint32 magenta) {
        const uint32_t width = LoadLE32(p.data());
        for (uint32_t x = 0; x < width; ++x)
            if (LoadLE32(p.data() + CFont::kHeaderSize + 4 * x) == magenta) return true;
        return false;
    }

    SdkSession sdk_;
    TempDir dir_;
    int id_ = 0;
};

const Uint32 kMagenta32 = 0x00FF00FF;  // in the bitmaps' format (R 0xFF0000, B 0xFF)

}  // namespace

TEST_F(FontBlock, SaveThenLoadKeepsKerningAlphaAndTablesAndTakesTheBlockName) {
    auto bmp = MakeBitmap(Layout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    font.SetKerning(-2);
    font.SetAlpha(128);
    font.SetName("ignored");
    ASSERT_GT(font.Save(id_, "body"), 0);

    const std::vector<uint8_t> p = Payload("FONT2", "body");
    const SDL_Surface* s = font.GetSurface();
    ASSERT_EQ(p.size(), size_t(s->pitch) * s->h + 180);
    EXPECT_EQ(static_cast<int32_t>(LoadLE32(p.data() + p.size() - 132)), -2);
    for (size_t i = p.size() - 128; i < p.size(); ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_FALSE(StoredRow0HasMagenta(p, kMagenta32));  // markers are not stored

    CFont back;
    ASSERT_TRUE(back.Load(id_, "body"));
    EXPECT_EQ(back.GetKerning(), -2);
    EXPECT_EQ(back.GetAlpha(), 128);
    EXPECT_STREQ(back.GetName(), "body");
    ExpectSameTables(font, back);
}

TEST_F(FontBlock, PerPixelFontComesBackPerPixel) {
    Layout l;
    l.alphaChannel = true;
    auto bmp = MakeBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    ASSERT_GT(font.Save(id_, "shadow"), 0);
    CFont back;
    ASSERT_TRUE(back.Load(id_, "shadow"));
    EXPECT_EQ(back.GetAlpha(), 256);
    ExpectSameTables(font, back);
}

TEST_F(FontBlock, Version1BlockIsUpgradedInPlaceWithKerningZero) {
    auto bmp = MakeBitmap(Layout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    font.SetKerning(7);
    ASSERT_GT(font.Save(id_, "model"), 0);
    std::vector<uint8_t> v1 = Payload("FONT2", "model");
    v1.resize(v1.size() - 132);
    ASSERT_GT(Store("FONT", "old", v1), 0);

    LogCapture cap;
    CFont up;
    ASSERT_TRUE(up.Load(id_, "old"));
    EXPECT_NE(cap.Take().find(" . [CFont::Load('" + dir_ / "fonts.vlt" +
                              "','old')] Info: font successfully updated from v1.0 to v2.0.\n"),
              std::string::npos);
    EXPECT_EQ(up.GetKerning(), 0);
    ExpectSameTables(font, up);
    const std::vector<uint8_t> v2 = Payload("FONT2", "old");
    ASSERT_EQ(v2.size(), v1.size() + 132);
    EXPECT_TRUE(std::equal(v1.begin(), v1.end(), v2.begin()));
    for (size_t i = v1.size(); i < v2.size(); ++i) ASSERT_EQ(v2[i], 0) << i;
    EXPECT_TRUE(Payload("FONT", "old").empty());

    CFont again;
    ASSERT_TRUE(again.Load(id_, "old"));
    EXPECT_EQ(cap.Take().find("updated"), std::string::npos);
}

TEST_F(FontBlock, DamagedVersion1BlockIsLeftAsItIsAndNotUpgraded) {
    ASSERT_GT(Store("FONT", "broken", std::vector<uint8_t>(60, 0xAB)), 0);
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(id_, "broken"));
    EXPECT_NE(cap.Take().find("','broken')] Error: the font block is damaged: "), std::string::npos);
    EXPECT_EQ(Payload("FONT", "broken").size(), 60u);
    EXPECT_TRUE(Payload("FONT2", "broken").empty());
}

TEST_F(FontBlock, MarkedFontOnAGreyBackgroundKeepsItsMarkerRowAndLoadsBack) {
    // Created from its markers; without them the grey background is ink in
    // every column and the split glyph would break in two on loading.
    Layout l;
    l.bg[0] = l.bg[1] = l.bg[2] = 60;
    l.markers = true;
    l.splitGlyph = 1;
    auto bmp = MakeBitmap(l);
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    LogCapture cap;
    ASSERT_GT(font.Save(id_, "grey"), 0);
    EXPECT_NE(cap.Take().find("Info: the marker row is kept in the stored bitmap.\n"), std::string::npos);
    const std::vector<uint8_t> p = Payload("FONT2", "grey");
    ASSERT_FALSE(p.empty());
    EXPECT_TRUE(StoredRow0HasMagenta(p, kMagenta32));

    CFont back;
    ASSERT_TRUE(back.Load(id_, "grey"));
    ExpectSameTables(font, back);
    // The loaded surface is the font's own, markers removed again.
    SDL_Surface* a = font.GetSurface();
    SDL_Surface* b = back.GetSurface();
    ASSERT_EQ(a->h, b->h);
    ASSERT_EQ(a->pitch, b->pitch);
    EXPECT_EQ(std::memcmp(a->pixels, b->pixels, size_t(a->pitch) * a->h), 0);
}

TEST_F(FontBlock, FontWhoseGlyphsCannotBeFoundAgainIsNotStored) {
    // 95 glyphs, the first at column 0 and reaching the bottom-left corner:
    // the colour key is ink, the removed markers become ink, and neither the
    // bitmap nor its restored marker row (not starting at (0, 0)) can be read.
    const int width = 95 * 6;
    fonttest::SurfacePtr s(SDL_CreateRGBSurface(0, width, 6, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    for (int g = 0; g < 95; ++g) fonttest::Fill(s.get(), g * 6, 1, 5, 5, SDL_MapRGB(s->format, 9, 9, 9));
    CFont font;
    ASSERT_EQ(font.Create(s.get()), 96);
    LogCapture cap;
    EXPECT_EQ(font.Save(id_, "lost"), 0);
    EXPECT_NE(cap.Take().find(" . [CFont::Save('" + dir_ / "fonts.vlt" +
                              "','lost')] Error: the glyphs of this font could not be found again in its stored "
                              "bitmap; the font was not stored.\n"),
              std::string::npos);
    EXPECT_TRUE(Payload("FONT2", "lost").empty());
}

TEST_F(FontBlock, LoadRefusalsAndTheirMessages) {
    LogCapture cap;
    CFont font;
    EXPECT_FALSE(font.Load(0, "x"));
    EXPECT_FALSE(font.Load(id_, nullptr));
    EXPECT_EQ(cap.Take().find("CFont"), std::string::npos);
    EXPECT_FALSE(font.Load(id_, "missing"));
    EXPECT_NE(cap.Take().find("','missing')] Error: font not found\n"), std::string::npos);

    auto bmp = MakeBitmap(Layout{});
    ASSERT_EQ(font.Create(bmp.get()), 96);
    ASSERT_GT(font.Save(id_, "f"), 0);
    EXPECT_FALSE(font.Load(id_, "f"));
    EXPECT_NE(cap.Take().find("','f')] Warning: font already exists. It is not possible to create another one.\n"),
              std::string::npos);
}

TEST_F(FontBlock, StoredBitmapThatCreateRejectsIsAnInternalFailure) {
    // A well-formed block of an all-black bitmap: one ink change, code 0.
    CFont font;
    std::vector<uint8_t> p(CFont::kHeaderSize);
    StoreLE32(p.data(), 200);
    StoreLE32(p.data() + 4, 3);
    p[12] = 32;
    p[13] = 4;
    StoreLE32(p.data() + 24, 0x00FF0000);
    StoreLE32(p.data() + 28, 0x0000FF00);
    StoreLE32(p.data() + 32, 0x000000FF);
    p[44] = 255;
    p.resize(p.size() + 200 * 4 * 3 + 132, 0);
    ASSERT_GT(Store("FONT2", "black", p), 0);
    LogCapture cap;
    EXPECT_FALSE(font.Load(id_, "black"));
    EXPECT_NE(cap.Take().find("','black')] Error: internal failure (0).\n"), std::string::npos);
    EXPECT_EQ(font.GetSurface(), nullptr);
}

TEST_F(FontBlock, SaveRefusesEmptyFontsBadIdsAndOverlongNames) {
    CFont empty;
    EXPECT_EQ(empty.Save(id_, "e"), 0);
    auto bmp = MakeBitmap(Layout{});
    CFont font;
    ASSERT_EQ(font.Create(bmp.get()), 96);
    EXPECT_EQ(font.Save(0, "e"), 0);
    EXPECT_EQ(font.Save(id_, nullptr), 0);
    LogCapture cap;
    EXPECT_EQ(font.Save(id_, std::string(32, 'n').c_str()), 0);
    EXPECT_NE(cap.Take().find("Error: name or type are too long."), std::string::npos);
    ASSERT_GT(font.Save(id_, std::string(31, 'n').c_str()), 0);
    EXPECT_EQ(font.Save(id_, std::string(31, 'n').c_str()), -1);  // exists
}

// ---------------------------------------------------------------------------
// Damaged payloads, straight through the decoder.

namespace {

std::vector<uint8_t> ValidPayload() {
    Layout l;
    l.ink = 1;
    l.height = 3;
    auto bmp = MakeBitmap(l);
    std::vector<uint8_t> p(CFont::kHeaderSize);
    StoreLE32(p.data(), uint32_t(bmp->w));
    StoreLE32(p.data() + 4, uint32_t(bmp->h));
    p[12] = 32;
    p[13] = 4;
    StoreLE32(p.data() + 24, 0x00FF0000);
    StoreLE32(p.data() + 28, 0x0000FF00);
    StoreLE32(p.data() + 32, 0x000000FF);
    StoreLE32(p.data() + 40, 0xFFFFFFFF);
    p[44] = 255;
    const size_t area = size_t(bmp->pitch) * bmp->h;
    p.resize(CFont::kHeaderSize + area + CFont::kTailSize, 0);
    std::memcpy(p.data() + CFont::kHeaderSize, bmp->pixels, area);
    return p;
}

}  // namespace

TEST(FontPayloadDecode, ValidPayloadDecodesAndCreates) {
    SdkSession sdk;
    const std::vector<uint8_t> p = ValidPayload();
    FontPayload out;
    ASSERT_TRUE(CFont::DecodePayload(p.data(), p.size(), false, out));
    CFont font;
    EXPECT_EQ(font.CreateFromPayload(p.data(), p.size(), false), 96);
    std::vector<uint8_t> v1(p.begin(), p.end() - 132);
    EXPECT_TRUE(CFont::DecodePayload(v1.data(), v1.size(), true, out));
    EXPECT_FALSE(CFont::DecodePayload(v1.data(), v1.size(), false, out));
}

TEST(FontPayloadDecode, RejectsHeadersThatDisagreeWithTheBytesPresent) {
    SdkSession sdk;
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
        int width;  // 1 or 4 bytes
    };
    const Case cases[] = {
        {"zero width", 0, 0, 4},
        {"width one more than stored", 0, 0, 0},  // patched below
        {"huge width", 0, 0xFFFFFFFF, 4},
        {"height far beyond the payload", 4, 0x7FFFFFFF, 4},
        {"depth 12", 12, 12, 1},
        {"bytes per pixel not matching the depth", 13, 3, 1},
        {"depth 0", 12, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> p = ValidPayload();
        if (c.width == 4) StoreLE32(p.data() + c.offset, c.value);
        else if (c.width == 1) p[c.offset] = uint8_t(c.value);
        else StoreLE32(p.data(), LoadLE32(p.data()) + 1);
        FontPayload out;
        const char* why = nullptr;
        EXPECT_FALSE(CFont::DecodePayload(p.data(), p.size(), false, out, &why));
        EXPECT_NE(why, nullptr);
        EXPECT_EQ(out.surface, nullptr);
        CFont font;
        EXPECT_EQ(font.CreateFromPayload(p.data(), p.size(), false), -1);
        EXPECT_EQ(font.GetSurface(), nullptr);
    }
    // Every truncation, in both layouts.
    const std::vector<uint8_t> p = ValidPayload();
    for (size_t n = 0; n < p.size(); ++n) {
        FontPayload out;
        ASSERT_FALSE(CFont::DecodePayload(p.data(), n, false, out)) << n;
        ASSERT_EQ(CFont::DecodePayload(p.data(), n, true, out), n == p.size() - 132) << n;
    }
    FontPayload out;
    EXPECT_FALSE(CFont::DecodePayload(nullptr, 500, false, out));
}

TEST(FontPayloadDecode, RandomlyDamagedPayloadsNeverCrash) {
    SdkSession sdk;
    const std::vector<uint8_t> valid = ValidPayload();
    std::mt19937 rng(20261207);
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> p = valid;
        const int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f) {
            // Mostly the header and the marker row, where the decisions are made.
            const size_t at = rng() % 3 ? rng() % 48 : rng() % p.size();
            p[at] = uint8_t(rng());
        }
        if (rng() % 5 == 0) p.resize(rng() % p.size());
        const bool legacy = rng() % 4 == 0;
        CFont font;
        const int r = font.CreateFromPayload(p.data(), p.size(), legacy);
        if (r == 96) {
            ASSERT_NE(font.GetSurface(), nullptr);
            SDL_Surface* dst = SDL_CreateRGBSurface(0, 32, 8, 32, 0, 0, 0, 0);
            font.PutStringCursor(dst, 0, 0, "Az~\x7f", 2, nullptr, true);
            SDL_FreeSurface(dst);
        } else {
            ASSERT_EQ(font.GetSurface(), nullptr);
        }
    }
}

TEST(FontPayloadDecode, RegressionFilesAreRefusedOrHandled) {
    // tests/data/fonts/*.bin: each a FONT2 payload that once went wrong; see
    // tests/data/fonts/README for what each one checks.
    SdkSession sdk;
    const std::string dir = std::string(BUNDLEX_SOURCE_DIR) + "/tests/data/fonts/";
    struct File {
        const char* name;
        bool decodes;
    };
    for (const File& f : {File{"pixel_area_shorter_than_header.bin", false}, File{"huge_dimensions.bin", false},
                          File{"masks_beyond_24bit_pixel.bin", true}}) {
        SCOPED_TRACE(f.name);
        const std::vector<uint8_t> p = testsupport::ReadFile(dir + f.name);
        ASSERT_FALSE(p.empty());
        FontPayload out;
        EXPECT_EQ(CFont::DecodePayload(p.data(), p.size(), false, out), f.decodes);
        CFont font;
        EXPECT_EQ(font.CreateFromPayload(p.data(), p.size(), false), -1);
    }
}
