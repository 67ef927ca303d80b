// IButton: slots and layers, Remove and FreeMaster on filled slots, the
// information dump, and Save's checks with the 24-byte "BUT" block.
#include <cstring>
#include <random>
#include <tuple>

#include "ButtonSlots.h"
#include "Support.h"
#include "core/Endian.h"
#include "core/Trovalis.h"
#include "resources/Tile.h"

using namespace testsupport;

namespace {

CTile* MakeTile(int w, int h) {
    SurfacePtr s(SDL_CreateRGBSurface(0, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    CTile* t = new CTile;
    EXPECT_TRUE(t->Create(s.get(), "state"));
    return t;
}

// A working or master button with all four state images of its own.
ButtonRecord* PlaceWithImages(IButton& b, int number) {
    ButtonRecord* r = PlaceButton(b, number);
    if (!r) return nullptr;
    r->type = kButtonComplex;
    r->normal = MakeTile(4, 4);
    r->pressed = MakeTile(4, 4);
    r->off = MakeTile(4, 4);
    r->selected = MakeTile(4, 4);
    return r;
}

// The SDK started, the log captured, an interface of its own.
class ButtonSlots : public ::testing::Test {
protected:
    SdkSession sdk;
    LogCapture cap;
    IButton b;
};
using ButtonDump = ButtonSlots;

}  // namespace

TEST_F(ButtonSlots, OutOfRangeNumberIsValid) {
    EXPECT_EQ(b.GetButton(132), b.GetButton(101) + 31);  // slot 32 of layer 1
    EXPECT_EQ(b.GetButton(1), b.GetButton(32) - 31);
    EXPECT_NE(b.GetButton(732), nullptr);
    EXPECT_NE(b.GetButton(132), b.GetButton(32));
    for (int invalid : {133, 100, 200, 832, 33, 0, -1, -1000, 999, 1100, 5000})
        EXPECT_EQ(b.GetButton(invalid), nullptr) << invalid;
    // Masters exist only while used.
    EXPECT_EQ(b.GetButton(1005), nullptr);
    ButtonRecord* m = PlaceButton(b, 1005);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(b.GetButton(1005), m);
    b.FreeMaster(1005);
    EXPECT_EQ(b.GetButton(1005), nullptr);
    // SetLayer makes one layer current and the only visible one; 8 and up are ignored.
    b.SetLayer(3);
    b.SetLayer(8);
    b.SetLayer(255);
    EXPECT_EQ(b.CurrentLayer(), 3);
    for (int l = 0; l < IButton::kLayers; ++l) EXPECT_EQ(b.LayerVisible(l), l == 3) << l;
}

TEST(ButtonLifetime, ConstructionRequestsUpdateMode1ButNeverLowersMode2) {
    SdkSession sdk;
    Trovalis.updateMode = 0;
    { IButton b; }
    EXPECT_EQ(Trovalis.updateMode, 1);
    Trovalis.updateMode = 2;
    { IButton b; }
    EXPECT_EQ(Trovalis.updateMode, 2);
    Trovalis.updateMode = 1;
}

TEST_F(ButtonSlots, RemoveFreesAnotherLayerOrTwice) {
    const int tilesBefore = Trovalis.liveTiles;
    ASSERT_NE(PlaceWithImages(b, 101), nullptr);
    ASSERT_NE(PlaceWithImages(b, 132), nullptr);
    ASSERT_NE(PlaceWithImages(b, 201), nullptr);
    ButtonRecord* shared = PlaceButton(b, 105);  // the same image in three states
    shared->normal = shared->pressed = shared->off = MakeTile(2, 2);
    EXPECT_EQ(Trovalis.liveTiles, tilesBefore + 13);
    const int working = b.WorkingCount();
    cap.Take();

    b.SetLayer(1);
    b.Remove();
    EXPECT_TRUE(Contains(cap.Take(), " . [IButton->Remove()] Info: 3 buttons of layer 1 were deleted.\n"));
    const ButtonRecord* r = b.GetButton(132);  // Remove leaves slots hidden
    EXPECT_EQ(std::make_tuple(b.WorkingCount(), Trovalis.liveTiles, r->free, r->visible, r->normal == nullptr,
                              b.GetButton(201)->free),
              std::make_tuple(working - 3, tilesBefore + 4, uint8_t(1), uint8_t(0), true, uint8_t(0)));
    b.Remove();  // nothing left on layer 1
    EXPECT_TRUE(Contains(cap.Take(), "Info: 0 buttons of layer 1 were deleted.\n"));
}

TEST_F(ButtonSlots, RemovedCloneFreesTheMastersImages) {
    ButtonRecord* m = PlaceWithImages(b, 1002);
    ASSERT_NE(m, nullptr);
    const int tiles = Trovalis.liveTiles;
    ASSERT_NE(CloneButton(b, 1002, 5), nullptr);
    ASSERT_NE(CloneButton(b, 1002, 6), nullptr);
    EXPECT_EQ(std::make_tuple(m->master, b.GetButton(5)->normal), std::make_tuple(2u, m->normal));
    b.Remove();
    EXPECT_EQ(std::make_tuple(m->master, Trovalis.liveTiles, b.GetButton(5)->cloned),
              std::make_tuple(0u, tiles, uint8_t(0)));
}

TEST_F(ButtonSlots, CloneKeepsItsFreedMastersImages) {
    ASSERT_NE(PlaceWithImages(b, 1003), nullptr);
    ASSERT_NE(CloneButton(b, 1003, 7), nullptr);
    ASSERT_NE(CloneButton(b, 1003, 107), nullptr);
    cap.Take();
    b.FreeMaster(1003);
    const std::string logged = cap.Take();
    EXPECT_TRUE(
        Contains(logged, " . [IButton->FreeMaster(3)] Warning: this master button still has 2 cloned buttons!\n"));
    EXPECT_LT(logged.find("Warning"), logged.find("Info: master button deleted."));
    const ButtonRecord* c = b.GetButton(107);
    EXPECT_EQ(std::make_tuple(c->free, c->cloned, c->normal == nullptr, c->pressed == nullptr),
              std::make_tuple(uint8_t(0), uint8_t(1), true, true));
    b.SetLayer(1);
    b.Remove();  // removing a clone of a freed master touches nothing else
    EXPECT_EQ(b.GetButton(7)->free, 0);
}

// One scene with every kind of line.
TEST_F(ButtonDump, UnterminatedNameOverrunsTheDump) {
    cap.Take();
    EXPECT_EQ(b.Info(-1), 0);
    EXPECT_TRUE(Contains(cap.Take(), "\n   - Dumping Master button list: None\n\n"));
    ButtonRecord* m = PlaceButton(b, 1004);
    m->type = kButtonCheck;
    m->range = kStatePressed;  // a check button keeps its state here
    m->lastState = kStateSelected;
    m->normal = MakeTile(80, 32);  // pitch 320 x 32 rows = 10240 bytes
    for (int n : {1, 2, 3}) ASSERT_NE(CloneButton(b, 1004, n), nullptr);
    ButtonRecord* lone = PlaceButton(b, 1005);
    lone->normal = MakeTile(80, 32);  // no clones: saves nothing, never a negative amount
    lone->type = kButtonSlider;
    lone->state = kStateDisabled;
    ButtonRecord* w = PlaceButton(b, 20);
    w->type = kButtonInputBox;
    w->mouse = 7;
    std::memset(w->name, 'x', sizeof w->name);
    std::memset(w->valueText, 'v', sizeof w->valueText);
    w->pressed = MakeTile(8, 8);
    w->pressed->SetAlpha(128);
    w->off = MakeTile(8, 8);
    w->off->SetColorKey(SDL_MapRGB(w->off->GetSurface()->format, 10, 20, 30));
    ButtonRecord* odd = PlaceButton(b, 21);
    odd->type = 99;
    odd->state = 77;
    cap.Take();
    EXPECT_EQ(b.Info(-1), 2 + 5 + 3);
    EXPECT_TRUE(InOrder(
        cap.Take(), {"Masterbuttons: 2 - Cloned buttons: 3 - Total working buttons: 5",
                     "+ Cloned buttons: 3 - Saved memory: 20.0 Kbytes\n", "State: 'Pressed' - Last state: 'Selected'",
                     "+ Cloned buttons: 0 - Saved memory: 0.0 Kbytes\n", "Type: 'Slider'", "State: 'Disabled'",
                     "Total saved memory: 20.0 KBytes", "Cloned button. MasterID '1004'.\n",
                     "Button name '" + std::string(28, 'x') + "'", "Value: '" + std::string(32, 'v') + "'\n",
                     "' left middle right '", "Alpha blending: per-surface (128) - Colorkey: disabled\n",
                     "Alpha blending: disabled - Colorkey: RGB(10,20,30)\n", "Type: '(null)'", "State: '(null)'"}));
    b.Info(20);
    EXPECT_EQ(cap.Take().rfind("\n . IButton information:\n\n        # Button name 'xxx", 0), 0u);
    b.Info(1004);
    EXPECT_TRUE(Contains(cap.Take(), "MasterID '1004':"));
    b.Info(1001);  // unused master: header only
    EXPECT_EQ(cap.Take(), "\n . IButton information:\n");
    EXPECT_STREQ(IButton::GetTypeName(kButtonIcon), "Icon (deprecated)");
    for (int t : {0, 3, 5, 128, -1}) EXPECT_EQ(IButton::GetTypeName(t), nullptr) << t;
    for (int s : {0, 3, 32, -1}) EXPECT_EQ(IButton::GetStateName(s), nullptr) << s;
    b.Remove();
}

namespace {

class ButtonSave : public PackageTest {
protected:
    // Save only asks whether the state image blocks exist; any payload will do.
    void Images(const std::string& name, const char* states = "npo") {
        for (const char* s = states; *s; ++s)
            ASSERT_GT(Put("TILB2", (name + "_" + *s).c_str(), std::vector<uint8_t>(16, 1)), 0);
    }
    static ButtonRecord Record(uint8_t type) {
        ButtonRecord r;
        r.type = type;
        return r;
    }
    IButton& b = *g_pButton;
};

}  // namespace

TEST_F(ButtonSave, InvalidButtonIsStored) {
    const std::string name(24, 'w');
    Images(name);
    const ButtonRecord ok = Record(kButtonNormal);
    EXPECT_EQ(b.Save(id, nullptr, &ok), 0);
    EXPECT_EQ(b.Save(0, "w", &ok), 0);
    EXPECT_EQ(b.Save(id, "w", nullptr), 0);
    for (uint8_t type : {0, 3, 128, 255}) {
        const ButtonRecord r = Record(type);
        EXPECT_EQ(b.Save(id, name.c_str(), &r), 0) << int(type);
    }
    EXPECT_EQ(b.Save(id, std::string(25, 'w').c_str(), &ok), 0);
    EXPECT_GT(b.Save(id, name.c_str(), &ok), 0);
    Images("s");
    ButtonRecord r = Record(kButtonCheck);
    r.key = 322;
    EXPECT_EQ(b.Save(id, "s", &r), -6);
    r.key = 321;
    EXPECT_GT(b.Save(id, "s", &r), 0);
    struct Case {
        int16_t range;
        int32_t value;
        bool valid;
    };
    for (uint8_t type : {kButtonSlider, kButtonProgressBar}) {
        r.type = type;
        for (const Case& c : {Case{300, 0, false}, Case{256, 0, false}, Case{-1, 0, false}, Case{100, 101, false},
                              Case{100, -1, false}, Case{100, 100, true}, Case{255, 0, true}, Case{0, 0, true}}) {
            r.range = c.range;
            r.value = c.value;
            EXPECT_EQ(b.Save(id, "s", &r) == -7, !c.valid) << int(type) << ": " << c.range << "," << c.value;
        }
    }
    // Other types carry any value.
    Images("n");
    r.type = kButtonNormal;
    r.range = 1000;
    r.value = -5;
    EXPECT_GT(b.Save(id, "n", &r), 0);
}
