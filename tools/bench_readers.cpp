// Readers benchmark: a package of 5,000 blocks (images, tiles, sprites and
// sounds, compressed) is built, then
//  - exported whole with the console sent into a file, as a log would get it:
//    its size, against what one progress state per step would have written;
//  - one resource of it extracted (--extract), against the whole export;
//  - listed plain, with --long (every live block's properties read from its
//    head) and with --json.
// Figures only; nothing here is a pass or fail.
//
// Usage: bench_readers [folder]   (default: the system's temporary folder)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <SDL.h>

#include "Commands.h"
#include "Converter.h"
#include "ExportKinds.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

SDL_Surface* Surface(int w, int h, int seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    if (!s) return nullptr;
    SDL_SetAlpha(s, SDL_SRCALPHA, 255);
    auto* p = static_cast<uint32_t*>(s->pixels);
    for (int i = 0; i < w * h; ++i) p[i] = 0xFF000000u | uint32_t((i * 2654435761u + seed) & 0xFFFFFF);
    return s;
}

bool Build(const std::string& path, const std::string& wav, int blocks) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    bool ok = true;
    for (int i = 0; i < blocks && ok; ++i) {
        const std::string name = "res" + std::to_string(i);
        SDL_Surface* s = Surface(32, 32, i);
        switch (i % 4) {
            case 0: ok = g_pImage->Save(id, name.c_str(), s) > 0; break;
            case 1: {
                CTile t;
                ok = t.Create(s, name.c_str()) && t.Save(id, "TILE2") > 0;
                break;
            }
            case 2: {
                CSprite sp;
                ok = sp.Create(s, name.c_str(), 16, 16) > 0 && sp.Save(id, "SPR2") > 0;
                break;
            }
            default: ok = g_pSoundFX->SoundImport(id, name.c_str(), wav.c_str()) > 0; break;
        }
        SDL_FreeSurface(s);
    }
    g_pStuffVLT->Close(id);
    return ok;
}

bool WriteWav(const std::string& path) {
    std::vector<uint8_t> w(44 + 2000, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) w[at + k] = uint8_t(v >> (8 * k));
    };
    std::copy_n("RIFF", 4, w.begin());
    le32(4, uint32_t(w.size() - 8));
    std::copy_n("WAVEfmt ", 8, w.begin() + 8);
    le32(16, 16);
    w[20] = 1, w[22] = 1;
    le32(24, 11025);
    le32(28, 22050);
    w[32] = 2, w[34] = 16;
    std::copy_n("data", 4, w.begin() + 36);
    le32(40, 2000);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(w.data(), 1, w.size(), f) == w.size();
    return std::fclose(f) == 0 && ok;
}

// Runs f with standard output sent into a file; the bytes written there.
template <class F>
long long Captured(const std::string& file, F f) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (saved < 0 || fd < 0) return -1;
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    f();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::error_code ec;
    return static_cast<long long>(std::filesystem::file_size(file, ec));
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    const std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path(ec).string();
    std::string pattern = base + "/bundlex-bench-readers-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return 1;
    const std::string dir = buf.data();
    const std::string path = dir + "/bench.vlt";
    constexpr int kBlocks = 5000;

    Trovalis.Init(0);
    int rc = 1;
    auto t0 = Clock::now();
    if (WriteWav(dir + "/tone.wav") && Build(path, dir + "/tone.wav", kBlocks)) {
        std::printf("package: %d blocks (images, tiles, sprites, sounds), %.1f MiB, built in %.2f s\n", kBlocks,
                    double(std::filesystem::file_size(path, ec)) / (1 << 20), Seconds(t0));
        RunOutcome outcome;
        int done = 0;
        t0 = Clock::now();
        const long long console = Captured(
            dir + "/export.log", [&] { done = ExportPackage(path.c_str(), (dir + "/all.xml").c_str(), &outcome); });
        const double exportTime = Seconds(t0);
        // One state per step of both passes, as a terminal gets them.
        const long long perStep = 2LL * kBlocks * 72;
        std::printf("export into a file: %.2f s, console %lld bytes (one state per step would be about %lld)\n",
                    exportTime, console, perStep);
        const std::vector<std::string> one{"res2"};
        t0 = Clock::now();
        Captured(dir + "/extract.log",
                 [&] { ExportSelected(path.c_str(), (dir + "/one.xml").c_str(), &one, &outcome); });
        const double extractTime = Seconds(t0);
        std::printf("--extract of one sprite: %.3f s (%.1f%% of the whole export)\n", extractTime,
                    100.0 * extractTime / exportTime);
        FILE* sink = std::fopen("/dev/null", "w");
        if (sink) {
            const char* names[] = {"--list (plain)", "--list --long", "--list --json"};
            for (int mode = 0; mode < 3; ++mode) {
                double best = 1e9;
                for (int run = 0; run < 3; ++run) {
                    t0 = Clock::now();
                    ListPackage(path, mode == 2, sink, mode == 1);
                    best = std::min(best, Seconds(t0));
                }
                std::printf("%s: %.3f s, best of 3 (%.1f us per block)\n", names[mode], best, best * 1e6 / kBlocks);
            }
            std::fclose(sink);
        }
        rc = done ? 0 : 1;
    } else {
        std::fprintf(stderr, "bench_readers: the package could not be built\n");
    }
    Trovalis.Quit();
    std::filesystem::remove_all(dir, ec);
    return rc;
}
