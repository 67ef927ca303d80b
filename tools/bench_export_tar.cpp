// Export against tar: makes a package of n small blocks (200-byte raw files
// in the three store methods, every tenth block a 16 x 16 image), exports it
// once and packs that export with tar, so that an export and `tar -x` of the
// very same files can be timed side by side as whole processes:
//
//   bench_export_tar DIR [n] [bundlex]     (n: 10000 by default)
//
// It prints the farm-bench command that times them pair by pair, each run
// into a fresh folder under DIR/runs (file creation slows for a while after
// a bulk delete, so nothing is deleted between runs; remove DIR afterwards).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace {

bool AddRaw(int id, const std::string& name, std::vector<uint8_t>& bytes, uint8_t mode) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
    std::snprintf(info.type, sizeof info.type, "%s", "FILE");
    info.mode = mode;
    info.size = static_cast<uint32_t>(bytes.size());
    info.data = bytes.data();
    return g_pStuffVLT->AddData(id, &info) > 0;
}

bool Build(const std::string& path, int n) {
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
            ok = AddRaw(id, name, bytes, static_cast<uint8_t>(i % 3));
        }
    }
    SDL_FreeSurface(s);
    g_pStuffVLT->Close(id);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_export_tar DIR [n] [bundlex]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int n = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string bundlex = argc > 3 ? argv[3] : "bundlex";
    ::mkdir(dir.c_str(), 0755);
    ::mkdir((dir + "/runs").c_str(), 0755);
    ::mkdir((dir + "/ref").c_str(), 0755);
    Trovalis.Init(0);
    const bool built = Build(dir + "/pack.vlt", n);
    Trovalis.Quit();
    if (!built) {
        std::fprintf(stderr, "the package could not be built\n");
        return 1;
    }
    const std::string prepare = "cd '" + dir + "' && '" + bundlex +
                                "' pack.vlt ref/pack.xml >/dev/null && tar -C ref -cf pack.tar pack.xml pack";
    if (std::system(prepare.c_str()) != 0) {
        std::fprintf(stderr, "the reference export or its tar file could not be made\n");
        return 1;
    }
    std::printf(
        "cd '%s' && farm-bench -n 10 --vs \"sh -c 'tar -xf pack.tar -C \\$(mktemp -d runs/t.XXXXXX)'\" -- "
        "sh -c 'exec %s pack.vlt $(mktemp -d runs/e.XXXXXX)/pack.xml >/dev/null'\n",
        dir.c_str(), bundlex.c_str());
    return 0;
}
