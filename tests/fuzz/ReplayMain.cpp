// Runs a fuzz target over every file of the folders given on the command
// line (its seed corpus and the inputs of past findings), so that the normal
// test suite replays them without clang's fuzzer. A missing folder is
// skipped; a crash or sanitizer report fails the test, and so do the two
// findings the fuzzer reports without a crash: one input running for more
// than kMaxSeconds (the fuzzer allows 1 s; the margin covers sanitizer
// builds on a busy machine) and the process growing beyond kMaxRssMiB.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
constexpr double kMaxSeconds = 10.0;
constexpr long kMaxRssMiB = 512;

long PeakRssMiB() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;  // kilobytes on Linux
}
}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t count = 0;
    int failed = 0;
    // Made absolute first: a target may change the working directory.
    std::vector<fs::path> folders;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        folders.push_back(fs::absolute(argv[i], ec));
    }
    for (const fs::path& folder : folders) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
            if (entry.is_regular_file() && entry.path().filename() != "README") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
            std::ifstream in(path, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const auto start = std::chrono::steady_clock::now();
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++count;
            if (seconds > kMaxSeconds) {
                std::fprintf(stderr, "%s: ran %.1f s (limit %.0f s)\n", path.c_str(), seconds, kMaxSeconds);
                failed = 1;
            }
            if (PeakRssMiB() > kMaxRssMiB) {
                std::fprintf(stderr, "%s: the process grew to %ld MiB (limit %ld MiB)\n", path.c_str(), PeakRssMiB(),
                             kMaxRssMiB);
                return 1;
            }
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return failed;
}
