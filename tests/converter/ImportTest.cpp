// ImportDocument through the real executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "PackageStage.h"
#include "Support.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class Import : public ::testing::Test {
protected:
    SdkSession sdk;
    TempDir dir;
    std::string out;

    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, dir.path()); }
    void Doc(const std::string& body,
             const std::string& root = "<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"1\">") {
        const std::string text = "<?xml version=\"1.0\" ?>\n" + root + "\n" + body + "\n</ORB>\n";
        ASSERT_TRUE(WriteFile(dir / "doc.xml", std::vector<uint8_t>(text.begin(), text.end())));
    }
    void Png(const std::string& file, SDL_Surface* s) {
        EXPECT_EQ(g_pImage->SavePNG((dir / file).c_str(), s, -1), 0);
        SDL_FreeSurface(s);
    }
    void Bmp(const std::string& file, SDL_Surface* s) {
        EXPECT_EQ(g_pImage->SaveBMP((dir / file).c_str(), s), 1);
        SDL_FreeSurface(s);
    }
};

// Each of these fails the import before any package is opened or made.
TEST_F(Import, UnimportableDocumentCreatesAPackage) {
    const std::string prolog = "<?xml version=\"1.0\" ?>";
    const struct Case {
        std::string doc;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {prolog + "<ORB/>", {"missing.xml", "p.vlt"}, " - Error: could not open the given XML.\n"},
        {prolog + "<BRO version=\"v1\"/>",
         {"doc.xml", "p.vlt"},
         " - Error parsing the XML, is it a ORB file?\n\n - Info: line 1, column 23: the root element is <BRO>;"},
        // A syntax error names its place; a DOCTYPE with declarations hides the root after it.
        {prolog + "\n<ORB version=\"v1\">\n  <image name=\"a\"\n</ORB>",
         {"doc.xml", "p.vlt"},
         " - Error: the given XML is not well-formed: line 4, column 1: Error reading Attributes.\n"},
        {prolog + "\n<!DOCTYPE ORB [ <!ELEMENT ORB ANY> ]>\n<ORB version=\"v1\"/>",
         {"doc.xml", "p.vlt"},
         " - Info: line 2, column 1: a DOCTYPE with declarations inside [ ] cannot be read"},
        {prolog + "<ORB version=\"v2\"/>", {"doc.xml", "p.vlt"}, " - Only ORBv1 format is supported.\n"},
        {prolog + "<ORB version=\"v1\"><image name=\"a\"/></ORB>",
         {"doc.xml"},
         " - Error: no output VLT was given and the XML does not name its 'source' VLT.\n"},
        {prolog + "<ORB version=\"v1\"><image name=\"a\"/></ORB>",
         {"doc.xml", ""},
         " - Processing blocks...\n - Error: could not open/create the desired VLT('').\n"
         "\n - Error! the XML was not imported.\n"},
        {prolog + "<ORB version=\"v1\" source=\"\"><image name=\"a\"/></ORB>",
         {"doc.xml"},
         " - Error: the document names its package '', which does not end in \".vlt\"; give the package on the "
         "command line (bundlex DOCUMENT.xml PACKAGE.vlt).\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFile(dir / "doc.xml", Bytes(c.doc)));
        EXPECT_EQ(Run(c.args), 1) << c.message;
        EXPECT_TRUE(Contains(out, c.message)) << out;
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"doc.xml"});
    }
}

TEST_F(Import, WithoutOutputPathTheRootSourceNamesThePackage) {
    Png("a.png", Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"a.png\" alphablending=\"per-pixel\"/>");
    ASSERT_EQ(Run({"doc.xml"}), 0) << out;
    EXPECT_TRUE(ContainsAll(out, {" - Trying to generate 'src.vlt' with 1 blocks\n",
                                  " - 1/1: IMG 1 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"}));
    EXPECT_TRUE(HasBlock(dir / "src.vlt", "IMG", "a"));
}

// An unknown tag (a slip, or a kind's name with more after it) is named with its place, never skipped quietly.
TEST_F(Import, UnknownTagIsSkippedQuietly) {
    Doc("<!-- a comment --><picture name=\"x\"/><spr name=\"y\"/><imag/><images/>",
        "<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"2\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 1) << out;  // nothing could be stored
    EXPECT_EQ(Count(out, " - 0/2: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"), 1) << out;
    EXPECT_TRUE(Contains(out, "\n - WARNING: existing XML blocks(2) does not match with imported ones(0).\n"));
    EXPECT_EQ(Count(out, "problem found"), 4);
    EXPECT_TRUE(ContainsAll(
        out, {"\n - WARNING: problem found importing 'x' element.\n\n - Info: line 3, column 19: "
              "<picture> is not an element of an ORBv1 document;",
              "<imag> is not an element of an ORBv1 document (did you mean <image>?)", "<images> is not an element"}))
        << out;
    EXPECT_FALSE(FileExists(dir / "p.vlt"));
}

// Each of these fails its own element only, with a warning that names it.
TEST_F(Import, FailedElementStopsTheOthersOrGoesUnnamed) {
    Png("b.png", Rgba(4, 4, 1));
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.png");
    const std::string longName(32, 'n');
    Doc("<image name=\"a\" source=\"nowhere.png\" alphablending=\"per-pixel\"/>"
        "<tile name=\"t\" source=\"nowhere.bmp\" alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"-1\" "
        "xposition=\"0\" yposition=\"0\" tileset=\"disabled\"/>"
        "<font name=\"f\" source=\"nowhere.bmp\" alphablending=\"per-surface\" alphamod=\"255\" kerning=\"0\"/>"
        "<file name=\"r\" source=\"nowhere\" storemethod=\"raw\"/>"
        "<music name=\"m\" source=\"nowhere.ogg\"/>"
        "<file name=\"p\" source=\"pipe\" storemethod=\"raw\"/>"
        "<sound name=\"s\" source=\"pipe\"/>"
        "<image name=\"d\" source=\"folder.png\" alphablending=\"per-pixel\"/>"
        "<tile name=\"" +
            longName +
            "\" source=\"b.png\" alphablending=\"per-pixel\" xposition=\"0\" "
            "yposition=\"0\" tileset=\"disabled\"/>"
            "<imagery source=\"b.png\" alphablending=\"per-pixel\"/>"
            "<image name=\"b\" source=\"b.png\" alphablending=\"per-pixel\"/>",
        "<ORB version=\"v1\" totalblocks=\"11\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 3) << out;
    for (const std::string& w :
         std::vector<std::string>{"'a' image", "'t' tile", "'f' font", "'r' file", "'m' music", "'p' file", "'s' sound",
                                  "'d' image", "'<imagery>' element", "'" + longName + "' tile"})
        EXPECT_TRUE(Contains(out, "\n - WARNING: problem found importing " + w + ".\n")) << w << out;
    EXPECT_TRUE(Contains(out, "existing XML blocks(11) does not match with imported ones(1)."));
    const auto entries = Entries(dir / "p.vlt");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "b");
}

// Every failed store was once put down to "a write error, or a full disk",
// whatever had failed; a real write error names the system's reason and ends
// the run.
TEST_F(Import, FailedWriteNamesTheSystemsReason) {
    std::vector<uint8_t> big(300000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    ASSERT_TRUE(WriteFile(dir / "big.bin", big));
    Doc("<file name=\"big\" source=\"big.bin\" storemethod=\"raw\"/>");
    // Files may not grow beyond 100 blocks: the write fails with EFBIG.
    ASSERT_EQ(
        Shell("cd '" + dir.path() + "' && trap '' XFSZ && ulimit -f 100 && exec '" BUNDLEX_EXE "' doc.xml p.vlt", out),
        1)
        << out;
    EXPECT_TRUE(Contains(out, "\n - Info: the package did not store the block: the data block could not be written: " +
                                  std::string(std::strerror(EFBIG)) + ".\n"))
        << out;
}

TEST_F(Import, EmptyRawFileIsCountedAsStoredNotWarnedAsFailed) {
    // Kept raw or crypted, an empty file packs to 0 bytes, and AddData's
    // answer is then the same 0 that stands for a failure.
    ASSERT_TRUE(WriteFile(dir / "empty", {}));
    Doc("<file name=\"r\" source=\"empty\" storemethod=\"raw\"/>"
        "<file name=\"k\" source=\"empty\" storemethod=\"crypted\"/>"
        "<file name=\"c\" source=\"empty\" storemethod=\"compressed\"/>",
        "<ORB version=\"v1\" totalblocks=\"3\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << out;
    EXPECT_TRUE(Contains(out, " - 3/3: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 3 - GUI 0\r")) << out;
    for (const char* name : {"r", "k", "c"}) EXPECT_TRUE(HasBlock(dir / "p.vlt", "FILE", name)) << name;

    // A second import meets the blocks and refuses them: they were stored.
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 1) << out;
    EXPECT_EQ(Count(out, "problem found importing"), 3) << out;
}

class ImportSprite : public Import {
protected:
    // A 2 x 2 sheet of 32 x 32 frames: two rows, two frames each.
    void SetUp() override { Png("s.png", Rgba(64, 64, 5)); }
    static std::string Anim(int id, int frames, int children, int type = 2) {
        std::string a = "<animation id=\"" + std::to_string(id) + "\" type=\"" + std::to_string(type) +
                        "\" status=\"0\" frames=\"" + std::to_string(frames) +
                        "\" hotx=\"0\" hoty=\"0\" starframe=\"0\" endframe=\"1\">";
        for (int f = 0; f < children; ++f)
            a += "<frame id=\"" + std::to_string(f) + "\" ms=\"" + std::to_string(50 + f) + "\"/>";
        return a + "</animation>";
    }
    // Animation 0 of one frame with the given children, then a valid animation 1.
    static std::string OneFrame(const std::string& children) {
        return R"(<animation id="0" type="2" status="0" frames="1" hotx="0" hoty="0" starframe="0" endframe="1">)" +
               children + "</animation>" + Anim(1, 2, 2);
    }
    void Sprite(const std::string& inner, const std::string& offsets = "xoffset=\"32\" yoffset=\"32\"") {
        Doc("<sprite name=\"s\" source=\"s.png\" alphablending=\"per-pixel\" " + offsets + ">" + inner +
                "</sprite><image name=\"after\" source=\"s.png\" alphablending=\"per-pixel\"/>",
            "<ORB version=\"v1\" totalblocks=\"2\">");
    }
};

// Each table is checked before anything is stored, and the walk goes back up after a refused sprite.
TEST_F(ImportSprite, AnimationTablesThatDoNotFitTheSheetAreNamed) {
    const std::string fits = "xoffset=\"32\" yoffset=\"32\"";
    const struct Case {
        std::string inner, offsets;
        const char* present;
        const char* absent;
    } cases[] = {
        {Anim(0, 2, 2) + Anim(1, 2, 2) + Anim(2, 2, 2), fits,
         "\n - WARNING: parsed '3' animations from a total of '2'.\n - WARNING: problem found importing 's' sprite.\n",
         nullptr},
        {Anim(0, 3, 2) + Anim(1, 2, 2), fits, "\n - WARNING: idAnim '0': parsed '2' frames from a total of '3'.",
         nullptr},
        {Anim(0, 2, 2) + Anim(5, 2, 2), fits, "\n - WARNING: idAnim '5' is out of range [0,2].", nullptr},
        {Anim(0, 2, 2) + Anim(1, 2, 2, 3), fits, ": its \"type\" (3) is not one of 2, 4 or 8.", nullptr},
        // Frames: a child of another tag, a frame without id or ms, a frame id beyond the count.
        {OneFrame("<pose/>"), fits, ": <pose> is not an element <animation> holds; it holds <frame> elements.",
         nullptr},
        {OneFrame(R"(<frame ms="5"/>)"), fits, ": <frame> has no \"id\" attribute, which it needs.", nullptr},
        {OneFrame(R"(<frame id="0"/>)"), fits, ": <frame> has no \"ms\" attribute, which it needs.", nullptr},
        {OneFrame(R"(<frame id="5" ms="5"/>)"), fits, "\n - WARNING: idAnim '0': idFrame '5' is out of range [0,1].",
         nullptr},
        // A frame size of zero fails the sprite without any division.
        {Anim(0, 2, 2), "xoffset=\"32\" yoffset=\"0\"", "problem found importing 's' sprite.", nullptr},
        {Anim(0, 2, 2), "xoffset=\"0\" yoffset=\"32\"", "problem found importing 's' sprite.", nullptr},
        {Anim(0, 2, 2) + Anim(2, 2, 2), fits, nullptr,
         "out of range"},                                           // id equal to the row count passes the range check
        {Anim(0, 2, 3) + Anim(1, 2, 0), fits, nullptr, "WARNING"},  // more frames than declared are ignored
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string pkg = "p" + std::to_string(n++) + ".vlt";
        Sprite(c.inner, c.offsets);
        // A refused sprite leaves a resource behind: exit 3; the passing ones 0.
        ASSERT_EQ(Run({"doc.xml", pkg}), c.present ? 3 : 0) << out;
        if (c.present) {
            EXPECT_TRUE(Contains(out, c.present)) << out;
        }
        if (c.absent) {
            EXPECT_FALSE(Contains(out, c.absent)) << out;
        }
        EXPECT_TRUE(HasBlock(dir / pkg, "IMG", "after")) << out;
    }
    EXPECT_TRUE(HasBlock(dir / ("p" + std::to_string(n - 1) + ".vlt"), "SPR2", "s"));
}

// An import that stops before its end (here: abandoned) leaves the target as
// it was: every change goes to the working copy.
TEST_F(Import, AbandonedStageLeavesTheTargetAsItWas) {
    {
        PackageBuilder b(dir / "p.vlt");
        b.Raw("keep", "FILE", {1});
    }
    const std::vector<uint8_t> before = ReadFile(dir / "p.vlt");
    {
        PackageStage stage;
        const int id = stage.Begin(dir / "p.vlt");
        ASSERT_GT(id, 0);
        EXPECT_NE(stage.WorkPath(), dir / "p.vlt");
        EXPECT_GT(AddBlock(id, "FILE", "new", {7}), 0);
        EXPECT_NE(DeleteBlock(id, "FILE", "keep"), 0);
    }  // not committed
    EXPECT_EQ(ReadFile(dir / "p.vlt"), before);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"p.vlt"});

    PackageStage stage;
    ASSERT_GT(stage.Begin(dir / "p.vlt"), 0);
    ASSERT_TRUE(stage.Commit());
    EXPECT_EQ(Block(dir / "p.vlt", "FILE", "keep"), std::vector<uint8_t>{1});
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"p.vlt"});
}

// A damaged target is left as it was; one that is no regular file cannot be opened, not one whose copy waits for a
// writer. No working file stays behind.
TEST_F(Import, UnusableTargetIsChangedOrHangsTheRun) {
    const std::vector<uint8_t> junk(300, 0x5A);
    WriteFile(dir / "p.vlt", junk);
    ASSERT_EQ(mkfifo((dir / "fifo.vlt").c_str(), 0600), 0);
    fs::create_directory(dir / "dir.vlt");
    Png("a.png", Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"a.png\" alphablending=\"per-pixel\"/>");
    for (const char* target : {"p.vlt", "fifo.vlt", "dir.vlt"}) {
        EXPECT_EQ(Run({"doc.xml", target}), 1) << target;
        EXPECT_TRUE(Contains(out, " - Error: could not open/create the desired VLT('" + std::string(target) + "').\n"))
            << out;
    }
    EXPECT_EQ(ReadFile(dir / "p.vlt"), junk);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.png", "dir.vlt", "doc.xml", "fifo.vlt", "p.vlt"}));
}

// The handler a program had in place before the stage: the stage's own
// cleanup must pass the signal on to it. It ends the process through exit(),
// so that a coverage build also writes the counters of the cleanup.
constexpr int kPassedOn = 4;
void PreviousHandler(int) { std::exit(kPassedOn); }

// An import killed by a signal (a crash, kill, a hang-up, a closed pipe)
// removes its working file, and a check its temporary folder, on the way
// out; a working file left anyway (killed outright) is removed by the next
// import into the same package, once its process is gone.
TEST_F(Import, CrashedImportLeavesNoWorkingFileBehind) {
    {
        PackageBuilder b(dir / "p.vlt");
        b.Raw("keep", "FILE", {1});
    }
    const std::vector<uint8_t> before = ReadFile(dir / "p.vlt");
    for (int sig : {SIGSEGV, SIGTERM, SIGHUP, SIGPIPE}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(sig, PreviousHandler);
            fs::create_directories(dir / "check/document/sub");
            WriteFile(dir / "check/document/sub/a.png", {1});
            WriteFile(dir / "check/source.vlt", before);
            const SignalCleanupFolder folder(dir / "check");
            PackageStage stage;
            if (stage.Begin(dir / "p.vlt") < 1) _exit(2);
            raise(sig);
            _exit(3);  // the signal must end the process
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPassedOn) << sig;
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"p.vlt"}) << sig;
    }
    EXPECT_EQ(ReadFile(dir / "p.vlt"), before);

    // Working files of a process that is gone, of one that lives (1), and of another package.
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string dead = std::to_string(gone);
    const std::vector<std::string> stale = {"p.vlt.importing-" + dead + ".vlt", "p.vlt.importing-" + dead + "-2.vlt"};
    const std::vector<std::string> kept = {"p.vlt.importing-1.vlt", "p.vlt.importing-" + dead + "_v3.vlt",
                                           "q.vlt.importing-" + dead + ".vlt"};
    for (const auto& n : stale) WriteFile(dir / n, before);
    for (const auto& n : kept) WriteFile(dir / n, before);
    PackageStage stage;
    ASSERT_GT(stage.Begin(dir / "p.vlt"), 0);
    ASSERT_TRUE(stage.Commit());
    std::vector<std::string> expected = kept;
    expected.push_back("p.vlt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Listing(dir.path()), expected);
}

}  // namespace

namespace {

class ImportWidget : public Import {
protected:
    void SetUp() override {
        for (const char* s : {"n", "s", "p", "o"}) Png(std::string("w_") + s + ".png", Rgba(8, 4, s[0]));
    }
    static std::string Image(const char* state, const char* file) {
        return std::string("<image state=\"") + state + "\" source=\"" + file + "\" alphablending=\"per-pixel\"/>";
    }
    static std::string Widget(const std::string& images, const std::string& type = "button", int key = 13,
                              const char* tag = "widget") {
        return std::string("<") + tag + " name=\"w\" type=\"" + type +
               "\" id=\"1\" xposition=\"65535\" yposition=\"7\" key=\"" + std::to_string(key) +
               "\" selectboxRGB=\"-1\" value=\"3\" range=\"-2\">" + images + "</" + tag + ">";
    }
    void Panel(const std::string& widgets) {
        Doc("<panel name=\"default\">" + widgets +
                "</panel><image name=\"after\" source=\"w_n.png\" alphablending=\"per-pixel\"/>",
            "<ORB version=\"v1\" totalblocks=\"0\">");
    }
    std::string Three() const {
        return Image("normal", "w_n.png") + Image("pressed", "w_p.png") + Image("deactivated", "w_o.png");
    }
};

// The state images go in first and stay, counted, when the widget's own store then fails.
TEST_F(ImportWidget, RefusedWidgetLosesTheCountOfItsStoredImages) {
    const struct {
        std::string widget, code, progress;
    } cases[] = {{Widget(Three(), "button", 400), "-6",
                  " - 4/0: IMG 1 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"},
                 {Widget(Image("normal", "w_n.png") + Image("deactivated", "w_o.png")), "-3", " - 3/0:"}};
    for (const auto& c : cases) {
        Panel(c.widget);
        ASSERT_EQ(Run({"doc.xml", "p" + c.code + ".vlt"}), 3) << out;
        EXPECT_TRUE(ContainsAll(out, {"\n - WARNING: widget could not be saved (ErrCode '" + c.code +
                                          "')."
                                          "\n - WARNING: problem found importing 'default' panel, widget 'w'.\n",
                                      c.progress}));
        const std::string pkg = dir / ("p" + c.code + ".vlt");  // the walk came back up for "after"
        EXPECT_EQ((std::vector<bool>{HasBlock(pkg, "TILB2", "w_o"), HasBlock(pkg, "BUT", "w"),
                                     HasBlock(pkg, "IMG", "after")}),
                  (std::vector<bool>{true, false, true}));
    }
}

TEST_F(ImportWidget, MalformedWidgetIsStoredOrGoesUnnamed) {
    Panel(Widget(Three(), "dial") +                                            // unknown kind
          Widget(Three(), "button", 13, "gadget") +                            // not a widget
          Widget("<picture state=\"normal\"/>") +                              // not an image
          Widget("<image source=\"w_n.png\" alphablending=\"per-pixel\"/>") +  // no state
          Widget(Image("normal", "nowhere.png")));                             // unreadable state image
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 3) << out;
    EXPECT_EQ(Count(out, "problem found importing 'default' panel, widget 'w'."), 5) << out;
    for (const char* w : {": its \"type\" (dial) is not one of", ": <gadget> is not an element <panel> holds",
                          ": <picture> is not an element <widget> holds", ": <image> has no \"state\" attribute",
                          "\n - WARNING: could not load 'normal' state."})
        EXPECT_TRUE(Contains(out, w)) << w << out;
    EXPECT_FALSE(HasBlock(dir / "p.vlt", "BUT", "w"));
    EXPECT_TRUE(HasBlock(dir / "p.vlt", "IMG", "after"));
}

}  // namespace

namespace {

// A document handed over by someone else, in dir/in, with dir itself outside its folder.
class ImportTrust : public Import {
protected:
    void SetUp() override { fs::create_directory(dir / "in"); }
    void InDoc(const std::string& body, const std::string& source = "p.vlt") {
        const std::string text =
            "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"" + source + "\">" + body + "</ORB>\n";
        ASSERT_TRUE(WriteFile(dir / "in/doc.xml", Bytes(text)));
    }
    static std::string Raw(const std::string& name, const std::string& source) {
        return "<file name=\"" + name + "\" source=\"" + source + "\" storemethod=\"raw\"/>";
    }
    // The whole-process peak, in bytes, of importing in/doc.xml into p.vlt;
    // the run must end with exit code rc.
    double ImportPeak(int rc) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, STDOUT_FILENO);
            if (::chdir(dir.path().c_str()) == 0) ::execl(BUNDLEX_EXE, BUNDLEX_EXE, "in/doc.xml", "p.vlt", nullptr);
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage {};
        EXPECT_TRUE(pid > 0 && ::wait4(pid, &status, 0, &usage) == pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == rc) << status;
        return usage.ru_maxrss * 1024.0;
    }
};

TEST_F(ImportTrust, ImplicitPackageOutsideTheDocumentFolderOrNotAPackageIsRefused) {
    TempDir far;
    ASSERT_EQ(::symlink((far / "linked.vlt").c_str(), (dir / "in/link.vlt").c_str()), 0);
    for (const std::string& source :
         {far / ".ssh/authorized_keys", far / "p.vlt", std::string("../p.vlt"), std::string("sub/../../p.vlt"),
          std::string("notes.txt"), std::string("link.vlt")}) {
        InDoc(Raw("r", "doc.xml"), source);
        EXPECT_EQ(Run({"in/doc.xml"}), 1) << source << out;
        EXPECT_TRUE(Contains(out, "; give the package on the command line (bundlex DOCUMENT.xml PACKAGE.vlt).\n"))
            << out;
    }
    EXPECT_TRUE(Listing(far.path()).empty());
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"in"});
    // The user's own choice is taken as given.
    EXPECT_EQ(Run({"in/doc.xml", far / "p.vlt"}), 0) << out;
    EXPECT_TRUE(HasBlock(far / "p.vlt", "FILE", "r"));
}

TEST_F(ImportTrust, PayloadOutsideTheDocumentFolderIsReadOnlyWithAllowOutside) {
    ASSERT_TRUE(WriteFile(dir / "secret", Bytes("key")));
    ASSERT_TRUE(WriteFile(dir / "in/own", Bytes("own")));
    ASSERT_EQ(::symlink("../secret", (dir / "in/out").c_str()), 0);
    ASSERT_EQ(::symlink("own", (dir / "in/alias").c_str()), 0);
    const struct {
        const char* name;
        std::string source;
        const char* cause;  // null: read
    } cases[] = {
        {"abs", dir / "secret", " is an absolute path outside the document's folder; it was not read"},
        {"up", "../secret", " climbs out of the document's folder with \"..\"; it was not read"},
        {"link", "out", " leads outside the document's folder through a symbolic link; it was not read"},
        {"env", "/proc/self/environ", " is an absolute path outside the document's folder; it was not read"},
        {"own", "own", nullptr},
        {"alias", "alias", nullptr},
        {"old", "in/own", nullptr},  // an earlier export's path, from the folder it was run in
    };
    std::string body;
    for (const auto& c : cases) body += Raw(c.name, c.source);
    InDoc(body);
    ASSERT_EQ(Run({"in/doc.xml", "p.vlt"}), 3) << out;
    for (const auto& c : cases) {
        EXPECT_EQ(HasBlock(dir / "p.vlt", "FILE", c.name), c.cause == nullptr) << c.name;
        const std::string cause = c.cause ? "importing '" + std::string(c.name) +
                                                "' file.\n\n - Info: the payload file '" + c.source + "'" + c.cause
                                          : std::string("importing '") + c.name + "'";
        EXPECT_EQ(Contains(out, cause), c.cause != nullptr) << c.name << out;
    }
    EXPECT_EQ(Run({"--update", "in/doc.xml", "p.vlt"}), 3) << out;
    EXPECT_FALSE(HasBlock(dir / "p.vlt", "FILE", "abs"));
    ASSERT_EQ(Run({"--allow-outside", "in/doc.xml", "q.vlt"}), 0) << out;
    EXPECT_EQ(Block(dir / "q.vlt", "FILE", "abs"), Bytes("key"));
    EXPECT_EQ(Block(dir / "q.vlt", "FILE", "link"), Bytes("key"));
}

// Between a check and an open by name the payload becomes a FIFO: the
// payload must be opened once, without waiting.
TEST_F(ImportTrust, PayloadSwappedForAFifoNeverHangsTheImport) {
    std::string body;
    for (int i = 0; i < 300; ++i) body += Raw("r" + std::to_string(i), "in/p");
    InDoc(body);
    const std::string payload = dir / "in/p", fifo = dir / "fifo", file = dir / "file", stop = dir / "stop";
    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0) {
        for (int i = 0; i < 1000000 && ::access(stop.c_str(), F_OK) != 0; ++i) {
            if (i % 2) {
                ::mkfifo(fifo.c_str(), 0600);
                ::rename(fifo.c_str(), payload.c_str());
            } else {
                const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (fd >= 0) ::close(fd);
                ::rename(file.c_str(), payload.c_str());
            }
        }
        ::_exit(0);
    }
    for (int i = 0; i < 6; ++i) {
        const int rc = Shell(
            "cd " + dir.path() + " && timeout 60 " + BUNDLEX_EXE + " in/doc.xml p" + std::to_string(i) + ".vlt", out);
        // Every payload may have been a FIFO: then nothing was stored (1).
        EXPECT_TRUE(rc == 0 || rc == 1 || rc == 3) << rc << out;
        if (rc != 0 && rc != 1 && rc != 3) break;
    }
    ASSERT_TRUE(WriteFile(stop, {}));
    int status = 0;
    ::waitpid(swapper, &status, 0);
}

// The run's peak stays near the payload's size: it is held once, not copied
// twice more; a compressed one is packed into pages taken as they are written.
TEST_F(ImportTrust, RawAndCompressedPayloadsAreHeldOnceNotCopied) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own bookkeeping hides the figure";
#endif
    constexpr size_t kSize = size_t(64) << 20;
    ASSERT_TRUE(WriteFile(dir / "in/big", std::vector<uint8_t>(kSize, 0x5A)));
    for (const char* method : {"raw", "compressed"}) {
        InDoc("<file name=\"big\" source=\"big\" storemethod=\"" + std::string(method) + "\"/>");
        const double peak = ImportPeak(0);
        EXPECT_LT(peak, kSize * 1.2 + (48 << 20)) << method << " " << peak;
        fs::remove(dir / "p.vlt");
    }
}

// A document of many elements is held as its text and one element at a
// time, not as a tree of every element (about 235 bytes each).
TEST_F(ImportTrust, BigDocumentIsWalkedWithoutHoldingEveryElement) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own bookkeeping hides the figure";
#endif
    std::string body;
    for (int i = 0; i < 500000; ++i) body += "<file/>\n";
    InDoc(body);
    const double peak = ImportPeak(1);  // nothing could be stored
    EXPECT_LT(peak, body.size() * 3.0 + (30 << 20)) << peak;
}

// A document large enough to be checked from two places at once gives, with
// two jobs, what it gives with one: the same console text and exit code,
// whether it is well-formed, malformed in either half, or holds its middle
// lines inside a comment or a value.
TEST_F(Import, LargeDocumentCheckedFromTwoPlacesSaysWhatOneThreadSays) {
    ASSERT_TRUE(WriteFile(dir / "pay", Bytes("payload bytes")));
    const auto element = [](int i) {
        return "  <file name=\"f" + std::to_string(i) + "\" source=\"pay\" storemethod=\"compressed\" />\n";
    };
    const auto body = [&](int from, int to) {
        std::string text;
        for (int i = from; i < to; ++i) text += element(i);
        return text;
    };
    constexpr int kHalf = 2000;  // about 150 KiB a half
    const std::string bad = "  <file name=\"bad\" source=\"pay\" storemethod=\"compressed\" >\n";
    const std::vector<std::string> bodies = {
        body(0, 2 * kHalf),
        body(0, kHalf + kHalf / 2) + bad + body(kHalf + kHalf / 2, 2 * kHalf),
        body(0, kHalf / 2) + bad + body(kHalf / 2, 2 * kHalf),
        body(0, kHalf / 2) + "<!--\n" + body(kHalf / 2, kHalf + kHalf / 2) + "-->\n" +
            body(kHalf + kHalf / 2, 2 * kHalf),
        body(0, kHalf / 2) + "<file name=\"v\" source=\"pay\" storemethod=\"compressed\" note=\"\n" +
            body(kHalf / 2, kHalf + kHalf / 2) + "\" />\n" + body(kHalf + kHalf / 2, 2 * kHalf),
    };
    for (size_t i = 0; i < bodies.size(); ++i) {
        Doc(bodies[i]);
        std::string one, two;
        const int oneCode = RunBundlex({"--jobs", "1", "doc.xml", "out.vlt"}, one, dir.path());
        fs::remove(dir / "out.vlt");
        const int twoCode = RunBundlex({"--jobs", "2", "doc.xml", "out.vlt"}, two, dir.path());
        fs::remove(dir / "out.vlt");
        EXPECT_EQ(twoCode, oneCode) << i;
        EXPECT_EQ(two, one) << i;
        // A '<' inside a value is malformed to the XML library.
        EXPECT_EQ(Contains(one, "the given XML is not well-formed: line "), i == 1 || i == 2 || i == 4) << i << one;
    }
}

TEST_F(Import, NumbersThatDoNotFitTheirFieldAreRefusedNotWrapped) {
    Bmp("c.bmp", Rgb(4, 4, 1));
    Bmp("k.bmp", MakePaletted(4, 4).release());
    const std::string keys = "\" alphablending=\"per-surface\" alphamod=\"";
    const std::string tile = "<tile name=\"t\" source=\"c.bmp" + keys +
                             "255\" colorkey=\"-1\" xposition=\"0\" yposition=\"0\" tileset=\"enabled\" ";
    const struct {
        std::string element, warning, cause;
    } cases[] = {
        {"<image name=\"a\" source=\"c.bmp" + keys + "4294967296\" colorkey=\"-1\"/>", "'a' image",
         "its \"alphamod\" (4294967296) does not fit: it must lie between"},
        {"<image name=\"k\" source=\"k.bmp" + keys + "255\" colorkey=\"256\"/>", "'k' image",
         "its \"colorkey\" (256) is not a pixel value of the image (256 palette entries)."},
        {tile + "xoffset=\"0\" yoffset=\"2\"/>", "'t' tile", "its \"xoffset\" (0) does not fit"},
        {tile + "xoffset=\"2\" yoffset=\"-3\"/>", "'t' tile", "its \"yoffset\" (-3) does not fit"},
        {"<panel name=\"default\"><widget name=\"w\" type=\"button\" xposition=\"70000\" yposition=\"0\"/></panel>",
         "'default' panel, widget 'w'",
         "its \"xposition\" (70000) does not fit: it must lie between -32768 and 65535."},
    };
    for (const auto& c : cases) {
        Doc(c.element);
        ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 1) << c.element << out;
        EXPECT_TRUE(InOrder(out, {"problem found importing " + c.warning + ".\n\n - Info: ", c.cause})) << out;
        EXPECT_FALSE(FileExists(dir / "p.vlt")) << c.element;
    }
}

}  // namespace

namespace {

// A 3.0 package is rebuilt as 4.0 when opened, keeping the original as <name>_v3.vlt.
TEST_F(Import, VersionThreeTargetIsUpgradedWithItsBackupUnderItsOwnName) {
    const std::vector<uint8_t> old = V3Package();
    WriteFile(dir / "old.vlt", old);
    WriteFile(dir / "n.bin", {'x', 'y'});
    Doc("<file name=\"new\" source=\"n.bin\" storemethod=\"raw\"/>");
    ASSERT_EQ(Run({"doc.xml", "old.vlt"}), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << out;
    EXPECT_EQ(Block(dir / "old.vlt", "FILE", "notes"), Bytes("v3!\n"));
    EXPECT_EQ(Block(dir / "old.vlt", "FILE", "new"), (std::vector<uint8_t>{'x', 'y'}));
    EXPECT_EQ(ReadFile(dir / "old_v3.vlt"), old);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"doc.xml", "n.bin", "old.vlt", "old_v3.vlt"}));
}

}  // namespace
