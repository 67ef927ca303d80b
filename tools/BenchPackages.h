// Packages the benchmarks in tools/ build: raw blocks and the package of
// many small blocks that the export and import benchmarks time.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace bench {

inline bool AddRaw(int id, const std::string& name, const char* type, std::vector<uint8_t>& bytes, uint8_t mode) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
    std::snprintf(info.type, sizeof info.type, "%s", type);
    info.mode = mode;
    info.size = static_cast<uint32_t>(bytes.size());
    info.data = bytes.data();
    return g_pStuffVLT->AddData(id, &info) > 0;
}

// n small blocks: raw files of 200 bytes in the three store methods, and
// every tenth block a 16 x 16 image.
inline bool BuildSmall(const std::string& path, int n) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    std::vector<uint8_t> bytes(200);
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, 16, 16, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    bool ok = s != nullptr;
    for (int i = 0; ok && i < n; ++i) {
        const std::string name = "b" + std::to_string(i);
        if (i % 10 == 0) {
            static_cast<uint32_t*>(s->pixels)[i % 256] = 0x80000000u + static_cast<uint32_t>(i);
            ok = g_pImage->Save(id, name.c_str(), s) > 0;
        } else {
            for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(i * 31 + k);
            ok = AddRaw(id, name, "FILE", bytes, static_cast<uint8_t>(i % 3));
        }
    }
    SDL_FreeSurface(s);
    g_pStuffVLT->Close(id);
    return ok;
}

// Text-like bytes of a small file that compress about as game data does:
// n bytes, varied by i.
inline std::vector<uint8_t> TextLike(int i, size_t n) {
    static const char* const kWords[] = {"tile ",  "sprite ", "x=", "y=", "frame ", "delay ", "alpha ", "key ",
                                         "layer ", "name ",   "0 ", "1 ", "16 ",    "32 ",    "255 ",   "\n"};
    std::vector<uint8_t> bytes;
    bytes.reserve(n + 8);
    uint32_t x = 2463534242u + static_cast<uint32_t>(i) * 7919u;
    while (bytes.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const char* w = kWords[x % 16];
        bytes.insert(bytes.end(), w, w + std::strlen(w));
        if (x % 7 == 0) bytes.push_back(static_cast<uint8_t>('a' + (x >> 8) % 26));
    }
    bytes.resize(n);
    return bytes;
}

// n raw files of 0.2 to 4 KiB of text-like bytes, stored compressed.
inline bool BuildTextFiles(const std::string& path, int n) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    bool ok = true;
    for (int i = 0; ok && i < n; ++i) {
        std::vector<uint8_t> bytes = TextLike(i, 200 + (static_cast<size_t>(i) * 2654435761u) % 3897);
        ok = AddRaw(id, "f" + std::to_string(i), "FILE", bytes, compressed);
    }
    g_pStuffVLT->Close(id);
    return ok;
}

}  // namespace bench
