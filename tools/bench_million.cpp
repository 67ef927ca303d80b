// A million blocks: how time and memory grow with the number of blocks.
//
//   bench_million [DIR] [largest] [bundlex]   (largest: 1000000 blocks, bundlex from PATH)
//
// For 10,000 blocks and every tenfold up to largest, a package of that many
// small blocks is generated (200-byte raw files in the three store methods,
// every tenth block a 16 x 16 image: BenchPackages.h), and these run as
// whole processes: --list, --list --json, --verify, the export, the import
// of that export, and --update of the export with one payload file changed.
// Each prints its time, microseconds per block, processor time (user and
// system) and peak resident set; then, per command, each tenfold step's time
// against ten times the previous one (goal: at most 1.3), the same for the
// processor time (steadier on a shared machine), and the largest peak
// (goal: under 200 MB). The file system's dirty pages are written out
// before each command, so that one command's writes are not charged to the
// next.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchChild.h"
#include "BenchPackages.h"
#include "core/WorkerPool.h"
#include "package/IStuffVLT.h"

namespace {

struct Step {
    const char* what;
    std::vector<bench::Figures> runs;  // one per size
};

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = bench::WorkFolder(argc, argv);
    if (dir.empty()) return 1;
    const int largest = argc > 2 ? std::atoi(argv[2]) : 1000000;
    const std::string bundlex = argc > 3 ? argv[3] : "bundlex";
    std::vector<int> sizes;
    for (int n = 10000; n <= largest; n *= 10) sizes.push_back(n);
    std::printf("bench_million in %s: %u processors usable\n", dir.c_str(), vlt::UsableProcessors());
    std::vector<Step> steps = {{"--list", {}}, {"--list --json", {}}, {"--verify", {}},
                               {"export", {}}, {"import", {}},        {"--update, one file changed", {}}};
    for (int n : sizes) {
        const std::string base = dir + "/n" + std::to_string(n);
        mkdir(base.c_str(), 0755);
        const std::string pack = base + "/pack.vlt";
        const bench::Figures built = bench::InChild([&] {
            IStuffVLT::SetJobs(0);
            return bench::BuildSmall(pack, n);
        });
        if (!built.ok) {
            std::fprintf(stderr, "the package of %d blocks could not be built\n", n);
            return 1;
        }
        std::printf("%d blocks (generated in %.1f s):\n", n, built.seconds);
        mkdir((base + "/e").c_str(), 0755);
        mkdir((base + "/i").c_str(), 0755);
        const std::vector<std::vector<std::string>> commands = {
            {bundlex, "--list", pack},
            {bundlex, "--list", pack, "--json"},
            {bundlex, "--verify", pack},
            {bundlex, pack, base + "/e/pack.xml"},
            {bundlex, base + "/e/pack.xml", base + "/i/pack.vlt"},
            {bundlex, "--update", base + "/e/pack.xml", base + "/i/pack.vlt"},
        };
        for (size_t s = 0; s < steps.size(); ++s) {
            if (s + 1 == steps.size()) {
                // One raw file changed: the 200 bytes of block b1.
                FILE* f = std::fopen((base + "/e/pack/file_b1").c_str(), "r+b");
                if (!f) f = std::fopen((base + "/e/pack/file_b1.bin").c_str(), "r+b");
                if (f) {
                    std::fputc('!', f);
                    std::fclose(f);
                } else {
                    std::printf("  (the payload file of b1 was not found: nothing changed)\n");
                }
            }
            sync();
            const bench::Figures f = bench::RunProcess(commands[s]);
            steps[s].runs.push_back(f);
            std::printf("  %-28s %9.2f s  %7.2f us/block  cpu %8.2f s  peak %7.1f MiB%s\n", steps[s].what, f.seconds,
                        f.seconds * 1e6 / n, f.cpuSeconds, f.peakKiB / 1024.0, f.ok ? "" : "  (FAILED)");
        }
    }
    std::printf(
        "growth per tenfold (time / 10 x the previous time, then the same of the processor time; goal <= 1.3) and "
        "largest peak (goal < 200 MB):\n");
    const auto growth = [](double before, double after) { return before > 0 ? after / (10 * before) : 0.0; };
    for (const Step& s : steps) {
        std::printf("  %-28s", s.what);
        long peak = 0;
        for (size_t i = 0; i < s.runs.size(); ++i) {
            if (i > 0)
                std::printf("  %d->%d: %5.2f cpu %5.2f", sizes[i - 1], sizes[i],
                            growth(s.runs[i - 1].seconds, s.runs[i].seconds),
                            growth(s.runs[i - 1].cpuSeconds, s.runs[i].cpuSeconds));
            if (s.runs[i].peakKiB > peak) peak = s.runs[i].peakKiB;
        }
        std::printf("  peak %.1f MB%s\n", peak * 1024.0 / 1e6, peak * 1024.0 / 1e6 < 200 ? "" : "  (NOT met)");
    }
    if (argc <= 1) {
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) return 1;
    }
    return 0;
}
