// The information dump: its whole text, the mouse text, image lines and the
// memory that clones save.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <string>

#include "TestSupport.h"
#include "core/Trovalis.h"
#include "resources/IButton.h"
#include "resources/Tile.h"

using testsupport::LogCapture;
using testsupport::SdkSession;

namespace {

CTile* MakeTile(int w, int h, int bpp = 32) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, w, h, bpp, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    CTile* t = new CTile;
    EXPECT_TRUE(t->Create(s, "state"));
    SDL_FreeSurface(s);
    return t;
}

void Name(ButtonRecord* r, const char* n) { std::strncpy(r->name, n, sizeof r->name - 1); }

}  // namespace

TEST(ButtonDump, WholeDumpOfOneMasterAndOneWorkingButton) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ButtonRecord* m = b.PlaceForTest(1000);
    Name(m, "m");
    m->type = kButtonCheck;
    m->range = kStatePressed;  // a check button keeps its state here
    m->lastState = kStateSelected;
    m->mouse = 2;
    ButtonRecord* w = b.PlaceForTest(3);
    Name(w, "ok");
    w->type = kButtonNormal;
    w->x = 10;
    w->y = 20;
    w->selectBox = 255;
    w->mouse = 5;
    w->normal = MakeTile(16, 8);
    cap.Take();

    EXPECT_EQ(b.Info(-1), 2);
    std::string expected =
        "\n . IButton information:\n"
        "\n   - Masterbuttons: 1 - Cloned buttons: 0 - Total working buttons: 1 - Current layer 0.\n"
        "\n   - Dumping Master button list:"
        "\n"
        "\n     -> Button name 'm' - MasterID '1000':\n"
        "         + Cloned buttons: 0 - Saved memory: 0.0 Kbytes\n"
        "         + Type: 'Check button' - Visible: 'yes' - Position: (0,0) - SelectBox: 0\n"
        "        + State: 'Pressed' - Last state: 'Selected' - Range: 4 - Value: 0\n"
        "         + Associated key: 'none' - Mouse sensibility: ' middle ' buttons.\n"
        "\n     -> Total saved memory: 0.0 KBytes\n"
        "\n   - Dumping Working layer list:\n"
        "\n     -> Layer 0 - Visible state\n"
        "\n        # Button name 'ok' - ID '3':\n"
        "          + Type: 'Normal button' - Visible: 'yes' - Position: (10,20) - SelectBox: 255\n"
        "          + State: 'Normal' - Last state: 'Normal' - Range: 0 - Value: 0\n"
        "          + Associated key: 'none' - Mouse sensibility: ' left right ' buttons.\n"
        "             + Normal state button of 0 Kb located at system memory (16x8 with 32bits)\n"
        "                Alpha blending: disabled - Colorkey: disabled\n";
    for (int l = 1; l < 8; ++l) expected += "\n     -> Layer " + std::to_string(l) + " - Hidden state\n";
    EXPECT_EQ(cap.Take(), expected);

    // -2 counts silently; a number dumps that button alone.
    EXPECT_EQ(b.Info(-2), 2);
    EXPECT_EQ(cap.Take(), "");
    b.Info(3);
    const std::string one = cap.Take();
    EXPECT_EQ(one.rfind("\n . IButton information:\n\n        # Button name 'ok' - ID '3':\n", 0), 0u);
    EXPECT_EQ(one.find("Masterbuttons"), std::string::npos);
    b.Info(1000);
    EXPECT_NE(cap.Take().find("-> Button name 'm' - MasterID '1000':"), std::string::npos);
    b.Info(1001);  // unused master: header only
    EXPECT_EQ(cap.Take(), "\n . IButton information:\n");
}

TEST(ButtonDump, EmptyInterfaceSaysNoneForMasters) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    cap.Take();
    EXPECT_EQ(b.Info(-1), 0);
    const std::string d = cap.Take();
    EXPECT_NE(d.find("\n   - Dumping Master button list: None\n\n"), std::string::npos);
    EXPECT_EQ(d.find("Total saved memory"), std::string::npos);
}

TEST(ButtonDump, MouseBitsOneAndFourGiveLeftThenRightWithoutMiddle) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ButtonRecord* r = b.PlaceForTest(12);
    r->type = kButtonSlider;
    r->mouse = 1 | 4;
    cap.Take();
    b.Info(12);
    EXPECT_NE(cap.Take().find("Mouse sensibility: ' left right ' buttons.\n"), std::string::npos);
    r->mouse = 7;
    b.Info(12);
    EXPECT_NE(cap.Take().find("' left middle right ' buttons"), std::string::npos);
    r->mouse = 0;
    b.Info(12);
    EXPECT_NE(cap.Take().find("Mouse sensibility: ' ' buttons"), std::string::npos);
}

TEST(ButtonDump, MasterWithThreeClonesOf10240ImageBytesSaves20KBytes) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ButtonRecord* m = b.PlaceForTest(1004);
    m->type = kButtonNormal;
    m->normal = MakeTile(80, 32);  // pitch 320 x 32 rows = 10240 bytes
    ASSERT_EQ(m->normal->GetSurface()->pitch * m->normal->GetSurface()->h, 10240);
    for (int n : {1, 2, 3}) ASSERT_NE(b.CloneForTest(1004, n), nullptr);
    cap.Take();
    EXPECT_EQ(b.Info(-1), 1 + 3 + 3);
    const std::string d = cap.Take();
    EXPECT_NE(d.find("Masterbuttons: 1 - Cloned buttons: 3 - Total working buttons: 3"), std::string::npos);
    EXPECT_NE(d.find("         + Cloned buttons: 3 - Saved memory: 20.0 Kbytes\n"), std::string::npos);
    EXPECT_NE(d.find("\n     -> Total saved memory: 20.0 KBytes\n"), std::string::npos);
    EXPECT_NE(d.find("          + Cloned button. MasterID '1004'.\n"), std::string::npos);
    EXPECT_NE(d.find("             + Normal state button of 10 Kb located at system memory (80x32 with 32bits)\n"),
              std::string::npos);
    // A master without clones saves nothing, never a negative amount.
    ButtonRecord* lone = b.PlaceForTest(1005);
    lone->normal = MakeTile(80, 32);
    cap.Take();
    b.Info(1005);
    EXPECT_NE(cap.Take().find("Cloned buttons: 0 - Saved memory: 0.0 Kbytes\n"), std::string::npos);
    b.Remove();
}

TEST(ButtonDump, ImageLinesTellAlphaAndColourKey) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ButtonRecord* r = b.PlaceForTest(20);
    r->type = kButtonInputBox;
    std::strcpy(r->valueText, "hello");
    r->pressed = MakeTile(8, 8);
    r->pressed->SetAlpha(128);
    r->off = MakeTile(8, 8);
    r->off->SetColorKey(SDL_MapRGB(r->off->GetSurface()->format, 10, 20, 30));
    cap.Take();
    b.Info(20);
    const std::string d = cap.Take();
    EXPECT_NE(d.find("Font: 'none' - Value: 'hello'\n"), std::string::npos);
    EXPECT_NE(d.find("+ Press state button of 0 Kb located at system memory (8x8 with 32bits)\n"
                     "                Alpha blending: per-surface (128) - Colorkey: disabled\n"),
              std::string::npos);
    EXPECT_NE(d.find("+ Off state button of 0 Kb located at system memory (8x8 with 32bits)\n"
                     "                Alpha blending: disabled - Colorkey: RGB(10,20,30)\n"),
              std::string::npos);
    EXPECT_LT(d.find("Press state"), d.find("Off state"));
}

TEST(ButtonDump, CodesThatAreNotSingleKnownBitsHaveNoName) {
    // Names of the known codes appear in the dump texts above.
    for (int t : {0, 3, 5, 128, -1}) EXPECT_EQ(IButton::GetTypeName(t), nullptr) << t;
    for (int s : {0, 3, 32, -1}) EXPECT_EQ(IButton::GetStateName(s), nullptr) << s;
    EXPECT_STREQ(IButton::GetTypeName(2), "Icon (deprecated)");
    EXPECT_STREQ(IButton::GetStateName(16), "Disabled");
}

TEST(ButtonDump, NamesWithoutTerminatorAndUnnamedCodesNeverOverrun) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ButtonRecord* r = b.PlaceForTest(1020);
    std::memset(r->name, 'x', sizeof r->name);
    r->type = 99;
    r->state = 77;
    cap.Take();
    b.Info(1020);
    std::string d = cap.Take();
    EXPECT_NE(d.find("Button name '" + std::string(28, 'x') + "'"), std::string::npos);
    EXPECT_NE(d.find("Type: '(null)'"), std::string::npos);
    EXPECT_NE(d.find("State: '(null)'"), std::string::npos);
    r->type = kButtonInputBox;
    std::memset(r->valueText, 'v', sizeof r->valueText);
    b.Info(1020);
    d = cap.Take();
    EXPECT_NE(d.find("Value: '" + std::string(32, 'v') + "'"), std::string::npos);
}
