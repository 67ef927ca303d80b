// The widget interface: "BUT" blocks, slots, layers and masters. One instance
// exists (g_pButton), created by Init and destroyed by Quit.
//
// Slots: 8 layers of 32 working buttons (full buttons or clones of a
// master) and 100 master buttons, which own their state images. Working
// button n (1 to 32) of layer L (0 to 7) has number L x 100 + n (1 to 100
// always mean layer 0); master k (0 to 99) has number 1000 + k.
//
// "BUT" payload: the first 24 bytes of a button record, little-endian:
//    0  4  reserved word       4  2  key (SDL 1.2 key code, at most 321)
//    6  1  type code           7  1  reserved
//    8  4  select box colour  12  2  x (i16)     14  2  y (i16)
//   16  2  range (i16)        18  1  visible     19  1  cloned
//   20  4  value (i32)
// A widget is complete only beside its "TILB2" state images, named after it
// with "_n", "_p", "_o" and, for a complex button, "_s".
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

class CTile;
class CFont;

enum ButtonType : uint8_t {
    kButtonNormal = 1,
    kButtonIcon = 2,
    kButtonComplex = 4,
    kButtonSlider = 8,
    kButtonProgressBar = 16,
    kButtonCheck = 32,
    kButtonInputBox = 64,
};

enum ButtonState : int8_t {
    kStateNormal = 1,
    kStateSelected = 2,
    kStatePressed = 4,
    kStateAction = 8,
    kStateDisabled = 16,
};

// One slot, the same for masters and working buttons. Fields in their order;
// the first eleven are what a "BUT" block holds.
struct ButtonRecord {
    uint32_t reserved0 = 0;
    uint16_t key = 0;  // SDL 1.2 key code, 0 for none
    uint8_t type = 0;  // ButtonType
    uint8_t reserved7 = 0;
    uint32_t selectBox = 0;  // colour of the selection box
    int16_t x = 0;
    int16_t y = 0;
    int16_t range = 0;  // slider and progress bar range
    uint8_t visible = 1;
    uint8_t cloned = 0;  // 1 for a clone of a master
    int32_t value = 0;
    uint32_t id = 0;   // the button's number
    uint8_t free = 1;  // 1 while the slot is unused
    int8_t state = kStateNormal;
    int8_t lastState = kStateNormal;
    uint32_t reserved1[3] = {};
    CTile* normal = nullptr;  // state images: owned unless cloned
    CTile* selected = nullptr;
    CTile* pressed = nullptr;
    CTile* off = nullptr;
    char valueText[32] = {};  // text of an input box
    CFont* font = nullptr;    // font of an input box (not owned)
    uint32_t reserved2[2] = {};
    char name[28] = {};
    uint32_t master = 0;  // a clone: its master's number; a master: its clone count
    uint32_t reserved3[2] = {};
    uint32_t mouse = 1;  // mouse buttons acting on it: 1 left, 2 middle, 4 right
    uint32_t reserved4 = 0;
};

// The state images of a widget: "TILB2" blocks named after it with a
// suffix, in the order an interchange document lists them.
struct ButtonStateImage {
    const char* state;   // the state it shows
    const char* suffix;  // the block name suffix
    bool complexOnly;    // needed by a complex button only
};

// What is wrong with the values of a record (DecodePayload does not judge
// them; Save refuses them).
enum ButtonRecordFault { kRecordSound, kRecordBadType, kRecordBadKey, kRecordBadRange };

class IButton {
public:
    static constexpr int kLayers = 8;
    static constexpr int kSlots = 32;  // working buttons per layer
    static constexpr int kMasters = 100;
    static constexpr int kMasterBase = 1000;  // number of master 0
    static constexpr size_t kBlockSize = 24;  // "BUT" payload
    static constexpr size_t kMaxNameLength = 24;
    static constexpr uint16_t kMaxKey = 321;

    IButton();
    ~IButton();
    IButton(const IButton&) = delete;
    IButton& operator=(const IButton&) = delete;

    // Stores the first 24 bytes of r as the "BUT" block `name` after checking
    // its state images and values: AddData's result, 0, or -2 to -7.
    int Save(int id, const char* name, const ButtonRecord* r);
    // Removes every working button of the current layer.
    void Remove();
    // Frees master `number` (1000 to 1099, or 0 for master 0), or every
    // master for a negative number; 1 to 999 do nothing.
    void FreeMaster(int number);
    // Makes layer (0 to 7) current and the only visible one.
    void SetLayer(uint8_t layer);
    // The record of a button number (working slots whether used or not,
    // masters only while used), or null.
    ButtonRecord* GetButton(int number);
    // Buttons in use (masters + working + clones); writes the information
    // dump to the log: one button for a number, everything for -1, nothing
    // for -2.
    int Info(int number);
    static const char* GetTypeName(int type);
    static const char* GetStateName(int state);

    uint8_t CurrentLayer() const;
    bool LayerVisible(int layer) const;
    int WorkingCount() const;

    // The 24-byte "BUT" payload of a record, and back. DecodePayload fills
    // the first eleven fields of a reset record; false (out reset) unless
    // size is exactly 24 (reason, when given, then says why). Field values
    // are not judged.
    static void EncodePayload(const ButtonRecord& r, uint8_t out[kBlockSize]);
    static bool DecodePayload(const uint8_t* data, size_t size, ButtonRecord& out, const char** reason = nullptr);
    // The first fault of a record's values, in the order: type code, key,
    // range and value (sliders and progress bars only).
    static ButtonRecordFault CheckValues(const ButtonRecord& r);

    // normal "_n", hovered "_s" (complex buttons only), pressed "_p",
    // deactivated "_o".
    static const ButtonStateImage kStateImages[4];
    static bool NeedsStateImage(const ButtonStateImage& image, int type) {
        return !image.complexOnly || type == kButtonComplex;
    }

private:
    struct State;
    // Any slot by number (masters whether used or not), or null.
    ButtonRecord* Slot(int number);

    std::unique_ptr<State> s_;
};

// The widget interface between Init and Quit; empty before and after.
extern IButton* g_pButton;
