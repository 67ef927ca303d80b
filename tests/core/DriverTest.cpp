// The command line: exact console texts and exit codes of the real program.
#include <sys/stat.h>

#include "Support.h"

using namespace testsupport;

namespace {

const std::string kUnsupported =
    " - Error: input file it is not supported. Try with a VLT or XML (ORBv1 format) file\n";

}  // namespace

TEST(Driver, NoInputPrintsBannerAndUsageAndExitsWithUsageCode) {
    std::string out;
    EXPECT_EQ(RunBundlex({}, out), 2);
    EXPECT_EQ(out, kBanner + " Usage: Bundlex.exe input.[xml|vlt] [output.vlt|output.xml]\n\n");
}

// A very long extension is rejected, not copied into a fixed buffer; extra
// arguments change nothing.
TEST(Driver, UnsupportedExtensionsAreRejectedAfterTheBanner) {
    for (const std::string& input : std::vector<std::string>{"vlt", "a.txt", "archive.vlt.bak", "dir.vlt/file",
                                                             "noext.", "x." + std::string(300, 'v')}) {
        std::string out;
        EXPECT_EQ(RunBundlex({input}, out), 1) << input;
        EXPECT_EQ(out, kBanner + kUnsupported) << input;
        EXPECT_EQ(RunBundlex({input, "out.xml", "third", "fourth"}, out), 1) << input;
        EXPECT_EQ(out, kBanner + kUnsupported) << input;
    }
}

TEST(Driver, ExtensionIsCaseInsensitiveAndOnlyTheLastOneCounts) {
    TempDir dir;
    struct Case {
        const char* input;
        const char* verdict;
    } cases[] = {
        {"data.Vlt", "\n - Error! the VLT was not exported.\n"},
        {"archive.tar.vlt", "\n - Error! the VLT was not exported.\n"},
        {"Data.XML", "\n - Error! the XML was not imported.\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        // None of these files exists: the work fails, and the run says so in its exit code.
        EXPECT_EQ(RunBundlex({c.input}, out, dir.path()), 1) << c.input;
        ASSERT_EQ(out.compare(0, kBanner.size() + 24, kBanner + " - Processing blocks...\n"), 0) << out;
        ASSERT_GE(out.size(), std::string(c.verdict).size());
        EXPECT_EQ(out.substr(out.size() - std::string(c.verdict).size()), c.verdict) << out;
    }
}

// A directory named like a document once aborted the run on an uncaught
// allocation failure, and a FIFO would block it for good: anything but a
// regular file is an input that cannot be opened.
TEST(Driver, DirectoryOrFifoAsInputIsAnErrorNotACrashOrAHang) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "x.xml").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "x.vlt").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "f.xml").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "f.vlt").c_str(), 0600), 0);
    const std::string xml = " - Error: could not open the given XML.\n\n - Error! the XML was not imported.\n";
    const std::string vlt = " - Error: could not open the given VLT.\n\n - Error! the VLT was not exported.\n";
    for (const char* input : {"x.xml", "x.vlt", "f.xml", "f.vlt"}) {
        std::string out;
        EXPECT_EQ(RunBundlex({input}, out, dir.path()), 1) << input;
        const std::string& tail = std::string(input).back() == 'l' ? xml : vlt;
        EXPECT_EQ(out, kBanner + " - Processing blocks...\n" + tail) << input;
    }
    // The commands that look inside a package refuse it as well.
    for (const char* command : {"--list", "--verify", "--check"}) {
        std::string out;
        EXPECT_EQ(RunBundlex({command, "f.vlt"}, out, dir.path()), 1) << command;
    }
}
