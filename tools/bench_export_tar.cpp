// Export against tar: makes a package of n small blocks (200-byte raw files
// in the three store methods, every tenth block a 16 x 16 image), exports it
// once and packs that export with tar, so that an export and `tar -x` of the
// very same files can be timed side by side as whole processes:
//
//   bench_export_tar DIR [n] [bundlex]     (n: 10000 by default)
//
// It prints the two commands to time pair by pair, each run writing
// into a fresh folder under DIR/runs (file creation slows for a while after
// a bulk delete, so nothing is deleted between runs; remove DIR afterwards).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <SDL.h>

#include "BenchPackages.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

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
    const bool built = bench::BuildSmall(dir + "/pack.vlt", n);
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
    // Two commands to time in turn, A B A B ..., as whole processes (for
    // example each under /usr/bin/time -f '%U %S %e'); quote medians.
    std::printf(
        "A (export): cd '%s' && sh -c 'exec %s pack.vlt $(mktemp -d runs/e.XXXXXX)/pack.xml >/dev/null'\n"
        "B (tar -x): cd '%s' && sh -c 'tar -xf pack.tar -C $(mktemp -d runs/t.XXXXXX)'\n",
        dir.c_str(), bundlex.c_str(), dir.c_str());
    return 0;
}
