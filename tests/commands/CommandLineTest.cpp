// The command line beside the package commands: the two-path form is left
// exactly as it was, "--" lets a dashed input path through, and the new
// commands are recognised only by their option in the first place.
#include "Support.h"
#include "core/Trovalis.h"

using namespace testsupport;

namespace {

const std::string kBanner =
    "---------------------------------------------------------\n"
    "Bundlex v2.0 - VLT resources export to XML and vice versa\n"
    "   (c) 2025-2026 the Bundlex developers - built on the Trovalis SDK\n"
    "---------------------------------------------------------\n\n"
    " Export VLT resources to a XML file using Quillmark Interchange\n"
    " XML v1.0 format(ORBv1) or import a ORBv1 format into a VLT\n";

}  // namespace

TEST(CommandLine, DashedFirstArgumentThatIsNoCommandStaysAnInputPath) {
    TempDir d;
    for (const char* arg : {"--bogus", "--lists", "-list", "--LIST"}) {
        std::string out;
        EXPECT_EQ(RunBundlex({arg, "--json"}, out, d.path()), 1) << arg;
        EXPECT_EQ(out,
                  kBanner + " - Error: input file it is not supported. Try with a VLT or XML (ORBv1 format) file\n")
            << arg;
    }
}

TEST(CommandLine, DoubleDashLetsAnInputPathThatStartsWithDashesThrough) {
    TempDir d;
    {
        SdkSession sdk;
        PackageBuilder p(d / "--list.vlt");
        p.Raw("notes", "FILE", {1, 2, 3});
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--", "--list.vlt", "out.xml"}, out, d.path()), 0) << out;
    EXPECT_EQ(out.rfind(kBanner + " - Processing blocks...\n", 0), 0u) << out;
    EXPECT_NE(out.find("\n - VLT exported successfully to a XML + gfx resources.\n"), std::string::npos) << out;
    EXPECT_TRUE(FileExists(d / "out.xml"));
    // And after a command's own "--".
    EXPECT_EQ(RunBundlex({"--list", "--", "--list.vlt"}, out, d.path()), 0) << out;
    EXPECT_NE(out.find("notes"), std::string::npos) << out;
}

TEST(CommandLine, DoubleDashWithoutInputIsTheUsageCase) {
    std::string out;
    EXPECT_EQ(RunBundlex({"--"}, out), 2);
    EXPECT_EQ(out, kBanner + " Usage: Bundlex.exe input.[xml|vlt] [output.vlt|output.xml]\n\n");
}

TEST(CommandLine, HelpShowsTheTwoPathFormFirstThenEveryCommand) {
    std::string out;
    EXPECT_EQ(RunBundlex({"--help"}, out), 0);
    const size_t twoPath = out.find("bundlex input.[xml|vlt] [output.vlt|output.xml]");
    ASSERT_NE(twoPath, std::string::npos) << out;
    size_t last = twoPath;
    for (const char* cmd : {"bundlex -- input", "bundlex --list PACKAGE [--json]", "bundlex --verify PACKAGE [--json]",
                            "bundlex --check PACKAGE [--json]", "bundlex --help", "bundlex --version"}) {
        const size_t at = out.find(cmd);
        EXPECT_NE(at, std::string::npos) << cmd;
        EXPECT_GT(at, last) << cmd;
        last = at;
    }
    EXPECT_NE(out.find("Exit codes: 0 success; 1 failure"), std::string::npos);
    EXPECT_EQ(out.find("-----"), std::string::npos) << "no banner";
}

TEST(CommandLine, VersionPrintsTheVersionTexts) {
    std::string out;
    EXPECT_EQ(RunBundlex({"--version"}, out), 0);
    EXPECT_EQ(out, std::string("Bundlex v2.0 - VLT resources export to XML and vice versa\n") +
                       Trovalis.VersionBanner() + "\n");
}

TEST(CommandLine, CommandWithoutExactlyOnePackageOrWithUnknownOptionIsAUsageError) {
    const std::vector<std::vector<std::string>> cases = {
        {"--list"}, {"--verify", "--json"}, {"--check", "a.vlt", "b.vlt"}, {"--list", "a.vlt", "--jsn"}};
    for (const auto& args : cases) {
        std::string out;
        EXPECT_EQ(RunBundlex(args, out), 2) << args[0];
        EXPECT_EQ(out, "") << "nothing on standard output: " << out;
    }
}

TEST(CommandLine, ReportThatCannotBeWrittenFailsTheRun) {
    TempDir d;
    {
        SdkSession sdk;
        PackageBuilder p(d / "pack.vlt");
        p.Raw("notes", "FILE", {1, 2, 3});
    }
    std::string out;
    const std::string run = "cd '" + d.path() + "' && '" + BUNDLEX_EXE + "' --list pack.vlt >/dev/full 2>&1; echo $?";
    ASSERT_EQ(Shell(run, out), 0);
    EXPECT_EQ(out, "1\n");
}
