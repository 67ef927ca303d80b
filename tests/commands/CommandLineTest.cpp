// The command line: exact console texts and exit codes of the real program.
// The two-path form is left exactly as it was, "--" lets a dashed input path
// through, and the commands are recognised only by their option in the first
// place.
// The manual page renders cleanly, covers every command and the exit codes,
// and is installed with the executable.

#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "Support.h"
#include "core/Trovalis.h"

using namespace testsupport;

namespace {

const std::string kUnsupported =
    " - Error: input file it is not supported. Try with a VLT or XML (ORBv1 format) file\n";

}  // namespace

TEST(Driver, MissingInputIsNoUsageError) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--"}}) {
        std::string out;
        EXPECT_EQ(RunBundlex(args, out), 2);
        EXPECT_EQ(out, kBanner + " Usage: Bundlex.exe input.[xml|vlt] [output.vlt|output.xml]\n\n");
    }
}

// A very long extension is rejected, not copied into a fixed buffer.
TEST(Driver, UnsupportedExtensionsAreRejectedAfterTheBanner) {
    for (const std::string& input : std::vector<std::string>{"vlt", "a.txt", "archive.vlt.bak", "dir.vlt/file",
                                                             "noext.", "x." + std::string(300, 'v'), "-list"}) {
        std::string out;
        EXPECT_EQ(RunBundlex({input}, out), 1) << input;
        EXPECT_EQ(out, kBanner + kUnsupported) << input;
        EXPECT_EQ(RunBundlex({input, "out.xml", "fourth"}, out), 1) << input;
        EXPECT_EQ(out, kBanner + kUnsupported) << input;
    }
}

TEST(Driver, ExtensionMatchedByCaseOrAnEarlierDot) {
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

TEST(CommandLine, OptionsCountAnywhereAndDoubleDashLetsADashedPathThrough) {
    TempDir d;
    {
        SdkSession sdk;
        PackageBuilder p(d / "--list.vlt");
        p.Raw("notes", "FILE", {1, 2, 3});
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"--", "--list.vlt", "out.xml"}, out, d.path()), 0) << out;
    EXPECT_EQ(out.rfind(kBanner + " - Processing blocks...\n", 0), 0u) << out;
    EXPECT_TRUE(Contains(out, "\n - VLT exported successfully to a XML + gfx resources.\n")) << out;
    EXPECT_TRUE(FileExists(d / "out.xml"));
    // And after a command's own "--"; a command option after the path counts.
    EXPECT_EQ(RunBundlex({"--list", "--", "--list.vlt"}, out, d.path()), 0) << out;
    EXPECT_TRUE(Contains(out, "notes")) << out;
    EXPECT_EQ(RunBundlex({"out.xml", "--list"}, out, d.path()), 1) << out;
    EXPECT_TRUE(Contains(out, " - Error: cannot list 'out.xml': it is not a VLT package.\n")) << out;
}

TEST(CommandLine, QuietKeepsOnlyWarningsAndErrors) {
    TempDir d;
    {
        SdkSession sdk;
        PackageBuilder p(d / "p.vlt");
        p.Raw("notes", "FILE", {1, 2, 3});
    }
    std::string out;
    EXPECT_EQ(RunBundlex({"p.vlt", "--quiet"}, out, d.path()), 0) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(RunBundlex({"--quiet", "missing.vlt"}, out, d.path()), 1) << out;
    EXPECT_EQ(out, " - Error: could not open the given VLT.\n - Error! the VLT was not exported.\n");
}

TEST(CommandLine, HelpShowsTheTwoPathFormFirstThenEveryCommand) {
    std::string out;
    EXPECT_EQ(RunBundlex({"--help"}, out), 0);
    const size_t twoPath = out.find("bundlex input.[xml|vlt] [output.vlt|output.xml]");
    ASSERT_NE(twoPath, std::string::npos) << out;
    size_t last = twoPath;
    for (const char* cmd : {"bundlex -- input", "bundlex --list PACKAGE [--json]", "bundlex --verify PACKAGE [--json]",
                            "bundlex --check PACKAGE [--json]", "bundlex --diff A.vlt B.vlt [--json]", "bundlex --help",
                            "bundlex --version"}) {
        const size_t at = out.find(cmd);
        EXPECT_NE(at, std::string::npos) << cmd;
        EXPECT_GT(at, last) << cmd;
        last = at;
    }
    EXPECT_TRUE(Contains(out, "Exit codes: 0 success; 1 failure"));
    EXPECT_FALSE(Contains(out, "-----")) << "no banner";
}

TEST(CommandLine, VersionPrintsTheVersionTexts) {
    std::string out;
    EXPECT_EQ(RunBundlex({"--version"}, out), 0);
    EXPECT_EQ(out, std::string("Bundlex v2.0 - VLT resources export to XML and vice versa\n") +
                       Trovalis.VersionBanner() + "\n");
}

// Options count wherever they stand: an unknown one, one the command does
// not take or a second command is a usage error that names it, never a path.
TEST(CommandLine, CommandWithoutExactlyOnePackageOrWithUnknownOptionIsAUsageError) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--list"}, "--list needs exactly one package path"},
        {{"--verify", "--json"}, "--verify needs exactly one package path"},
        {{"--check", "a.vlt", "b.vlt"}, "--check needs exactly one package path"},
        {{"--list", "a.vlt", "--jsn"}, "unknown option '--jsn'"},
        {{"--diff", "a.vlt"}, "--diff needs two package paths"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"a.vlt", "--LIST"}, "unknown option '--LIST'"},
        {{"a.vlt", "--verify", "--long"}, "--long does not apply to --verify"},
        {{"a.xml", "--prune"}, "--prune does not apply to the conversion"},
        {{"--list", "a.vlt", "--verify"}, "--list and --verify cannot be given together"},
        {{"--verify", "a.vlt", "--jobs"}, "--jobs needs a value"},
        {{"--list", "a.vlt", "--jobs", "0"}, "--jobs needs a number from 1 to 256, not '0'"},
        {{"--jobs", "257", "a.vlt"}, "--jobs needs a number from 1 to 256, not '257'"},
        {{"--jobs", "2x", "a.xml"}, "--jobs needs a number from 1 to 256, not '2x'"}};
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(RunBundlex(c.first, out), 2) << c.second;
        EXPECT_EQ(out, "") << "nothing on standard output: " << out;
        std::string cmd = "'" + std::string(BUNDLEX_EXE) + "'";
        for (const std::string& a : c.first) cmd += " '" + a + "'";
        Shell(cmd + " 2>&1 >/dev/null", out);
        EXPECT_EQ(out, "bundlex: " + c.second + " (see bundlex --help)\n");
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

namespace {

std::string Page() { return SourceDir() + "/docs/bundlex.1"; }

}  // namespace

TEST(ManPage, RendersWithoutAnyGroffWarning) {
    std::string out;
    EXPECT_EQ(Shell("groff -ww -z -man '" + Page() + "' 2>&1", out), 0);
    EXPECT_EQ(out, "");
}

TEST(ManPage, CommandOrSectionMissing) {
    std::string text;
    // Justified lines get spaces of varying width: runs of blanks count as one.
    ASSERT_EQ(Shell("groff -man -Tutf8 -P-cbou '" + Page() + "' 2>/dev/null | tr -s ' '", text), 0);
    for (const char* needle : {"--list package", "--verify package", "--check package", "--help", "--version", "--json",
                               "bundlex -- input", "THE INTERCHANGE DOCUMENT", "EXIT STATUS", "EXAMPLES",
                               "resources survive the round trip", "--diff a.vlt b.vlt", "SOURCE_DATE_EPOCH"})
        EXPECT_TRUE(Contains(text, needle)) << needle;
}

TEST(ManPage, InstallLeavesThePageTheReferenceOrTheCompletionOut) {
    TempDir prefix;
    const std::string build = std::filesystem::path(BUNDLEX_EXE).parent_path().string();
    std::string out;
    ASSERT_EQ(Shell("cmake --install '" + build + "' --prefix '" + prefix.path() + "' 2>&1", out), 0) << out;
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "bin/bundlex"));
    EXPECT_EQ(ReadFile(prefix / "share/man/man1/bundlex.1"), ReadFile(Page()));
    EXPECT_EQ(ReadFile(prefix / "share/doc/bundlex/orbv1.md"), ReadFile(SourceDir() + "/docs/orbv1.md"));
    EXPECT_EQ(ReadFile(prefix / "share/bash-completion/completions/bundlex"),
              ReadFile(SourceDir() + "/scripts/bundlex-completion.bash"));
}

// The completion knows every option --help names, and offers packages and
// documents but not other files.
TEST(Completion, OffersEveryOptionOfTheHelpAndOnlyPackagesAndDocuments) {
    std::string help, out;
    ASSERT_EQ(RunBundlex({"--help"}, help), 0);
    TempDir d;
    for (const char* f : {"a.vlt", "b.XML", "c.txt"}) ASSERT_TRUE(WriteFile(d / f, {1}));
    const std::string complete = "cd '" + d.path() + "' && bash -c 'source \"" + SourceDir() +
                                 "/scripts/bundlex-completion.bash\"; COMP_WORDS=(bundlex \"$0\"); COMP_CWORD=1; "
                                 "_bundlex; printf \"%s\\n\" \"${COMPREPLY[@]}\"' ";
    ASSERT_EQ(Shell(complete + "--", out), 0);
    const std::regex option("--[a-z][a-z-]+");
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
        EXPECT_TRUE(Contains(out, it->str() + "\n")) << it->str();
    ASSERT_EQ(Shell(complete + "''", out), 0);
    EXPECT_TRUE(Contains(out, "a.vlt\n") && Contains(out, "b.XML\n")) << out;
    EXPECT_FALSE(Contains(out, "c.txt")) << out;
}

// SDL_mixer and the libraries it brings are opened by the first sound that
// needs them: an export without sounds never maps them, and one with an
// AIFF sound (decoded by SDL_mixer to identify it) opens the library late
// and still exports the sound as it is.
TEST(Driver, ExportWithoutSoundsStillMapsTheSoundLibrary) {
    SdkSession sdk;
    TempDir d;
    const std::string aiff = std::string(BUNDLEX_SOURCE_DIR) + "/tests/data/sounds/tone_11025_mono16.aiff";
    {
        PackageBuilder plain(d / "plain.vlt");
        plain.Raw("readme", "FILE", {1, 2, 3});
        PackageBuilder sound(d / "sound.vlt");
        sound.Raw("readme", "FILE", {1, 2, 3});
        sound.Sound("tone", aiff);
    }
    for (const char* name : {"plain", "sound"}) {
        const bool hasSound = std::string(name) == "sound";
        std::string out;
        const std::string cmd =
            "cd '" + d.path() + "' && LD_DEBUG=files '" BUNDLEX_EXE "' " + name + ".vlt 2>&1 >/dev/null";
        ASSERT_EQ(Shell(cmd, out), 0) << name << out;
        EXPECT_EQ(out.find("libSDL_mixer") != std::string::npos, hasSound) << name;
    }
    EXPECT_EQ(ReadFile(d / "sound/snd_tone.AIFF"), ReadFile(aiff));
}
