// Helpers of the tile tests: surfaces with known pixels, hand-made tile
// payloads in the layouts an older writer produced, and a fresh package.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "TestSupport.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/PixelFormatRecord.h"

namespace tiletest {

// A surface whose pixel (x, y) has the value seed + x + 7y (masked to depth).
inline SDL_Surface* Pattern(int w, int h, int bpp, uint32_t r = 0, uint32_t g = 0, uint32_t b = 0, uint32_t a = 0,
                            uint32_t seed = 1) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, w, h, bpp, r, g, b, a);
    if (!s) return nullptr;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
            const uint32_t v = seed + x + 7 * y;
            std::memcpy(p, &v, s->format->BytesPerPixel);
        }
    return s;
}

struct TileFields {
    uint32_t tileset = 0;
    int32_t xoffset = 0;
    int32_t yoffset = 0;
    int32_t x = 0, y = 0;
    uint32_t colorkey = kNoColorKey;
    uint8_t alpha = 255;
};

// A tile payload of surface s: version 2.0, or 1.0 without the trailer.
inline std::vector<uint8_t> TileBytes(SDL_Surface* s, const TileFields& f, bool version1 = false) {
    const uint32_t pitch = SoftwarePitch(s->w, s->format->BitsPerPixel);
    const size_t area = size_t(pitch) * s->h + (s->format->BitsPerPixel == 8 ? 1024 : 0);
    std::vector<uint8_t> p(64 + area + (version1 ? 0 : 64), 0);
    StoreLE32(&p[0], s->w);
    StoreLE32(&p[4], s->h);
    StoreLE32(&p[8], f.x);
    StoreLE32(&p[12], f.y);
    StoreLE32(&p[16], f.tileset);
    StoreLE32(&p[20], f.xoffset);
    StorePixelFormatRecord(&p[24], s->format);
    StoreLE32(&p[56], f.colorkey);
    p[60] = f.alpha;
    for (int y = 0; y < s->h; ++y)
        std::memcpy(&p[64 + size_t(y) * pitch], static_cast<uint8_t*>(s->pixels) + y * s->pitch, pitch);
    if (s->format->BitsPerPixel == 8)
        for (int i = 0; i < 256 && i < s->format->palette->ncolors; ++i) {
            p[64 + size_t(pitch) * s->h + 4 * i] = s->format->palette->colors[i].r;
            p[64 + size_t(pitch) * s->h + 4 * i + 1] = s->format->palette->colors[i].g;
            p[64 + size_t(pitch) * s->h + 4 * i + 2] = s->format->palette->colors[i].b;
        }
    if (!version1) StoreLE32(&p[p.size() - 64], f.yoffset);
    return p;
}

inline bool SamePixels(SDL_Surface* a, SDL_Surface* b) {
    if (a->w != b->w || a->h != b->h || a->format->BytesPerPixel != b->format->BytesPerPixel) return false;
    const size_t row = size_t(a->w) * a->format->BytesPerPixel;
    for (int y = 0; y < a->h; ++y)
        if (std::memcmp(static_cast<uint8_t*>(a->pixels) + y * a->pitch, static_cast<uint8_t*>(b->pixels) + y * b->pitch,
                        row) != 0)
            return false;
    return true;
}

// A test with the SDK started and an empty package open.
class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        id = g_pStuffVLT->Create((dir / "test.vlt").c_str());
        ASSERT_GT(id, 0) << "the package manager could not create a package";
    }
    void TearDown() override {
        if (id > 0) g_pStuffVLT->Close(id);
    }
    int Put(const char* type, const char* name, std::vector<uint8_t> bytes) {
        BlockInfo b{};
        std::strncpy(b.name, name, sizeof b.name - 1);
        std::strncpy(b.type, type, sizeof b.type - 1);
        b.size = static_cast<uint32_t>(bytes.size());
        b.data = bytes.data();
        return g_pStuffVLT->AddData(id, &b);
    }
    // The payload of a block, empty when there is none.
    std::vector<uint8_t> Get(const char* type, const char* name) {
        BlockInfo b{};
        std::vector<uint8_t> out;
        if (g_pStuffVLT->LoadBlock(id, type, name, &b) > 0 && b.data) out.assign(b.data, b.data + b.size);
        g_pStuffVLT->FreeBlock(&b);
        return out;
    }

    testsupport::SdkSession sdk;
    testsupport::TempDir dir;
    int id = 0;
};

}  // namespace tiletest
