// ExportPackage through the real executable: packages are built here with
// the SDK, exported by bundlex, and the document, payload files and console
// text are checked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <tinyxml.h>

#include "Support.h"
#include "core/Trovalis.h"
#include "resources/ISoundFX.h"

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::RunBundlex;

namespace {

class Export : public ::testing::Test {
protected:
    testsupport::SdkSession sdk;
    testsupport::TempDir dir;
    std::string out;

    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, dir.path()); }
    std::string Console() const { return testsupport::Lines(out); }
};

TEST_F(Export, OutputPathNotEndingInXmlIsRefusedInsteadOfLosingFourCharacters) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(8, 8, 1));
    }
    ASSERT_EQ(Run({"pack.vlt", "out.json"}), 1) << out;
    EXPECT_EQ(testsupport::Listing(dir.path()), (std::vector<std::string>{"pack.vlt"}));

    ASSERT_EQ(Run({"pack.vlt", "a.xml"}), 0) << out;
    EXPECT_TRUE(FileExists(dir / "a.xml"));
    EXPECT_TRUE(FileExists(dir / "a/img_logo.png"));

    ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
    EXPECT_TRUE(FileExists(dir / "pack.xml"));
    EXPECT_TRUE(FileExists(dir / "pack/img_logo.png"));
    EXPECT_NE(Console().find("\n - VLT exported successfully to a XML + gfx resources.\n"), std::string::npos);
}

TEST_F(Export, OutputPathOfFourCharactersIsRefused) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(8, 8, 1));
    }
    EXPECT_EQ(Run({"pack.vlt", "abcd"}), 1);
    EXPECT_NE(out.find(" - Error: output file requires a valid extension.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n - Error! the VLT was not exported.\n"), std::string::npos);
    EXPECT_FALSE(FileExists(dir / ".xml"));
}

TEST_F(Export, PackageNamedOnlyByItsExtensionWritesNothingAtTheFileSystemRoot) {
    {
        testsupport::PackageBuilder b(dir / ".vlt");
        b.Raw("stray", "FILE", {'x'}, 1);
    }
    EXPECT_EQ(Run({".vlt"}), 1);
    EXPECT_NE(out.find(" - Error: output file requires a valid extension.\n"), std::string::npos) << out;
    EXPECT_FALSE(FileExists("/file_stray"));
    EXPECT_FALSE(FileExists(dir / ".xml"));
}

TEST_F(Export, RawFilePayloadCreatesMissingDirectoriesAlongItsPath) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Raw("notes", "FILE", {'h', 'i'}, 1);  // the first payload written, before any image writer
        b.Image("logo", testsupport::Rgb(4, 4, 2));
    }
    ASSERT_EQ(Run({"pack.vlt", "new/dir/out.xml"}), 0) << out;
    EXPECT_EQ(testsupport::ReadFile(dir / "new/dir/out/file_notes"), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_TRUE(FileExists(dir / "new/dir/out/img_logo.bmp"));
    EXPECT_TRUE(FileExists(dir / "new/dir/out.xml"));
    EXPECT_EQ(testsupport::Count(out, "WARNING"), 0) << out;
}

TEST_F(Export, PackageOfDeletedAndUnhandledBlocksWritesNothingAndWarns) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Raw("gone", "FILE", {1, 2, 3});
        b.Raw("odd", "XYZ", {1});
        b.Raw("loose", "TILB2", {1});
        b.Delete("gone", "FILE");
    }
    ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
    EXPECT_FALSE(FileExists(dir / "pack.xml"));
    EXPECT_FALSE(FileExists(dir / "pack"));
    EXPECT_NE(out.find("\n - WARNING: existing VLT blocks(2) does not match with exported ones(0)."
                       "\n - Info: remember that button,sound,music and files blocks are not exported.\n"),
              std::string::npos)
        << out;
}

TEST_F(Export, StateImageWithoutWidgetShowsOnlyInTheMismatch) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(4, 4, 1));
        b.Tile("orphan_n", testsupport::Rgba(4, 4, 2), "TILB2");
    }
    ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
    EXPECT_NE(out.find("existing VLT blocks(2) does not match with exported ones(1)."), std::string::npos) << out;
    TiXmlDocument doc((dir / "pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    EXPECT_EQ(testsupport::Children(doc.RootElement()).size(), 1u);
    EXPECT_STREQ(doc.RootElement()->Attribute("totalblocks"), "1");
}

TEST_F(Export, WidgetWithNormalAndPressedImagesCountsThreeInStateOrder) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Tile("ok_p", testsupport::Rgba(6, 3, 1), "TILB2");
        b.WidgetRecord("ok", 2, 300, 400);
        b.Tile("ok_n", testsupport::Rgb(6, 3, 2), "TILB2");
    }
    ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_NE(out.find(" - 3/3: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 1\r"), std::string::npos)
        << out;
    TiXmlDocument doc((dir / "pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    const auto panels = testsupport::Children(doc.RootElement(), "panel");
    ASSERT_EQ(panels.size(), 1u);
    const auto widgets = testsupport::Children(panels[0]);
    ASSERT_EQ(widgets.size(), 1u);
    const auto attrs = testsupport::Attributes(widgets[0]);
    const std::vector<std::pair<std::string, std::string>> expected = {{"name", "ok"},
                                                                       {"type", "button"},
                                                                       {"id", "1"},
                                                                       {"xposition", "300"},
                                                                       {"yposition", "400"},
                                                                       {"key", "32"},
                                                                       {"selectboxRGB", "-16711936"},
                                                                       {"value", "77"},
                                                                       {"range", "-5"}};
    EXPECT_EQ(attrs, expected);
    const auto images = testsupport::Children(widgets[0]);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_STREQ(images[0]->Attribute("state"), "normal");
    EXPECT_STREQ(images[0]->Attribute("alphablending"), "per-surface");
    EXPECT_STREQ(images[1]->Attribute("state"), "pressed");
    EXPECT_STREQ(images[1]->Attribute("alphablending"), "per-pixel");
    EXPECT_STREQ(images[1]->Attribute("source"), "pack/wid_ok_pressed.png");
    EXPECT_STREQ(doc.RootElement()->Attribute("totalblocks"), "3");
}

TEST_F(Export, SpriteGetsOneAnimationPerRowAndEmptyAnimationsNoFrames) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Sprite("walker", testsupport::Rgb(64, 96, 3), 32, 32);
    }
    ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
    TiXmlDocument doc((dir / "pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    const auto sprites = testsupport::Children(doc.RootElement(), "sprite");
    ASSERT_EQ(sprites.size(), 1u);
    const auto anims = testsupport::Children(sprites[0], "animation");
    ASSERT_EQ(anims.size(), 3u);
    EXPECT_STREQ(anims[2]->Attribute("id"), "2");
    EXPECT_EQ(testsupport::Children(anims[0], "frame").size(), 2u);
}

// Loading a 1.0 tile, sprite or font upgrades it inside the package: the 2.0
// block is appended and the old one deleted. Each must still be exported
// exactly once, with exported equal to the live count and no mismatch.
TEST_F(Export, VersionOneBlocksAreUpgradedAndExportedExactlyOnce) {
    const std::string pack = dir / "old.vlt";
    {
        testsupport::PackageBuilder b(pack);
        b.Tile("t", testsupport::Rgb(8, 8, 1));
        b.Font("f", 2);
        b.Sprite("s", testsupport::Rgb(16, 16, 4), 8, 8);
    }
    // Rewrite each as its 1.0 layout.
    const std::vector<uint8_t> tile2 = testsupport::Block(pack, "TILE2", "t");
    const std::vector<uint8_t> font2 = testsupport::Block(pack, "FONT2", "f");
    const std::vector<uint8_t> spr2 = testsupport::Block(pack, "SPR2", "s");
    ASSERT_GT(tile2.size(), 64u);
    ASSERT_GT(font2.size(), 132u);
    ASSERT_GT(spr2.size(), 24u);
    std::vector<uint8_t> tile1(tile2.begin(), tile2.end() - 64);
    std::vector<uint8_t> font1(font2.begin(), font2.end() - 132);
    // SPR: header, then per animation its first 12 bytes and a u32 per frame.
    std::vector<uint8_t> spr1(spr2.begin(), spr2.begin() + 24);
    const uint32_t n = spr2[16] | spr2[17] << 8;
    size_t at = 24;
    for (uint32_t a = 0; a < n; ++a) {
        const uint16_t frames = static_cast<uint16_t>(spr2[at + 4] | spr2[at + 5] << 8);
        spr1.insert(spr1.end(), spr2.begin() + at, spr2.begin() + at + 12);
        at += 64;
        for (uint16_t f = 0; f < frames; ++f, at += 16)
            spr1.insert(spr1.end(), spr2.begin() + at, spr2.begin() + at + 4);
    }
    spr1.insert(spr1.end(), spr2.begin() + at, spr2.end());
    {
        testsupport::PackageBuilder b(dir / "v1.vlt");
        b.Raw("t", "TILE", tile1, 0);
        b.Raw("f", "FONT", font1, 0);
        b.Raw("s", "SPR", spr1, 0);
    }
    ASSERT_EQ(Run({"v1.vlt"}), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << Console();
    EXPECT_NE(out.find(" - 3/3: IMG 0 - TIL 1 - SPR 1 - FNT 1"), std::string::npos) << Console();
    EXPECT_EQ(out.find(" - 4/"), std::string::npos) << Console();
    TiXmlDocument doc((dir / "v1.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    EXPECT_EQ(testsupport::Children(doc.RootElement()).size(), 3u);
    EXPECT_STREQ(doc.RootElement()->Attribute("totalblocks"), "3");
    // The upgrade stays as it is: the input package now holds 2.0 blocks.
    EXPECT_TRUE(testsupport::HasBlock(dir / "v1.vlt", "TILE2", "t"));
    EXPECT_TRUE(testsupport::HasBlock(dir / "v1.vlt", "FONT2", "f"));
    EXPECT_TRUE(testsupport::HasBlock(dir / "v1.vlt", "SPR2", "s"));
}

// Block names come from the package: nothing they say may place a file
// outside the document's own path and its payload directory.
TEST_F(Export, HostileBlockNamesLeaveNothingOutsideThePayloadDirectory) {
    const std::string work = dir / "work";
    fs::create_directories(work);
    // An absolute name (a block name holds at most 31 characters).
    const std::string abs = "/tmp/bx-abs-" + std::to_string(::getpid());
    const std::vector<std::string> names = {
        "../escape",        "../../escape2", abs, "a\\..\\b", "..", "1234567890123456789012345678901",
        "\x1b]0;title\x07", "x/y/z"};
    {
        testsupport::PackageBuilder b(work + "/pack.vlt");
        for (const auto& n : names) b.Raw(n.c_str(), "FILE", {'!'});
        b.Image("../img", testsupport::Rgba(4, 4, 1));
    }
    ASSERT_EQ(RunBundlex({"pack.vlt"}, out, work), 0) << out;
    // Only the work directory in the temporary folder, and in it only the
    // package, the document and the payload directory.
    std::vector<std::string> top, inside;
    for (const auto& e : fs::directory_iterator(dir.path())) top.push_back(e.path().filename().string());
    EXPECT_EQ(top, std::vector<std::string>{"work"});
    EXPECT_FALSE(FileExists(abs));
    EXPECT_FALSE(FileExists(abs + ".png"));
    for (const auto& e : fs::directory_iterator(work)) inside.push_back(e.path().filename().string());
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(inside, (std::vector<std::string>{"pack", "pack.vlt", "pack.xml"}));
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(work + "/pack")) {
        EXPECT_TRUE(e.is_regular_file()) << e.path();
        ++files;
    }
    EXPECT_EQ(files, names.size() + 1);
    EXPECT_EQ(out.find("\x1b"), std::string::npos);  // nothing drives the terminal
    // The names travel unchanged in the document.
    TiXmlDocument doc((work + "/pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    std::vector<std::string> got;
    for (const TiXmlElement* e : testsupport::Children(doc.RootElement(), "file")) got.push_back(e->Attribute("name"));
    EXPECT_EQ(got, names);
}

TEST_F(Export, ResourceThatDoesNotLoadIsWarnedAndNotCounted) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Raw("broken", "IMG", std::vector<uint8_t>(30, 0xEE), 0);
        b.Image("fine", testsupport::Rgba(4, 4, 1));
    }
    ASSERT_EQ(Run({"pack.vlt"}), 3) << out;
    EXPECT_NE(out.find("\n - WARNING: problem found exporting 'broken' image.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("existing VLT blocks(2) does not match with exported ones(1)."), std::string::npos) << out;
    TiXmlDocument doc((dir / "pack.xml").c_str());
    ASSERT_TRUE(doc.LoadFile());
    ASSERT_EQ(testsupport::Children(doc.RootElement()).size(), 1u);
    EXPECT_STREQ(testsupport::Children(doc.RootElement())[0]->Attribute("name"), "fine");
}

TEST_F(Export, PayloadThatCannotBeWrittenIsWarnedAndLeavesNoElement) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(4, 4, 1));
        b.Raw("data", "FILE", {1, 2});
    }
    // Directories where the payload files would go: neither can be written.
    fs::create_directories(dir / "pack/img_logo.png");
    fs::create_directories(dir / "pack/file_data");
    ASSERT_EQ(Run({"pack.vlt"}), 3) << out;
    EXPECT_NE(out.find("problem found exporting 'logo' image."), std::string::npos) << out;
    EXPECT_NE(out.find("problem found exporting 'data' file."), std::string::npos) << out;
    EXPECT_NE(out.find("existing VLT blocks(2) does not match with exported ones(0)."), std::string::npos) << out;
    EXPECT_FALSE(FileExists(dir / "pack.xml"));
}

TEST_F(Export, DocumentThatCannotBeSavedFailsTheExport) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(4, 4, 1));
    }
    fs::create_directories(dir / "pack.xml");  // the document's own path is taken
    EXPECT_EQ(Run({"pack.vlt"}), 1);
    EXPECT_NE(out.find("\n - Error: could not save the output XML('pack.xml').\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n - Error! the VLT was not exported.\n"), std::string::npos);
}

// In a shared folder anyone can put a link (or a second hard link, or a
// FIFO) where someone else's export will write: the export writes each
// payload and the document as a new regular file of its own and never
// reaches the file the planted name pointed at, nor creates one there.
TEST_F(Export, NamesPlantedAtPayloadPathsAreReplacedNotWrittenThrough) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(4, 4, 1));  // PNG
        b.Image("back", testsupport::Rgb(4, 4, 2));   // BMP
        b.Raw("readme", "FILE", {'o', 'k'});
        b.Raw("config", "FILE", {'o', 'k'});
        b.Raw("notes", "FILE", {'o', 'k'});
        const std::string wav = testsupport::SourceDir() + "/examples/demo/snd_chime.WAV";
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
            ASSERT_TRUE(testsupport::WriteFile(target, victim));
        }
        if (c.plant == Link || c.plant == DanglingLink) fs::create_symlink(target, dir / c.payload);
        if (c.plant == HardLink) fs::create_hard_link(target, dir / c.payload);
        if (c.plant == Fifo) {
            ASSERT_EQ(mkfifo((dir / c.payload).c_str(), 0600), 0);
        }

        ASSERT_EQ(Run({"pack.vlt"}), 0) << out;
        EXPECT_EQ(out.find("WARNING: problem found"), std::string::npos) << out;
        if (c.plant == DanglingLink || c.plant == Fifo)
            EXPECT_FALSE(FileExists(target));
        else
            EXPECT_EQ(testsupport::ReadFile(target), victim);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / c.payload)));
        EXPECT_EQ(fs::hard_link_count(dir / c.payload), 1u);
        EXPECT_GT(fs::file_size(dir / c.payload), 0u);
    }
}

// The payload folder itself may be such a link: nothing is written through it.
TEST_F(Export, PayloadFolderThatIsALinkIsRefused) {
    {
        testsupport::PackageBuilder b(dir / "pack.vlt");
        b.Image("logo", testsupport::Rgba(4, 4, 1));
        b.Raw("readme", "FILE", {'o', 'k'});
    }
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "pack");
    EXPECT_EQ(Run({"pack.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: the payload folder 'pack' is a symbolic link; nothing is written through it.\n"
                       "\n - Error! the VLT was not exported.\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(FileExists(dir / "pack.xml"));
}

TEST_F(Export, MissingOrEmptyPackageIsReported) {
    EXPECT_EQ(Run({"none.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: could not open the given VLT.\n"), std::string::npos) << out;
    { testsupport::PackageBuilder b(dir / "empty.vlt"); }
    EXPECT_EQ(Run({"empty.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: could not access to the given VLT. Is it password protected?\n"), std::string::npos)
        << out;
}

}  // namespace
