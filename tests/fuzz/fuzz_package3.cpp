// A version 3.0 package file.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PackageWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    static const char kHead[] = "VLTv3";
    std::vector<uint8_t> file(data, data + size);
    if (file.size() < 5) file.resize(5);
    std::memcpy(file.data(), kHead, 5);
    const std::string dir = fuzzsupport::FreshScratchFolder("v3");
    const std::string path = dir + "/old.vlt";
    fuzzsupport::WriteFile(path, file.data(), file.size());
    fuzzsupport::WalkPackage(path);
    return 0;
}
