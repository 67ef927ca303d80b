// Export and import benchmark: packages of many small blocks (1,000 to
// 10,000) and packages of a few blocks of tens of megabytes. For each run it
// prints the time per block and the peak memory (resident set) of the
// process that did the work; every step runs in a child process of its own,
// so the figures do not mix.
//
//   bench_convert [work-directory]      (default: a fresh folder under /tmp)
//
// Time per block should stay flat as the package grows, and peak memory
// should stay within a small multiple of the largest single block.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <SDL.h>

#include "BenchChild.h"
#include "BenchPackages.h"
#include "Converter.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace {

using bench::AddRaw;
using bench::BuildSmall;
using bench::Figures;
using bench::InChild;

// A few large raw files (stored and scrambled: compressing tens of MB at the
// packer's best level would measure the packer, not the converter), and one
// large compressed image.
bool BuildLarge(const std::string& path, size_t megabytes) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    bool ok = true;
    for (int i = 0; ok && i < 3; ++i) {
        std::vector<uint8_t> bytes(megabytes << 20);
        uint32_t x = 2463534242u + i;
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        ok = AddRaw(id, "big" + std::to_string(i), "FILE", bytes, static_cast<uint8_t>(1 + i % 2));
    }
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 1024, 1024, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    if (ok && s) {
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x)
                static_cast<uint32_t*>(s->pixels)[y * s->pitch / 4 + x] = static_cast<uint32_t>((x * y) ^ (x + y));
        ok = g_pImage->Save(id, "bigimage", s) > 0;
    }
    SDL_FreeSurface(s);
    g_pStuffVLT->Close(id);
    return ok;
}

void Report(const char* what, int blocks, const Figures& f) {
    std::printf("  %-34s %6d blocks  %8.3f s  %9.1f us/block  peak %7.1f MiB%s\n", what, blocks, f.seconds,
                f.seconds * 1e6 / blocks, f.peakKiB / 1024.0, f.ok ? "" : "  (FAILED)");
}

void RunCase(const std::string& dir, const std::string& name, int blocks,
             const std::function<bool(const std::string&)>& build) {
    const std::string pack = dir + "/" + name + ".vlt";
    const std::string doc = dir + "/" + name + "_x.xml";
    const std::string back = dir + "/" + name + "_back.vlt";
    const Figures b = InChild([&] { return build(pack); });
    if (!b.ok) {
        std::printf("  %s: could not build the package\n", name.c_str());
        return;
    }
    const Figures e = InChild([&] { return ExportPackage(pack.c_str(), doc.c_str()) != 0; });
    Report((name + ": export").c_str(), blocks, e);
    const Figures i = InChild([&] { return ImportDocument(doc.c_str(), back.c_str()) != 0; });
    Report((name + ": import").c_str(), blocks, i);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = bench::WorkFolder(argc, argv);
    if (dir.empty()) return 1;
    struct rusage self;
    getrusage(RUSAGE_SELF, &self);
    std::printf("bench_convert in %s (this process: %.1f MiB)\n", dir.c_str(), self.ru_maxrss / 1024.0);
    std::printf("small blocks (200-byte raw files, every tenth a 16x16 image):\n");
    for (int n : {1000, 4000, 10000})
        RunCase(dir, "small" + std::to_string(n), n, [n](const std::string& p) { return BuildSmall(p, n); });
    std::printf("large blocks (three raw files of the size given, one 4 MiB image):\n");
    for (size_t mb : {16, 48})
        RunCase(dir, "large" + std::to_string(mb), 4, [mb](const std::string& p) { return BuildLarge(p, mb); });
    if (argc <= 1) {
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) return 1;
    }
    return 0;
}
