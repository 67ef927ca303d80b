// Shared by the fuzz targets: the SDK started once per process (its log
// stays inactive) and a private scratch folder for the files a target must
// hand to the SDK by name.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/Trovalis.h"

namespace fuzzsupport {

inline void StartSdkOnce() {
    static bool started = [] {
        Trovalis.Init(0);
        std::atexit([] { Trovalis.Quit(); });
        return true;
    }();
    (void)started;
}

// The scratch folder, made once per process and removed at exit.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "bundlex-fuzz-XXXXXX").string();
        char* made = mkdtemp(&tmpl[0]);
        // Without a folder of its own there is nothing to remove at exit:
        // never fall back to the current folder, which the exit would delete.
        if (!made) {
            std::perror("the fuzz scratch folder could not be made");
            std::abort();
        }
        std::string d(made);
        static std::string keep = d;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(keep, ec);
        });
        return d;
    }();
    return dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

inline std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = ScratchDir() + "/" + name;
    WriteFile(path, data, size);
    return path;
}

// A folder of the scratch folder, emptied.
inline std::string FreshScratchFolder(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(ScratchDir()) / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir.string();
}

}  // namespace fuzzsupport
