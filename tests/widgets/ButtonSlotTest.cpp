// IButton's slots: numbering, layers, reset values, Remove and FreeMaster on
// filled slots, and what construction and destruction leave behind.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>

#include "TestSupport.h"
#include "core/Trovalis.h"
#include "resources/IButton.h"
#include "resources/Tile.h"

using testsupport::LogCapture;
using testsupport::SdkSession;

namespace {

CTile* MakeTile(int w, int h) {
    SDL_Surface* s = SDL_CreateRGBSurface(0, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    CTile* t = new CTile;
    const bool ok = t->Create(s, "state");
    SDL_FreeSurface(s);
    EXPECT_TRUE(ok);
    return t;
}

// A working or master button with all four state images of its own.
ButtonRecord* PlaceWithImages(IButton& b, int number) {
    ButtonRecord* r = b.PlaceForTest(number);
    if (!r) return nullptr;
    r->type = kButtonComplex;
    r->normal = MakeTile(4, 4);
    r->pressed = MakeTile(4, 4);
    r->off = MakeTile(4, 4);
    r->selected = MakeTile(4, 4);
    return r;
}

}  // namespace

TEST(ButtonSlots, NumbersNameLayerAndSlotAndOutOfRangeNumbersAreInvalid) {
    SdkSession sdk;
    IButton b;
    EXPECT_EQ(b.GetButton(132), b.GetButton(101) + 31);  // slot 32 of layer 1
    EXPECT_EQ(b.GetButton(1), b.GetButton(32) - 31);
    EXPECT_NE(b.GetButton(732), nullptr);
    EXPECT_NE(b.GetButton(132), b.GetButton(32));
    for (int invalid : {133, 100, 200, 832, 33, 0, -1, -1000, 999, 1100, 5000})
        EXPECT_EQ(b.GetButton(invalid), nullptr) << invalid;
    // Masters exist only while used.
    EXPECT_EQ(b.GetButton(1005), nullptr);
    ButtonRecord* m = b.PlaceForTest(1005);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(b.GetButton(1005), m);
    EXPECT_EQ(m->id, 1005u);
    EXPECT_EQ(b.PlaceForTest(1005), nullptr);  // already in use
    EXPECT_EQ(b.PlaceForTest(1100), nullptr);
    b.FreeMaster(1005);
    EXPECT_EQ(b.GetButton(1005), nullptr);
}

TEST(ButtonSlots, ConstructionResetsEverySlotShowsOnlyLayer0AndRequestsUpdateMode1) {
    SdkSession sdk;
    Trovalis.updateMode = 0;
    {
        IButton b;
        EXPECT_EQ(Trovalis.updateMode, 1);
        EXPECT_EQ(b.CurrentLayer(), 0);
        for (int l = 0; l < IButton::kLayers; ++l) EXPECT_EQ(b.LayerVisible(l), l == 0) << l;
        EXPECT_EQ(b.WorkingCount(), 0);
        const ButtonRecord* r = b.GetButton(705);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->free, 1);
        EXPECT_EQ(r->visible, 1);
        EXPECT_EQ(r->state, kStateNormal);
        EXPECT_EQ(r->lastState, kStateNormal);
        EXPECT_EQ(r->mouse, 1u);
        EXPECT_EQ(r->type, 0);
        EXPECT_EQ(r->normal, nullptr);
        EXPECT_EQ(b.Info(-2), 0);
    }
    // A request for 1 leaves 2 in place.
    Trovalis.updateMode = 2;
    { IButton b; }
    EXPECT_EQ(Trovalis.updateMode, 2);
    Trovalis.updateMode = 1;
}

TEST(ButtonSlots, SetLayerMakesOneLayerCurrentAndVisibleAndIgnoresLayer8) {
    SdkSession sdk;
    IButton b;
    b.SetLayer(3);
    EXPECT_EQ(b.CurrentLayer(), 3);
    for (int l = 0; l < IButton::kLayers; ++l) EXPECT_EQ(b.LayerVisible(l), l == 3) << l;
    b.SetLayer(8);
    b.SetLayer(255);
    EXPECT_EQ(b.CurrentLayer(), 3);
    for (int l = 0; l < IButton::kLayers; ++l) EXPECT_EQ(b.LayerVisible(l), l == 3) << l;
}

TEST(ButtonSlots, RemoveClearsOnlyTheCurrentLayerAndDestroysOwnedImages) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    const int tilesBefore = Trovalis.liveTiles;
    ASSERT_NE(PlaceWithImages(b, 101), nullptr);
    ASSERT_NE(PlaceWithImages(b, 132), nullptr);
    ASSERT_NE(PlaceWithImages(b, 201), nullptr);
    EXPECT_EQ(b.WorkingCount(), 3);
    EXPECT_EQ(Trovalis.liveTiles, tilesBefore + 12);
    cap.Take();

    b.SetLayer(1);
    b.Remove();
    EXPECT_NE(cap.Take().find(" . [IButton->Remove()] Info: 2 buttons of layer 1 were deleted.\n"), std::string::npos);
    EXPECT_EQ(b.WorkingCount(), 1);
    EXPECT_EQ(Trovalis.liveTiles, tilesBefore + 4);
    const ButtonRecord* r = b.GetButton(132);
    EXPECT_EQ(r->free, 1);
    EXPECT_EQ(r->visible, 0);  // Remove leaves slots hidden
    EXPECT_EQ(r->normal, nullptr);
    EXPECT_EQ(b.GetButton(201)->free, 0);

    b.Remove();  // nothing left on layer 1
    EXPECT_NE(cap.Take().find("Info: 0 buttons of layer 1 were deleted.\n"), std::string::npos);
}

TEST(ButtonSlots, RemovingClonesKeepsTheMastersImagesAndLowersItsCloneCount) {
    SdkSession sdk;
    IButton b;
    ButtonRecord* m = PlaceWithImages(b, 1002);
    ASSERT_NE(m, nullptr);
    const int tiles = Trovalis.liveTiles;
    ASSERT_NE(b.CloneForTest(1002, 5), nullptr);
    ASSERT_NE(b.CloneForTest(1002, 6), nullptr);
    EXPECT_EQ(m->master, 2u);
    EXPECT_EQ(b.GetButton(5)->normal, m->normal);
    EXPECT_EQ(b.GetButton(5)->master, 1002u);
    b.Remove();
    EXPECT_EQ(m->master, 0u);
    EXPECT_EQ(Trovalis.liveTiles, tiles);
    EXPECT_EQ(b.GetButton(5)->cloned, 0);
}

TEST(ButtonSlots, FreeMasterTakesMasterNumbersOrAllAndIgnoresWorkingNumbers) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    const int tiles = Trovalis.liveTiles;
    ASSERT_NE(PlaceWithImages(b, 1000), nullptr);
    ASSERT_NE(PlaceWithImages(b, 1005), nullptr);
    ASSERT_NE(PlaceWithImages(b, 1099), nullptr);
    cap.Take();

    b.FreeMaster(5);    // a working number
    b.FreeMaster(1100); // no such master
    EXPECT_EQ(b.Info(-2), 3);
    EXPECT_EQ(cap.Take().find("FreeMaster"), std::string::npos);

    b.FreeMaster(1005);
    EXPECT_NE(cap.Take().find(" . [IButton->FreeMaster(5)] Info: master button deleted.\n"), std::string::npos);
    EXPECT_EQ(b.GetButton(1005), nullptr);
    b.FreeMaster(0);
    EXPECT_NE(cap.Take().find(" . [IButton->FreeMaster(0)] Info: master button deleted.\n"), std::string::npos);

    b.FreeMaster(-1);
    const std::string all = cap.Take();
    EXPECT_NE(all.find(" . [IButton->FreeMaster(-1)] Info: master button deleted.\n"), std::string::npos);
    EXPECT_EQ(b.GetButton(1099), nullptr);
    EXPECT_EQ(Trovalis.liveTiles, tiles);
}

TEST(ButtonSlots, FreeingAMasterWithClonesWarnsAndLeavesNoCloneOnItsFreedImages) {
    SdkSession sdk;
    LogCapture cap;
    IButton b;
    ASSERT_NE(PlaceWithImages(b, 1003), nullptr);
    ASSERT_NE(b.CloneForTest(1003, 7), nullptr);
    ASSERT_NE(b.CloneForTest(1003, 107), nullptr);
    cap.Take();
    b.FreeMaster(1003);
    const std::string logged = cap.Take();
    EXPECT_NE(logged.find(" . [IButton->FreeMaster(3)] Warning: this master button still has 2 cloned buttons!\n"),
              std::string::npos);
    EXPECT_LT(logged.find("Warning"), logged.find("Info: master button deleted."));
    // The clones stay, without their master's (destroyed) images.
    const ButtonRecord* c = b.GetButton(107);
    EXPECT_EQ(c->free, 0);
    EXPECT_EQ(c->cloned, 1);
    EXPECT_EQ(c->normal, nullptr);
    EXPECT_EQ(c->pressed, nullptr);
    b.SetLayer(1);
    b.Remove();  // removing a clone of a freed master touches nothing else
    EXPECT_EQ(b.WorkingCount(), 1);
}

TEST(ButtonSlots, DestructorReportsLeftButtonsWithTheFullDumpThenFreesThem) {
    SdkSession sdk;
    LogCapture cap;
    const int tiles = Trovalis.liveTiles;
    {
        IButton b;
        ASSERT_NE(PlaceWithImages(b, 1), nullptr);
        ASSERT_NE(PlaceWithImages(b, 301), nullptr);
        ASSERT_NE(PlaceWithImages(b, 1010), nullptr);
        cap.Take();
    }
    const std::string logged = cap.Take();
    const size_t warning =
        logged.find(" . [IButton] Warning! your application has left 3 buttons without deleting.\n");
    ASSERT_NE(warning, std::string::npos);
    const size_t dump = logged.find("\n . IButton information:\n", warning);
    ASSERT_NE(dump, std::string::npos);
    EXPECT_NE(logged.find("Masterbuttons: 1 - Cloned buttons: 0 - Total working buttons: 2", dump), std::string::npos);
    const size_t removed = logged.find("Info: 1 buttons of layer 3 were deleted.\n", dump);
    EXPECT_NE(removed, std::string::npos);
    const size_t freed = logged.find(" . [IButton->FreeMaster(-1)] Info: master button deleted.\n", removed);
    EXPECT_NE(freed, std::string::npos);
    EXPECT_NE(logged.find(" . [IButton] Interfaz deleted.\n", freed), std::string::npos);
    EXPECT_EQ(Trovalis.liveTiles, tiles);
}

TEST(ButtonSlots, DestructorOfAnEmptyInterfaceWarnsAboutNothing) {
    SdkSession sdk;
    LogCapture cap;
    { IButton b; }
    const std::string logged = cap.Take();
    EXPECT_EQ(logged.find("Warning"), std::string::npos);
    EXPECT_EQ(logged.find("IButton information"), std::string::npos);
}

TEST(ButtonSlots, SameImageTwiceInOneButtonIsDestroyedOnce) {
    SdkSession sdk;
    const int tiles = Trovalis.liveTiles;
    IButton b;
    ButtonRecord* r = b.PlaceForTest(9);
    ASSERT_NE(r, nullptr);
    r->normal = r->pressed = r->off = MakeTile(2, 2);
    b.Remove();
    EXPECT_EQ(Trovalis.liveTiles, tiles);
}
