// A version 4.0 package file.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "PackageWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::StartSdkOnce();
    const std::vector<uint8_t> file = fuzzsupport::SealPackage(data, size);
    // A folder of its own: an input with a 3.0 head leaves a backup beside it.
    const std::string path = fuzzsupport::FreshScratchFolder("v4") + "/fuzz.vlt";
    fuzzsupport::WriteFile(path, file.data(), file.size());
    fuzzsupport::WalkPackage(path);
    return 0;
}
