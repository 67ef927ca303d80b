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

TEST(Lifecycle, InitCreatesTheTenInterfacesInOrderAndQuitDestroysThemInReverse) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    EXPECT_NE(g_pStuffVLT, nullptr);
    EXPECT_NE(g_pSoundFX, nullptr);
    EXPECT_NE(Trovalis.startTick, TrovalisCore::kNotStarted);
    const std::string init = cap.Take();
    const char* created[] = {" . [IStuffVLT] Interfaz created.\n",   " . [IImage] Interfaz created.\n",
                             " . [ICursor] Interfaz created.\n",     " . [IPrimitives] Interfaz created.\n",
                             " . [IButton] Interfaz created.\n",     " . [IScreenFX] Interfaz created.\n",
                             " . [ITimeSystem] Interfaz created.\n", " . [IVideo] Interfaz created.\n",
                             " . [ISoundFX] Interfaz created.\n",    "\n . Trovalis successfully initiated.\n"};
    size_t at = 0;
    for (const char* line : created) {
        const size_t found = init.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << init;
        at = found + 1;
    }
    Trovalis.Quit();
    EXPECT_EQ(g_pStuffVLT, nullptr);
    EXPECT_EQ(g_pImage, nullptr);
    const std::string quit = cap.Take();
    const char* deleted[] = {" . [ISoundFX] Interfaz deleted.\n",    " . [IVideo] Interfaz deleted.\n",
                             " . [ITimeSystem] Interfaz deleted.\n", " . [IScreenFX] Interfaz deleted.\n",
                             " . [IButton] Interfaz deleted.\n",     " . [IPrimitives] Interfaz deleted.\n",
                             " . [ICursor] Interfaz deleted.\n",     " . [IImage] Interfaz deleted.\n",
                             " . [IStuffVLT] Interfaz deleted.\n",   "\n . Trovalis successfully closed.\n\n"};
    at = 0;
    for (const char* line : deleted) {
        const size_t found = quit.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\nin:\n" << quit;
        at = found + 1;
    }
    EXPECT_EQ(quit.find("INetwork"), std::string::npos);
}

TEST(Lifecycle, SecondQuitAndSecondInitDoNotDoubleCreateOrDoubleDestroy) {
    LogCapture cap;
    ASSERT_EQ(Trovalis.Init(0), 1);
    IStuffVLT* first = g_pStuffVLT;
    cap.Take();
    // A second Init keeps the running interfaces (and their open packages).
    EXPECT_EQ(Trovalis.Init(0), 1);
    EXPECT_EQ(g_pStuffVLT, first);
    EXPECT_EQ(cap.Take().find("Interfaz created"), std::string::npos);
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
    EXPECT_NE(log.find("\n . [CTiles] Warning! your application have left 1 tiles without deleting."),
              std::string::npos);
    EXPECT_NE(log.find("\n . [CFonts] Warning! your application have left 2 fonts without deleting."),
              std::string::npos);
    EXPECT_EQ(log.find("CSprites"), std::string::npos);
    // The warnings come after SDL is shut down and before the closing notice.
    EXPECT_LT(log.find("[CFonts]"), log.find("Trovalis successfully closed"));
}

TEST(Crc32, MatchesTheStandardCheckValueAndGivesZeroForNothing) {
    EXPECT_EQ(Trovalis.CRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Trovalis.CRC32("123456789", 0), 0u);
    EXPECT_EQ(Trovalis.CRC32("123456789", -5), 0u);
}

namespace {
bool IsDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TEST(CreatePath, CreatesEveryMissingDirectoryOfAbsoluteAndDoubledPaths) {
    TempDir dir;
    Trovalis.CreatePath((dir / "out/a/b/pic.png").c_str());
    EXPECT_TRUE(IsDir(dir / "out/a/b"));
    EXPECT_FALSE(FileExists(dir / "out/a/b/pic.png"));
    Trovalis.CreatePath((dir.path() + "//x\\\\y//z.bin").c_str());
    EXPECT_TRUE(IsDir(dir / "x/y"));
}

TEST(CreatePath, RelativePathsAreMadeUnderTheWorkingDirectoryAndBareNamesDoNothing) {
    TempDir dir;
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

TEST(CreatePath, APlainFileInTheWayStopsTheDeeperDirectories) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "out", {'x'}));
    Trovalis.CreatePath((dir / "out/a/b/pic.png").c_str());
    EXPECT_FALSE(IsDir(dir / "out"));
    EXPECT_EQ(ReadFile(dir / "out").size(), 1u);
}
