// --list benchmark: a package of 10,000 blocks is built (a mix of stored,
// crypted and compressed raw blocks, 1 to 8 KiB each, and a tenth of them
// deleted), then listed in text and in JSON, in this process, with the report
// sent to /dev/null. Listing reads descriptors only (raw files have no
// properties for --json to read; bench_readers times the properties of the
// other kinds), so its time should not depend on how much payload the
// package carries or how it is compressed;
// the verify time is printed beside it for contrast, since verify loads and
// decompresses every block.
//
// Usage: bench_list [folder]   (default: the system's temporary folder)
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::vector<uint8_t> Payload(int i) {
    std::vector<uint8_t> p(1024 + (i % 8) * 1024);
    for (size_t k = 0; k < p.size(); ++k) p[k] = static_cast<uint8_t>((k * 7 + i) % 251 ^ (k >> 5));
    return p;
}

bool Build(const std::string& path, int blocks) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    for (int i = 0; i < blocks; ++i) {
        std::vector<uint8_t> data = Payload(i);
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "block%05d", i);
        std::snprintf(info.type, sizeof info.type, "FILE");
        info.mode = static_cast<uint8_t>(i % 10 == 0 ? compressed : (i % 2 ? stored : crypted));
        info.size = static_cast<uint32_t>(data.size());
        info.data = data.data();
        if (g_pStuffVLT->AddData(id, &info) <= 0) {
            g_pStuffVLT->Close(id);
            return false;
        }
    }
    for (int i = 5; i < blocks; i += 10) {
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "block%05d", i);
        std::snprintf(info.type, sizeof info.type, "FILE");
        g_pStuffVLT->Delete(id, &info);
    }
    g_pStuffVLT->Close(id);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    const std::string base = argc > 1 ? argv[1] : std::filesystem::temp_directory_path(ec).string();
    std::string pattern = base + "/bundlex-bench-list-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        std::fprintf(stderr, "bench_list: cannot make a folder under %s\n", base.c_str());
        return 1;
    }
    const std::string dir = buf.data();
    const std::string path = dir + "/bench.vlt";
    FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) return 1;

    Trovalis.Init(0);
    constexpr int kBlocks = 10000;
    auto t0 = Clock::now();
    const bool built = Build(path, kBlocks);
    const double buildTime = Seconds(t0);
    int rc = 1;
    if (built) {
        const auto size = std::filesystem::file_size(path, ec);
        std::printf("package: %d blocks (%d deleted), %.1f MiB, built in %.2f s\n", kBlocks, kBlocks / 10,
                    static_cast<double>(size) / (1024.0 * 1024.0), buildTime);
        double best[2] = {1e9, 1e9};
        for (int run = 0; run < 3; ++run) {
            for (int json = 0; json < 2; ++json) {
                t0 = Clock::now();
                rc = ListPackage(path, json != 0, sink);
                const double t = Seconds(t0);
                if (t < best[json]) best[json] = t;
            }
        }
        std::printf("--list (text): %.3f s, best of 3 (%.1f us per block)\n", best[0], best[0] * 1e6 / kBlocks);
        std::printf("--list --json: %.3f s, best of 3 (%.1f us per block)\n", best[1], best[1] * 1e6 / kBlocks);
        t0 = Clock::now();
        const int vrc = VerifyPackage(path, false, sink);
        std::printf("--verify (for contrast, loads every block): %.3f s, exit %d\n", Seconds(t0), vrc);
    } else {
        std::fprintf(stderr, "bench_list: the package could not be built\n");
    }
    Trovalis.Quit();
    std::fclose(sink);
    std::filesystem::remove_all(dir, ec);
    return rc == 0 ? 0 : 1;
}
