// ImportDocument through the real executable: documents and payload files
// are written here, imported by bundlex, and the package is read back.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "PackageStage.h"
#include "Support.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

namespace fs = std::filesystem;
using testsupport::FileExists;
using testsupport::RunBundlex;

namespace {

class Import : public ::testing::Test {
protected:
    testsupport::SdkSession sdk;
    testsupport::TempDir dir;
    std::string out;

    int Run(const std::vector<std::string>& args) { return RunBundlex(args, out, dir.path()); }
    void Doc(const std::string& body,
             const std::string& root = "<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"1\">") {
        const std::string text = "<?xml version=\"1.0\" ?>\n" + root + "\n" + body + "\n</ORB>\n";
        ASSERT_TRUE(testsupport::WriteFile(dir / "doc.xml", std::vector<uint8_t>(text.begin(), text.end())));
    }
    void Png(const std::string& file, SDL_Surface* s) {
        EXPECT_EQ(g_pImage->SavePNG((dir / file).c_str(), s, -1), 0);
        SDL_FreeSurface(s);
    }
    void Bmp(const std::string& file, SDL_Surface* s) {
        EXPECT_EQ(g_pImage->SaveBMP((dir / file).c_str(), s), 1);
        SDL_FreeSurface(s);
    }
    // Every file in the temporary directory, for leftovers.
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Import, EarlyFailuresHaveTheirOwnErrors) {
    EXPECT_EQ(Run({"missing.xml", "p.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: could not open the given XML.\n"), std::string::npos) << out;

    const std::string other = "<?xml version=\"1.0\" ?><BRO version=\"v1\"/>";
    testsupport::WriteFile(dir / "doc.xml", std::vector<uint8_t>(other.begin(), other.end()));
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 1);
    EXPECT_NE(out.find(" - Error parsing the XML, is it a ORB file?\n"), std::string::npos) << out;

    Doc("", "<ORB version=\"v2\">");
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 1);
    EXPECT_NE(out.find(" - Only ORBv1 format is supported.\n"), std::string::npos) << out;
    EXPECT_FALSE(FileExists(dir / "p.vlt"));
}

// Hundreds of thousands of nested elements would overflow the stack inside
// the XML library's recursive parser; such a document is refused first.
TEST_F(Import, DeeplyNestedDocumentIsRefusedWithoutCrashing) {
    std::string text = "<?xml version=\"1.0\"?><ORB version=\"v1\" source=\"x.vlt\">";
    for (int i = 0; i < 300000; ++i) text += "<a>";
    testsupport::WriteFile(dir / "doc.xml", std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: could not open the given XML.\n"), std::string::npos) << out;
    EXPECT_FALSE(FileExists(dir / "p.vlt"));
}

TEST_F(Import, NoOutputPathAndNoSourceIsAClearError) {
    Doc("<image name=\"a\"/>", "<ORB version=\"v1\" totalblocks=\"1\">");
    EXPECT_EQ(Run({"doc.xml"}), 1);
    EXPECT_NE(out.find(" - Error: no output VLT was given and the XML does not name its 'source' VLT.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Files(), std::vector<std::string>{"doc.xml"});
}

TEST_F(Import, EmptyOutputPathOrSourceIsAPackageThatCannotBeCreated) {
    Doc("<image name=\"a\"/>", "<ORB version=\"v1\" totalblocks=\"1\">");
    EXPECT_EQ(Run({"doc.xml", ""}), 1);
    EXPECT_NE(out.find(" - Processing blocks...\n - Error: could not open/create the desired VLT('').\n"
                       "\n - Error! the XML was not imported.\n"),
              std::string::npos)
        << out;

    Doc("<image name=\"a\"/>", "<ORB version=\"v1\" source=\"\" totalblocks=\"1\">");
    EXPECT_EQ(Run({"doc.xml"}), 1);
    EXPECT_NE(out.find(" - Error: could not open/create the desired VLT('').\n"), std::string::npos) << out;
    EXPECT_EQ(Files(), std::vector<std::string>{"doc.xml"});
}

TEST_F(Import, WithoutOutputPathTheRootSourceNamesThePackage) {
    Png("a.png", testsupport::Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"a.png\" alphablending=\"per-pixel\"/>");
    ASSERT_EQ(Run({"doc.xml"}), 0) << out;
    EXPECT_NE(out.find(" - Trying to generate 'src.vlt' with 1 blocks\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" - 1/1: IMG 1 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"), std::string::npos);
    EXPECT_TRUE(testsupport::HasBlock(dir / "src.vlt", "IMG", "a"));
}

// An element whose block exists replaces it for images and the other
// graphic kinds; sounds, music and raw files are never replaced.
TEST_F(Import, ExistingPackageGetsImagesReplacedButSoundsRefused) {
    const std::string wav = testsupport::SourceDir() + "/examples/demo/snd_chime.WAV";
    {
        testsupport::PackageBuilder b(dir / "p.vlt");
        b.Image("pic", testsupport::Rgb(4, 4, 1));
        ASSERT_GT(g_pSoundFX->SoundImport(b.id(), "snd", wav.c_str()), 0);
        b.Raw("keep", "FILE", {9, 9});
    }
    const std::vector<uint8_t> before = testsupport::Block(dir / "p.vlt", "IMG", "pic");
    Bmp("pic.bmp", testsupport::Rgb(4, 4, 200));
    Doc("<image name=\"pic\" source=\"pic.bmp\" alphablending=\"per-surface\" alphamod=\"255\" colorkey=\"-1\"/>"
        "<sound name=\"snd\" source=\"" +
        wav + "\"/>");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: problem found importing 'snd' sound.\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("importing 'pic'"), std::string::npos) << out;
    const std::vector<uint8_t> after = testsupport::Block(dir / "p.vlt", "IMG", "pic");
    ASSERT_FALSE(after.empty());
    EXPECT_NE(after, before);
    EXPECT_EQ(testsupport::Block(dir / "p.vlt", "FILE", "keep"), (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(Files(), (std::vector<std::string>{"doc.xml", "p.vlt", "pic.bmp"}));  // no working file left
}

TEST_F(Import, CommentsAndUnknownTagsStoreNothingButStillShowProgress) {
    Doc("<!-- a comment --><picture name=\"x\"/><spr name=\"y\"/><imag/>",
        "<ORB version=\"v1\" source=\"src.vlt\" totalblocks=\"2\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(testsupport::Count(out, " - 0/2: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"), 1)
        << out;
    EXPECT_NE(out.find("\n - WARNING: existing XML blocks(2) does not match with imported ones(0).\n"),
              std::string::npos);
    EXPECT_EQ(testsupport::Count(out, "problem found"), 0);
    EXPECT_TRUE(testsupport::Entries(dir / "p.vlt").empty());
}

TEST_F(Import, ElementWithoutNameIsNamedNoNameAttributeInItsWarning) {
    Png("a.png", testsupport::Rgba(4, 4, 1));
    Doc("<imagery source=\"a.png\" alphablending=\"per-pixel\"/>");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: problem found importing 'no name attribute' image.\n"), std::string::npos) << out;
}

TEST_F(Import, PayloadThatCannotBeReadFailsOnlyThatElement) {
    Png("b.png", testsupport::Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"nowhere.png\" alphablending=\"per-pixel\"/>"
        "<tile name=\"t\" source=\"nowhere.bmp\" alphablending=\"per-pSurface\" alphamod=\"255\" colorkey=\"-1\" "
        "xposition=\"0\" yposition=\"0\" tileset=\"disabled\"/>"
        "<font name=\"f\" source=\"nowhere.bmp\" alphablending=\"per-surface\" alphamod=\"255\" kerning=\"0\"/>"
        "<file name=\"r\" source=\"nowhere\" storemethod=\"raw\"/>"
        "<music name=\"m\" source=\"nowhere.ogg\"/>"
        "<image name=\"b\" source=\"b.png\" alphablending=\"per-pixel\"/>",
        "<ORB version=\"v1\" totalblocks=\"6\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    for (const char* w : {"'a' image", "'t' tile", "'f' font", "'r' file", "'m' music"})
        EXPECT_NE(out.find(std::string("problem found importing ") + w), std::string::npos) << w << out;
    EXPECT_NE(out.find("existing XML blocks(6) does not match with imported ones(1)."), std::string::npos);
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "b"));
}

TEST_F(Import, PayloadThatIsNotARegularFileFailsItsElementInsteadOfWaiting) {
    // A FIFO with no writer would block the import forever; a directory is no payload either.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.png");
    Doc("<file name=\"r\" source=\"pipe\" storemethod=\"raw\"/>"
        "<sound name=\"s\" source=\"pipe\"/>"
        "<image name=\"a\" source=\"folder.png\" alphablending=\"per-pixel\"/>",
        "<ORB version=\"v1\" totalblocks=\"3\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    for (const char* w : {"'r' file", "'s' sound", "'a' image"})
        EXPECT_NE(out.find(std::string("problem found importing ") + w), std::string::npos) << w << out;
}

TEST_F(Import, NamesLongerThanABlockNameFailInsteadOfBeingStoredAsTemp) {
    Png("a.png", testsupport::Rgba(4, 4, 1));
    const std::string longName(32, 'n');
    Doc("<tile name=\"" + longName +
        "\" source=\"a.png\" alphablending=\"per-pixel\" xposition=\"0\" "
        "yposition=\"0\" tileset=\"disabled\"/>");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("problem found importing '" + longName + "' tile."), std::string::npos) << out;
    EXPECT_TRUE(testsupport::Entries(dir / "p.vlt").empty());
}

TEST_F(Import, EmptyRawFileIsCountedAsStoredNotWarnedAsFailed) {
    // Kept raw or crypted, an empty file packs to 0 bytes, and AddData's
    // answer is then the same 0 that stands for a failure.
    ASSERT_TRUE(testsupport::WriteFile(dir / "empty", {}));
    Doc("<file name=\"r\" source=\"empty\" storemethod=\"raw\"/>"
        "<file name=\"k\" source=\"empty\" storemethod=\"crypted\"/>"
        "<file name=\"c\" source=\"empty\" storemethod=\"compressed\"/>",
        "<ORB version=\"v1\" totalblocks=\"3\">");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_NE(out.find(" - 3/3: IMG 0 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 3 - GUI 0\r"), std::string::npos)
        << out;
    for (const char* name : {"r", "k", "c"}) EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "FILE", name)) << name;

    // A second import meets the blocks and refuses them: they were stored.
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(testsupport::Count(out, "problem found importing"), 3) << out;
}

class ImportSprite : public Import {
protected:
    // A 2 x 2 sheet of 32 x 32 frames: two rows, two frames each.
    void SetUp() override { Png("s.png", testsupport::Rgba(64, 64, 5)); }
    static std::string Anim(int id, int frames, int children, int type = 2) {
        std::string a = "<animation id=\"" + std::to_string(id) + "\" type=\"" + std::to_string(type) +
                        "\" status=\"0\" frames=\"" + std::to_string(frames) +
                        "\" hotx=\"0\" hoty=\"0\" starframe=\"0\" endframe=\"1\">";
        for (int f = 0; f < children; ++f)
            a += "<frame id=\"" + std::to_string(f) + "\" ms=\"" + std::to_string(50 + f) + "\"/>";
        return a + "</animation>";
    }
    void Sprite(const std::string& inner, const std::string& offsets = "xoffset=\"32\" yoffset=\"32\"") {
        Doc("<sprite name=\"s\" source=\"s.png\" alphablending=\"per-pixel\" " + offsets + ">" + inner +
                "</sprite><image name=\"after\" source=\"s.png\" alphablending=\"per-pixel\"/>",
            "<ORB version=\"v1\" totalblocks=\"2\">");
    }
};

TEST_F(ImportSprite, ExactlyOneAnimationPerRowIsRequired) {
    Sprite(Anim(0, 2, 2) + Anim(1, 2, 2) + Anim(2, 2, 2));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: parsed '3' animations from a total of '2'."
                       "\n - WARNING: problem found importing 's' sprite.\n"),
              std::string::npos)
        << out;
    // The walk went back up: the element after the sprite is still imported.
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "after"));
}

TEST_F(ImportSprite, FewerFramesThanDeclaredFailAndMoreAreIgnored) {
    Sprite(Anim(0, 3, 2) + Anim(1, 2, 2));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: idAnim '0': parsed '2' frames from a total of '3'."), std::string::npos) << out;
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "after"));

    Sprite(Anim(0, 2, 3) + Anim(1, 2, 0));
    ASSERT_EQ(Run({"doc.xml", "q.vlt"}), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_TRUE(testsupport::HasBlock(dir / "q.vlt", "SPR2", "s"));
}

TEST_F(ImportSprite, AnimationIdAndTypeOutOfRangeAreNamed) {
    Sprite(Anim(0, 2, 2) + Anim(5, 2, 2));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: idAnim '5' is out of range [0,2]."), std::string::npos) << out;
    Sprite(Anim(0, 2, 2) + Anim(1, 2, 2, 3));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("\n - WARNING: type '3' is unknown."), std::string::npos) << out;
    Sprite(Anim(0, 2, 2) + Anim(2, 2, 2));  // id equal to the row count passes the range check
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(out.find("out of range"), std::string::npos) << out;
}

TEST_F(ImportSprite, FrameSizeOfZeroFailsTheSpriteWithoutAnyDivision) {
    Sprite(Anim(0, 2, 2), "xoffset=\"32\" yoffset=\"0\"");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("problem found importing 's' sprite."), std::string::npos) << out;
    Sprite(Anim(0, 2, 2), "xoffset=\"0\" yoffset=\"32\"");
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_NE(out.find("problem found importing 's' sprite."), std::string::npos) << out;
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "after"));
}

// A package that does not open is left exactly as it was, and no working
// file stays behind.
TEST_F(Import, DamagedTargetPackageIsLeftUntouched) {
    const std::vector<uint8_t> junk(300, 0x5A);
    testsupport::WriteFile(dir / "p.vlt", junk);
    Png("a.png", testsupport::Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"a.png\" alphablending=\"per-pixel\"/>");
    EXPECT_EQ(Run({"doc.xml", "p.vlt"}), 1);
    EXPECT_NE(out.find(" - Error: could not open/create the desired VLT('p.vlt').\n"), std::string::npos) << out;
    EXPECT_EQ(testsupport::ReadFile(dir / "p.vlt"), junk);
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.png", "doc.xml", "p.vlt"}));
}

// An import that stops before its end (here: abandoned) leaves the target as
// it was: every change goes to the working copy.
TEST_F(Import, AbandonedStageLeavesTheTargetAsItWas) {
    {
        testsupport::PackageBuilder b(dir / "p.vlt");
        b.Raw("keep", "FILE", {1});
    }
    const std::vector<uint8_t> before = testsupport::ReadFile(dir / "p.vlt");
    {
        PackageStage stage;
        const int id = stage.Begin(dir / "p.vlt");
        ASSERT_GT(id, 0);
        EXPECT_NE(stage.WorkPath(), dir / "p.vlt");
        BlockInfo info{};
        std::snprintf(info.name, sizeof info.name, "new");
        std::snprintf(info.type, sizeof info.type, "FILE");
        uint8_t byte = 7;
        info.size = 1;
        info.data = &byte;
        EXPECT_GT(g_pStuffVLT->AddData(id, &info), 0);
        BlockInfo del{};
        std::snprintf(del.name, sizeof del.name, "keep");
        std::snprintf(del.type, sizeof del.type, "FILE");
        EXPECT_NE(g_pStuffVLT->Delete(id, &del), 0);
    }  // not committed
    EXPECT_EQ(testsupport::ReadFile(dir / "p.vlt"), before);
    EXPECT_EQ(Files(), std::vector<std::string>{"p.vlt"});

    PackageStage stage;
    ASSERT_GT(stage.Begin(dir / "p.vlt"), 0);
    ASSERT_TRUE(stage.Commit());
    EXPECT_EQ(testsupport::Block(dir / "p.vlt", "FILE", "keep"), std::vector<uint8_t>{1});
    EXPECT_EQ(Files(), std::vector<std::string>{"p.vlt"});
}

// A target that is no regular file is one that cannot be opened, not one
// whose copy waits for a writer.
TEST_F(Import, TargetThatIsAFifoOrDirectoryIsAnErrorNotAHang) {
    ASSERT_EQ(mkfifo((dir / "fifo.vlt").c_str(), 0600), 0);
    fs::create_directory(dir / "dir.vlt");
    Png("a.png", testsupport::Rgba(4, 4, 1));
    Doc("<image name=\"a\" source=\"a.png\" alphablending=\"per-pixel\"/>");
    for (const char* target : {"fifo.vlt", "dir.vlt"}) {
        EXPECT_EQ(Run({"doc.xml", target}), 1) << target;
        EXPECT_NE(out.find(" - Error: could not open/create the desired VLT('" + std::string(target) + "').\n"),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.png", "dir.vlt", "doc.xml", "fifo.vlt"}));
}

// An import killed by a signal removes its working file on the way out; one
// that left it anyway (killed outright) has it removed by the next import
// into the same package, once its process is gone.
TEST_F(Import, CrashedImportLeavesNoWorkingFileBehind) {
    {
        testsupport::PackageBuilder b(dir / "p.vlt");
        b.Raw("keep", "FILE", {1});
    }
    const std::vector<uint8_t> before = testsupport::ReadFile(dir / "p.vlt");
    for (int sig : {SIGSEGV, SIGTERM}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            PackageStage stage;
            if (stage.Begin(dir / "p.vlt") < 1) _exit(2);
            raise(sig);
            _exit(3);  // the signal must end the process
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_FALSE(WIFEXITED(status) && (WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 3)) << sig;
        EXPECT_EQ(Files(), std::vector<std::string>{"p.vlt"}) << sig;
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "p.vlt"), before);

    // Working files of a process that is gone, of one that lives (1), and of
    // another package.
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string dead = std::to_string(gone);
    const std::vector<std::string> stale = {"p.vlt.importing-" + dead + ".vlt", "p.vlt.importing-" + dead + "-2.vlt"};
    const std::vector<std::string> kept = {"p.vlt.importing-1.vlt", "p.vlt.importing-" + dead + "_v3.vlt",
                                           "q.vlt.importing-" + dead + ".vlt"};
    for (const auto& n : stale) testsupport::WriteFile(dir / n, before);
    for (const auto& n : kept) testsupport::WriteFile(dir / n, before);
    PackageStage stage;
    ASSERT_GT(stage.Begin(dir / "p.vlt"), 0);
    ASSERT_TRUE(stage.Commit());
    std::vector<std::string> expected = kept;
    expected.push_back("p.vlt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(), expected);
}

}  // namespace

namespace {

class ImportWidget : public Import {
protected:
    void SetUp() override {
        for (const char* s : {"n", "s", "p", "o"}) Png(std::string("w_") + s + ".png", testsupport::Rgba(8, 4, s[0]));
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

TEST_F(ImportWidget, ButtonBecomesComplexOnlyWithAHoveredImage) {
    Panel(Widget(Three()));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(out.find("problem found"), std::string::npos) << out;
    EXPECT_NE(out.find(" - 5/0: IMG 1 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 1\r"), std::string::npos)
        << out;
    auto but = testsupport::Block(dir / "p.vlt", "BUT", "w");
    ASSERT_EQ(but.size(), 24u);
    EXPECT_EQ(but[6], 1);
    EXPECT_EQ(but[12] | but[13] << 8, 65535);  // low 16 bits of the position
    EXPECT_EQ(but[16] | but[17] << 8, 0xFFFE);

    Panel(Widget(Image("normal", "w_n.png") + Image("hovered", "w_s.png") + Image("pressed", "w_p.png") +
                 Image("deactivated", "w_o.png")));
    ASSERT_EQ(Run({"doc.xml", "q.vlt"}), 0) << out;
    but = testsupport::Block(dir / "q.vlt", "BUT", "w");
    ASSERT_EQ(but.size(), 24u);
    EXPECT_EQ(but[6], 4);
    EXPECT_TRUE(testsupport::HasBlock(dir / "q.vlt", "TILB2", "w_s"));
}

// The state images go in first and stay, counted, when the widget's own
// store then fails.
TEST_F(ImportWidget, WidgetRefusedAfterItsImagesKeepsTheImagesCounted) {
    Panel(Widget(Three(), "button", 400));  // a key beyond the last key code
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    // -6: the widget class's code for a key beyond the last key code.
    EXPECT_NE(out.find("\n - WARNING: widget could not be saved (ErrCode '-6')."
                       "\n - WARNING: problem found importing 'default' panel, widget 'w'.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(" - 4/0: IMG 1 - TIL 0 - SPR 0 - FNT 0 - MUS 0 - SND 0 - FIL 0 - GUI 0\r"), std::string::npos)
        << out;
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "TILB2", "w_o"));
    EXPECT_FALSE(testsupport::HasBlock(dir / "p.vlt", "BUT", "w"));
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "after"));  // the walk came back up
}

TEST_F(ImportWidget, MissingPressedImageShowsTheCodeForIt) {
    Panel(Widget(Image("normal", "w_n.png") + Image("deactivated", "w_o.png")));
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    // -3: the widget class's code for a missing pressed image.
    EXPECT_NE(out.find("(ErrCode '-3')"), std::string::npos) << out;
    EXPECT_NE(out.find(" - 3/0:"), std::string::npos) << out;
}

TEST_F(ImportWidget, MalformedWidgetsAreNamedAndSkipped) {
    Panel(Widget(Three(), "dial") +                                            // unknown kind
          Widget(Three(), "button", 13, "gadget") +                            // not a widget
          Widget("<picture state=\"normal\"/>") +                              // not an image
          Widget("<image source=\"w_n.png\" alphablending=\"per-pixel\"/>") +  // no state
          Widget(Image("normal", "nowhere.png")));                             // unreadable state image
    ASSERT_EQ(Run({"doc.xml", "p.vlt"}), 0) << out;
    EXPECT_EQ(testsupport::Count(out, "problem found importing 'default' panel, widget 'w'."), 4) << out;
    EXPECT_NE(out.find("\n - WARNING: no 'widget' tag found.\n - WARNING: problem found importing 'default' panel, "
                       "widget 'gadget'.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n - WARNING: no 'image' tag found."), std::string::npos);
    EXPECT_NE(out.find("\n - WARNING: no 'state' attribute found."), std::string::npos);
    EXPECT_NE(out.find("\n - WARNING: could not load 'normal' state."), std::string::npos);
    EXPECT_FALSE(testsupport::HasBlock(dir / "p.vlt", "BUT", "w"));
    EXPECT_TRUE(testsupport::HasBlock(dir / "p.vlt", "IMG", "after"));
}

}  // namespace

namespace {

// A 3.0 package is rebuilt as 4.0 when opened, keeping the original as
// <name>_v3.vlt. The import opens a copy, so the copy is what gets rebuilt;
// the original must still end up under the target's own backup name, with
// nothing else left beside it.
TEST_F(Import, VersionThreeTargetIsUpgradedWithItsBackupUnderItsOwnName) {
    // Header (the version text, the rest zero), then one stored block:
    // marker, name (32), type (5), mode, size, packed size, payload.
    std::string file(256, '\0');
    file.replace(0, 7, "VLTv3.0");
    std::string fields(46, '\0');
    fields.replace(0, 5, "plain");
    fields.replace(32, 4, "FILE");
    fields[37] = 1;  // stored
    fields[38] = 3;  // size 3
    fields[42] = 3;  // packed size 3
    file += ".BlockData." + fields + "abc";
    const std::vector<uint8_t> old(file.begin(), file.end());
    testsupport::WriteFile(dir / "old.vlt", old);
    testsupport::WriteFile(dir / "n.bin", {'x', 'y'});
    Doc("<file name=\"new\" source=\"n.bin\" storemethod=\"raw\"/>");
    ASSERT_EQ(Run({"doc.xml", "old.vlt"}), 0) << out;
    EXPECT_EQ(out.find("WARNING"), std::string::npos) << out;
    EXPECT_EQ(testsupport::Block(dir / "old.vlt", "FILE", "plain"), (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(testsupport::Block(dir / "old.vlt", "FILE", "new"), (std::vector<uint8_t>{'x', 'y'}));
    EXPECT_EQ(testsupport::ReadFile(dir / "old_v3.vlt"), old);
    EXPECT_EQ(Files(), (std::vector<std::string>{"doc.xml", "n.bin", "old.vlt", "old_v3.vlt"}));
}

}  // namespace
