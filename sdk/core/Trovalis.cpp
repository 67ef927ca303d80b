// The core object's own services: construction and destruction, CRC-32 and
// CreatePath. Init and Quit create the interfaces of the layers above core,
// so they live above them, in sdk/lifecycle/Lifecycle.cpp; the XML layer is
// in XmlAccess.cpp, the processor check in CpuFeatures.cpp.
#include "core/Trovalis.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>
#include <string>

#include <zlib.h>

TrovalisCore Trovalis;

TrovalisCore::TrovalisCore() = default;

TrovalisCore::~TrovalisCore() {
    for (int h = 1; h <= kXmlSlots; ++h) XMLClose(h);
}

uint32_t TrovalisCore::CRC32(const void* buffer, int32_t length) const {
    if (length < 1 || !buffer) return 0;
    return static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), static_cast<const Bytef*>(buffer), static_cast<uInt>(length)));
}

void TrovalisCore::CreatePath(const char* path) const {
    if (!path || !*path) return;
    const std::string p(path);
    const size_t last = p.find_last_of("/\\");
    if (last == std::string::npos) return;  // a bare file name
    const std::string dir = p.substr(0, last);

    // The root of an absolute path stays part of every directory formed.
    std::string formed = (p[0] == '/' || p[0] == '\\') ? "/" : "";
    size_t start = 0;
    bool first = true;
    while (start <= dir.size()) {
        size_t end = dir.find_first_of("/\\", start);
        if (end == std::string::npos) end = dir.size();
        const std::string piece = dir.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;  // doubled separators
        if (!first && formed != "/") formed += "/";
        formed += piece;
        first = false;
        struct stat st;
        if (stat(formed.c_str(), &st) != 0) {
            if (mkdir(formed.c_str(), 0755) != 0) return;  // deeper ones are not attempted
        }
    }
}
