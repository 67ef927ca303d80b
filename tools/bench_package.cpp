// Package manager benchmark: packages of 1,000 and 10,000 small blocks are
// created, every block is loaded by name, and a tenth of them are deleted.
// Prints blocks per second and microseconds per block for each phase, and the
// ratio of the 10,000-block run to the 1,000-block run (10 means the work per
// block stays flat as the package grows).
//
// Usage: bench_package [folder]   (default: the system's temporary folder)
// Each run works in a fresh folder of its own: the file system slows the
// creation of files for a while after a bulk delete.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Trovalis.h"
#include "package/IStuffVLT.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
    double create = 0, load = 0, remove = 0;  // seconds
};

std::string BlockName(int i) { return "block" + std::to_string(i); }

// A small resource: 200 to 450 bytes of text with some repetition.
std::vector<uint8_t> Payload(int i) {
    std::string s;
    const int lines = 10 + i % 15;
    for (int l = 0; l < lines; ++l) s += "row " + std::to_string(l * 31 + i) + " value;";
    return std::vector<uint8_t>(s.begin(), s.end());
}

bool Run(const std::string& folder, int n, Times& t) {
    const std::string path = folder + "/bench.vlt";
    IStuffVLT& vlt = *g_pStuffVLT;
    // The blocks are made before the clock starts: only the package work is timed.
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        payloads.push_back(Payload(i));
        names.push_back(BlockName(i));
    }

    auto start = Clock::now();
    int id = vlt.Create(path.c_str());
    if (id < 1) return false;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t>& data = payloads[i];
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "%s", names[i].c_str());
        std::snprintf(info.type, sizeof info.type, "%s", i % 3 ? "FILE" : "IMG");
        info.mode = static_cast<uint8_t>(i % 3 == 2 ? crypted : compressed);
        info.size = static_cast<uint32_t>(data.size());
        info.data = data.data();
        if (vlt.AddData(id, &info) <= 0) return false;
    }
    vlt.Close(id);
    t.create = std::chrono::duration<double>(Clock::now() - start).count();

    start = Clock::now();
    id = vlt.Open(path.c_str());
    if (id < 1) return false;
    for (int i = 0; i < n; ++i) {
        BlockInfo info;
        const int size = vlt.LoadBlock(id, i % 3 ? "FILE" : "IMG", names[i].c_str(), &info);
        if (size != static_cast<int>(payloads[i].size()) || std::memcmp(info.data, payloads[i].data(), size) != 0)
            return false;
        vlt.FreeBlock(&info);
    }
    vlt.Close(id);
    t.load = std::chrono::duration<double>(Clock::now() - start).count();

    start = Clock::now();
    id = vlt.Open(path.c_str());
    if (id < 1) return false;
    for (int i = 0; i < n; i += 10) {
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "%s", names[i].c_str());
        std::snprintf(info.type, sizeof info.type, "%s", i % 3 ? "FILE" : "IMG");
        if (vlt.Delete(id, &info) != 1) return false;
    }
    if (vlt.CountDeleted(id) != (n + 9) / 10) return false;
    vlt.Close(id);
    t.remove = std::chrono::duration<double>(Clock::now() - start).count();
    return true;
}

void Print(int n, const Times& t) {
    const int deleted = (n + 9) / 10;
    std::printf(
        "%6d blocks: create %9.0f blocks/s (%6.1f us/block)  load %9.0f blocks/s (%6.1f us/block)  "
        "delete %9.0f blocks/s (%6.1f us/block)\n",
        n, n / t.create, 1e6 * t.create / n, n / t.load, 1e6 * t.load / n, deleted / t.remove,
        1e6 * t.remove / deleted);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    if (Trovalis.Init(0) != 1) {
        std::fprintf(stderr, "bench_package: the SDK did not start\n");
        return 1;
    }
    // Each size runs three times, each time in a fresh folder; the best time
    // of each phase counts, which keeps the short 1,000-block phases from
    // being dominated by noise.
    constexpr int kRounds = 3;
    Times small, large;
    bool ok = true;
    for (auto [n, best] : {std::pair<int, Times*>{1000, &small}, {10000, &large}}) {
        for (int round = 0; round < kRounds && ok; ++round) {
            std::string tmpl = base + "/bench-package-XXXXXX";
            std::vector<char> buf(tmpl.begin(), tmpl.end());
            buf.push_back('\0');
            if (!mkdtemp(buf.data())) {
                std::fprintf(stderr, "bench_package: cannot make a folder under %s\n", base.c_str());
                ok = false;
                break;
            }
            const std::string folder = buf.data();
            Times t;
            if (!Run(folder, n, t)) {
                std::fprintf(stderr, "bench_package: the %d-block run failed\n", n);
                ok = false;
            }
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
            if (round == 0 || t.create < best->create) best->create = t.create;
            if (round == 0 || t.load < best->load) best->load = t.load;
            if (round == 0 || t.remove < best->remove) best->remove = t.remove;
        }
        if (!ok) break;
        Print(n, *best);
    }
    if (ok) {
        std::printf(
            "10000/1000 time ratio: create %.2f  load %.2f  delete %.2f  whole run %.2f  (10 = flat per block)\n",
            large.create / small.create, large.load / small.load, large.remove / small.remove,
            (large.create + large.load + large.remove) / (small.create + small.load + small.remove));
    }
    Trovalis.Quit();
    return ok ? 0 : 1;
}
