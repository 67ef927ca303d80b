// Images: PNG and BMP files (what the reader makes of each colour type, what
// the writer puts into the file, damaged files refused, not trusted), "IMG"
// blocks through a real package, and the pixel format record that the four
// graphic block kinds check alike.

#include <cstring>
#include <tuple>
#include <vector>

#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IImage.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

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

PngSpec Spec(int colorType, int depth, int w, int h, std::vector<uint8_t> pixels) {
    PngSpec p;
    p.colorType = colorType;
    p.bitDepth = depth;
    p.width = w;
    p.height = h;
    p.pixels = std::move(pixels);
    return p;
}

// Whether every pixel has the same colour and alpha in both surfaces, whatever their formats.
bool SameColours(const SDL_Surface* a, const SDL_Surface* b) {
    if (a->w != b->w || a->h != b->h) return false;
    for (int y = 0; y < a->h; ++y)
        for (int x = 0; x < a->w; ++x) {
            Uint8 p[4], q[4];
            SDL_GetRGBA(Pixel(a, x, y), a->format, &p[0], &p[1], &p[2], &p[3]);
            SDL_GetRGBA(Pixel(b, x, y), b->format, &q[0], &q[1], &q[2], &q[3]);
            if (std::memcmp(p, q, 4) != 0) return false;
        }
    return true;
}

}  // namespace

// What the reader makes of each colour type.
namespace {
// A reader and writer of image files, and a folder for the files.
class ImageFile : public ::testing::Test {
protected:
    IImage img;
    TempDir dir;
};
using PngRead = ImageFile;
using PngWrite = ImageFile;
using ImageFiles = ImageFile;
using BmpFiles = ImageFile;
using DisplayPreparation = ImageFile;
}  // namespace

TEST_F(PngRead, ColourTypeReadIntoTheWrongSurface) {
    PngSpec grey4 = Spec(PNG_COLOR_TYPE_GRAY, 4, 4, 1, {0x0F, 0x7A});  // 0, 15, 7, 10 packed two per byte
    PngSpec greyKey = Spec(PNG_COLOR_TYPE_GRAY, 8, 3, 1, {10, 20, 30});
    greyKey.transColor = true;
    greyKey.trans.gray = 20;
    // 16 bits a sample: the high byte is kept, and so is the key.
    PngSpec rgb16 = Spec(PNG_COLOR_TYPE_RGB, 16, 1, 2, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xAB, 0, 0xCD, 0, 0xEF, 0});
    rgb16.transColor = true;
    rgb16.trans.red = 0xAB00;
    rgb16.trans.green = 0xCD00;
    rgb16.trans.blue = 0xEF00;
    const PngSpec greyAlpha = Spec(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, 1, {50, 200, 90, 0});
    const uint32_t all = ~0u, alpha = 0xFF000000u;
    struct Px {
        int x, y;
        uint32_t mask, value;
    };
    const struct Case {
        const char* what;
        PngSpec spec;
        int bpp;
        uint32_t key;
        int entry, green;  // palette entry and its green (entry -1: not checked)
        std::vector<Px> px;
    } cases[] = {
        {"palette", PalettePng({}), 8, kNoColorKey, 3, 197, {{1, 1, all, 5}}},
        // One fully transparent entry: a key, not alpha.
        {"keyed palette", PalettePng({255, 255, 0, 255}), 8, 2, 3, 197, {{1, 1, all, 5}}},
        // A partial entry: an alpha channel; index 4, beyond the table, is opaque.
        {"partial", PalettePng({255, 128}), 32, kNoColorKey, -1, 0, {{1, 0, alpha, 128u << 24}, {0, 1, alpha, alpha}}},
        // A second transparent entry: an alpha channel.
        {"two keys", PalettePng({0, 255, 0}), 32, kNoColorKey, -1, 0, {{1, 0, alpha, alpha}, {0, 0, alpha, 0}}},
        // Grey of 4 bits: 8 bits with a grey ramp.
        {"grey4", grey4, 8, kNoColorKey, 77, 77, {{0, 0, all, 0}, {1, 0, all, 255}, {2, 0, all, 119}}},
        // Grey with tRNS: a key, not a garbled two-channel image.
        {"grey key", greyKey, 8, 20, -1, 0, {{2, 0, all, 30}}},
        {"grey+alpha", greyAlpha, 32, kNoColorKey, -1, 0, {{0, 0, all, 0xC8323232u}, {1, 0, all, 0x005A5A5Au}}},
        {"16-bit RGB with its key", rgb16, 24, 0xEFCDAB, -1, 0, {{0, 0, all, 0x9A5612u}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SurfacePtr s = ReadPngBytes(img, EncodePng(c.spec));
        ASSERT_TRUE(s);
        const uint32_t key = s->flags & SDL_SRCCOLORKEY ? s->format->colorkey : kNoColorKey;
        const int green = c.entry >= 0 ? s->format->palette->colors[c.entry].g : 0;
        EXPECT_EQ(std::make_tuple(int(s->format->BitsPerPixel), key, green), std::make_tuple(c.bpp, c.key, c.green));
        if (c.bpp == 32) {
            EXPECT_EQ(s->format->Amask, alpha);
        }
        for (const Px& p : c.px) EXPECT_EQ(Pixel(s.get(), p.x, p.y) & p.mask, p.value) << p.x << "," << p.y;
    }
    // LoadPNG keeps the 8-bit surface of a keyed palette but does not report the key.
    ASSERT_TRUE(WriteFile(dir / "k.png", EncodePng(PalettePng({255, 255, 0, 255}))));
    SurfacePtr l(img.LoadPNG((dir / "k.png").c_str()));
    ASSERT_TRUE(l);
    EXPECT_EQ(std::make_tuple(int(l->format->BitsPerPixel), l->format->colorkey), std::make_tuple(8, kNoColorKey));
}

TEST_F(PngRead, TruncatedFileLeavesTheStreamMoved) {
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
}

TEST_F(PngRead, SidesBeyondWhatSdlHoldsAreAllocated) {
    // 20000 RGBA pixels need 80000 bytes a row: beyond SDL 1.2's 16-bit pitch.
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(20000, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA)));
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(1, 2000000, 8, PNG_COLOR_TYPE_GRAY)));
    // 16000 x 16000 x 3 bytes from a file of 57 bytes: no allocation is made.
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(16000, 16000, 8, PNG_COLOR_TYPE_RGB)));
    EXPECT_FALSE(ReadPngBytes(img, PngHeaderOnly(8000, 8000, 8, PNG_COLOR_TYPE_RGB)));
}

TEST_F(PngWrite, ColourKeyFivePaletteWritesSixEntryTransparencyTable) {
    SurfacePtr s = MakePaletted(8, 4);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, 5);
    ASSERT_EQ(img.SavePNG((dir / "p.png").c_str(), s.get(), -1), 0);
    const auto file = ReadFile(dir / "p.png");
    EXPECT_EQ(PngChunk(file, "tRNS"), (std::vector<uint8_t>{255, 255, 255, 255, 255, 0}));
    EXPECT_EQ(PngChunk(file, "PLTE").value_or(std::vector<uint8_t>()).size(), 768u);
    // And it reads back as an 8-bit surface keyed on 5 with the same pixels.
    SurfacePtr back = ReadPngBytes(img, ReadFile(dir / "p.png"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->colorkey, 5u);
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
}

TEST_F(PngWrite, TwentyFourBitColourKeyIsNotWritten) {
    SurfacePtr s = MakeRGB(5, 5, 24, false);
    SDL_SetColorKey(s.get(), SDL_SRCCOLORKEY, Pixel(s.get(), 1, 1));
    ASSERT_EQ(img.SavePNG((dir / "k.png").c_str(), s.get(), 0), 0);  // level 0: stored
    const auto file = ReadFile(dir / "k.png");
    EXPECT_FALSE(PngChunk(file, "tRNS"));
    EXPECT_EQ(PngChunk(file, "IHDR").value_or(std::vector<uint8_t>(10))[9], PNG_COLOR_TYPE_RGB);
    // Keyed pixels keep their colour and the surface keeps its key.
    SurfacePtr back(img.LoadPNG((dir / "k.png").c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->BitsPerPixel, 24);
    EXPECT_TRUE(SameColours(s.get(), back.get()));
    EXPECT_TRUE(s->flags & SDL_SRCCOLORKEY);
}

TEST_F(PngWrite, WriteFailureIsMinusOneNotACrash) {
    SurfacePtr s = MakeRGB(32, 32, 32, true);
    std::vector<uint8_t> tiny(40);
    SDL_RWops* rw = SDL_RWFromMem(tiny.data(), static_cast<int>(tiny.size()));
    EXPECT_EQ(img.WritePNG(rw, s.get(), 6), -1);
    SDL_RWclose(rw);
}

TEST_F(ImageFiles, NullSurfaceOrUncreatableFileFailsWithMessage) {
    LogCapture cap;
    SurfacePtr s = MakeRGB(2, 2, 24, false);
    EXPECT_EQ(img.SavePNG("x.png", nullptr, -1), -1);
    EXPECT_EQ(img.SaveBMP("x.bmp", nullptr), 0);
    EXPECT_EQ(cap.Take(),
              " . [IImage->SavePNG(x.png,0)] Error: surface is null.\n"
              " . [IImage->SaveBMP(x.bmp,0)] Error: surface is null.\n");
    EXPECT_EQ(img.SavePNG("/proc/no/such/dir/x.png", s.get(), -1), -1);
    EXPECT_TRUE(Contains(cap.Take(), "Error"));
    EXPECT_EQ(img.SaveBMP("/proc/no/such/dir/x.bmp", s.get()), 0);
    EXPECT_TRUE(Contains(cap.Take(), "Error"));
}

TEST_F(ImageFiles, IsPngAnswersMissingMinusOneBmpZeroPngOne) {
    SurfacePtr s = MakeRGB(3, 3, 24, false);
    ASSERT_EQ(img.SaveBMP((dir / "a.bmp").c_str(), s.get()), 1);
    ASSERT_EQ(img.SavePNG((dir / "a.png").c_str(), s.get(), -1), 0);
    ASSERT_TRUE(WriteFile(dir / "short", {0x89, 'P'}));
    std::vector<int> answers;
    for (const char* f : {"missing.png", "a.bmp", "short", "a.png"}) answers.push_back(img.IsPNG((dir / f).c_str()));
    for (const char* f : {"a.bmp", "a.png"}) answers.push_back(img.IsBMP((dir / f).c_str()));
    answers.push_back(img.IsBMP(nullptr));
    EXPECT_EQ(answers, (std::vector<int>{-1, 0, 0, 1, 1, 0, 0}));
}

// SDL reads a palette right after 40 header bytes: a longer header gave
// every pixel a colour taken from the header's own fields.
TEST_F(BmpFiles, PaletteIsReadWhereEveryHeaderFormPutsIt) {
    for (uint32_t header : {12u, 40u, 64u, 108u, 124u})
        for (uint16_t bpp : {1, 4, 8})
            for (bool topDown : {false, true}) {
                if (topDown && header == 12) continue;
                const PalettedBmpSpec spec{header, bpp, 7, 3, topDown};
                SCOPED_TRACE(std::to_string(header) + " bytes, " + std::to_string(bpp) + " bits" +
                             (topDown ? ", top down" : ""));
                const std::vector<uint8_t> bytes = PalettedBmp(spec);
                SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
                SurfacePtr s(img.ReadBMP(rw));
                SDL_RWclose(rw);
                ASSERT_TRUE(s);
                for (int y = 0; y < spec.height; ++y)
                    for (int x = 0; x < spec.width; ++x) {
                        SDL_Color got{}, want = BmpEntryColour(BmpIndex(spec, x, y));
                        SDL_GetRGB(Pixel(s.get(), x, y), s->format, &got.r, &got.g, &got.b);
                        ASSERT_EQ(std::tie(got.r, got.g, got.b), std::tie(want.r, want.g, want.b)) << x << "," << y;
                    }
            }
}

// SDL 1.2 reads no run-length coded BMP: real 8-bit and 4-bit ones were refused.
TEST_F(BmpFiles, RunLengthCodedRowsAreDecoded) {
    const struct {
        uint16_t bpp;
        std::vector<uint8_t> codes;
    } cases[] = {
        // Bottom row: a run of 3 of 5, an absolute run 1 2 3; next row: 2 skipped by a delta, then 4.
        {8, {3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 1, 4, 0, 1}},
        // The same pixels in 4 bits: a run alternates the two nibbles.
        {4, {3, 0x55, 0, 3, 0x12, 0x30, 0, 0, 0, 2, 2, 0, 1, 0x40, 0, 1}},
    };
    const std::vector<int> want = {0, 0, 4, 0, 0, 0, 5, 5, 5, 1, 2, 3};  // top row first
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bpp);
        std::vector<uint8_t> b = PalettedBmp(PalettedBmpSpec{40, c.bpp, 6, 2, false});
        const uint32_t offset = LoadLE32(&b[10]);
        b.resize(offset);
        b.insert(b.end(), c.codes.begin(), c.codes.end());
        StoreLE32(&b[30], c.bpp == 8 ? 1 : 2);
        SDL_RWops* rw = SDL_RWFromConstMem(b.data(), static_cast<int>(b.size()));
        SurfacePtr s(img.ReadBMP(rw));
        SDL_RWclose(rw);
        ASSERT_TRUE(s);
        std::vector<int> got;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 6; ++x) got.push_back(int(Pixel(s.get(), x, y)));
        EXPECT_EQ(got, want);
    }
}

TEST_F(BmpFiles, DamagedHeadersAreRefusedWithMessage) {
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
        patched(30, 2),                                         // 4-bit run-length coding on 8 bits
        patched(28, 7),                                         // a depth no BMP has
        patched(10, 50),                                        // pixel rows inside the header
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const std::string f = dir / ("bad" + std::to_string(i) + ".bmp");
        ASSERT_TRUE(WriteFile(f, bad[i]));
        LogCapture cap;
        EXPECT_FALSE(SurfacePtr(img.LoadBMP(f.c_str()))) << i;
        EXPECT_TRUE(Contains(cap.Take(), "Error: file not found.")) << i;
        EXPECT_EQ(img.IsBMP(f.c_str()), 0) << i;
    }
}

// An RLE-accelerated alpha surface gives up its pixel buffer after its first blit.
TEST_F(PngWrite, RleSurfaceWithoutPixelBufferIsDecodedForWriting) {
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

// A screen surface without a video mode behind it once sent the surface into SDL_DisplayFormat, which crashes then.
TEST_F(DisplayPreparation, FailedConversionKeepsTheSurface) {
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

TEST_F(ImageBlock, EightBitImageLosesItsPalette) {
    SurfacePtr s = MakePaletted(10, 3);  // pitch 12
    LogCapture cap;
    ASSERT_GT(g_pImage->Save(id, "pal", s.get()), 0);
    EXPECT_EQ(Payload("pal").size(), 48u + 12 * 3 + 1024);
    cap.Take();
    SurfacePtr back(g_pImage->Load(id, "pal", nullptr));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::make_pair(int(back->format->BitsPerPixel), back->format->palette->ncolors), std::make_pair(8, 256));
    for (int i : {0, 1, 127, 255}) {
        const SDL_Color a = back->format->palette->colors[i], b = s->format->palette->colors[i];
        EXPECT_EQ(std::tie(a.r, a.g, a.b), std::tie(b.r, b.g, b.b)) << i;
    }
    EXPECT_TRUE(SamePixels(s.get(), back.get()));
    EXPECT_EQ(cap.Take(), " . [IImage->Load('" + dir / "test.vlt" + "','pal',0x0)] Warning: 8bits surface loaded, " +
                              "it could be a different screen format.\n");
}

TEST_F(ImageBlock, WrongResultForAbsentOrExistingBlock) {
    LogCapture cap;
    EXPECT_FALSE(SurfacePtr(g_pImage->Load(0, "x", nullptr)));
    EXPECT_EQ(cap.Take(), "");
    EXPECT_FALSE(SurfacePtr(g_pImage->Load(id, "nothing", nullptr)));
    EXPECT_TRUE(Contains(cap.Take(), "','nothing',0x0)] Error: image not found.\n"));
    EXPECT_EQ(g_pImage->Save(0, "x", MakeRGB(1, 1, 24, false).get()), 0);
    EXPECT_EQ(g_pImage->Save(id, std::string(32, 'x').c_str(), MakeRGB(1, 1, 24, false).get()), 0);
    SurfacePtr s = MakeRGB(2, 2, 24, false);
    EXPECT_GT(g_pImage->Save(id, "twice", s.get()), 0);
    EXPECT_EQ(g_pImage->Save(id, "twice", s.get()), -1);
}

// SDL_ConvertSurface looks a paletted surface's colour key up in the palette
// unchecked: a key beyond it read outside (found by fuzzing the importer;
// tests/data/fuzz/document).
TEST_F(ImageBlock, PalettedSurfaceWithKeyBeyondItsPaletteIsNotSaved) {
    SurfacePtr p8 = MakePaletted(4, 4);
    SDL_SetColorKey(p8.get(), SDL_SRCCOLORKEY, 2000000000u);
    LogCapture cap;
    EXPECT_EQ(g_pImage->Save(id, "bad", p8.get()), 0);
    EXPECT_TRUE(Contains(cap.Take(), " . [IImage->Save(" + std::to_string(id) +
                                         ",'bad')] Error: the colour key is not an entry of the surface's palette.\n"));
    SDL_SetColorKey(p8.get(), SDL_SRCCOLORKEY, 255);
    EXPECT_GT(g_pImage->Save(id, "fits", p8.get()), 0);
}

// SDL_ConvertSurface refuses a palette of black entries only ("empty
// destination palette"), so such an image was never stored.
TEST_F(ImageBlock, AllBlackPaletteIsStored) {
    SurfacePtr p8 = MakePaletted(8, 2);
    for (int i = 0; i < p8->format->palette->ncolors; ++i) p8->format->palette->colors[i] = SDL_Color{0, 0, 0, 0};
    SurfacePtr back = RoundTrip(p8.get(), "black");
    ASSERT_TRUE(back);
    EXPECT_TRUE(SamePixels(p8.get(), back.get()));
}

// SDL_ConvertSurface maps a key to the first entry of the key's colour, so a
// key on an entry whose colour an earlier entry repeats moved to that entry.
TEST_F(ImageBlock, KeyOnARepeatedPaletteColourKeepsItsIndex) {
    SurfacePtr p8 = MakePaletted(8, 2);
    p8->format->palette->colors[9] = p8->format->palette->colors[3];
    SDL_SetColorKey(p8.get(), SDL_SRCCOLORKEY, 9);
    SurfacePtr back = RoundTrip(p8.get(), "twice");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format->colorkey, 9u);
    EXPECT_TRUE(SamePixels(p8.get(), back.get()));
}

namespace {

using Buf = std::vector<uint8_t>;

// A 1x1 32-bit pixel area (pitch 4) behind a record with these masks, `cut` bytes short.
Buf RecordAndPixels(uint32_t r, uint32_t g, uint32_t b, size_t cut) {
    Buf v(40 + 4 - cut, 0);
    v[4] = 32;
    v[5] = 4;
    StoreLE32(&v[16], r);
    StoreLE32(&v[20], g);
    StoreLE32(&v[24], b);
    StoreLE32(&v[32], kNoColorKey);
    v[36] = 255;
    return v;
}

Buf Join(Buf head, const Buf& rest, size_t tail) {
    head.insert(head.end(), rest.begin(), rest.end());
    head.resize(head.size() + tail, 0);
    return head;
}

}  // namespace

TEST(PixelRecord, GraphicKindsDisagreeOnARecord) {
    testsupport::SdkSession sdk;
    const Buf side = {1, 0, 0, 0, 1, 0, 0, 0};  // width 1, height 1
    const struct {
        const char* what;
        uint32_t r, g, b;
        size_t cut;
        bool decodes;
    } rows[] = {
        {"usual masks", 0xFF0000, 0xFF00, 0xFF, 0, true},
        {"red and green masks overlap (a BMP's bit fields can say so)", 0xFF, 0xFF, 0xFF0000, 0, true},
        {"a mask wider than 8 bits", 0x3FF00000, 0xFFC00, 0x3FF, 0, true},
        {"pixel area one byte short", 0xFF0000, 0xFF00, 0xFF, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Buf rec = RecordAndPixels(row.r, row.g, row.b, row.cut);
        const Buf img = Join(side, rec, 0);
        SDL_Surface* s = IImage::DecodePayload(img.data(), img.size());
        EXPECT_EQ(s != nullptr, row.decodes) << "IMG";
        SDL_FreeSurface(s);
        TilePayload tile;
        const Buf t = Join(Join(side, Buf(16, 0), 0), rec, CTile::kTrailerSize);
        EXPECT_EQ(CTile::DecodePayload(t.data(), t.size(), tile), row.decodes) << "TILE2";
        // Frame 1x1 on a sheet 1 wide, one animation without frames.
        const Buf sprHead = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
        const Buf spr = Join(Join(sprHead, Buf(CSprite::kAnimationSize, 0), 0), rec, 0);
        SpritePayload sprite;
        EXPECT_EQ(CSprite::DecodePayload(spr.data(), spr.size(), sprite), row.decodes) << "SPR2";
        const Buf f = Join(side, rec, CFont::kTailSize);
        FontPayload font;
        EXPECT_EQ(CFont::DecodePayload(f.data(), f.size(), false, font), row.decodes) << "FONT2";
    }
}
