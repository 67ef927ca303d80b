// Helpers shared by every test program.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/Log.h"

namespace testsupport {

// Activates the log into its in-memory capture for the life of the object
// (every level), and deactivates it again afterwards.
class LogCapture {
public:
    explicit LogCapture(uint8_t maxLevel = 5) { TheLog().Activate(maxLevel, Log::kCapture); }
    ~LogCapture() { TheLog().Deactivate(); }
    std::string Take() { return TheLog().TakeCaptured(); }
};

// Starts the SDK for one test and stops it afterwards.
class SdkSession {
public:
    SdkSession();
    ~SdkSession();
};

// A fresh empty directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// Runs the bundlex executable with the given arguments in the directory
// dir; returns its exit code and fills out with its standard output.
int RunBundlex(const std::vector<std::string>& args, std::string& out, const std::string& dir = "");

}  // namespace testsupport
