// The writers (--update, --delete, --compact, and the two-path import) through the real executable.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
TEST_F(Writers, UpdateLosesAnEdit) {
    ImportAndExportExample();
    EditPixel("e/img_logo.png", true);
    EditPixel("e/spr_hero.bmp", false);
    std::vector<uint8_t> wav = ReadFile(d / "e/snd_chime.WAV"), mod = ReadFile(d / "e/mus_theme.MOD");
    wav[wav.size() - 3] ^= 0x11;
    mod[mod.size() - 5] ^= 0x22;
    ASSERT_TRUE(WriteFile(d / "e/snd_chime.WAV", wav) && WriteFile(d / "e/mus_theme.MOD", mod));
    ASSERT_EQ(Shell("printf 'one more line' >> '" + d / "e/file_readme" + "'", out), 0);
    std::vector<std::string> order;
    for (const Entry& e : Entries(d / "p.vlt")) order.push_back(e.name + ":" + e.type);

    ASSERT_EQ(Run({"--update", "e.xml"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - Updated 'p.vlt': 0 added, 5 replaced, 23 unchanged, 0 failed.\n")) << out;
    std::vector<std::string> updated;  // every replaced block where it was
    for (const Entry& e : Entries(d / "p.vlt")) updated.push_back(e.name + ":" + e.type);
    EXPECT_EQ(updated, order);
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

// A rename and a removal in the document: the update says how many blocks
// the document no longer names and keeps them; with --prune they go, unless
// an element failed, whose block the document still means.
TEST_F(Writers, PruneKeepsBlocksTheDocumentNoLongerNames) {
    ImportAndExportExample();
    const std::vector<uint8_t> exported = ReadFile(d / "e.xml");
    std::string doc(exported.begin(), exported.end());
    doc = std::regex_replace(doc, std::regex("<file name=\"config\"[^>]*>"), "");
    doc = std::regex_replace(doc, std::regex("name=\"readme\""), "name=\"notes\"");
    Write("e.xml", doc);
    ASSERT_EQ(Run({"--update", "e.xml"}), 0) << out;
    EXPECT_TRUE(ContainsAll(out, {"1 added, 0 replaced, 26 unchanged, 0 failed.\n",
                                  " - 2 blocks of the package are not named by the document (--prune deletes "
                                  "them).\n"}))
        << out;
    EXPECT_TRUE(HasBlock(d / "p.vlt", "FILE", "config"));
    Write("bad.xml", std::regex_replace(doc, std::regex("file_levels_one[^\"]*"), "missing"));
    ASSERT_EQ(Run({"--update", "bad.xml", "--prune"}), 3) << out;
    EXPECT_TRUE(Contains(out, " - Nothing was pruned, since 1 resources failed.\n")) << out;
    EXPECT_TRUE(HasBlock(d / "p.vlt", "FILE", "config"));

    ASSERT_EQ(Run({"--update", "e.xml", "--prune"}), 0) << out;
    EXPECT_TRUE(Contains(out, " - Pruned 2 blocks that the document does not name.\n")) << out;
    EXPECT_FALSE(HasBlock(d / "p.vlt", "FILE", "config"));
    EXPECT_FALSE(HasBlock(d / "p.vlt", "FILE", "readme"));
    EXPECT_TRUE(HasBlock(d / "p.vlt", "FILE", "notes"));
    EXPECT_EQ(Entries(d / "p.vlt").size(), 27u);
}

// Delete and compact write a package that verifies, with no deleted entry, the live entries in their order.
TEST_F(Writers, CompactKeepsDeletedEntries) {
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
    EXPECT_EQ(JqOut(out, "[.deleted_blocks[].name] | sort | join(\" \")"), "play play_n play_o play_p play_s readme")
        << out;
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

// A resource left behind makes the run exit 3 and the verdict count it, and
// the line after its warning says why; when none could be stored, no package
// is written and the run exits 1, also when the package cannot be written at all; an
// output that is not a package name stops the run at once (exit 1) with
// nothing written.
TEST_F(Writers, LeftBehindResourceExitsAsSuccess) {
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
        {"<image name=\"i\" source=\"sheet.png\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"-1\"/>",
         "p.vlt",
         "\n - Info: a per-surface picture takes a BMP file; the payload file 'sheet.png' is a PNG: use alphablending "
         "\"per-pixel\" or convert it to BMP.\n"},
        {"<sound name=\"s\" source=\"t.wav\"/>", "held.vlt",
         "\n - Info: the package already holds a block of this name and type; use --update to replace it.\n"},
        {"<sprite name=\"h\" source=\"sheet.png\" alphablending=\"per-pixel\" xoffset=\"32\" yoffset=\"32\"/>", "p.vlt",
         "\n - Info: the sheet (48 x 32) does not fit frames of 32 x 32: it must be a whole number of frames"},
    };
    for (const auto& r : rows) {
        // Alone, the element leaves nothing to store: no package is made.
        Write("doc.xml", std::string("<ORB version=\"v1\" totalblocks=\"1\">") + r.element + "</ORB>");
        EXPECT_EQ(Run({"doc.xml", r.package}), 1) << out;
        EXPECT_TRUE(ContainsAll(out, {"WARNING: problem found importing", r.cause,
                                      "\n - Error! the XML was not imported: none of its 1 resources could be "
                                      "stored.\n"}));
        EXPECT_FALSE(FileExists(d / "p.vlt"));
    }
    // Beside one that is stored, the verdict counts what failed.
    Write("doc.xml", std::string("<ORB version=\"v1\" totalblocks=\"2\">") + rows[0].element +
                         "<file name=\"b\" source=\"t.wav\" storemethod=\"raw\"/></ORB>");
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 3) << out;
    EXPECT_TRUE(Contains(out, "\n - WARNING: the XML was imported into the VLT, but 1 of its 2 resources failed.\n"))
        << out;

    const std::vector<uint8_t> held = ReadFile(d / "held.vlt");
    ASSERT_EQ(chmod((d / "held.vlt").c_str(), 0444), 0);
    // A plain import tries every element, each fails for that cause; an
    // update, which rewrites the package, is refused at once.
    Write("doc.xml", "<ORB version=\"v1\" totalblocks=\"1\"><sound name=\"t\" source=\"t.wav\"/></ORB>");
    EXPECT_EQ(Run({"doc.xml", "held.vlt"}), 1) << out;
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

// Runs bundlex in dir, its standard output into the file output or, when
// given, the descriptor outFd; as the user (and group) uid when that is not 0.
pid_t Spawn(const std::string& dir, const std::vector<std::string>& args, const std::string& output, int outFd = -1,
            uid_t uid = 0) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = outFd >= 0 ? outFd : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(99);
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)) _exit(97);
        if (chdir(dir.c_str()) != 0) _exit(99);
        signal(SIGPIPE, SIG_DFL);
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

std::string TextOf(const std::string& file) {
    const std::vector<uint8_t> bytes = ReadFile(file);
    return std::string(bytes.begin(), bytes.end());
}

// A writer of another user waits for (or, told not to wait, is refused by)
// the lock of a writer that lives, and takes over the lock file that a dead
// one left, however strict that writer's umask was.
TEST_F(Writers, AnotherUsersLockFileIsSharedNotRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "acting as two users needs root";
    }
    constexpr uid_t kFirst = 4301, kSecond = 4302;
    {
        PackageBuilder p(d / "p.vlt");
        p.Raw("a", "FILE", {1});
        p.Raw("b", "FILE", {2});
    }
    ASSERT_EQ(chmod(d.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod((d / "p.vlt").c_str(), 0666), 0);
    int taken[2], done[2];
    ASSERT_EQ(pipe2(taken, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(done, O_CLOEXEC), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kFirst) != 0 || setuid(kFirst) != 0) _exit(97);
        close(taken[0]);
        close(done[1]);
        umask(077);
        FileLock lock;
        char c = 1;
        if (lock.Acquire(d / "p.vlt", false) != FileLock::kLocked || write(taken[1], &c, 1) != 1) _exit(96);
        (void)!read(done[0], &c, 1);
        _exit(0);  // dies holding it: the lock file stays, as a killed writer's does
    }
    close(taken[1]);
    close(done[0]);
    char c = 0;
    ASSERT_EQ(read(taken[0], &c, 1), 1);
    close(taken[0]);
    EXPECT_EQ(ExitOf(Spawn(d.path(), {"--delete", "--no-wait", "p.vlt", "a"}, d / "w.out", -1, kSecond)), 1);
    EXPECT_TRUE(Contains(TextOf(d / "w.out"), "another run is writing it (and --no-wait was given).\n"))
        << TextOf(d / "w.out");
    close(done[1]);
    EXPECT_EQ(ExitOf(holder), 0);
    ASSERT_TRUE(FileExists(d / "p.vlt.lock"));
    EXPECT_EQ(ExitOf(Spawn(d.path(), {"--delete", "--no-wait", "p.vlt", "a"}, d / "w.out", -1, kSecond)), 0)
        << TextOf(d / "w.out");
    EXPECT_FALSE(HasBlock(d / "p.vlt", "FILE", "a"));
    EXPECT_FALSE(FileExists(d / "p.vlt.lock"));
}

// A package named through a symbolic link is rewritten where it is, the
// link staying a link, and its writers through either name exclude each other.
TEST_F(Writers, PackageReachedThroughALinkIsWrittenWhereItIs) {
    ASSERT_EQ(mkdir((d / "real").c_str(), 0755), 0);
    {
        PackageBuilder p(d / "real/p.vlt");
        p.Raw("a", "FILE", {1});
    }
    ASSERT_EQ(symlink("real/p.vlt", (d / "l.vlt").c_str()), 0);
    Write("x", "xyz");
    Write("doc.xml", "<ORB version=\"v1\" totalblocks=\"1\"><file name=\"b\" source=\"x\" storemethod=\"raw\"/></ORB>");
    EXPECT_EQ(Run({"doc.xml", "l.vlt"}), 0) << out;
    struct stat st;
    ASSERT_EQ(lstat((d / "l.vlt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(HasBlock(d / "real/p.vlt", "FILE", "a"));
    EXPECT_TRUE(HasBlock(d / "real/p.vlt", "FILE", "b"));
    FileLock held;
    ASSERT_EQ(held.Acquire(d / "real/p.vlt", false), FileLock::kLocked);
    EXPECT_EQ(Run({"--delete", "--no-wait", "l.vlt", "a"}), 1) << out;
    EXPECT_TRUE(Contains(out, "another run is writing it (and --no-wait was given).\n")) << out;
}

// A full disk ends every writer at once with its cause, the package as it
// was and nothing of the attempt left, instead of an import that carries on
// and puts a package without the rest in place.
TEST_F(Writers, FullDiskDamagesThePackage) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a small file system needs root";
    }
    const std::string full = d / "full";
    ASSERT_EQ(mkdir(full.c_str(), 0755), 0);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=512k") != 0) {
        GTEST_SKIP() << "tmpfs: " << strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{full};
    std::string doc = "<ORB version=\"v1\" totalblocks=\"30\">";
    std::vector<uint8_t> noise(12000);
    for (int i = 0; i < 30; ++i) {
        for (size_t j = 0; j < noise.size(); ++j) noise[j] = static_cast<uint8_t>((j * 2654435761u + i) >> 13);
        ASSERT_TRUE(WriteFile(d / ("x" + std::to_string(i)), noise));
        doc += "<file name=\"n" + std::to_string(i) + "\" source=\"x" + std::to_string(i) + "\" storemethod=\"raw\"/>";
    }
    Write("doc.xml", doc + "</ORB>");
    const struct {
        std::vector<std::string> args;
        long spare;  // bytes left free beyond the package's length
    } rows[] = {
        {{"doc.xml", "full/p.vlt"}, 40000},
        {{"--update", "doc.xml", "full/p.vlt"}, 40000},
        {{"--delete", "full/p.vlt", "a0"}, -40000},
        {{"--compact", "full/p.vlt"}, -40000},
    };
    for (const auto& r : rows) {
        for (const std::string& name : Listing(full)) ASSERT_EQ(unlink((full + "/" + name).c_str()), 0);
        {
            PackageBuilder p(full + "/p.vlt");
            for (int i = 0; i < 8; ++i) p.Raw(("a" + std::to_string(i)).c_str(), "FILE", noise);
            p.Delete("a7", "FILE");
        }
        const std::vector<uint8_t> before = ReadFile(full + "/p.vlt");
        struct statvfs fsInfo;
        ASSERT_EQ(statvfs(full.c_str(), &fsInfo), 0);
        const long free = static_cast<long>(fsInfo.f_bavail * fsInfo.f_frsize);
        ASSERT_TRUE(WriteFile(full + "/fill", std::vector<uint8_t>(free - static_cast<long>(before.size()) - r.spare)));
        EXPECT_EQ(Run(r.args), 1) << r.args[0] << out;
        EXPECT_TRUE(Contains(out, "No space left on device")) << out;
        EXPECT_EQ(ReadFile(full + "/p.vlt"), before) << r.args[0];
        EXPECT_EQ(Listing(full), (std::vector<std::string>{"fill", "p.vlt"})) << r.args[0];
    }
}

// An import keeps the permission bits and the group (and, run by the
// superuser, the owner) of the package it replaces.
TEST_F(Writers, ImportResetsThePackagesPermissions) {
    {
        PackageBuilder p(d / "p.vlt");
        p.Raw("a", "FILE", {1});
    }
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod((d / "p.vlt").c_str(), 0664), 0);
    if (root) {
        ASSERT_EQ(chown((d / "p.vlt").c_str(), 4301, 4302), 0);
    }
    Write("x", "xyz");
    Write("doc.xml", "<ORB version=\"v1\" totalblocks=\"1\"><file name=\"b\" source=\"x\" storemethod=\"raw\"/></ORB>");
    const mode_t mask = umask(022);
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat((d / "p.vlt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    if (root) {
        EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(uid_t(4301), gid_t(4302)));
    }
}

// An import whose console is a pipe closed on it (as by "| head -1") ends
// without leaving its working file or lock file behind.
TEST_F(Writers, ImportIntoAClosedPipeLeavesNoWorkingFile) {
    {
        PackageBuilder p(d / "p.vlt");
        p.Raw("a", "FILE", {1});
    }
    std::string doc = "<ORB version=\"v1\" totalblocks=\"200\">";
    for (int i = 0; i < 200; ++i)  // warnings enough to fill the console's buffer during the import
        doc += "<file name=\"m" + std::to_string(i) + "\" source=\"missing\" storemethod=\"raw\"/>";
    Write("doc.xml", doc + "</ORB>");
    const std::vector<uint8_t> before = ReadFile(d / "p.vlt");
    FileLock held;
    ASSERT_EQ(held.Acquire(d / "p.vlt", false), FileLock::kLocked);
    int console[2];
    ASSERT_EQ(pipe2(console, O_CLOEXEC), 0);  // the reading end is the test's alone
    const pid_t run = Spawn(d.path(), {"doc.xml", "p.vlt"}, "", console[1]);
    close(console[1]);
    // Its first lines, up to its waiting for the lock, are read; then the pipe is closed.
    std::string text;
    char buf[512];
    for (ssize_t n; !Contains(text, "Waiting") && (n = read(console[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    close(console[0]);
    held.Release();
    int status = 0;
    ASSERT_EQ(waitpid(run, &status, 0), run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_EQ(Listing(d.path()), (std::vector<std::string>{"doc.xml", "p.vlt"}));
    EXPECT_EQ(ReadFile(d / "p.vlt"), before);
}

// A package whose name takes all of NAME_MAX is written: its lock and
// working files take shortened names.
TEST_F(Writers, PackageNamedWithNameMaxBytesIsWritten) {
    const std::string name = std::string(251, 'n') + ".vlt";
    Write("x", "xyz");
    Write("doc.xml",
          "<ORB version=\"v1\" totalblocks=\"2\"><file name=\"a\" source=\"x\" storemethod=\"raw\"/>"
          "<file name=\"b\" source=\"x\" storemethod=\"raw\"/></ORB>");
    EXPECT_EQ(Run({"doc.xml", name}), 0) << out;
    EXPECT_EQ(Run({"--delete", name, "a"}), 0) << out;
    EXPECT_TRUE(HasBlock(d / name, "FILE", "b"));
    EXPECT_FALSE(HasBlock(d / name, "FILE", "a"));
    EXPECT_EQ(Listing(d.path()), (std::vector<std::string>{"doc.xml", name, "x"}));
}

}  // namespace
