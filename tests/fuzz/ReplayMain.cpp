// Runs a fuzz target over every file of the folders given on the command
// line (its seed corpus and the inputs of past findings), so that the normal
// test suite replays them without clang's fuzzer. A missing folder is
// skipped; a crash or sanitizer report fails the test, and so does the
// process growing beyond kMaxRssMiB. How long an input runs depends on the
// machine, so it never decides the result: an input slower than
// kSlowSeconds is only named (the fuzzer's own limit is 1 s), and an input
// that never ends is stopped by the test's timeout.
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
constexpr double kSlowSeconds = 10.0;
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
            if (seconds > kSlowSeconds)
                std::fprintf(stderr, "note: %s ran %.1f s (the fuzzer would call it slow)\n", path.c_str(), seconds);
            if (PeakRssMiB() > kMaxRssMiB) {
                std::fprintf(stderr, "%s: the process grew to %ld MiB (limit %ld MiB)\n", path.c_str(), PeakRssMiB(),
                             kMaxRssMiB);
                return 1;
            }
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
