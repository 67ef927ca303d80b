// A version 3.0 package file: the input with "VLTv3" forced over its first
// five bytes, so that every input goes through the upgrade of Open (the
// rebuild as 4.0 beside it, the backup under "_v3.vlt") and then through
// the walk of the package target over the rebuilt file.
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
