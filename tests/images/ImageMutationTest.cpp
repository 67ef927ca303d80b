// Seeded byte mutations of good PNG, BMP and IMG data: every result is
// either a surface or a refusal, never a crash or an out-of-bounds access
// (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ImageTestSupport.h"
#include "TestSupport.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

using namespace imgtest;
using testsupport::LogCapture;
using testsupport::ReadFile;
using testsupport::SdkSession;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {
std::vector<uint8_t> Mutate(std::vector<uint8_t> b, std::mt19937& rng, size_t headerBytes) {
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
        const size_t limit = std::min(b.size(), headerBytes);
        b[rng() % limit] = static_cast<uint8_t>(rng());
    }
    if (rng() % 5 == 0) b.resize(rng() % b.size());
    return b;
}
}  // namespace

TEST(ImageMutation, MutatedPngAndBmpFilesNeverCrash) {
    IImage img;
    TempDir dir;
    LogCapture quiet;
    std::mt19937 rng(1234);
    SurfacePtr s8 = MakePaletted(7, 5);
    SurfacePtr s32 = MakeRGB(7, 5, 32, true);
    ASSERT_EQ(img.SavePNG((dir / "a.png").c_str(), s32.get(), -1), 0);
    ASSERT_EQ(img.SavePNG((dir / "p.png").c_str(), s8.get(), -1), 0);
    ASSERT_EQ(img.SaveBMP((dir / "a.bmp").c_str(), s8.get()), 1);
    ASSERT_EQ(img.SaveBMP((dir / "b.bmp").c_str(), MakeRGB(7, 5, 24, false).get()), 1);
    const std::string target = dir / "m";
    for (const char* name : {"a.png", "p.png", "a.bmp", "b.bmp"}) {
        const std::vector<uint8_t> good = ReadFile(dir / name);
        for (int i = 0; i < 150; ++i) {
            ASSERT_TRUE(WriteFile(target, Mutate(good, rng, 80)));
            SurfacePtr(img.LoadPNG(target.c_str()));
            SurfacePtr(img.LoadBMP(target.c_str()));
            img.IsBMP(target.c_str());
            img.IsPNG(target.c_str());
        }
    }
}

TEST(ImageMutation, MutatedImgPayloadsNeverCrash) {
    SdkSession session;
    TempDir dir;
    const int pkg = g_pStuffVLT->Create((dir / "m.vlt").c_str());
    ASSERT_GE(pkg, 1);
    LogCapture quiet;
    std::mt19937 rng(99);
    std::vector<std::vector<uint8_t>> goods;
    std::vector<SurfacePtr> sources;
    sources.push_back(MakePaletted(6, 3));
    sources.push_back(MakeRGB(6, 3, 24, false));
    sources.push_back(MakeRGB(6, 3, 32, true));
    for (const SurfacePtr& s : sources) {
        ASSERT_GT(g_pImage->Save(pkg, "g", s.get()), 0);
        BlockInfo bi{};
        ASSERT_GT(g_pStuffVLT->LoadBlock(pkg, "IMG", "g", &bi), 0);
        goods.emplace_back(bi.data, bi.data + bi.size);
        g_pStuffVLT->FreeBlock(&bi);
        ASSERT_EQ(g_pStuffVLT->Delete(pkg, &bi), 1);
    }
    for (int i = 0; i < 120; ++i) {
        std::vector<uint8_t> p = Mutate(goods[i % goods.size()], rng, 48);
        const std::string name = "m" + std::to_string(i);
        BlockInfo bi{};
        std::strcpy(bi.name, name.c_str());
        std::strcpy(bi.type, "IMG");
        bi.mode = stored;
        bi.size = static_cast<uint32_t>(p.size());
        bi.data = p.data();
        if (g_pStuffVLT->AddData(pkg, &bi) <= 0) continue;  // an empty payload
        ImageInfo info{};
        SurfacePtr(g_pImage->Load(pkg, name.c_str(), &info));
    }
    g_pStuffVLT->Close(pkg);
}

// A screen surface without a video mode behind it once sent the surface into
// SDL_DisplayFormat, which crashes then; the loader's surface must come back.
TEST(DisplayPreparation, FailedConversionKeepsTheSurface) {
    IImage img;
    SurfacePtr screen(SDL_CreateRGBSurface(0, 4, 4, 16, 0xF800, 0x07E0, 0x001F, 0));
    SDL_Surface* s = MakeRGB(3, 3, 24, false).release();
    EXPECT_FALSE(IImage::NeedsDisplayConversion(s));
    Trovalis.screen = screen.get();
    EXPECT_TRUE(IImage::NeedsDisplayConversion(s));
    bool converted = true;
    SDL_Surface* out = img.PrepareForDisplay(s, false, true, true, &converted);
    Trovalis.screen = nullptr;
    EXPECT_EQ(out, s);
    EXPECT_FALSE(converted);
    SDL_FreeSurface(out);
    EXPECT_EQ(img.PrepareForDisplay(nullptr, false, true), nullptr);
}
