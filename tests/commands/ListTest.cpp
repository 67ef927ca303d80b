// bundlex --list: the entries of a package from their descriptors, with
// names that cannot drive a terminal or break the JSON document.
#include <gtest/gtest.h>

#include "CommandsFixtures.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"

using namespace cmdtest;
using testsupport::ReadFile;
using testsupport::RunBundlex;
using testsupport::TempDir;

TEST(List, EveryEntryInPackageOrderWithModeSizesAndDeletedFlag) {
    TempDir d, scratch;
    {
        testsupport::SdkSession sdk;
        BuildEveryKind(d / "all.vlt", scratch.path());
    }
    std::string out, v;
    ASSERT_EQ(RunBundlex({"--list", "all.vlt", "--json"}, out, d.path()), 0) << out;
    EXPECT_TRUE(PythonParses(out)) << out;
    ASSERT_EQ(Jq(out, "[.entries[] | .name + \":\" + .type] | join(\",\")", v), 0) << out;
    EXPECT_EQ(v,
              "logo:IMG,backdrop:IMG,ground:TILE2,terrain:TILE2,oldtile:TILE,hero:SPR2,small:FONT2,oldfont:FONT,chime:SND,"
              "theme:MUS,readme:FILE,config:FILE,levels/one:FILE,?one:DELETED,play_n:TILB2,play_p:TILB2,"
              "play_o:TILB2,play:BUT");
    ASSERT_EQ(Jq(out, ".entries[] | select(.name == \"config\") | [.mode, .size, .packed_size, .deleted] | @csv", v), 0);
    EXPECT_EQ(v, "\"stored\",5,5,false");
    ASSERT_EQ(Jq(out, ".entries[] | select(.name == \"readme\") | [.mode, .size, (.packed_size < .size)] | @csv", v),
              0);
    EXPECT_EQ(v, "\"compressed\",300,true");
    ASSERT_EQ(Jq(out, ".entries[] | select(.type == \"DELETED\") | [.deleted, .kind, .size] | @csv", v), 0);
    EXPECT_EQ(v, "true,\"deleted\",1");
    ASSERT_EQ(Jq(out, "[.entry_count, .live, .deleted] | @csv", v), 0);
    EXPECT_EQ(v, "18,17,1");
    ASSERT_EQ(Jq(out, ".totals | map(.kind + \"=\" + (.blocks | tostring)) | join(\",\")", v), 0);
    EXPECT_EQ(v, "image=2,tile=3,state image=3,sprite=1,font=2,sound=1,music=1,widget=1,file=3,deleted=1");

    ASSERT_EQ(RunBundlex({"--list", "all.vlt"}, out, d.path()), 0);
    EXPECT_NE(out.find(" - 18 entries: 17 live, 1 deleted.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("   file                3 blocks"), std::string::npos) << out;
}

TEST(List, HostileNamesAreEscapedInTextAndJson) {
    const std::vector<std::string> names = {"quo\"te", "back\\slash", "new\nline", "esc\x1b[31mred", "bell\x07",
                                            "latin\xff", "c1\xc2\x9b", "caf\xc3\xa9"};
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "names.vlt");
        for (const std::string& n : names) p.Raw(n.c_str(), "FILE", {1}, stored);
    }
    std::string out, v;
    ASSERT_EQ(RunBundlex({"--list", "names.vlt"}, out, d.path()), 0);
    for (unsigned char c : out) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << "raw control byte " << int(c) << " in\n" << out;
        if (c < 0x20 && c != '\n') break;
    }
    for (const char* shown : {"quo\"te", "back\\\\slash", "new\\nline", "esc\\x1B[31mred", "bell\\x07", "latin\\xFF",
                              "c1\\xC2\\x9B", "caf\xc3\xa9"})
        EXPECT_NE(out.find(shown), std::string::npos) << shown << "\n" << out;

    ASSERT_EQ(RunBundlex({"--list", "--json", "names.vlt"}, out, d.path()), 0);
    EXPECT_TRUE(PythonParses(out)) << out;
    ASSERT_EQ(Jq(out, "[.entries[].name] | tojson", v), 0) << out;
    EXPECT_EQ(v, "[\"quo\\\"te\",\"back\\\\slash\",\"new\\nline\",\"esc\\u001b[31mred\",\"bell\\u0007\","
                 "\"latin\xc3\xbf\",\"c1\xc2\x9b\",\"caf\xc3\xa9\"]");
}

TEST(List, V3PackageIsRefusedAndLeftByteIdentical) {
    TempDir d;
    const auto v3 = V3Package();
    ASSERT_TRUE(testsupport::WriteFile(d / "old.vlt", v3));
    std::string out;
    EXPECT_EQ(RunBundlex({"--list", "old.vlt"}, out, d.path()), 1);
    EXPECT_NE(out.find(" - Error: cannot list 'old.vlt': it is a VLT v3.0 package"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(d / "old.vlt"), v3);
    EXPECT_EQ(Listing(d.path()), std::vector<std::string>{"old.vlt"});
}

TEST(List, EmptyPackageListsNoEntryAndSucceeds) {
    TempDir d;
    {
        testsupport::SdkSession sdk;
        Package p(d / "empty.vlt");
    }
    std::string out, v;
    EXPECT_EQ(RunBundlex({"--list", "empty.vlt"}, out, d.path()), 0);
    EXPECT_NE(out.find(" - 0 entries: 0 live, 0 deleted.\n"), std::string::npos) << out;
    EXPECT_EQ(RunBundlex({"--list", "empty.vlt", "--json"}, out, d.path()), 0);
    ASSERT_EQ(Jq(out, "[(.entries | length), .live, .ok] | @csv", v), 0) << out;
    EXPECT_EQ(v, "0,0,true");
}
