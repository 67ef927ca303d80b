// Start-up and shut-down of the SDK: order of the interfaces, leak warnings,
// CRC-32 and CreatePath.
#include <sys/stat.h>

#include <filesystem>

#include "Support.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"

using namespace testsupport;

namespace {
bool IsDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TEST(Lifecycle, InitCreatesTheTenInterfacesInOrderAndQuitDestroysThemInReverse) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    EXPECT_NE(g_pStuffVLT, nullptr);
    EXPECT_NE(g_pSoundFX, nullptr);
    EXPECT_NE(Trovalis.startTick, TrovalisCore::kNotStarted);
    // The package manager first: the others load from packages.
    EXPECT_TRUE(InOrder(cap.Take(), {"[IStuffVLT] Interfaz created.", "[IImage] Interfaz created.",
                                     "[ISoundFX] Interfaz created.", "Trovalis successfully initiated."}));
    Trovalis.Quit();
    EXPECT_EQ(g_pStuffVLT, nullptr);
    EXPECT_EQ(g_pImage, nullptr);
    const std::string quit = cap.Take();
    EXPECT_TRUE(InOrder(quit, {"[ISoundFX] Interfaz deleted.", "[IImage] Interfaz deleted.",
                               "[IStuffVLT] Interfaz deleted.", "Trovalis successfully closed."}));
    EXPECT_FALSE(Contains(quit, "INetwork"));
}

TEST(Lifecycle, SecondQuitAndSecondInitDoNotDoubleCreateOrDoubleDestroy) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    IStuffVLT* first = g_pStuffVLT;
    cap.Take();
    // A second Init keeps the running interfaces (and their open packages).
    EXPECT_EQ(Trovalis.Init(0), 1);
    EXPECT_EQ(g_pStuffVLT, first);
    EXPECT_FALSE(Contains(cap.Take(), "Interfaz created"));
    Trovalis.Quit();
    cap.Take();
    Trovalis.Quit();
    EXPECT_EQ(cap.Take(), "");
}

TEST(Lifecycle, QuitReportsOnlyTheLiveCountsThatAreNotZero) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    Trovalis.liveTiles += 1;
    Trovalis.liveFonts += 2;
    cap.Take();
    Trovalis.Quit();
    Trovalis.liveTiles -= 1;
    Trovalis.liveFonts -= 2;
    const std::string log = cap.Take();
    EXPECT_TRUE(InOrder(
        log, {"left 1 tiles without deleting.", "left 2 fonts without deleting.", "Trovalis successfully closed"}));
    EXPECT_FALSE(Contains(log, "CSprites"));
}

TEST(Crc32, MatchesTheStandardCheckValueAndGivesZeroForNothing) {
    EXPECT_EQ(Trovalis.CRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Trovalis.CRC32("123456789", 0), 0u);
    EXPECT_EQ(Trovalis.CRC32("123456789", -5), 0u);
}

// Absolute, doubled and relative paths get every missing directory; a bare
// name gets none, and a plain file in the way stops the deeper ones.
TEST(CreatePath, CreatesEveryMissingDirectoryAndNeverReplacesAFile) {
    TempDir dir;
    Trovalis.CreatePath((dir / "out/a/b/pic.png").c_str());
    EXPECT_TRUE(IsDir(dir / "out/a/b"));
    EXPECT_FALSE(FileExists(dir / "out/a/b/pic.png"));
    Trovalis.CreatePath((dir.path() + "//x\\\\y//z.bin").c_str());
    EXPECT_TRUE(IsDir(dir / "x/y"));
    ASSERT_TRUE(WriteFile(dir / "file", {'x'}));
    Trovalis.CreatePath((dir / "file/a/b/pic.png").c_str());
    EXPECT_EQ(ReadFile(dir / "file").size(), 1u);
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Trovalis.CreatePath("pic.png");
    Trovalis.CreatePath("rel/dir/pic.png");
    Trovalis.CreatePath("");
    Trovalis.CreatePath(nullptr);
    std::filesystem::current_path(old);
    EXPECT_TRUE(IsDir(dir / "rel/dir"));
    EXPECT_FALSE(FileExists(dir / "pic.png"));
}
