// The rebuild of 3.0 packages as 4.0 when they are opened.
#include <filesystem>

#include "PackageTestSupport.h"
#include "package/PackageUpgrade.h"

using namespace pkgtest;
using testsupport::Contains;
using testsupport::FileExists;
using testsupport::LogCapture;
using testsupport::ReadFile;
using testsupport::WriteFile;

using testsupport::AddV3;
using testsupport::V3Header;

namespace {

// Three live blocks in every storage mode, one deleted, both marker forms.
std::vector<uint8_t> V3Package(const std::vector<uint8_t>& text) {
    auto file = V3Header();
    std::vector<uint8_t> packed;
    EXPECT_TRUE(vlt::CompressBlock(text.data(), static_cast<uint32_t>(text.size()), packed));
    auto scrambled = text;
    ScrambleBlock(scrambled.data(), scrambled.size());
    AddV3(file, true, "packed", "IMG", compressed, static_cast<uint32_t>(text.size()), packed);
    AddV3(file, false, "old", "DELE", stored, 5, Bytes("gone!"));
    AddV3(file, false, "plain", "FILE", stored, static_cast<uint32_t>(text.size()), text);
    AddV3(file, true, "mixed", "SND", crypted, static_cast<uint32_t>(text.size()), scrambled);
    return file;
}

class PackageUpgrade : public PackageTest {
protected:
    std::vector<std::string> Listing() const { return testsupport::Listing(dir_.path()); }
};

TEST_F(PackageUpgrade, BackupNameReplacesTheLastExtension) {
    // The first character is not looked at.
    for (const auto& [name, backup] : {std::pair{"data/old.pack.vlt", "data/old.pack_v3.vlt"},
                                       {"pack.vlt", "pack_v3.vlt"},
                                       {"noextension", "_v3.vlt"},
                                       {".hidden", "_v3.vlt"}})
        EXPECT_EQ(IStuffVLT::UpgradeBackupName(name), backup);
    std::filesystem::create_directory(Path("data"));
    const std::string path = Path("data/old.pack.vlt");
    WriteFile(path, V3Package(Bytes("abc")));
    const int id = vlt().Open(path.c_str());
    EXPECT_GE(id, 1);
    vlt().Close(id);
    EXPECT_TRUE(FileExists(Path("data/old.pack_v3.vlt")));
}

TEST_F(PackageUpgrade, ExistingBackupIsNeverOverwritten) {
    const std::string path = Path("pack.vlt");
    const auto old = V3Package(Bytes("abc"));
    WriteFile(path, old);
    WriteFile(Path("pack_v3.vlt"), Bytes("precious"));
    LogCapture cap;
    EXPECT_EQ(vlt().Open(path.c_str()), -1);
    EXPECT_TRUE(Contains(cap.Take(), "Error: the backup file '" + Path("pack_v3.vlt") + "' exists already.\n"));
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(ReadFile(Path("pack_v3.vlt")), Bytes("precious"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"pack.vlt", "pack_v3.vlt"}));
}

// A header without blocks becomes an empty 4.0 package.
TEST_F(PackageUpgrade, TemporaryFileTakesAnExistingName) {
    const std::string path = Path("pack.vlt");
    WriteFile(path, V3Header());
    WriteFile(Path("tmp.vlt"), Bytes("someone else's file"));
    const int id = vlt().Open(path.c_str());
    ASSERT_GE(id, 1);
    EXPECT_EQ(vlt().Count(id), 0);
    vlt().Close(id);
    EXPECT_EQ(ReadFile(path).size(), 520u);
    EXPECT_EQ(ReadFile(Path("tmp.vlt")), Bytes("someone else's file"));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"pack.vlt", "pack_v3.vlt", "tmp.vlt"}));
}

TEST_F(PackageUpgrade, DamagedFileIsChanged) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    auto good = V3Package(Bytes("some payload"));
    auto badMarker = good;
    badMarker[256 + 3] = 'X';  // the first marker
    auto cut = good;
    cut.resize(cut.size() - 3);  // the last payload ends early
    auto hugePacked = V3Header();
    AddV3(hugePacked, true, "big", "FILE", stored, 0xFFFFFFF0u, Bytes("tiny"));
    StoreLE32(hugePacked.data() + 256 + 11 + 42, 0xFFFFFFF0u);  // a packed size the file cannot hold
    auto cutMarker = V3Header();
    cutMarker.insert(cutMarker.end(), {'.', 'B', 'l'});
    const Case cases[] = {
        {"marker", badMarker, "Error: header block does not match.\n"},
        {"payload", cut, "Error: data block is corrupted.\n"},
        {"packed size", hugePacked, "Error: data block is corrupted.\n"},
        {"short marker", cutMarker, nullptr},
    };
    for (const Case& c : cases) {
        const std::string path = Path("bad.vlt");
        WriteFile(path, c.bytes);
        LogCapture cap;
        EXPECT_EQ(vlt().Open(path.c_str()), -1) << c.what;
        const std::string logged = cap.Take();
        if (c.message) {
            EXPECT_TRUE(Contains(logged, " . [IStuffVLT->Update3to4('" + path + "')] " + c.message)) << c.what;
        }
        EXPECT_TRUE(Contains(logged, "Error: it was not possible to update the given VLT from v3.0 to v4.0.\n"));
        EXPECT_EQ(ReadFile(path), c.bytes) << c.what;
        EXPECT_EQ(Listing(), std::vector<std::string>{"bad.vlt"}) << c.what;
    }
}

}  // namespace
