// "IMG" blocks: surfaces stored and loaded back through a real package, and
// damaged payloads that must be refused before any byte is copied.

#include <cstring>

#include "Support.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"

using namespace testsupport;

namespace {

class ImageBlock : public PackageTest {
protected:
    // Saves s under name and loads it back.
    SurfacePtr RoundTrip(SDL_Surface* s, const char* name, ImageInfo* info = nullptr) {
        EXPECT_GT(g_pImage->Save(id, name, s), 0);
        return SurfacePtr(g_pImage->Load(id, name, info));
    }
    std::vector<uint8_t> Payload(const char* name) { return Get("IMG", name); }
};

}  // namespace

TEST_F(ImageBlock, AlphaChannelComesBackPerPixelWithoutKey) {
    SurfacePtr s = MakeRGB(9, 7, 32, true);
    s->format->colorkey = 0xFFFFFFFFu;
    SurfacePtr back = RoundTrip(s.get(), "a32");
    ASSERT_TRUE(back);
    EXPECT_TRUE(IImage::HasAlphaChannel(back.get()));
    EXPECT_FALSE(back->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(back->format->colorkey, 0xFFFFFFFFu);
    EXPECT_EQ(back->format->Amask, 0xFF000000u);
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
}

TEST_F(ImageBlock, TwentyFourBitWithoutKeyKeepsNoKeyMarker) {
    SurfacePtr s = MakeRGB(5, 3, 24, false);
    SDL_SetColorKey(s.get(), 0, 0);
    s->format->colorkey = 0xFFFFFFFFu;
    ImageInfo info{};
    SurfacePtr back = RoundTrip(s.get(), "rgb", &info);
    ASSERT_TRUE(back);
    EXPECT_EQ(LoadLE32(Payload("rgb").data() + 40), 0xFFFFFFFFu);
    EXPECT_FALSE(back->flags & SDL_SRCCOLORKEY);
    EXPECT_FALSE(back->flags & SDL_SRCALPHA);
    EXPECT_EQ(back->format->colorkey, 0xFFFFFFFFu);
    EXPECT_EQ(info.colorkey, 0xFFFFFFFFu);
    EXPECT_EQ(info.width, 5u);
    EXPECT_EQ(info.height, 3u);
    EXPECT_EQ(info.bpp, 24);
    EXPECT_EQ(info.alpha, 255u);
    EXPECT_STREQ(info.name, "rgb");
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
}

TEST_F(ImageBlock, ColourKeyAndSurfaceAlphaSurvive) {
    SurfacePtr s = MakeRGB(6, 6, 24, false);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, Pixel(s.get(), 3, 3));
    SDL_SetAlpha(s.get(), SDL_SRCALPHA, 128);
    SurfacePtr back = RoundTrip(s.get(), "half");
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->flags & SDL_SRCALPHA);
    EXPECT_EQ(back->format->alpha, 128);
    EXPECT_TRUE(back->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(back->format->colorkey, Pixel(s.get(), 3, 3));

    SurfacePtr opaque = MakeRGB(6, 6, 24, false);
    SDL_SetAlpha(opaque.get(), SDL_SRCALPHA, 255);
    SurfacePtr back2 = RoundTrip(opaque.get(), "full");
    ASSERT_TRUE(back2);
    EXPECT_FALSE(back2->flags & SDL_SRCALPHA);
}

TEST_F(ImageBlock, EightBitStoresPaletteAndWarns) {
    SurfacePtr s = MakePaletted(10, 3);  // pitch 12
    LogCapture cap;
    ASSERT_GT(g_pImage->Save(id, "pal", s.get()), 0);
    EXPECT_EQ(Payload("pal").size(), 48u + 12 * 3 + 1024);
    cap.Take();
    SurfacePtr back(g_pImage->Load(id, "pal", nullptr));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->BitsPerPixel, 8);
    EXPECT_EQ(back->format->palette->ncolors, 256);
    for (int i : {0, 1, 127, 255}) {
        EXPECT_EQ(back->format->palette->colors[i].r, s->format->palette->colors[i].r);
        EXPECT_EQ(back->format->palette->colors[i].g, s->format->palette->colors[i].g);
        EXPECT_EQ(back->format->palette->colors[i].b, s->format->palette->colors[i].b);
    }
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
    EXPECT_EQ(cap.Take(), " . [IImage->Load('" + dir / "test.vlt" + "','pal',0x0)] Warning: 8bits surface loaded, " +
                              "it could be a different screen format.\n");
}

TEST_F(ImageBlock, SixteenBitRoundTrip) {
    SurfacePtr s(SDL_CreateRGBSurface(0, 3, 2, 16, 0xF800, 0x07E0, 0x001F, 0));
    for (int i = 0; i < s->pitch * s->h; ++i) static_cast<uint8_t*>(s->pixels)[i] = static_cast<uint8_t>(i * 37);
    SurfacePtr back = RoundTrip(s.get(), "565");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->Gmask, 0x07E0u);
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
}

TEST_F(ImageBlock, IdZeroIsSilentMissingBlockIsLoggedAndExistingBlockIsMinusOne) {
    LogCapture cap;
    EXPECT_FALSE(SurfacePtr(g_pImage->Load(0, "x", nullptr)));
    EXPECT_EQ(cap.Take(), "");
    EXPECT_FALSE(SurfacePtr(g_pImage->Load(id, "nothing", nullptr)));
    EXPECT_NE(cap.Take().find("','nothing',0x0)] Error: image not found.\n"), std::string::npos);
    EXPECT_EQ(g_pImage->Save(0, "x", MakeRGB(1, 1, 24, false).get()), 0);
    EXPECT_EQ(g_pImage->Save(id, std::string(32, 'x').c_str(), MakeRGB(1, 1, 24, false).get()), 0);
    SurfacePtr s = MakeRGB(2, 2, 24, false);
    EXPECT_GT(g_pImage->Save(id, "twice", s.get()), 0);
    EXPECT_EQ(g_pImage->Save(id, "twice", s.get()), -1);
}

// Every one of these payloads would have made the copy run past the new
// surface's pixels, or past the payload, had its header been trusted.
TEST_F(ImageBlock, DamagedPayloadsAreRefusedWithReason) {
    SurfacePtr s = MakeRGB(5, 4, 24, false);  // pitch 16
    ASSERT_GT(g_pImage->Save(id, "good", s.get()), 0);
    const std::vector<uint8_t> good = Payload("good");
    ASSERT_EQ(good.size(), 48u + 16 * 4);
    SurfacePtr p8 = MakePaletted(4, 4);
    ASSERT_GT(g_pImage->Save(id, "good8", p8.get()), 0);
    const std::vector<uint8_t> good8 = Payload("good8");

    auto with = [](std::vector<uint8_t> b, size_t at, uint32_t v, int bytes = 4) {
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> payload;
    };
    std::vector<Case> cases = {
        {"short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"long", with(good, 0, 5)},
        {"header", std::vector<uint8_t>(good.begin(), good.begin() + 30)},
        {"wide", with(good, 0, 6)},
        {"tall", with(good, 4, 0x10000000)},
        {"zero", with(good, 4, 0)},
        {"huge", with(with(good, 0, 0xFFFFFFFF), 4, 0xFFFFFFFF)},
        {"depth7", with(good, 12, 7, 1)},
        {"depth32", with(good, 12, 32, 1)},
        {"bytespp", with(good, 13, 4, 1)},
        {"nopal", std::vector<uint8_t>(good8.begin(), good8.end() - 1024)},
        {"pal8cut", std::vector<uint8_t>(good8.begin(), good8.end() - 1)},
        {"key256", with(good8, 8 + 32, 256)},  // a colour key that is no palette entry
        {"empty", std::vector<uint8_t>(1, 0)},
    };
    cases[1].payload.push_back(0);  // one byte beyond the pixel area
    for (const Case& c : cases) {
        ASSERT_GT(Put("IMG", c.name, c.payload), 0);
        LogCapture cap;
        ImageInfo info{};
        EXPECT_FALSE(SurfacePtr(g_pImage->Load(id, c.name, &info))) << c.name;
        EXPECT_NE(cap.Take().find("Error: image block is damaged"), std::string::npos) << c.name;
    }
}

// SDL_ConvertSurface looks a paletted surface's colour key up in the palette
// unchecked: a key beyond it read outside (found by fuzzing the importer;
// tests/data/fuzz/document).
TEST_F(ImageBlock, PalettedSurfaceWithKeyBeyondItsPaletteIsNotSaved) {
    SurfacePtr p8 = MakePaletted(4, 4);
    SDL_SetColorKey(p8.get(), SDL_SRCCOLORKEY, 2000000000u);
    LogCapture cap;
    EXPECT_EQ(g_pImage->Save(id, "bad", p8.get()), 0);
    EXPECT_NE(cap.Take().find(" . [IImage->Save(" + std::to_string(id) +
                              ",'bad')] Error: the colour key is not an entry of the surface's palette.\n"),
              std::string::npos);
    SDL_SetColorKey(p8.get(), SDL_SRCCOLORKEY, 255);
    EXPECT_GT(g_pImage->Save(id, "fits", p8.get()), 0);
}
