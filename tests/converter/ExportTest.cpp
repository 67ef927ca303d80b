// ExportPackage through the real executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <tinyxml.h>

#include "SafeText.h"
#include "Support.h"
#include "core/Trovalis.h"
#include "resources/ISoundFX.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

class Export : public ::testing::Test {
protected:
    SdkSession sdk;
    TempDir dir;
    std::string out;

    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, dir.path()); }
    std::string Console() const { return Lines(out); }
    // A package of one per-pixel image, "logo".
    void Logo(const std::string& package = "pack.vlt") {
        PackageBuilder b(dir / package);
        b.Image("logo", Rgba(8, 8, 1));
    }
};

TEST_F(Export, OutputPathNotEndingInXmlIsRefusedInsteadOfLosingFourCharacters) {
    Logo();
    ASSERT_EQ(Run({"pack.vlt", "out.json"}), 1) << out;
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"pack.vlt"}));
    const struct {
        std::vector<std::string> args;
        std::string base;
    } cases[] = {{{"pack.vlt", "a.xml"}, "a"}, {{"pack.vlt"}, "pack"}};
    for (const auto& c : cases) {
        ASSERT_EQ(Run(c.args), 0) << out;
        EXPECT_TRUE(FileExists(dir / (c.base + ".xml"))) << c.base;
        EXPECT_TRUE(FileExists(dir / (c.base + "/img_logo.png"))) << c.base;
    }
    EXPECT_TRUE(Contains(Console(), "\n - VLT exported successfully to a XML + gfx resources.\n"));
}

// Nothing is left of such a path to name the document.
TEST_F(Export, OutputPathOfFourCharactersOrPackageNamedOnlyByItsExtensionIsRefused) {
    Logo();
    {
        PackageBuilder b(dir / ".vlt");
        b.Raw("stray", "FILE", {'x'}, 1);
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"pack.vlt", "abcd"}, {".vlt"}}) {
        EXPECT_EQ(Run(args), 1);
        EXPECT_TRUE(ContainsAll(
            out, {" - Error: output file requires a valid extension.\n", "\n - Error! the VLT was not exported.\n"}));
    }
    EXPECT_FALSE(FileExists("/file_stray"));
    EXPECT_FALSE(FileExists(dir / ".xml"));
}

TEST_F(Export, RawFilePayloadCreatesMissingDirectoriesAlongItsPath) {
    {
        PackageBuilder b(dir / "pack.vlt");
        b.Raw("notes", "FILE", {'h', 'i'}, 1);  // the first payload written, before any image writer
        b.Image("logo", Rgb(4, 4, 2));
    }
    ASSERT_EQ(Run({"pack.vlt", "new/dir/out.xml"}), 0) << out;
    EXPECT_EQ(ReadFile(dir / "new/dir/out/file_notes"), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_TRUE(FileExists(dir / "new/dir/out/img_logo.bmp"));
    EXPECT_TRUE(FileExists(dir / "new/dir/out.xml"));
    EXPECT_EQ(Count(out, "WARNING"), 0) << out;
}

// Loading a 1.0 tile, sprite or font upgrades it inside the package: the 2.0
// block is appended and the old one deleted. Each must still be exported
// exactly once, with exported equal to the live count and no mismatch.
TEST_F(Export, VersionOneBlockExportedTwice) {
    {
        PackageBuilder b(dir / "v1.vlt");
        b.LegacyTile("t", dir.path());
        b.LegacyFont("f", dir.path());
        SurfacePtr sheet(Rgb(16, 16, 4));
        b.Raw("s", "SPR", SpriteBytes(sheet.get(), 8, 8, {{2}, {2}}, kNoColorKey, 255, true), 0);
    }
    ASSERT_EQ(Run({"v1.vlt"}), 0) << out;
    EXPECT_FALSE(Contains(out, "WARNING")) << Console();
    EXPECT_TRUE(Contains(out, " - 3/3: IMG 0 - TIL 1 - SPR 1 - FNT 1")) << Console();
    EXPECT_FALSE(Contains(out, " - 4/")) << Console();
    TiXmlDocument doc((dir / "v1.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    EXPECT_EQ(Children(doc.RootElement()).size(), 3u);
    EXPECT_STREQ(doc.RootElement()->Attribute("totalblocks"), "3");
    // The upgrade stays as it is: the input package now holds 2.0 blocks.
    for (const auto& [type, name] : {std::pair{"TILE2", "t"}, {"FONT2", "f"}, {"SPR2", "s"}})
        EXPECT_TRUE(HasBlock(dir / "v1.vlt", type, name)) << type;
}

// Block names come from the package.
TEST_F(Export, HostileBlockNamesLeaveNothingOutsideThePayloadDirectory) {
    const std::string work = dir / "work";
    fs::create_directories(work);
    // An absolute name (a block name holds at most 31 characters).
    const std::string abs = "/tmp/bx-abs-" + std::to_string(::getpid());
    const std::vector<std::string> names = {
        "../escape",        "../../escape2", abs, "a\\..\\b", "..", "1234567890123456789012345678901",
        "\x1b]0;title\x07", "x/y/z"};
    {
        PackageBuilder b(work + "/pack.vlt");
        for (const auto& n : names) b.Raw(n.c_str(), "FILE", {'!'});
        b.Image("../img", Rgba(4, 4, 1));
    }
    ASSERT_EQ(RunBundlex({"pack.vlt"}, out, work), 0) << out;
    // Only the work directory in the temporary folder, and in it only the
    // package, the document and the payload directory.
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"work"});
    EXPECT_FALSE(FileExists(abs));
    EXPECT_FALSE(FileExists(abs + ".png"));
    EXPECT_EQ(Listing(work), (std::vector<std::string>{"pack", "pack.vlt", "pack.xml"}));
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(work + "/pack")) {
        EXPECT_TRUE(e.is_regular_file()) << e.path();
        ++files;
    }
    EXPECT_EQ(files, names.size() + 2);   // and the record of what was written
    EXPECT_FALSE(Contains(out, "\x1b"));  // nothing drives the terminal
    // The names travel in the document, escaped where XML needs it.
    TiXmlDocument doc((work + "/pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    std::vector<std::string> got;
    for (const TiXmlElement* e : Children(doc.RootElement(), "file"))
        got.push_back(NameFromDocument(e->Attribute("name")));
    EXPECT_EQ(got, names);
}

TEST_F(Export, ControlOrNonUtf8NameBreaksTheDocument) {
    const std::vector<std::string> names = {"bell\x07",      "tab\tnl\n",    "latin\xe9", "cut\xc3",
                                            "back\\x41\\\\", "\xef\xbf\xbe", "ok\xc3\xa9"};
    {
        PackageBuilder b(dir / "odd.vlt");
        for (const auto& n : names) b.Raw(n.c_str(), "FILE", {'!'});
    }
    ASSERT_EQ(Run({"odd.vlt"}), 0) << out;
    std::string lint;
    EXPECT_EQ(Shell("xmllint --noout " + dir / "odd.xml" + " 2>&1", lint), 0) << lint;
    ASSERT_EQ(Run({"odd.xml", "back.vlt"}), 0) << out;
    std::vector<std::string> got;
    for (const auto& e : Entries(dir / "back.vlt")) got.push_back(e.name);
    EXPECT_EQ(got, names);
}

// The document names the package and its payloads from its own folder, so
// that it works from any current folder.
TEST_F(Export, PathsInTheDocumentAreRelativeToItsFolder) {
    Logo();
    ASSERT_EQ(Run({"pack.vlt", "sub/out.xml"}), 0) << out;
    TiXmlDocument doc((dir / "sub/out.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    EXPECT_STREQ(doc.RootElement()->Attribute("source"), "../pack.vlt");
    EXPECT_STREQ(Children(doc.RootElement())[0]->Attribute("source"), "out/img_logo.png");
}

// What a user changed after an export (or put where it writes) is theirs:
// a second export, or an extraction, lists it and writes nothing; --force
// replaces it.
TEST_F(Export, EditedPayloadFileOverwrittenWithoutForce) {
    Logo();
    const struct {
        const char* file;
        const char* says;
    } rows[] = {{"pack/img_logo.png", "changed since it was written"},
                {"pack.xml", "changed since it was written"},
                {"pack/img_logo.png", "not written by an earlier run"}};
    const std::vector<std::vector<std::string>> commands = {{"pack.vlt"},
                                                            {"--extract", "pack.vlt", "pack.xml", "logo"}};
    for (const auto& row : rows) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(row.file) + " " + command[0]);
            fs::remove_all(dir / "pack");
            fs::remove(dir / "pack.xml");
            ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
            ASSERT_EQ(Run({"pack.vlt"}), 0) << "an unchanged export is replaced: " << out;
            if (std::string(row.says) == "not written by an earlier run") fs::remove(dir / "pack/.bundlex-manifest");
            std::vector<uint8_t> edited = ReadFile(dir / row.file);
            edited.push_back('!');
            ASSERT_TRUE(WriteFile(dir / row.file, edited));
            EXPECT_EQ(Run(command), 1) << out;
            EXPECT_TRUE(Contains(out, std::string("'") + row.file + "' (" + row.says + ")")) << out;
            EXPECT_EQ(ReadFile(dir / row.file), edited);
            std::vector<std::string> forced = command;
            forced.push_back("--force");
            EXPECT_EQ(Run(forced), 0) << out;
            EXPECT_NE(ReadFile(dir / row.file), edited);
        }
    }
}

// The folder is opened once: swapping it for a link while the export runs
// sends no payload through the link.
TEST_F(Export, PayloadFolderSwappedForALinkWhileTheExportRunsSendsNothingThroughIt) {
    {
        PackageBuilder b(dir / "pack.vlt");
        for (int i = 0; i < 2000; ++i) b.Raw(("f" + std::to_string(i)).c_str(), "FILE", {'x'});
    }
    fs::create_directories(dir / "elsewhere");
    const std::string script = "cd " + dir.path() + " && { " + BUNDLEX_EXE +
                               " pack.vlt >/dev/null & pid=$!; i=0; "
                               "while [ $i -lt 3000 ] && kill -0 $pid 2>/dev/null; do "
                               "mv pack real 2>/dev/null && { ln -s elsewhere pack; rm -f pack; mv real pack; }; "
                               "i=$((i+1)); done; wait $pid; }";
    Shell(script, out);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere")) << Listing(dir / "elsewhere").size() << " files went through";
}

// A full disk ends the export at once; what it wrote is taken back, and an
// earlier export in the same place stays as it was.
TEST_F(Export, FullDiskDamagesTheEarlierExport) {
    SmallDisk disk(dir / "small", "512k");
    if (!disk.ok()) GTEST_SKIP() << "a small disk needs root";
    const std::vector<uint8_t> block(64 * 1024, 'b');
    for (const auto& [name, count] : {std::pair{"few.vlt", 2}, {"many.vlt", 20}}) {
        PackageBuilder b(dir / name);
        for (int i = 0; i < count; ++i) b.Raw(("f" + std::to_string(i)).c_str(), "FILE", block);
    }
    ASSERT_EQ(Run({"few.vlt", "small/pack.xml"}), 0) << out;
    const auto listing = Listing(dir / "small/pack");
    const auto document = ReadFile(dir / "small/pack.xml");
    for (const char* output : {"small/pack.xml", "small/fresh.xml"}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(Run({"many.vlt", output}), 1) << out;
        EXPECT_TRUE(Contains(out, "(No space left on device)")) << out;
        EXPECT_EQ(Listing(dir / "small"), (std::vector<std::string>{"pack", "pack.xml"}));
        EXPECT_EQ(Listing(dir / "small/pack"), listing);
        EXPECT_EQ(ReadFile(dir / "small/pack.xml"), document);
        EXPECT_EQ(ReadFile(dir / "small/pack/file_f1"), block);
    }
}

// In a shared folder anyone can put a link (or a second hard link, or a FIFO) where someone else's export will write.
TEST_F(Export, PlantedPayloadPathIsWrittenThrough) {
    {
        PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", Rgba(4, 4, 1));  // PNG
        b.Image("back", Rgb(4, 4, 2));   // BMP
        b.Raw("readme", "FILE", {'o', 'k'});
        b.Raw("config", "FILE", {'o', 'k'});
        b.Raw("notes", "FILE", {'o', 'k'});
        const std::string wav = SourceDir() + "/examples/demo/snd_chime.WAV";
        ASSERT_GT(g_pSoundFX->SoundImport(b.id(), "chime", wav.c_str()), 0);
    }
    fs::create_directories(dir / "pack");
    fs::create_directories(dir / "outside");
    enum Plant { Link, DanglingLink, HardLink, Fifo };
    const struct {
        const char* payload;
        Plant plant;
    } cases[] = {{"pack/img_logo.png", Link},   {"pack/img_back.bmp", Link}, {"pack/file_readme", Link},
                 {"pack/snd_chime.WAV", Link},  {"pack.xml", Link},          {"pack/file_config", DanglingLink},
                 {"pack/file_notes", HardLink}, {"pack/img_logo.png", Fifo}};
    const std::vector<uint8_t> victim = {'v', 'i', 'c', 't', 'i', 'm'};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        fs::remove(dir / c.payload);
        const std::string target = dir / ("outside/" + fs::path(c.payload).filename().string());
        fs::remove(target);
        if (c.plant != DanglingLink && c.plant != Fifo) {
            ASSERT_TRUE(WriteFile(target, victim));
        }
        if (c.plant == Link || c.plant == DanglingLink) fs::create_symlink(target, dir / c.payload);
        if (c.plant == HardLink) fs::create_hard_link(target, dir / c.payload);
        if (c.plant == Fifo) {
            ASSERT_EQ(mkfifo((dir / c.payload).c_str(), 0600), 0);
        }

        EXPECT_EQ(Run({"pack.vlt"}), 1) << out;
        EXPECT_TRUE(Contains(out, std::string("'") + c.payload + "' (")) << out;
        if (c.plant != DanglingLink && c.plant != Fifo) {
            EXPECT_EQ(ReadFile(target), victim);
        }
        ASSERT_EQ(Run({"pack.vlt", "--force"}), 0) << out;
        EXPECT_FALSE(Contains(out, "WARNING: problem found")) << out;
        if (c.plant == DanglingLink || c.plant == Fifo)
            EXPECT_FALSE(FileExists(target));
        else
            EXPECT_EQ(ReadFile(target), victim);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / c.payload)));
        EXPECT_EQ(fs::hard_link_count(dir / c.payload), 1u);
        EXPECT_GT(fs::file_size(dir / c.payload), 0u);
    }
}

// Each of these fails the export with its error and no document.
TEST_F(Export, ExportThatCannotBeDoneFailsWithItsError) {
    Logo("taken.vlt");
    fs::create_directories(dir / "taken.xml");
    {
        PackageBuilder b(dir / "link.vlt");
        b.Image("logo", Rgba(4, 4, 1));
        b.Raw("readme", "FILE", {'o', 'k'});
    }
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "link");
    { PackageBuilder b(dir / "empty.vlt"); }
    Logo("file.vlt");
    ASSERT_TRUE(WriteFile(dir / "file", Bytes("mine")));
    const struct {
        const char* package;
        const char* message;
    } cases[] = {
        {"none.vlt", " - Error: could not open the given VLT.\n"},
        {"empty.vlt", " - Error: could not access to the given VLT. Is it password protected?\n"},
        {"taken.vlt",
         "\n - Error: could not save the output XML('taken.xml').\n\n - Error! the VLT was not exported.\n"},
        {"link.vlt",
         " - Error: the payload folder 'link' is a symbolic link; nothing is written through it.\n"
         "\n - Error! the VLT was not exported.\n"},
        {"file.vlt", " - Error: the payload folder 'file' is taken by a file that is no folder; nothing is written.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run({c.package}), 1) << c.package;
        EXPECT_TRUE(Contains(out, c.message)) << out;
    }
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(FileExists(dir / "link.xml"));
    EXPECT_FALSE(FileExists(dir / "empty.xml"));
    EXPECT_FALSE(FileExists(dir / "file.xml"));
    EXPECT_EQ(ReadFile(dir / "file"), Bytes("mine"));
}

}  // namespace
