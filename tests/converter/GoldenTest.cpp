// The console output of both directions for the bundled example, compared
// byte for byte with the golden files in tests/data/converter/.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Support.h"

using namespace testsupport;

namespace {

TEST(Golden, ConsoleTextOfTheExampleChanged) {
    TempDir dir;
    std::filesystem::copy(SourceDir() + "/examples", dir.path(), std::filesystem::copy_options::recursive);
    std::string out;
    ASSERT_EQ(RunBundlex({"demo.xml", "demo.vlt"}, out, dir.path()), 0);
    EXPECT_EQ(out, Golden("converter/demo_import.stdout"));
    ASSERT_EQ(RunBundlex({"demo.vlt", "exported.xml"}, out, dir.path()), 0);
    EXPECT_EQ(out, Golden("converter/demo_export.stdout"));
}

}  // namespace
