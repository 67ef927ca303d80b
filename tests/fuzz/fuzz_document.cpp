// An ORBv1 document imported into a fresh package. The payload files the
// document may name are a fixed set made once per process in the folder
// "p" of the scratch folder, which becomes the working directory (sources
// are opened relative to it, as the importer does):
//   p/rgba.png   4x3, 32 bits with alpha      p/rgb.bmp    4x3, 24 bits
//   p/pal.bmp    4x3, 8 bits                  p/sheet.png  8x8, 32 bits with alpha
//   p/sheet.bmp  8x8, 24 bits                 p/font.png   a 189x3 font sheet (94 glyphs)
//   p/font.bmp   the same, 24 bits            p/tone.wav   8 samples of 8-bit mono
//   p/tune.mod   64 bytes of a tracker module p/raw        16 bytes; p/empty 0 bytes
// Each input gets a new output folder; the package is out/fuzz.vlt.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "Converter.h"
#include "FuzzSupport.h"
#include "core/Endian.h"
#include "resources/IImage.h"

namespace {

SDL_Surface* Pattern(int w, int h, int bpp, bool alpha) {
    SDL_Surface* s = bpp == 8    ? SDL_CreateRGBSurface(0, w, h, 8, 0, 0, 0, 0)
                     : bpp == 24 ? SDL_CreateRGBSurface(0, w, h, 24, 0xFF0000, 0xFF00, 0xFF, 0)
                                 : SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0);
    if (!s) return nullptr;
    if (bpp == 8) {  // SDL cannot convert a surface whose palette is all black
        SDL_Color colors[256];
        for (int i = 0; i < 256; ++i)
            colors[i] = SDL_Color{static_cast<Uint8>(i), static_cast<Uint8>(255 - i), static_cast<Uint8>(i * 3), 0};
        SDL_SetColors(s, colors, 0, 256);
    }
    SDL_LockSurface(s);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
            for (int b = 0; b < s->format->BytesPerPixel; ++b) p[b] = static_cast<uint8_t>(x * 37 + y * 11 + b * 5);
        }
    SDL_UnlockSurface(s);
    if (alpha) SDL_SetAlpha(s, SDL_SRCALPHA, 255);
    return s;
}

// A font sheet: row 0 marks the 95 gaps (even columns) in magenta, the 94
// glyphs (odd columns) have ink below it.
SDL_Surface* FontSheet(int bpp, bool alpha) {
    const int w = 189, h = 3;
    SDL_Surface* s = bpp == 24 ? SDL_CreateRGBSurface(0, w, h, 24, 0xFF0000, 0xFF00, 0xFF, 0)
                               : SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    if (!s) return nullptr;
    SDL_FillRect(s, nullptr, SDL_MapRGBA(s->format, 0, 0, 0, 0));
    for (int x = 0; x < w; ++x) {
        SDL_Rect r{static_cast<Sint16>(x), 0, 1, 1};
        if (x % 2 == 0) {
            SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 255, 0, 255, 255));
        } else {
            r.y = 1;
            r.h = 2;
            SDL_FillRect(s, &r, SDL_MapRGBA(s->format, 255, 255, 255, 255));
        }
    }
    if (alpha) SDL_SetAlpha(s, SDL_SRCALPHA, 255);
    return s;
}

void Save(SDL_Surface* s, const std::string& file, bool png) {
    if (!s) return;
    if (png)
        g_pImage->SavePNG(file.c_str(), s, 6);
    else
        g_pImage->SaveBMP(file.c_str(), s);
    SDL_FreeSurface(s);
}

std::vector<uint8_t> Wav() {
    std::vector<uint8_t> w(44 + 8);
    std::memcpy(&w[0], "RIFF", 4);
    StoreLE32(&w[4], static_cast<uint32_t>(w.size() - 8));
    std::memcpy(&w[8], "WAVEfmt ", 8);
    StoreLE32(&w[16], 16);
    StoreLE16(&w[20], 1);     // PCM
    StoreLE16(&w[22], 1);     // mono
    StoreLE32(&w[24], 8000);  // rate
    StoreLE32(&w[28], 8000);  // bytes per second
    StoreLE16(&w[32], 1);     // block align
    StoreLE16(&w[34], 8);     // bits
    std::memcpy(&w[36], "data", 4);
    StoreLE32(&w[40], 8);
    for (int i = 0; i < 8; ++i) w[44 + i] = static_cast<uint8_t>(128 + (i % 2 ? 40 : -40));
    return w;
}

void MakePayloads() {
    const std::string p = fuzzsupport::ScratchDir() + "/p";
    std::error_code ec;
    std::filesystem::create_directories(p, ec);
    Save(Pattern(4, 3, 32, true), p + "/rgba.png", true);
    Save(Pattern(4, 3, 24, false), p + "/rgb.bmp", false);
    Save(Pattern(4, 3, 8, false), p + "/pal.bmp", false);
    Save(Pattern(8, 8, 32, true), p + "/sheet.png", true);
    Save(Pattern(8, 8, 24, false), p + "/sheet.bmp", false);
    Save(FontSheet(32, true), p + "/font.png", true);
    Save(FontSheet(24, false), p + "/font.bmp", false);
    const std::vector<uint8_t> wav = Wav();
    fuzzsupport::WriteFile(p + "/tone.wav", wav.data(), wav.size());
    std::vector<uint8_t> mod(64);
    for (size_t i = 0; i < mod.size(); ++i) mod[i] = static_cast<uint8_t>(i * 7);
    fuzzsupport::WriteFile(p + "/tune.mod", mod.data(), mod.size());
    fuzzsupport::WriteFile(p + "/raw", mod.data(), 16);
    fuzzsupport::WriteFile(p + "/empty", mod.data(), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    static const bool ready = [] {
        MakePayloads();
        return chdir(fuzzsupport::ScratchDir().c_str()) == 0;
    }();
    if (!ready) return 0;
    const std::string doc = fuzzsupport::WriteScratch("doc.xml", data, size);
    const std::string out = fuzzsupport::FreshScratchFolder("out") + "/fuzz.vlt";
    ImportDocument(doc.c_str(), out.c_str());
    return 0;
}
