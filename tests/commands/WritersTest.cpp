// The writers (--update, --delete, --compact, and the two-path import) through the real executable.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "Support.h"
#include "core/FileLock.h"
#include "resources/IImage.h"

using namespace testsupport;

namespace {

class Writers : public ::testing::Test {
protected:
    SdkSession sdk;
    TempDir d;
    std::string out;
    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, d.path()); }
    void Write(const std::string& name, const std::string& text) { ASSERT_TRUE(WriteFile(d / name, Bytes(text))); }
    // The example document imported into p.vlt and exported again as e.xml with its payload folder e/.
    void ImportAndExportExample() {
        ASSERT_EQ(Shell("cp -r '" + SourceDir() + "/examples/demo' '" + SourceDir() + "/examples/demo.xml' '" +
                            d.path() + "'",
                        out),
                  0);
        ASSERT_EQ(Run({"demo.xml", "p.vlt"}), 0) << out;
        ASSERT_EQ(Run({"p.vlt", "e.xml"}), 0) << out;
    }
    // The live entries' payloads, by name and type.
    std::map<std::pair<std::string, std::string>, std::vector<uint8_t>> Payloads(const std::string& package) {
        std::map<std::pair<std::string, std::string>, std::vector<uint8_t>> m;
        for (const Entry& e : Entries(d / package))
            if (e.type != "DELETED") m[{e.name, e.type}] = Block(d / package, e.type.c_str(), e.name.c_str());
        return m;
    }
    void EditPixel(const std::string& file, bool png) {
        SurfacePtr s(png ? g_pImage->LoadPNG((d / file).c_str()) : g_pImage->LoadBMP((d / file).c_str()));
        ASSERT_TRUE(s);
        SDL_LockSurface(s.get());
        static_cast<uint8_t*>(s->pixels)[0] ^= 0x5A;
        SDL_UnlockSurface(s.get());
        ASSERT_EQ(png ? g_pImage->SavePNG((d / file).c_str(), s.get(), -1) + 1
                      : g_pImage->SaveBMP((d / file).c_str(), s.get()),
                  1);
    }
    bool SameImage(const std::string& a, const std::string& b, bool png) {
        SurfacePtr x(png ? g_pImage->LoadPNG((d / a).c_str()) : g_pImage->LoadBMP((d / a).c_str()));
        SurfacePtr y(png ? g_pImage->LoadPNG((d / b).c_str()) : g_pImage->LoadBMP((d / b).c_str()));
        return x && y && SamePixels(x.get(), y.get());
    }
};

// The edit loop: edits of five kinds come back byte or pixel exact, the
// package has no deleted entries and the size of a fresh import, a no-op
// update does not touch the file, and an update from a one-element document
// changes that block alone.
TEST_F(Writers, UpdateBringsEveryKindOfEditBackAndNothingElse) {
    ImportAndExportExample();
    EditPixel("e/img_logo.png", true);
    EditPixel("e/spr_hero.bmp", false);
    std::vector<uint8_t> wav = ReadFile(d / "e/snd_chime.WAV"), mod = ReadFile(d / "e/mus_theme.MOD");
    wav[wav.size() - 3] ^= 0x11;
    mod[mod.size() - 5] ^= 0x22;
    ASSERT_TRUE(WriteFile(d / "e/snd_chime.WAV", wav) && WriteFile(d / "e/mus_theme.MOD", mod));
    ASSERT_EQ(Shell("printf 'one more line' >> '" + d / "e/file_readme" + "'", out), 0);

    ASSERT_EQ(Run({"--update", "e.xml"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - Updated 'p.vlt': 0 added, 5 replaced, 23 unchanged, 0 failed.\n")) << out;
    ASSERT_EQ(Run({"--list", "p.vlt"}), 0);
    EXPECT_TRUE(Contains(out, " - 28 entries: 28 live, 0 deleted.\n")) << out;
    ASSERT_EQ(Run({"e.xml", "fresh.vlt"}), 0) << out;
    EXPECT_EQ(ReadFile(d / "p.vlt").size(), ReadFile(d / "fresh.vlt").size());

    ASSERT_EQ(Run({"p.vlt", "again.xml"}), 0) << out;
    for (const char* f : {"snd_chime.WAV", "mus_theme.MOD", "file_readme"})
        EXPECT_EQ(ReadFile(d / (std::string("again/") + f)), ReadFile(d / (std::string("e/") + f))) << f;
    EXPECT_TRUE(SameImage("again/img_logo.png", "e/img_logo.png", true));
    EXPECT_TRUE(SameImage("again/spr_hero.bmp", "e/spr_hero.bmp", false));

    // Nothing changed: the same bytes and modification time, not rewritten.
    struct stat before, after;
    ASSERT_EQ(stat((d / "p.vlt").c_str(), &before), 0);
    const std::vector<uint8_t> bytes = ReadFile(d / "p.vlt");
    ASSERT_EQ(Run({"--update", "e.xml", "p.vlt", "--json"}), 0) << out;
    EXPECT_EQ(JqOut(out, "[.added, .replaced, .unchanged, .failed, .rewritten] | @csv"), "0,0,28,0,false") << out;
    ASSERT_EQ(stat((d / "p.vlt").c_str(), &after), 0);
    EXPECT_EQ(ReadFile(d / "p.vlt"), bytes);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A one-element document (the element as the export wrote it).
    std::smatch m;
    const std::vector<uint8_t> exported = ReadFile(d / "e.xml");
    const std::string doc(exported.begin(), exported.end());
    ASSERT_TRUE(std::regex_search(doc, m, std::regex("<file name=\"config\"[^>]*>")));
    Write("one.xml", "<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"p.vlt\" totalblocks=\"1\">\n" + m.str() +
                         "\n</ORB>\n");
    Write("e/file_config", "new settings");
    auto payloads = Payloads("p.vlt");
    ASSERT_EQ(Run({"--update", "one.xml"}), 0) << out;
    EXPECT_TRUE(Contains(out, "0 added, 1 replaced, 0 unchanged, 0 failed.\n")) << out;
    payloads[{"config", "FILE"}] = Bytes("new settings");
    EXPECT_EQ(Payloads("p.vlt"), payloads);
}

// Export, then --update from the untouched export: nothing added or
// replaced and the package's bytes and modification time as they were, on
// every kind, whatever byte layout its payload file reads back in (a BMP
// is blue first, a PNG red first, 15- and 16-bit pixels come back in 24).
TEST_F(Writers, NoOpUpdateOfAnUntouchedExportRewritesNothing) {
    const std::string ps = "alphablending=\"per-surface\" alphamod=\"200\" colorkey=";
    const std::string pp = "alphablending=\"per-pixel\" ";
    const std::string anim =
        "<animation id=\"0\" type=\"2\" status=\"0\" frames=\"1\" hotx=\"1\" hoty=\"2\" starframe=\"0\" "
        "endframe=\"0\"><frame id=\"0\" ms=\"90\"/></animation>";
    auto widget = [](const std::string& keys) {
        std::string images;
        for (const char* st : {"normal", "pressed", "deactivated"})
            images += std::string("<image state=\"") + st + "\" source=\"F\" " + keys + "/>";
        return "<panel name=\"default\" xposition=\"0\" yposition=\"0\" width=\"800\" height=\"600\" alphamod=\"0\">"
               "<widget name=\"w\" type=\"button\" id=\"1\" xposition=\"1\" yposition=\"2\" key=\"13\" "
               "selectboxRGB=\"255\" value=\"0\" range=\"0\">" +
               images + "</widget></panel>";
    };
    const struct Row {
        const char* what;
        const char* file;
        std::string element;
        int blocks;
    } rows[] = {
        {"rgb png", "lmms-common/rgb-no-alpha.png", "<image name=\"i\" source=\"F\" " + pp + "/>", 1},
        {"rgba png", "funnyboat/kuti.png", "<image name=\"i\" source=\"F\" " + pp + "/>", 1},
        {"15-bit bmp", "derived/img1-bmp16.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"-1\"/>", 1},
        {"16-bit bmp", "derived/img1-bmp16-bitfields565.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"0\"/>", 1},
        {"24-bit bmp", "lgeneral-data/kukgen_attack.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"0\"/>", 1},
        {"32-bit bmp", "derived/img1-bmp32.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"-1\"/>", 1},
        {"palette", "icebreaker/penguin.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"-1\"/>", 1},
        {"palette keyed", "icebreaker/penguin.bmp", "<image name=\"i\" source=\"F\" " + ps + "\"3\"/>", 1},
        {"font", "made/font-inner-gaps.bmp", "<font name=\"f\" source=\"F\" " + ps + "\"0\" kerning=\"1\"/>", 1},
        {"tile", "derived/img1-bmp16.bmp",
         "<tile name=\"t\" source=\"F\" " + ps +
             "\"0\" xposition=\"1\" yposition=\"2\" tileset=\"enabled\" xoffset=\"8\" yoffset=\"8\"/>",
         1},
        {"tile rgb png", "lmms-common/rgb-no-alpha.png",
         "<tile name=\"t\" source=\"F\" " + pp + "xposition=\"-1\" yposition=\"2\" tileset=\"disabled\"/>", 1},
        {"sprite", "derived/img1-bmp32.bmp",
         "<sprite name=\"s\" source=\"F\" " + ps + "\"0\" xoffset=\"40\" yoffset=\"480\">" + anim + "</sprite>", 1},
        {"sprite rgb png", "lmms-common/rgb-no-alpha.png",
         "<sprite name=\"s\" source=\"F\" " + pp + "xoffset=\"14\" yoffset=\"14\">" + anim + "</sprite>", 1},
        {"widget", "lgeneral-data/kukgen_attack.bmp", widget(ps + "\"0\""), 4},
        {"widget rgb png", "lmms-common/rgb-no-alpha.png", widget(pp), 4},
        {"sound", "kbounce/ulaw.wav", "<sound name=\"s\" source=\"F\"/>", 1},
        {"music", "frozen-bubble-data/launch.ogg", "<music name=\"m\" source=\"F\"/>", 1},
        // Compressed by its name, scrambled by the exported one's.
        {"music named .oga", "sound-theme-freedesktop/phone-outgoing-calling.oga", "<music name=\"m\" source=\"F\"/>",
         1},
        {"raw file", "icebreaker/penguin.bmp", "<file name=\"r\" source=\"F\" storemethod=\"compressed\"/>", 1},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string dir = d / std::to_string(++n);
        const std::string ext = std::string(r.file).substr(std::string(r.file).rfind('.'));
        ASSERT_EQ(Shell("mkdir '" + dir + "' && cp '" + SourceDir() + "/tests/data/realworld/" + r.file + "' '" + dir +
                            "/in" + ext + "'",
                        out),
                  0);
        const std::string element =
            std::regex_replace(r.element, std::regex("source=\"F\""), "source=\"in" + ext + "\"");
        ASSERT_TRUE(WriteFile(dir + "/doc.xml",
                              Bytes("<?xml version=\"1.0\" ?>\n<ORB version=\"v1\" source=\"p.vlt\" totalblocks=\"" +
                                    std::to_string(r.blocks) + "\">\n" + element + "\n</ORB>\n")));
        ASSERT_EQ(RunBundlex({"doc.xml", "p.vlt"}, out, dir), 0) << out;
        ASSERT_EQ(RunBundlex({"p.vlt", "e.xml"}, out, dir), 0) << out;
        struct stat before, after;
        ASSERT_EQ(stat((dir + "/p.vlt").c_str(), &before), 0);
        const std::vector<uint8_t> bytes = ReadFile(dir + "/p.vlt");
        ASSERT_EQ(RunBundlex({"--update", "e.xml", "p.vlt"}, out, dir), 0) << out;
        EXPECT_TRUE(Contains(out, ": 0 added, 0 replaced, " + std::to_string(r.blocks) + " unchanged, 0 failed.\n"))
            << out;
        ASSERT_EQ(stat((dir + "/p.vlt").c_str(), &after), 0);
        EXPECT_EQ(ReadFile(dir + "/p.vlt"), bytes);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

// Delete and compact write a package that verifies, with no deleted entry, the live entries in their order.
TEST_F(Writers, DeleteAndCompactLeaveAVerifiedPackageWithoutDeletedEntries) {
    ImportAndExportExample();
    ASSERT_EQ(Run({"e.xml", "p.vlt"}), 3) << out;  // images replaced (deleted entries left), sounds refused
    std::vector<std::string> live;
    for (const Entry& e : Entries(d / "p.vlt"))
        if (e.type != "DELETED") live.push_back(e.name + "/" + e.type);
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    Write("p.vlt.importing-" + std::to_string(gone) + ".vlt", "left by a killed import");
    const std::vector<uint8_t> uncompacted = ReadFile(d / "p.vlt");

    ASSERT_EQ(Run({"--compact", "p.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - Compacted 'p.vlt': 28 live entries kept, ")) << out;
    std::vector<std::string> after;
    for (const Entry& e : Entries(d / "p.vlt")) after.push_back(e.name + "/" + e.type);
    EXPECT_EQ(after, live);
    EXPECT_EQ(Listing(d.path()), (std::vector<std::string>{"demo", "demo.xml", "e", "e.xml", "p.vlt"}));

    const std::vector<uint8_t> compacted = ReadFile(d / "p.vlt");
    const struct {
        std::vector<std::string> names;
        const char* error;
    } refused[] = {
        {{"play", "nothing*"}, " - Error: no resource matches 'nothing*'.\n"},
        {{"sound_n"}, "'sound_n' is a state image of a widget that stays; delete the widget instead.\n"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"--delete", "p.vlt"};
        args.insert(args.end(), r.names.begin(), r.names.end());
        EXPECT_EQ(Run(args), 1) << out;
        EXPECT_TRUE(Contains(out, r.error)) << out;
        EXPECT_EQ(ReadFile(d / "p.vlt"), compacted);
    }

    ASSERT_EQ(Run({"--delete", "p.vlt", "play", "read?e", "--json"}), 0) << out;
    EXPECT_EQ(JqOut(out, "[.deleted[].name] | sort | join(\" \")"), "play play_n play_o play_p play_s readme") << out;
    EXPECT_EQ(Run({"--verify", "p.vlt"}), 0) << out;
    ASSERT_EQ(Run({"--list", "p.vlt"}), 0);
    EXPECT_TRUE(Contains(out, " - 22 entries: 22 live, 0 deleted.\n")) << out;

    // The JSON report adds up; a package without deleted entries is left alone.
    ASSERT_TRUE(WriteFile(d / "q.vlt", uncompacted));
    ASSERT_EQ(Run({"--compact", "q.vlt", "--json"}), 0) << out;
    EXPECT_EQ(JqOut(out, "[.live, .rewritten, .size_before - .size_after == .reclaimed, .deleted > 0] | @text"),
              "[28,true,true,true]")
        << out;
    ASSERT_EQ(Run({"--compact", "q.vlt"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - 'q.vlt' has no deleted entries; it was left as it was (")) << out;
}

// A resource left behind makes the run exit 3, and the line after its
// warning says why, also when the package cannot be written at all; an
// output that is not a package name stops the run at once (exit 1) with
// nothing written.
TEST_F(Writers, ImportOfAResourceLeftBehindExitsIncompleteAndSaysWhy) {
    {
        PackageBuilder p(d / "held.vlt");
        p.Raw("s", "SND", {1, 2, 3});
    }
    ASSERT_TRUE(WriteFile(d / "t.wav", Wav(10)));
    ASSERT_TRUE(WriteFile(d / "photo.png", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0}));
    ASSERT_TRUE(WriteFile(d / "anim.png", Bytes("GIF89a\x01\x00\x01\x00")));
    ASSERT_TRUE(WriteFile(d / "icon.png", Bytes("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")));
    SurfacePtr sheet(Rgba(48, 32, 3));
    ASSERT_EQ(g_pImage->SavePNG((d / "sheet.png").c_str(), sheet.get(), -1), 0);
    const struct {
        const char* element;
        const char* package;
        const char* cause;
    } rows[] = {
        {"<file name=\"a\" source=\"nothere\" storemethod=\"raw\"/>", "p.vlt",
         "\n - Info: the payload file 'nothere' is missing (No such file or directory).\n"},
        {"<image name=\"i\" source=\"photo.png\" alphablending=\"per-pixel\"/>", "p.vlt",
         "\n - Info: the payload file 'photo.png' is not a PNG image: it is a JPEG image (saved under the wrong name?).\n"},
        {"<image name=\"i\" source=\"anim.png\" alphablending=\"per-pixel\"/>", "p.vlt", "it is a GIF image"},
        {"<image name=\"i\" source=\"icon.png\" alphablending=\"per-pixel\"/>", "p.vlt", "it is an XML or SVG text"},
        {"<image name=\"i\" source=\"t.wav\" alphablending=\"per-pixel\"/>", "p.vlt", "it is a WAV sound"},
        {"<sound name=\"s\" source=\"t.wav\"/>", "held.vlt",
         "\n - Info: the package already holds a block of this name and type; use --update to replace it.\n"},
        {"<sprite name=\"h\" source=\"sheet.png\" alphablending=\"per-pixel\" xoffset=\"32\" yoffset=\"32\"/>", "p.vlt",
         "\n - Info: the sheet (48 x 32) does not fit frames of 32 x 32: it must be a whole number of frames"},
    };
    for (const auto& r : rows) {
        Write("doc.xml", std::string("<ORB version=\"v1\" totalblocks=\"1\">") + r.element + "</ORB>");
        EXPECT_EQ(Run({"doc.xml", r.package}), 3) << out;
        EXPECT_TRUE(ContainsAll(
            out, {"WARNING: problem found importing", r.cause, " - XML imported successfully into a new VLT.\n"}));
    }

    const std::vector<uint8_t> held = ReadFile(d / "held.vlt");
    ASSERT_EQ(chmod((d / "held.vlt").c_str(), 0444), 0);
    // A plain import tries every element, each fails for that cause; an
    // update, which rewrites the package, is refused at once.
    Write("doc.xml", "<ORB version=\"v1\" totalblocks=\"1\"><sound name=\"t\" source=\"t.wav\"/></ORB>");
    EXPECT_EQ(Run({"doc.xml", "held.vlt"}), 3) << out;
    EXPECT_TRUE(Contains(out,
                         "\n - Info: the package is read-only (the file or its folder has no write permission); "
                         "nothing can be stored in it.\n"))
        << out;
    EXPECT_EQ(ReadFile(d / "held.vlt"), held);
    EXPECT_EQ(Run({"--update", "doc.xml", "held.vlt"}), 1) << out;
    EXPECT_TRUE(Contains(out,
                         " - Error: could not write the VLT('held.vlt'): it is read-only (the file or its "
                         "folder has no write permission).\n"))
        << out;
    EXPECT_EQ(ReadFile(d / "held.vlt"), held);
    EXPECT_EQ(Run({"doc.xml", "foo.json"}), 1) << out;
    EXPECT_TRUE(
        Contains(out, " - Error: the output package 'foo.json' does not end in \".vlt\"; nothing was written.\n"))
        << out;
    EXPECT_FALSE(FileExists(d / "foo.json"));
    EXPECT_FALSE(FileExists(d / "foo.json.lock"));
}

pid_t Spawn(const std::string& dir, const std::vector<std::string>& args, const std::string& output) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || chdir(dir.c_str()) != 0) _exit(99);
        std::vector<char*> argv{const_cast<char*>(BUNDLEX_EXE)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(BUNDLEX_EXE, argv.data());
        _exit(98);
    }
    return pid;
}

int ExitOf(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Two imports of disjoint documents into one package both end in it (the
// second waits for the first's rename instead of overwriting it); a writer
// told not to wait fails, one that waits says so once and then succeeds.
TEST_F(Writers, ConcurrentWritersLoseNothing) {
    {
        PackageBuilder p(d / "p.vlt");
        p.Raw("first", "FILE", {1});
    }
    constexpr int kEach = 300;
    for (const char* doc : {"a", "b"}) {
        std::string text = "<ORB version=\"v1\" totalblocks=\"" + std::to_string(kEach) + "\">";
        for (int i = 0; i < kEach; ++i)
            text +=
                "<file name=\"" + std::string(doc) + std::to_string(i) + "\" source=\"x\" storemethod=\"compressed\"/>";
        Write(std::string(doc) + ".xml", text + "</ORB>");
    }
    Write("x", std::string(2000, 'x'));
    const pid_t a = Spawn(d.path(), {"a.xml", "p.vlt"}, d / "a.out");
    const pid_t b = Spawn(d.path(), {"b.xml", "p.vlt"}, d / "b.out");
    EXPECT_EQ(ExitOf(a), 0);
    EXPECT_EQ(ExitOf(b), 0);
    EXPECT_EQ(Entries(d / "p.vlt").size(), 1u + 2 * kEach);

    FileLock held;
    ASSERT_EQ(held.Acquire(d / "p.vlt", false), FileLock::kLocked);
    EXPECT_EQ(Run({"--compact", "--no-wait", "p.vlt"}), 1) << out;
    EXPECT_TRUE(Contains(out, "another run is writing it (and --no-wait was given).\n")) << out;
    const pid_t waiting = Spawn(d.path(), {"--delete", "p.vlt", "first"}, d / "w.out");
    const std::string notice = " - Waiting: another run is writing 'p.vlt'...\n";
    std::string text;
    // Bounded only against a writer that never says it waits (ten minutes).
    for (int i = 0; i < 600000 && !Contains(text, notice); ++i) {
        usleep(1000);
        const std::vector<uint8_t> bytes = ReadFile(d / "w.out");
        text.assign(bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(Contains(text, notice)) << text;
    held.Release();
    EXPECT_EQ(ExitOf(waiting), 0);
    EXPECT_EQ(Entries(d / "p.vlt").size(), 2u * kEach);
    EXPECT_FALSE(FileExists(d / "p.vlt.lock"));
}

}  // namespace
