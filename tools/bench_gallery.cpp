// Gallery benchmark: a package of 10,000 resources of the kinds a game holds
// (images with per-pixel alpha and with a colour key, tile sets, sprites,
// fonts, sounds, raw files) is exported and shown as a gallery, each in a
// fresh folder and a child process of its own. Prints the time, peak memory
// and output size of both; the gallery should cost about as much as the
// export, or less.
//
//   bench_gallery [work-directory] [resources]   (default: a fresh folder under /tmp, 10000)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <SDL.h>

#include "BenchChild.h"
#include "Commands.h"
#include "Converter.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

using bench::Figures;
using bench::InChild;

SDL_Surface* Picture(int w, int h, bool alpha, uint32_t seed) {
    SDL_Surface* s =
        alpha ? SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)
              : SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!s) return nullptr;
    SDL_LockSurface(s);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = static_cast<uint8_t*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
            const uint32_t v = (seed * 2654435761u) ^ uint32_t(x * 7 + y * 13);
            for (int b = 0; b < s->format->BytesPerPixel; ++b) p[b] = uint8_t(v >> (b * 5));
            if (alpha) p[3] = uint8_t(x * 255 / w);
        }
    SDL_UnlockSurface(s);
    if (!alpha) SDL_SetColorKey(s, SDL_SRCCOLORKEY, SDL_MapRGB(s->format, 0, 0, 0));
    return s;
}

// A font strip as CFont takes it: 94 glyphs of 4 ink columns, each after a
// gap column.
SDL_Surface* FontStrip() {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 1 + 94 * 5, 10, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    if (!s) return nullptr;
    SDL_FillRect(s, nullptr, 0);
    for (int g = 0; g < 94; ++g) {
        SDL_Rect r{Sint16(1 + g * 5), 2, 4, 7};
        SDL_FillRect(s, &r, SDL_MapRGB(s->format, 255, 255, uint8_t(g)));
    }
    return s;
}

std::vector<uint8_t> Wav(int samples) {
    std::vector<uint8_t> w(44 + size_t(samples) * 2);
    std::memcpy(w.data(), "RIFF", 4);
    StoreLE32(w.data() + 4, uint32_t(w.size() - 8));
    std::memcpy(w.data() + 8, "WAVEfmt ", 8);
    StoreLE32(w.data() + 16, 16);
    StoreLE16(w.data() + 20, 1);
    StoreLE16(w.data() + 22, 1);
    StoreLE32(w.data() + 24, 22050);
    StoreLE32(w.data() + 28, 44100);
    StoreLE16(w.data() + 32, 2);
    StoreLE16(w.data() + 34, 16);
    std::memcpy(w.data() + 36, "data", 4);
    StoreLE32(w.data() + 40, uint32_t(samples) * 2);
    for (int i = 0; i < samples; ++i) StoreLE16(w.data() + 44 + i * 2, uint16_t((i * 700) & 0xFFFF));
    return w;
}

// Of every 20 resources: 8 images (half per-pixel, half keyed), 3 tile sets,
// 2 sprites, 1 font, 2 sounds, 4 raw files.
bool Build(const std::string& path, const std::string& dir, int n) {
    const std::string wav = dir + "/tone.wav";
    const std::vector<uint8_t> wavBytes = Wav(2000);
    FILE* f = std::fopen(wav.c_str(), "wb");
    if (!f || std::fwrite(wavBytes.data(), 1, wavBytes.size(), f) != wavBytes.size() || std::fclose(f) != 0)
        return false;
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    std::vector<uint8_t> raw(200, 'x');
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "res%05d", i);
        const int slot = i % 20;
        if (slot < 8) {
            SDL_Surface* s = Picture(64, 64, slot % 2 == 0, uint32_t(i));
            ok = s && g_pImage->Save(id, name, s) > 0;
            SDL_FreeSurface(s);
        } else if (slot < 11) {
            CTile t;
            SDL_Surface* s = Picture(64, 64, slot == 9, uint32_t(i));
            ok = s && t.Create(s, name) && t.SetTileset(1, 16, 16) && t.Save(id, "TILE2") > 0;
            SDL_FreeSurface(s);
        } else if (slot < 13) {
            CSprite sp;
            SDL_Surface* s = Picture(128, 64, false, uint32_t(i));
            ok = s && sp.Create(s, name, 32, 32) > 0 && sp.Save(id, "SPR2") > 0;
            SDL_FreeSurface(s);
        } else if (slot < 14) {
            CFont font;
            SDL_Surface* s = FontStrip();
            ok = s && font.Create(s) == CFont::kCreated && font.Save(id, name) > 0;
            SDL_FreeSurface(s);
        } else if (slot < 16) {
            ok = g_pSoundFX->SoundImport(id, name, wav.c_str()) > 0;
        } else {
            BlockInfo info;
            std::memset(&info, 0, sizeof info);
            std::snprintf(info.name, sizeof info.name, "%s", name);
            std::snprintf(info.type, sizeof info.type, "FILE");
            info.mode = uint8_t(i % 3);
            info.size = uint32_t(raw.size());
            info.data = raw.data();
            ok = g_pStuffVLT->AddData(id, &info) > 0;
        }
    }
    g_pStuffVLT->Close(id);
    return ok;
}

unsigned long long Bytes(const std::string& dir) {
    unsigned long long total = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
        if (e.is_regular_file(ec)) total += e.file_size(ec);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string work = bench::WorkFolder(argc, argv);
    if (work.empty()) return 1;
    const int n = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string pack = work + "/pack.vlt";
    const Figures b = InChild([&] { return Build(pack, work, n); });
    if (!b.ok) {
        std::fprintf(stderr, "bench_gallery: the package could not be built in %s\n", work.c_str());
        return 1;
    }
    std::printf("%d resources built in %.2f s (%s)\n", n, b.seconds, pack.c_str());
    const std::string exp = work + "/export", gal = work + "/gallery";
    mkdir(exp.c_str(), 0755);
    mkdir(gal.c_str(), 0755);
    const Figures e = InChild([&] { return ExportPackage(pack.c_str(), (exp + "/pack.xml").c_str()) != 0; });
    const Figures g = InChild([&] { return GalleryPackage(pack, gal + "/pack.html", false, stdout) == 0; });
    std::printf("%-8s %8s %10s %12s\n", "", "seconds", "peak KiB", "bytes out");
    std::printf("%-8s %8.2f %10ld %12llu%s\n", "export", e.seconds, e.peakKiB, Bytes(exp), e.ok ? "" : "  FAILED");
    std::printf("%-8s %8.2f %10ld %12llu%s\n", "gallery", g.seconds, g.peakKiB, Bytes(gal), g.ok ? "" : "  FAILED");
    std::printf("gallery / export: %.2f\n", e.seconds > 0 ? g.seconds / e.seconds : 0.0);
    return e.ok && g.ok ? 0 : 1;
}
