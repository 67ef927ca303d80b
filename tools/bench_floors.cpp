// The floors, side by side in one run: every figure of bundlex as a ratio
// against the least that the same work can cost (the median of the ratios
// of the runs, each paired with its floor's run).
//
//   bench_floors [DIR] [n] [runs] [bundlex]   (n: 10000 files, runs: 5, bundlex from PATH)
//
// n raw files of 0.2 to 4 KiB of text-like bytes, stored compressed, are
// exported once into DIR/ref (the document and its n payload files) and
// packed with tar. Then, as whole processes, each run into a fresh folder
// under DIR/runs (nothing is deleted between runs: file creation slows for a
// while after a bulk delete), the median of runs runs of:
//   - the compressed import of the document, with every processor and with
//     --jobs 1, against UCL alone compressing the same files on one core
//     (this program with --ucl; goal: at most 0.6 of it with two cores);
//   - the export of the package against `tar -x` of the same files
//     (goal: at most 1.2 of it), with every processor and with --jobs 1;
//   - --verify of the package against reading the package file once
//     (this program with --read);
//   - with more than one processor, UCL alone in one process per processor
//     side by side, each on its share of the files: what the processors
//     give together on this machine, and the import against it.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ucl/ucl.h>

#include "BenchChild.h"
#include "BenchPackages.h"
#include "core/WorkerPool.h"
#include "package/PackageFormat.h"

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes.clear();
    uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return close(fd) == 0;
}

// Every file of folder compressed as a package block is (the package
// manager's own call, with its work tables kept from one block to the
// next), one after the other on this thread: what UCL alone costs. With
// parts, only every parts-th file from the part-th on (in the folder's
// order): parts processes side by side share the work.
int UclAlone(const std::string& folder, unsigned part = 0, unsigned parts = 1) {
    if (ucl_init() != UCL_E_OK) return 1;
    DIR* d = opendir(folder.c_str());
    if (!d) return 1;
    std::vector<uint8_t> in, out;
    size_t files = 0, seen = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (seen++ % parts != part) continue;
        if (!ReadWhole(folder + "/" + e->d_name, in) ||
            !vlt::CompressBlock(in.data(), static_cast<uint32_t>(in.size()), out))
            return 1;
        ++files;
    }
    closedir(d);
    vlt::ReleaseCompressorMemory();
    return files ? 0 : 1;
}

// The file read once from start to end.
int ReadOnce(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    std::vector<uint8_t> buffer(1 << 20);
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
    }
    close(fd);
    return got == 0 ? 0 : 1;
}

struct Pair {
    const char* what;
    const char* floor;
    std::vector<double> a, b;
    bool ok = true;
    double goal = 0;
};

// The medians of both, and the median of the ratios run by run: each run
// of bundlex is timed right after its floor's, so the ratios of pairs hold
// when the machine's speed drifts during the benchmark.
void Print(const Pair& p) {
    const double a = bench::Median(p.a), b = bench::Median(p.b);
    std::vector<double> ratios;
    for (size_t i = 0; i < p.a.size() && i < p.b.size(); ++i)
        if (p.b[i] > 0) ratios.push_back(p.a[i] / p.b[i]);
    const double ratio = bench::Median(ratios);
    std::printf("  %-30s %8.3f s   %-24s %8.3f s   ratio %5.2f", p.what, a, p.floor, b, ratio);
    if (p.goal > 0) std::printf("  (goal <= %.1f%s)", p.goal, ratio <= p.goal ? ", met" : ", NOT met");
    std::printf("%s\n", p.ok ? "" : "  (a run FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--ucl") return UclAlone(argv[2]);
    if (argc == 5 && std::string(argv[1]) == "--ucl") {
        const int part = std::atoi(argv[3]), parts = std::atoi(argv[4]);
        if (parts < 1 || part < 0 || part >= parts) return 1;
        return UclAlone(argv[2], static_cast<unsigned>(part), static_cast<unsigned>(parts));
    }
    if (argc == 3 && std::string(argv[1]) == "--read") return ReadOnce(argv[2]);
    const std::string dir = bench::WorkFolder(argc, argv);
    if (dir.empty()) return 1;
    const int n = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::string bundlex = argc > 4 ? argv[4] : "bundlex";
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = 0;

    const std::string pack = dir + "/pack.vlt", ref = dir + "/ref", runsDir = dir + "/runs";
    mkdir(ref.c_str(), 0755);
    mkdir(runsDir.c_str(), 0755);
    if (!bench::InChild([&] { return bench::BuildTextFiles(pack, n); }).ok ||
        !bench::RunProcess({bundlex, "--jobs", "1", pack, ref + "/pack.xml"}).ok ||
        !bench::RunProcess({"tar", "-C", ref, "-cf", dir + "/pack.tar", "pack.xml", "pack"}).ok) {
        std::fprintf(stderr, "the package, its reference export or its tar file could not be made\n");
        return 1;
    }
    std::printf("bench_floors: %d files of 0.2-4 KiB, median of %d runs, %u processors usable\n", n, runs,
                vlt::UsableProcessors());
    Pair import{"import (every processor)", "UCL alone, one core", {}, {}, true, 0.6};
    Pair import1{"import --jobs 1", "UCL alone, one core", {}, {}, true, 0};
    Pair exportAll{"export (every processor)", "tar -x", {}, {}, true, 1.2};
    Pair export1{"export --jobs 1", "tar -x", {}, {}, true, 0};
    Pair verify{"--verify (every processor)", "reading the file once", {}, {}, true, 0};
    // What this machine's processors give together, for the import's figure:
    // UCL alone in as many processes side by side, each on its share of the
    // files (virtual processors may slow one another down).
    const unsigned usable = vlt::UsableProcessors();
    Pair together{"UCL alone, every processor", "UCL alone, one core", {}, {}, true, 0};
    Pair importTogether{"import (every processor)", "UCL alone, every proc.", {}, {}, true, 0};
    int fresh = 0;
    auto folder = [&](const char* kind) {
        const std::string f = runsDir + "/" + kind + std::to_string(fresh++);
        mkdir(f.c_str(), 0755);
        return f;
    };
    auto time = [](const std::vector<std::string>& args, std::vector<double>& into, bool& ok) {
        const bench::Figures f = bench::RunProcess(args);
        ok = ok && f.ok;
        into.push_back(f.seconds);
    };
    bool floorsOk = true;
    for (int r = 0; r < runs; ++r) {
        time({self, "--ucl", ref + "/pack"}, import.b, floorsOk);
        if (usable > 1) {
            std::vector<std::vector<std::string>> shares;
            for (unsigned part = 0; part < usable; ++part)
                shares.push_back({self, "--ucl", ref + "/pack", std::to_string(part), std::to_string(usable)});
            const bench::Figures f = bench::RunTogether(shares);
            floorsOk = floorsOk && f.ok;
            together.a.push_back(f.seconds);
        }
        time({bundlex, ref + "/pack.xml", folder("i") + "/pack.vlt"}, import.a, import.ok);
        time({bundlex, "--jobs", "1", ref + "/pack.xml", folder("i") + "/pack.vlt"}, import1.a, import1.ok);
        time({"tar", "-xf", dir + "/pack.tar", "-C", folder("t")}, exportAll.b, floorsOk);
        time({bundlex, pack, folder("e") + "/pack.xml"}, exportAll.a, exportAll.ok);
        time({bundlex, "--jobs", "1", pack, folder("e") + "/pack.xml"}, export1.a, export1.ok);
        time({self, "--read", pack}, verify.b, floorsOk);
        time({bundlex, "--verify", pack}, verify.a, verify.ok);
    }
    import1.b = import.b;
    export1.b = exportAll.b;
    together.b = import.b;
    importTogether.a = import.a;
    importTogether.b = together.a;
    for (const Pair* p : {&import, &import1, &exportAll, &export1, &verify}) Print(*p);
    if (usable > 1)
        for (const Pair* p : {&together, &importTogether}) Print(*p);
    if (!floorsOk) std::printf("  (a floor run FAILED)\n");
    if (argc <= 1) {
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) return 1;
    }
    return 0;
}
