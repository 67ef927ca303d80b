// The package manager's writer operations: AddData while updating (a block
// is kept only when its bytes and its storage mode are both the same) and
// WriteLive (live entries copied as stored, header kept, damaged packages
// refused with nothing left behind).
#include "PackageTestSupport.h"

using namespace pkgtest;

namespace {

struct UpdateCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint8_t mode;
    const char* outcome;  // "added", "replaced" or "unchanged"
};

}  // namespace

// A block of the same bytes stored another way is not the same block: an
// element whose store method changed must be replaced, not kept.
TEST_F(PackageTest, UpdatingKeepsOnlyABlockOfTheSameBytesAndMode) {
    const int id = vlt().Create(Path("p.vlt").c_str());
    ASSERT_GT(id, 0);
    std::vector<uint8_t> text = Bytes("some text, some text, some text"), noise = Noise(300);
    for (const char* name : {"same", "mode", "bytes"}) {
        BlockInfo b = Block(name, "FILE", stored, text);
        ASSERT_GT(vlt().AddData(id, &b), 0);
    }
    ASSERT_EQ(vlt().SetUpdating(id, true), 1);
    const UpdateCase cases[] = {
        {"same", text, stored, "unchanged"},
        {"mode", text, compressed, "replaced"},
        {"bytes", noise, stored, "replaced"},
        {"new", noise, crypted, "added"},
    };
    for (const UpdateCase& c : cases) {
        IStuffVLT::UpdateCounts before, after;
        vlt().GetUpdateCounts(id, &before);
        std::vector<uint8_t> bytes = c.bytes;
        BlockInfo b = Block(c.name, "FILE", c.mode, bytes);
        EXPECT_GT(vlt().AddData(id, &b), 0) << c.name;
        vlt().GetUpdateCounts(id, &after);
        const std::string outcome = after.added > before.added           ? "added"
                                    : after.replaced > before.replaced   ? "replaced"
                                    : after.unchanged > before.unchanged ? "unchanged"
                                                                         : "none";
        EXPECT_EQ(outcome, c.outcome) << c.name;
        BlockInfo loaded;
        vlt().LoadBlock(id, "FILE", c.name, &loaded);
        EXPECT_EQ(std::vector<uint8_t>(loaded.data, loaded.data + loaded.size), c.bytes) << c.name;
        EXPECT_EQ(loaded.mode, c.mode) << c.name;
        vlt().FreeBlock(&loaded);
    }
    EXPECT_EQ(vlt().CountDeleted(id), 2);  // the two replaced blocks, and only them
    EXPECT_EQ(vlt().Count(id), 6);
    vlt().Close(id);
}

// WriteLive keeps the live entries that the callback accepts, in order,
// with the header's creator and creation date; an entry whose packed size
// runs past the end of the file (a damaged descriptor) stops it, and
// nothing is left at the new path.
TEST_F(PackageTest, WriteLiveCopiesLiveEntriesAndRefusesOneThatRunsPastTheEnd) {
    const std::string path = Path("p.vlt");
    int id = vlt().Create(path.c_str());
    ASSERT_GT(id, 0);
    std::vector<uint8_t> noise = Noise(1000);
    for (const char* name : {"a", "gone", "b", "dropped", "c"}) {
        BlockInfo b = Block(name, "FILE", compressed, noise);
        ASSERT_GT(vlt().AddData(id, &b), 0);
    }
    BlockInfo gone = Block("gone", "FILE", compressed, noise);
    ASSERT_EQ(vlt().Delete(id, &gone), 1);
    const auto keep = [](void*, const BlockInfo& info) { return std::strcmp(info.name, "dropped") != 0; };
    ASSERT_EQ(vlt().WriteLive(id, Path("live.vlt").c_str(), keep, nullptr), 1);
    vlt().Close(id);
    std::vector<std::string> names;
    for (const auto& e : testsupport::Entries(Path("live.vlt"))) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(testsupport::Block(Path("live.vlt"), "FILE", "c"), noise);
    const std::vector<uint8_t> h1 = Header(testsupport::ReadFile(path)),
                               h2 = Header(testsupport::ReadFile(Path("live.vlt")));
    EXPECT_TRUE(std::equal(h1.begin(), h1.begin() + 61, h2.begin()));  // creator and creation date

    // The last entry's packed size made larger than the file; the manager
    // remembers the file under its path and length and does not test its
    // checksum again.
    std::vector<uint8_t> file = testsupport::ReadFile(path);
    size_t marker = file.size();
    while (marker-- > 520)
        if (std::memcmp(file.data() + marker, vlt::kMarker, vlt::kMarkerSize) == 0) break;
    StoreLE32(file.data() + marker + vlt::kMarkerSize + vlt::kPackedOffset, 4000);
    ASSERT_TRUE(testsupport::WriteFile(path, file));
    id = vlt().Open(path.c_str());
    ASSERT_GT(id, 0);
    testsupport::LogCapture log;
    EXPECT_EQ(vlt().WriteLive(id, Path("bad.vlt").c_str(), nullptr, nullptr), 0);
    EXPECT_TRUE(
        testsupport::Contains(log.Take(), "Error: an entry runs into the next one or past the end of the VLT."));
    EXPECT_FALSE(testsupport::FileExists(Path("bad.vlt")));
    vlt().Close(id);
}
