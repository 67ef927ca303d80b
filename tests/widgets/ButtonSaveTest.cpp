// IButton::Save: the checks on state images, key and values, the 24-byte
// "BUT" block, and the payload codec on damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"

using testsupport::LogCapture;
using testsupport::SdkSession;
using testsupport::TempDir;

namespace {

class ButtonSave : public ::testing::Test {
protected:
    void SetUp() override {
        id_ = g_pStuffVLT->Create((dir_ / "widgets.vlt").c_str());
        ASSERT_GE(id_, 1);
    }
    void TearDown() override { g_pStuffVLT->Close(id_); }

    // Save only asks whether the state image blocks exist; any payload will do.
    void AddBlock(const std::string& name, const char* type = "TILB2") {
        std::vector<uint8_t> bytes(16, 1);
        BlockInfo info{};
        std::strncpy(info.name, name.c_str(), sizeof info.name - 1);
        std::strncpy(info.type, type, sizeof info.type - 1);
        info.size = uint32_t(bytes.size());
        info.data = bytes.data();
        ASSERT_GT(g_pStuffVLT->AddData(id_, &info), 0);
    }
    void AddImages(const std::string& name, bool selected = false) {
        AddBlock(name + "_n");
        AddBlock(name + "_p");
        AddBlock(name + "_o");
        if (selected) AddBlock(name + "_s");
    }
    std::vector<uint8_t> Payload(const char* name) {
        BlockInfo info{};
        std::vector<uint8_t> bytes;
        if (g_pStuffVLT->LoadBlock(id_, "BUT", name, &info) > 0 && info.data)
            bytes.assign(info.data, info.data + info.size);
        g_pStuffVLT->FreeBlock(&info);
        return bytes;
    }
    static ButtonRecord Record(uint8_t type) {
        ButtonRecord r;
        r.type = type;
        return r;
    }

    SdkSession sdk_;
    TempDir dir_;
    int id_ = 0;
};

}  // namespace

TEST_F(ButtonSave, RefusesWithZeroBadArgumentsUnknownTypesAndLongNames) {
    AddImages(std::string(24, 'w'));
    IButton& b = *g_pButton;
    const ButtonRecord ok = Record(kButtonNormal);
    EXPECT_EQ(b.Save(id_, nullptr, &ok), 0);
    EXPECT_EQ(b.Save(0, "w", &ok), 0);
    EXPECT_EQ(b.Save(id_, "w", nullptr), 0);
    for (uint8_t type : {0, 3, 128, 255}) {
        const ButtonRecord r = Record(type);
        EXPECT_EQ(b.Save(id_, std::string(24, 'w').c_str(), &r), 0) << int(type);
    }
    EXPECT_EQ(b.Save(id_, std::string(25, 'w').c_str(), &ok), 0);
    EXPECT_GT(b.Save(id_, std::string(24, 'w').c_str(), &ok), 0);
}

TEST_F(ButtonSave, MissingStateImagesAreReportedInTheOrderPressedNormalOff) {
    IButton& b = *g_pButton;
    const ButtonRecord r = Record(kButtonNormal);
    AddBlock("go_n", "TILE2");  // the right name under another type does not count
    EXPECT_EQ(b.Save(id_, "go", &r), -3);
    AddBlock("go_p");
    EXPECT_EQ(b.Save(id_, "go", &r), -2);
    AddBlock("go_n");
    EXPECT_EQ(b.Save(id_, "go", &r), -4);
    AddBlock("go_o");
    EXPECT_GT(b.Save(id_, "go", &r), 0);  // a plain button needs no "_s"
    EXPECT_EQ(b.Save(id_, "go", &r), -1); // the block exists
}

TEST_F(ButtonSave, ComplexButtonNeedsItsSelectedImage) {
    IButton& b = *g_pButton;
    AddImages("cx");
    const ButtonRecord r = Record(kButtonComplex);
    EXPECT_EQ(b.Save(id_, "cx", &r), -5);
    AddBlock("cx_s");
    EXPECT_GT(b.Save(id_, "cx", &r), 0);
}

TEST_F(ButtonSave, DeletedStateImageCountsAsMissing) {
    IButton& b = *g_pButton;
    AddImages("del");
    BlockInfo info{};
    std::strcpy(info.name, "del_o");
    std::strcpy(info.type, "TILB2");
    ASSERT_EQ(g_pStuffVLT->Delete(id_, &info), 1);
    const ButtonRecord r = Record(kButtonNormal);
    EXPECT_EQ(b.Save(id_, "del", &r), -4);
}

TEST_F(ButtonSave, KeyAbove321IsRefused) {
    IButton& b = *g_pButton;
    AddImages("k");
    ButtonRecord r = Record(kButtonCheck);
    r.key = 322;
    EXPECT_EQ(b.Save(id_, "k", &r), -6);
    r.key = 321;
    EXPECT_GT(b.Save(id_, "k", &r), 0);
}

TEST_F(ButtonSave, SliderAndProgressBarNeedRangeUpTo255AndValueWithinIt) {
    IButton& b = *g_pButton;
    AddImages("s");
    for (uint8_t type : {kButtonSlider, kButtonProgressBar}) {
        SCOPED_TRACE(int(type));
        ButtonRecord r = Record(type);
        struct Case {
            int16_t range;
            int32_t value;
            bool valid;
        };
        for (const Case& c : {Case{300, 0, false}, Case{256, 0, false}, Case{-1, 0, false}, Case{100, 101, false},
                              Case{100, -1, false}, Case{100, 100, true}, Case{255, 0, true}, Case{0, 0, true}}) {
            r.range = c.range;
            r.value = c.value;
            const int result = b.Save(id_, "s", &r);
            if (c.valid) {
                EXPECT_NE(result, -7) << c.range << "," << c.value;
            } else {
                EXPECT_EQ(result, -7) << c.range << "," << c.value;
            }
        }
    }
    // Other types carry any value.
    ButtonRecord r = Record(kButtonNormal);
    AddImages("n");
    r.range = 1000;
    r.value = -5;
    EXPECT_GT(b.Save(id_, "n", &r), 0);
}

TEST_F(ButtonSave, BlockIsTheFirst24BytesOfTheRecord) {
    IButton& b = *g_pButton;
    AddImages("rec");
    ButtonRecord r = Record(kButtonSlider);
    r.reserved0 = 0xA1B2C3D4;
    r.key = 0x0141;
    r.reserved7 = 0x77;
    r.selectBox = 0x00FF8800;
    r.x = -3;
    r.y = 640;
    r.range = 200;
    r.visible = 0;
    r.cloned = 1;
    r.value = 150;
    ASSERT_GT(b.Save(id_, "rec", &r), 0);
    const std::vector<uint8_t> p = Payload("rec");
    ASSERT_EQ(p.size(), 24u);
    EXPECT_EQ(LoadLE32(p.data()), 0xA1B2C3D4u);
    EXPECT_EQ(LoadLE16(p.data() + 4), 0x0141);
    EXPECT_EQ(p[6], kButtonSlider);
    EXPECT_EQ(p[7], 0x77);
    EXPECT_EQ(LoadLE32(p.data() + 8), 0x00FF8800u);
    EXPECT_EQ(LoadLE16(p.data() + 12), 0xFFFD);
    EXPECT_EQ(LoadLE16(p.data() + 14), 640);
    EXPECT_EQ(LoadLE16(p.data() + 16), 200);
    EXPECT_EQ(p[18], 0);
    EXPECT_EQ(p[19], 1);
    EXPECT_EQ(LoadLE32(p.data() + 20), 150u);

    ButtonRecord back;
    ASSERT_TRUE(IButton::DecodePayload(p.data(), p.size(), back));
    EXPECT_EQ(back.x, -3);
    EXPECT_EQ(back.value, 150);
    EXPECT_EQ(back.key, 0x0141);
    EXPECT_EQ(back.range, 200);
    EXPECT_EQ(back.free, 1);  // the rest stays as reset
    EXPECT_EQ(back.mouse, 1u);
}

TEST(ButtonPayload, DecoderTakesExactly24BytesAndNeverReadsBeyond) {
    uint8_t bytes[IButton::kBlockSize];
    ButtonRecord r;
    r.type = kButtonInputBox;
    r.value = -7;
    IButton::EncodePayload(r, bytes);
    ButtonRecord out;
    for (size_t n = 0; n <= 30; ++n) {
        std::vector<uint8_t> p(n, 0);
        if (n) std::memcpy(p.data(), bytes, std::min(n, sizeof bytes));
        EXPECT_EQ(IButton::DecodePayload(p.data(), p.size(), out), n == 24) << n;
    }
    EXPECT_FALSE(IButton::DecodePayload(nullptr, 24, out));
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        std::vector<uint8_t> p(24);
        for (uint8_t& v : p) v = uint8_t(rng());
        ASSERT_TRUE(IButton::DecodePayload(p.data(), p.size(), out));
        uint8_t again[IButton::kBlockSize];
        IButton::EncodePayload(out, again);
        ASSERT_EQ(std::memcmp(again, p.data(), 24), 0);
    }
}
