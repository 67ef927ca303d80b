// PNG and BMP files: what the reader makes of each colour type, what the
// writer puts into the file, and that damaged files are refused, not
// trusted.

#include <cstring>

#include "Support.h"
#include "core/Trovalis.h"
#include "resources/IImage.h"

using namespace testsupport;

namespace {

SurfacePtr ReadPngBytes(IImage& img, const std::vector<uint8_t>& bytes) {
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    SurfacePtr s(img.ReadPNG(rw));
    SDL_RWclose(rw);
    return s;
}

PngSpec PalettePng(std::vector<uint8_t> trans) {
    PngSpec p;
    p.colorType = PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; i < 6; ++i)
        p.palette.push_back(
            png_color{static_cast<png_byte>(i * 40), static_cast<png_byte>(200 - i), static_cast<png_byte>(i)});
    p.pixels = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5};
    p.transAlpha = std::move(trans);
    return p;
}

}  // namespace

TEST(PngRead, PaletteKeepsEntriesAndIndices) {
    IImage img;
    SurfacePtr s = ReadPngBytes(img, EncodePng(PalettePng({})));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 8);
    ASSERT_TRUE(s->format->palette);
    EXPECT_EQ(s->format->palette->ncolors, 6);
    EXPECT_EQ(s->format->palette->colors[3].r, 120);
    EXPECT_EQ(s->format->palette->colors[3].g, 197);
    EXPECT_EQ(Pixel(s.get(), 1, 1), 5u);
    EXPECT_FALSE(s->flags & SDL_SRCCOLORKEY);
}

TEST(PngRead, SingleTransparentPaletteEntryBecomesKeyNotAlpha) {
    IImage img;
    const std::vector<uint8_t> bytes = EncodePng(PalettePng({255, 255, 0, 255}));
    SurfacePtr s = ReadPngBytes(img, bytes);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 8);
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(s->format->colorkey, 2u);

    // LoadPNG keeps the 8-bit surface but does not report the key.
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "k.png", bytes));
    SurfacePtr l(img.LoadPNG((dir / "k.png").c_str()));
    ASSERT_TRUE(l);
    EXPECT_EQ(l->format->BitsPerPixel, 8);
    EXPECT_EQ(l->format->colorkey, 0xFFFFFFFFu);
}

TEST(PngRead, PartialOrSecondTransparentEntryExpandsToAlphaChannel) {
    IImage img;
    for (const std::vector<uint8_t>& trans : {std::vector<uint8_t>{255, 128}, std::vector<uint8_t>{0, 255, 0}}) {
        SurfacePtr s = ReadPngBytes(img, EncodePng(PalettePng(trans)));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->format->BitsPerPixel, 32);
        EXPECT_EQ(s->format->Amask, 0xFF000000u);
        EXPECT_TRUE(s->flags & SDL_SRCALPHA);
        EXPECT_FALSE(s->flags & SDL_SRCCOLORKEY);
        EXPECT_EQ(Pixel(s.get(), 1, 0) >> 24, trans[1]);  // index 1's alpha
        EXPECT_EQ(Pixel(s.get(), 0, 1) >> 24, 255u);      // index 4, beyond the table: opaque
    }
}

TEST(PngRead, GreyBecomesEightBitWithGreyRamp) {
    IImage img;
    PngSpec p;
    p.colorType = PNG_COLOR_TYPE_GRAY;
    p.bitDepth = 4;
    p.width = 4;
    p.height = 1;
    p.pixels = {0x0F, 0x7A};  // 0, 15, 7, 10 packed two per byte
    SurfacePtr s = ReadPngBytes(img, EncodePng(p));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 8);
    ASSERT_EQ(s->format->palette->ncolors, 256);
    EXPECT_EQ(s->format->palette->colors[77].g, 77);
    EXPECT_EQ(Pixel(s.get(), 0, 0), 0u);
    EXPECT_EQ(Pixel(s.get(), 1, 0), 255u);
    EXPECT_EQ(Pixel(s.get(), 2, 0), 119u);
}

TEST(PngRead, GreyTransparencyIsAKeyNotAGarbledTwoChannelImage) {
    IImage img;
    PngSpec p;
    p.colorType = PNG_COLOR_TYPE_GRAY;
    p.width = 3;
    p.height = 1;
    p.pixels = {10, 20, 30};
    p.transColor = true;
    p.trans.gray = 20;
    SurfacePtr s = ReadPngBytes(img, EncodePng(p));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 8);
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(s->format->colorkey, 20u);
    EXPECT_EQ(Pixel(s.get(), 2, 0), 30u);
}

TEST(PngRead, GreyWithAlphaBecomesRGBA) {
    IImage img;
    PngSpec p;
    p.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    p.width = 2;
    p.height = 1;
    p.pixels = {50, 200, 90, 0};
    SurfacePtr s = ReadPngBytes(img, EncodePng(p));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 32);
    EXPECT_EQ(Pixel(s.get(), 0, 0), 0xC8323232u);
    EXPECT_EQ(Pixel(s.get(), 1, 0), 0x005A5A5Au);
}

TEST(PngRead, SixteenBitKeepsHighByteAndItsKey) {
    IImage img;
    PngSpec p;
    p.colorType = PNG_COLOR_TYPE_RGB;
    p.bitDepth = 16;
    p.width = 1;
    p.height = 2;
    p.pixels = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xAB, 0x00, 0xCD, 0x00, 0xEF, 0x00};
    p.transColor = true;
    p.trans.red = 0xAB00;
    p.trans.green = 0xCD00;
    p.trans.blue = 0xEF00;
    SurfacePtr s = ReadPngBytes(img, EncodePng(p));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->format->BitsPerPixel, 24);
    EXPECT_EQ(Pixel(s.get(), 0, 0), 0x9A5612u);
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(s->format->colorkey, Pixel(s.get(), 0, 1));
}

TEST(PngRead, InterlacedFileGivesTheSamePixels) {
    IImage img;
    PngSpec p;
    p.width = 11;
    p.height = 9;
    for (int i = 0; i < 11 * 9 * 3; ++i) p.pixels.push_back(static_cast<uint8_t>(i * 11));
    SurfacePtr plain = ReadPngBytes(img, EncodePng(p));
    p.interlaced = true;
    SurfacePtr laced = ReadPngBytes(img, EncodePng(p));
    ASSERT_TRUE(plain && laced);
    EXPECT_TRUE(SamePixels(plain.get(), laced.get()));
}

TEST(PngRead, DamagedFilesFailAndRewindTheStream) {
    IImage img;
    PngSpec p;
    p.width = 40;
    p.height = 30;
    p.pixels.assign(40 * 30 * 3, 0);
    for (size_t i = 0; i < p.pixels.size(); ++i) p.pixels[i] = static_cast<uint8_t>(i * 7);
    const std::vector<uint8_t> good = EncodePng(p);
    ASSERT_GT(good.size(), 60u);
    for (size_t cut : {size_t(0), size_t(7), size_t(20), size_t(33), size_t(50), good.size() - 13}) {
        std::vector<uint8_t> bad(good.begin(), good.begin() + cut);
        bad.resize(cut + 16, 0);  // padding after the cut so reads fail only on CRCs or data
        SDL_RWops* rw = SDL_RWFromConstMem(bad.data(), static_cast<int>(cut));
        ASSERT_TRUE(rw);
        SurfacePtr s(img.ReadPNG(rw));
        EXPECT_FALSE(s) << "cut at " << cut;
        EXPECT_EQ(SDL_RWtell(rw), 0) << "cut at " << cut;
        SDL_RWclose(rw);
    }
    for (size_t at = 8; at < good.size(); at += 11) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0x5A;
        SurfacePtr s = ReadPngBytes(img, bad);  // must not crash; may or may not decode
    }
}

TEST(PngRead, RejectsRowsWiderThanSdlPitchAndHugeSides) {
    IImage img;
    // 20000 RGBA pixels need 80000 bytes a row: beyond SDL 1.2's 16-bit pitch.
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(20000, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA)));
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(1, 2000000, 8, PNG_COLOR_TYPE_GRAY)));
    // 16000 x 16000 x 3 bytes from a file of 57 bytes: no allocation is made.
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(16000, 16000, 8, PNG_COLOR_TYPE_RGB)));
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(8000, 8000, 8, PNG_COLOR_TYPE_RGB)));
}

TEST(PngWrite, ColourKeyFivePaletteWritesSixEntryTransparencyTable) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakePaletted(8, 4);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, 5);
    ASSERT_EQ(img.SavePNG((dir / "p.png").c_str(), s.get(), -1), 0);
    const auto file = ReadFile(dir / "p.png");
    EXPECT_EQ(PngChunk(file, "tRNS"), (std::vector<uint8_t>{255, 255, 255, 255, 255, 0}));
    ASSERT_TRUE(PngChunk(file, "PLTE"));
    EXPECT_EQ(PngChunk(file, "PLTE")->size(), 768u);
    // And it reads back as an 8-bit surface keyed on 5 with the same pixels.
    SurfacePtr back = ReadPngBytes(img, ReadFile(dir / "p.png"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->colorkey, 5u);
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
}

TEST(PngWrite, TwentyFourBitColourKeyIsNotWritten) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakeRGB(5, 5, 24, false);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, Pixel(s.get(), 1, 1));
    ASSERT_EQ(img.SavePNG((dir / "k.png").c_str(), s.get(), -1), 0);
    const auto file = ReadFile(dir / "k.png");
    EXPECT_FALSE(PngChunk(file, "tRNS"));
    ASSERT_TRUE(PngChunk(file, "IHDR"));
    EXPECT_EQ((*PngChunk(file, "IHDR"))[9], PNG_COLOR_TYPE_RGB);
    // Keyed pixels keep their colour and the surface keeps its key.
    SurfacePtr back(img.LoadPNG((dir / "k.png").c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->BitsPerPixel, 24);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            Uint8 r1, g1, b1, r2, g2, b2;
            SDL_GetRGB(Pixel(s.get(), x, y), s->format, &r1, &g1, &b1);
            SDL_GetRGB(Pixel(back.get(), x, y), back->format, &r2, &g2, &b2);
            EXPECT_TRUE(r1 == r2 && g1 == g2 && b1 == b2) << x << "," << y;
        }
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
}

TEST(PngWrite, LevelZeroIsStoredAndLevelTwelveIsLevelNine) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakeRGB(64, 64, 24, false);
    SDL_FillRect(s.get(), nullptr, 0);
    ASSERT_EQ(img.SavePNG((dir / "0.png").c_str(), s.get(), 0), 0);
    ASSERT_EQ(img.SavePNG((dir / "9.png").c_str(), s.get(), 9), 0);
    ASSERT_EQ(img.SavePNG((dir / "12.png").c_str(), s.get(), 12), 0);
    EXPECT_GT(ReadFile(dir / "0.png").size(), size_t(64 * (64 * 3 + 1)));
    EXPECT_LT(ReadFile(dir / "9.png").size(), 1000u);
    EXPECT_EQ(ReadFile(dir / "12.png"), ReadFile(dir / "9.png"));
}

TEST(PngWrite, AlphaChannelRoundTripsExactlyFromAnyByteOrder) {
    IImage img;
    TempDir dir;
    // Masks in SDL's usual ARGB order need the temporary RGBA surface; the
    // alpha channel must be copied, not blended into the colours.
    SurfacePtr s = MakeRGB(7, 5, 32, true);
    ASSERT_TRUE(IImage::HasAlphaChannel(s.get()));
    ASSERT_EQ(img.SavePNG((dir / "a.png").c_str(), s.get(), -1), 0);
    EXPECT_TRUE(s->flags & SDL_SRCALPHA);
    EXPECT_EQ(s->format->alpha, 255);
    SurfacePtr back(img.LoadPNG((dir / "a.png").c_str()));
    ASSERT_TRUE(back);
    EXPECT_TRUE(IImage::HasAlphaChannel(back.get()));
    EXPECT_EQ(back->format->colorkey, 0xFFFFFFFFu);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            Uint8 a[4], b[4];
            SDL_GetRGBA(Pixel(s.get(), x, y), s->format, &a[0], &a[1], &a[2], &a[3]);
            SDL_GetRGBA(Pixel(back.get(), x, y), back->format, &b[0], &b[1], &b[2], &b[3]);
            EXPECT_EQ(std::memcmp(a, b, 4), 0) << x << "," << y;
        }
}

TEST(PngWrite, WriteFailureIsMinusOneNotACrash) {
    IImage img;
    SurfacePtr s = MakeRGB(32, 32, 32, true);
    std::vector<uint8_t> tiny(40);
    SDL_RWops* rw = SDL_RWFromMem(tiny.data(), static_cast<int>(tiny.size()));
    EXPECT_EQ(img.WritePNG(rw, s.get(), 6), -1);
    SDL_RWclose(rw);
}

TEST(PngWrite, NullSurfaceOrUncreatableFileIsMinusOneWithMessage) {
    IImage img;
    LogCapture cap;
    EXPECT_EQ(img.SavePNG("x.png", nullptr, -1), -1);
    EXPECT_EQ(cap.Take(), " . [IImage->SavePNG(x.png,0)] Error: surface is null.\n");
    SurfacePtr s = MakeRGB(2, 2, 24, false);
    EXPECT_EQ(img.SavePNG("/proc/no/such/dir/x.png", s.get(), -1), -1);
    EXPECT_NE(cap.Take().find("Error"), std::string::npos);
}

TEST(ImageFiles, IsPngAnswersMissingMinusOneBmpZeroPngOne) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakeRGB(3, 3, 24, false);
    ASSERT_EQ(img.SaveBMP((dir / "a.bmp").c_str(), s.get()), 1);
    ASSERT_EQ(img.SavePNG((dir / "a.png").c_str(), s.get(), -1), 0);
    ASSERT_TRUE(WriteFile(dir / "short", {0x89, 'P'}));
    EXPECT_EQ(img.IsPNG((dir / "missing.png").c_str()), -1);
    EXPECT_EQ(img.IsPNG((dir / "a.bmp").c_str()), 0);
    EXPECT_EQ(img.IsPNG((dir / "short").c_str()), 0);
    EXPECT_EQ(img.IsPNG((dir / "a.png").c_str()), 1);
    EXPECT_EQ(img.IsBMP((dir / "a.bmp").c_str()), 1);
    EXPECT_EQ(img.IsBMP((dir / "a.png").c_str()), 0);
    EXPECT_EQ(img.IsBMP(nullptr), 0);
}

TEST(BmpFiles, RoundTripOfEightTwentyFourAndThirtyTwoBits) {
    IImage img;
    TempDir dir;
    SurfacePtr s8 = MakePaletted(13, 5);
    SurfacePtr s24 = MakeRGB(13, 5, 24, false);
    SurfacePtr s32 = MakeRGB(13, 5, 32, false);
    for (SDL_Surface* s : {s8.get(), s24.get(), s32.get()}) {
        const std::string f = dir / ("b" + std::to_string(s->format->BitsPerPixel) + ".bmp");
        ASSERT_EQ(img.SaveBMP(f.c_str(), s), 1);
        SurfacePtr back(img.LoadBMP(f.c_str()));
        ASSERT_TRUE(back) << f;
        EXPECT_EQ(back->format->colorkey, 0xFFFFFFFFu);
        if (s->format->BitsPerPixel == 8) {
            EXPECT_EQ(back->format->BitsPerPixel, 8);
            EXPECT_TRUE(SamePixels(s, back.get()));
            EXPECT_EQ(back->format->palette->colors[200].g, 55);
            continue;
        }
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 13; ++x) {
                Uint8 r1, g1, b1, r2, g2, b2;
                SDL_GetRGB(Pixel(s, x, y), s->format, &r1, &g1, &b1);
                SDL_GetRGB(Pixel(back.get(), x, y), back->format, &r2, &g2, &b2);
                ASSERT_TRUE(r1 == r2 && g1 == g2 && b1 == b2) << f << " " << x << "," << y;
            }
    }
}

TEST(BmpFiles, SurfaceAlphaAndKeyDoNotDarkenTheSavedColours) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakeRGB(6, 4, 32, false);
    SDL_SetAlpha(s.get(), SDL_SRCALPHA, 128);
    const Uint32 key = Pixel(s.get(), 2, 2);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, key);
    ASSERT_EQ(img.SaveBMP((dir / "m.bmp").c_str(), s.get()), 1);
    // The caller's surface keeps its settings.
    EXPECT_TRUE(s->flags & SDL_SRCALPHA);
    EXPECT_EQ(s->format->alpha, 128);
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
    EXPECT_EQ(s->format->colorkey, key);
    SurfacePtr back(img.LoadBMP((dir / "m.bmp").c_str()));
    ASSERT_TRUE(back);
    Uint8 r1, g1, b1, r2, g2, b2;
    for (int x : {0, 2, 5}) {
        SDL_GetRGB(Pixel(s.get(), x, 2), s->format, &r1, &g1, &b1);
        SDL_GetRGB(Pixel(back.get(), x, 2), back->format, &r2, &g2, &b2);
        EXPECT_TRUE(r1 == r2 && g1 == g2 && b1 == b2) << x;
    }
}

TEST(BmpFiles, FailedWriteIsReportedAsZero) {
    IImage img;
    LogCapture cap;
    SurfacePtr s = MakeRGB(2, 2, 24, false);
    EXPECT_EQ(img.SaveBMP("/proc/no/such/dir/x.bmp", s.get()), 0);
    EXPECT_NE(cap.Take().find("Error"), std::string::npos);
    EXPECT_EQ(img.SaveBMP("x.bmp", nullptr), 0);
    EXPECT_EQ(cap.Take(), " . [IImage->SaveBMP(x.bmp,0)] Error: surface is null.\n");
}

TEST(BmpFiles, DamagedHeadersAreRefusedWithMessage) {
    IImage img;
    TempDir dir;
    SurfacePtr s = MakePaletted(9, 4);
    ASSERT_EQ(img.SaveBMP((dir / "g.bmp").c_str(), s.get()), 1);
    const std::vector<uint8_t> good = ReadFile(dir / "g.bmp");
    ASSERT_GT(good.size(), 54u + 1024u);
    auto patched = [&](size_t at, uint32_t v) {
        std::vector<uint8_t> b = good;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        return b;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(good.begin(), good.begin() + 30),  // header cut
        std::vector<uint8_t>(good.begin(), good.end() - 20),    // pixel rows cut
        patched(46, 5000),                                      // more palette entries than 8 bits hold
        patched(18, 70000),                                     // width beyond any pitch
        patched(22, 0x7FFFFFFF),                                // height beyond the file
        patched(10, 0xFFFFFFF0),                                // pixel offset beyond the file
        patched(30, 1),                                         // RLE compression
        patched(28, 7),                                         // a depth no BMP has
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const std::string f = dir / ("bad" + std::to_string(i) + ".bmp");
        ASSERT_TRUE(WriteFile(f, bad[i]));
        LogCapture cap;
        EXPECT_FALSE(SurfacePtr(img.LoadBMP(f.c_str()))) << i;
        EXPECT_NE(cap.Take().find("Error: file not found."), std::string::npos) << i;
        EXPECT_EQ(img.IsBMP(f.c_str()), 0) << i;
    }
}

// An RLE-accelerated alpha surface gives up its pixel buffer after its first
// blit; the writer must decode it rather than read rows from nowhere.
TEST(PngWrite, RleSurfaceWithoutPixelBufferIsDecodedForWriting) {
    IImage img;
    TempDir dir;
    SurfacePtr s(SDL_CreateRGBSurface(0, 6, 4, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000));
    // No pixel fully transparent: RLE drops the colour of those.
    for (int i = 0; i < s->pitch * s->h; ++i)
        static_cast<uint8_t*>(s->pixels)[i] = static_cast<uint8_t>(i % 4 == 3 ? 0x80 | i : i * 5 + 1);
    SurfacePtr copy(SDL_ConvertSurface(s.get(), s->format, 0));
    SDL_SetAlpha(s.get(), SDL_SRCALPHA | SDL_RLEACCEL, 255);
    SurfacePtr sink = MakeRGB(6, 4, 32, false);
    ASSERT_EQ(SDL_BlitSurface(s.get(), nullptr, sink.get(), nullptr), 0);
    ASSERT_TRUE(s->flags & SDL_RLEACCEL);
    ASSERT_EQ(s->pixels, nullptr);
    ASSERT_EQ(img.SavePNG((dir / "r.png").c_str(), s.get(), -1), 0);
    SurfacePtr back(img.LoadPNG((dir / "r.png").c_str()));
    ASSERT_TRUE(back);
    EXPECT_TRUE(SamePixels(copy.get(), back.get()));
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
