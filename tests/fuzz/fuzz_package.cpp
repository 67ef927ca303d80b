// A version 4.0 package file: opened, walked with FindFirst/FindNext,
// counted, and every block loaded with LoadBlock and through the resource
// class of its type (image, tile, sprite, font, widget, sound and music
// identification). The input carries the header block in plain form; see
// SealPackage for how it becomes a file that passes the checksum test.
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "PackageWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    const std::vector<uint8_t> file = fuzzsupport::SealPackage(data, size);
    const std::string path = fuzzsupport::WriteScratch("fuzz.vlt", file.data(), file.size());
    fuzzsupport::WalkPackage(path);
    std::remove(path.c_str());
    return 0;
}
