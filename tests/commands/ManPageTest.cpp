// The manual page renders cleanly, covers every command and the exit codes,
// and is installed with the executable.
#include <filesystem>

#include "Support.h"

using namespace testsupport;

namespace {

std::string Page() { return SourceDir() + "/docs/bundlex.1"; }

}  // namespace

TEST(ManPage, RendersWithoutAnyGroffWarning) {
    std::string out;
    EXPECT_EQ(Shell("groff -ww -z -man '" + Page() + "' 2>&1", out), 0);
    EXPECT_EQ(out, "");
}

TEST(ManPage, CoversEveryCommandTheDocumentAndTheExitCodes) {
    std::string text;
    // Justified lines get spaces of varying width: runs of blanks count as one.
    ASSERT_EQ(Shell("groff -man -Tutf8 -P-cbou '" + Page() + "' 2>/dev/null | tr -s ' '", text), 0);
    for (const char* needle :
         {"--list package", "--verify package", "--check package", "--help", "--version", "--json", "bundlex -- input",
          "THE INTERCHANGE DOCUMENT", "EXIT STATUS", "EXAMPLES", "resources survive the round trip"})
        EXPECT_TRUE(Contains(text, needle)) << needle;
}

TEST(ManPage, CmakeInstallPutsTheExecutableAndThePageInPlace) {
    TempDir prefix;
    const std::string build = std::filesystem::path(BUNDLEX_EXE).parent_path().string();
    std::string out;
    ASSERT_EQ(Shell("cmake --install '" + build + "' --prefix '" + prefix.path() + "' 2>&1", out), 0) << out;
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "bin/bundlex"));
    EXPECT_EQ(ReadFile(prefix / "share/man/man1/bundlex.1"), ReadFile(Page()));
}
