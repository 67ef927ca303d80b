// Benchmark of the writers: an update that changes one resource against a
// fresh import of the same document, and the compaction of a package with
// half its entries deleted against a copy of the same file.
//
//   bench_update [work-directory] [blocks]   (default: a fresh folder under /tmp, 10000)
//
// The package holds compressed resources only: every fifth a 16 x 16 image,
// the rest raw files of 1 to 3 KiB stored compressed. Each step runs in a
// child process of its own with its standard output silenced. Expected: the
// update takes at most half the time of the import (it rebuilds and compares
// every block but compresses and appends only the changed one), and the
// compaction runs at a third of the speed of a copy or better.
#include <fcntl.h>
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
#include "Commands.h"
#include "Converter.h"
#include "ImportRun.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"

namespace {

using bench::Figures;
using bench::InChild;

uint32_t Next(uint32_t& x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

bool Build(const std::string& path, int n) {
    const int id = g_pStuffVLT->Create(path.c_str());
    if (id < 1) return false;
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, 16, 16, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    bool ok = s != nullptr;
    uint32_t x = 2463534242u;
    std::vector<uint8_t> bytes;
    for (int i = 0; ok && i < n; ++i) {
        const std::string name = "r" + std::to_string(i);
        if (i % 5 == 0) {
            for (int p = 0; p < 256; ++p)
                static_cast<uint32_t*>(s->pixels)[p] = 0x80000000u | ((Next(x) & 0x3F3F3Fu) * ((p & 7) == 0));
            ok = g_pImage->Save(id, name.c_str(), s) > 0;
        } else {
            // Text-like bytes: compressible, as most raw resources are.
            bytes.resize(1024 + Next(x) % 2048);
            for (auto& b : bytes) b = static_cast<uint8_t>('a' + Next(x) % 12);
            BlockInfo info;
            std::memset(&info, 0, sizeof info);
            std::snprintf(info.name, sizeof info.name, "%s", name.c_str());
            std::snprintf(info.type, sizeof info.type, "FILE");
            info.mode = compressed;
            info.size = static_cast<uint32_t>(bytes.size());
            info.data = bytes.data();
            ok = g_pStuffVLT->AddData(id, &info) > 0;
        }
    }
    SDL_FreeSurface(s);
    g_pStuffVLT->Close(id);
    return ok;
}

bool DeleteHalf(const std::string& path, int n) {
    const int id = g_pStuffVLT->Open(path.c_str());
    if (id < 1) return false;
    bool ok = true;
    for (int i = 0; ok && i < n; i += 2) {
        BlockInfo info;
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.name, sizeof info.name, "r%d", i);
        std::snprintf(info.type, sizeof info.type, "%s", i % 5 == 0 ? "IMG" : "FILE");
        ok = g_pStuffVLT->Delete(id, &info) == 1;
    }
    g_pStuffVLT->Close(id);
    return ok;
}

// A plain copy, flushed to disk as a writer's new file is.
bool CopyFlushed(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buf(1 << 20);
    while (ok) {
        const ssize_t r = read(in, buf.data(), buf.size());
        if (r <= 0) {
            ok = r == 0;
            break;
        }
        ok = write(out, buf.data(), static_cast<size_t>(r)) == r;
    }
    ok = ok && fsync(out) == 0;
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    return ok;
}

uint64_t Length(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool Run(const char* cmd) { return std::system(cmd) == 0; }

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = bench::WorkFolder(argc, argv);
    if (dir.empty()) return 1;
    const int n = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string source = dir + "/source.vlt", doc = dir + "/doc.xml", fresh = dir + "/fresh.vlt";
    const std::string half = dir + "/half.vlt", copy = dir + "/copy.vlt";
    std::printf("bench_update in %s: %d compressed resources\n", dir.c_str(), n);

    bool ok = InChild([&] { return Build(source, n); }).ok &&
              InChild([&] { return ExportPackage(source.c_str(), doc.c_str()) != 0; }).ok;
    if (!ok) {
        std::printf("  could not build and export the package\n");
        return 1;
    }
    const Figures imp = InChild([&] { return ImportDocument(doc.c_str(), fresh.c_str()) != 0; });
    // One payload file changed: the raw file r1.
    const std::string payload = dir + "/doc/file_r1";
    ok = imp.ok && Run(("printf changed >> '" + payload + "'").c_str());
    ImportOptions update;
    update.update = true;
    UpdateSummary sum;
    const Figures upd = InChild([&] {
        RunOutcome outcome;
        return ImportDocumentWith(doc.c_str(), fresh.c_str(), update, &outcome, &sum) != 0 && outcome.failed == 0;
    });
    std::printf("  fresh import      %8.3f s%s\n", imp.seconds, imp.ok ? "" : "  (FAILED)");
    std::printf("  update, 1 changed %8.3f s%s  (%.2f of the import; at most 0.50 expected)\n", upd.seconds,
                upd.ok && ok ? "" : "  (FAILED)", upd.seconds / imp.seconds);

    ok = Run(("cp '" + fresh + "' '" + half + "'").c_str()) && InChild([&] { return DeleteHalf(half, n); }).ok;
    if (!ok) {
        std::printf("  could not delete half of the entries\n");
        return 1;
    }
    const uint64_t length = Length(half);
    const Figures cp = InChild([&] { return CopyFlushed(half, copy); });
    const Figures compact = InChild([&] { return CompactPackage(half, false, true, stdout) == 0; });
    const double mb = length / 1048576.0;
    std::printf("  copy of %.1f MiB  %8.3f s  %8.1f MiB/s%s\n", mb, cp.seconds, mb / cp.seconds,
                cp.ok ? "" : "  (FAILED)");
    std::printf(
        "  compact           %8.3f s  %8.1f MiB/s%s  (%.2f of the copy's speed; at least 0.33 expected; "
        "%.1f MiB after)\n",
        compact.seconds, mb / compact.seconds, compact.ok ? "" : "  (FAILED)", cp.seconds / compact.seconds,
        Length(half) / 1048576.0);
    if (argc <= 1) {
        const std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) return 1;
    }
    return 0;
}
