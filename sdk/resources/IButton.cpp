// IButton: the widget slots (8 layers of 32 working buttons, 100 masters),
// "BUT" blocks and the information dump (layout and numbering in the header).
#include "resources/IButton.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/ByteReader.h"
#include "core/Endian.h"
#include "core/Log.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/GraphicBlock.h"
#include "resources/Tile.h"

struct IButton::State {
    uint8_t layerFlags[kLayers] = {};
    ButtonRecord working[kLayers][kSlots];
    ButtonRecord masters[kMasters];
    int8_t currentLayer = 0;
    int workingCount = 0;
    IButton* owner = nullptr;
};

namespace {

// Save's negative results.
constexpr int kMissingNormal = -2;
constexpr int kMissingPressed = -3;
constexpr int kMissingOff = -4;
constexpr int kMissingSelected = -5;
constexpr int kBadKey = -6;
constexpr int kBadRange = -7;

bool ValidType(int type) {
    switch (type) {
        case kButtonNormal:
        case kButtonIcon:
        case kButtonComplex:
        case kButtonSlider:
        case kButtonProgressBar:
        case kButtonCheck:
        case kButtonInputBox: return true;
        default: return false;
    }
}

void Reset(ButtonRecord& b, uint8_t visible) {
    b = ButtonRecord{};
    b.visible = visible;
}

// A text for "%s" that is never null (what the C library prints for one).
const char* Text(const char* s) { return s ? s : "(null)"; }

// Destroys the state images a record owns, each distinct image once.
void DestroyImages(CTile* images[4]) {
    for (int i = 0; i < 4; ++i) {
        if (!images[i]) continue;
        for (int j = i + 1; j < 4; ++j)
            if (images[j] == images[i]) images[j] = nullptr;
        delete images[i];
        images[i] = nullptr;
    }
}

// Whether package id holds a block of exactly this name and type.
bool HasBlock(int id, const std::string& name, const char* type) {
    if (!g_pStuffVLT) return false;
    BlockInfo info{};
    for (int r = g_pStuffVLT->FindFirst(id, &info); r == 1; r = g_pStuffVLT->FindNext(id, &info)) {
        if (std::strncmp(info.name, name.c_str(), sizeof info.name) == 0 &&
            std::strncmp(info.type, type, sizeof info.type) == 0)
            return true;
    }
    return false;
}

std::string MouseText(uint32_t mouse) {
    std::string t;
    if (mouse & 1) t += "left ";
    if (mouse & 2) t += "middle ";
    if (mouse & 4) t += "right ";
    return t;
}

const char* KeyName(uint16_t key) { return key == 0 ? "none" : SDL_GetKeyName(static_cast<SDLKey>(key)); }

void ImageLine(const CTile* t, const char* label) {
    const SDL_Surface* s = t ? t->GetSurface() : nullptr;
    if (!s || !s->format) return;
    LOG_PRINT(0, "             + %s state button of %d Kb located at %s (%dx%d with %dbits)\n", label,
              static_cast<int>(uint64_t(s->pitch) * uint64_t(s->h) / 1024),
              (s->flags & SDL_HWSURFACE) ? "video memory" : "system memory", s->w, s->h, s->format->BitsPerPixel);
    LOG_PRINT(0, "                Alpha blending: ");
    if ((s->flags & SDL_SRCALPHA) && s->format->alpha == 255)
        LOG_PRINT(0, "per-pixel");
    else if (s->flags & SDL_SRCALPHA)
        LOG_PRINT(0, "per-surface (%d)", s->format->alpha);
    else
        LOG_PRINT(0, "disabled");
    LOG_PRINT(0, " - Colorkey: ");
    // SDL_GetRGB reads a paletted surface's key from the palette unchecked.
    if (graphicblock::HasColorKey(s) && graphicblock::KeyFitsSurface(s, s->format->colorkey)) {
        Uint8 r, g, b;
        SDL_GetRGB(s->format->colorkey, s->format, &r, &g, &b);
        LOG_PRINT(0, "RGB(%d,%d,%d)\n", r, g, b);
    } else {
        LOG_PRINT(0, "disabled\n");
    }
}

void ImageLines(const ButtonRecord& b) {
    ImageLine(b.normal, "Normal");
    ImageLine(b.pressed, "Press");
    ImageLine(b.selected, "Select");
    ImageLine(b.off, "Off");
}

void ValueLine(const ButtonRecord& b) {
    if (b.type == kButtonInputBox)
        LOG_PRINT(0, "Font: '%s' - Value: '%.32s'\n", b.font ? Text(b.font->GetName()) : "none", b.valueText);
    else
        LOG_PRINT(0, "Range: %d - Value: %d\n", b.range, b.value);
}

void WorkingDump(const ButtonRecord& b) {
    LOG_PRINT(0, "\n        # Button name '%.28s' - ID '%d':\n", b.name, static_cast<int>(b.id));
    LOG_PRINT(0, "          + Type: '%s' - Visible: '%s' - Position: (%d,%d) - SelectBox: %d\n",
              Text(IButton::GetTypeName(b.type)), b.visible ? "yes" : "no", b.x, b.y, static_cast<int>(b.selectBox));
    LOG_PRINT(0, "          + State: '%s' - Last state: '%s' - ", Text(IButton::GetStateName(b.state)),
              Text(IButton::GetStateName(b.lastState)));
    ValueLine(b);
    LOG_PRINT(0, "          + Associated key: '%s' - Mouse sensibility: ' %s' buttons.\n", KeyName(b.key),
              MouseText(b.mouse).c_str());
    if (b.cloned)
        LOG_PRINT(0, "          + Cloned button. MasterID '%d'.\n", static_cast<int>(b.master));
    else
        ImageLines(b);
}

// Dumps a master and returns the memory its clones save by sharing its images.
uint64_t MasterDump(const ButtonRecord& b) {
    LOG_PRINT(0, "\n     -> Button name '%.28s' - MasterID '%d':\n", b.name, static_cast<int>(b.id));
    uint64_t images = 0;
    for (const CTile* t : {b.normal, b.selected, b.pressed, b.off}) {
        const SDL_Surface* s = t ? t->GetSurface() : nullptr;
        if (s) images += uint64_t(s->pitch) * uint64_t(s->h);
    }
    // Each clone beyond the first saves a copy of the images. A master
    // without clones saves nothing (never a negative amount).
    const uint32_t clones = b.master;
    const uint64_t saved = clones > 0 ? uint64_t(clones - 1) * images : 0;
    LOG_PRINT(0, "         + Cloned buttons: %d - Saved memory: %.1f Kbytes\n", static_cast<int>(clones),
              double(saved) / 1024.0);
    LOG_PRINT(0, "         + Type: '%s' - Visible: '%s' - Position: (%d,%d) - SelectBox: %d\n",
              Text(IButton::GetTypeName(b.type)), b.visible ? "yes" : "no", b.x, b.y, static_cast<int>(b.selectBox));
    // A check button keeps its checked state in the range field.
    if (b.type == kButtonCheck)
        LOG_PRINT(0, "        + State: '%s' - Last state: '%s' - ", Text(IButton::GetStateName(b.range)),
                  Text(IButton::GetStateName(b.lastState)));
    else
        LOG_PRINT(0, "         + State: '%s' - Last state: '%s' - ", Text(IButton::GetStateName(b.state)),
                  Text(IButton::GetStateName(b.lastState)));
    ValueLine(b);
    LOG_PRINT(0, "         + Associated key: '%s' - Mouse sensibility: ' %s' buttons.\n", KeyName(b.key),
              MouseText(b.mouse).c_str());
    ImageLines(b);
    return saved;
}

}  // namespace

IButton* g_pButton = nullptr;

IButton::IButton() : s_(new State) {
    s_->owner = this;
    std::fill(std::begin(s_->layerFlags), std::end(s_->layerFlags), 0);
    s_->currentLayer = 0;
    // The runtime's update mode; nothing in this program reads it.
    Trovalis.RequestUpdateMode(1);
    s_->workingCount = 0;
    for (uint8_t layer = 0; layer < kLayers; ++layer) {
        SetLayer(layer);
        for (ButtonRecord& b : s_->working[layer]) Reset(b, 1);
    }
    SetLayer(0);
    for (ButtonRecord& b : s_->masters) Reset(b, 1);
    LogTag("IButton").Line(5, "Interfaz created.\n");
}

IButton::~IButton() {
    const int left = Info(-2);
    const LogTag tag("IButton");
    if (left > 0) {
        tag.Line(2, "Warning! your application has left %d buttons without deleting.\n", left);
        Info(-1);
    }
    for (uint8_t layer = 0; layer < kLayers; ++layer) {
        SetLayer(layer);
        Remove();
    }
    s_->workingCount = 0;
    SetLayer(0);
    FreeMaster(-1);
    s_.reset();
    tag.Line(5, "Interfaz deleted.\n");
}

const char* IButton::GetTypeName(int type) {
    switch (type) {
        case kButtonNormal: return "Normal button";
        case kButtonIcon: return "Icon (deprecated)";
        case kButtonComplex: return "Complex button";
        case kButtonSlider: return "Slider";
        case kButtonProgressBar: return "Progress bar";
        case kButtonCheck: return "Check button";
        case kButtonInputBox: return "Input box";
        default: return nullptr;
    }
}

const char* IButton::GetStateName(int state) {
    switch (state) {
        case kStateNormal: return "Normal";
        case kStateSelected: return "Selected";
        case kStatePressed: return "Pressed";
        case kStateAction: return "Action";
        case kStateDisabled: return "Disabled";
        default: return nullptr;
    }
}

uint8_t IButton::CurrentLayer() const { return static_cast<uint8_t>(s_->currentLayer); }
bool IButton::LayerVisible(int layer) const { return layer >= 0 && layer < kLayers && s_->layerFlags[layer]; }
int IButton::WorkingCount() const { return s_->workingCount; }

void IButton::SetLayer(uint8_t layer) {
    if (layer >= kLayers) return;
    std::fill(std::begin(s_->layerFlags), std::end(s_->layerFlags), 0);
    s_->currentLayer = static_cast<int8_t>(layer);
    s_->layerFlags[layer] = 1;
}

ButtonRecord* IButton::Slot(int number) {
    if (number >= kMasterBase && number < kMasterBase + kMasters) return &s_->masters[number - kMasterBase];
    if (number < 1 || number > 999) return nullptr;
    // 1 to 100 always mean layer 0; above, the hundreds give the layer.
    const int layer = number <= 100 ? 0 : number / 100;
    const int n = number - layer * 100;
    if (layer >= kLayers || n < 1 || n > kSlots) return nullptr;
    return &s_->working[layer][n - 1];
}

ButtonRecord* IButton::GetButton(int number) {
    ButtonRecord* b = Slot(number);
    if (b && number >= kMasterBase && b->free) return nullptr;
    return b;
}

void IButton::EncodePayload(const ButtonRecord& r, uint8_t out[kBlockSize]) {
    StoreLE32(out, r.reserved0);
    StoreLE16(out + 4, r.key);
    out[6] = r.type;
    out[7] = r.reserved7;
    StoreLE32(out + 8, r.selectBox);
    StoreLE16(out + 12, static_cast<uint16_t>(r.x));
    StoreLE16(out + 14, static_cast<uint16_t>(r.y));
    StoreLE16(out + 16, static_cast<uint16_t>(r.range));
    out[18] = r.visible;
    out[19] = r.cloned;
    StoreLE32(out + 20, static_cast<uint32_t>(r.value));
}

bool IButton::DecodePayload(const uint8_t* data, size_t size, ButtonRecord& out, const char** reason) {
    out = ButtonRecord{};
    if (reason) *reason = nullptr;
    if (!data || size != kBlockSize) return graphicblock::Refuse(reason, "a widget record is exactly 24 bytes");
    ByteReader in(data, size);
    uint16_t x = 0, y = 0, range = 0;
    uint32_t value = 0;
    ButtonRecord r;
    if (!in.u32le(r.reserved0) || !in.u16le(r.key) || !in.u8(r.type) || !in.u8(r.reserved7) || !in.u32le(r.selectBox) ||
        !in.u16le(x) || !in.u16le(y) || !in.u16le(range) || !in.u8(r.visible) || !in.u8(r.cloned) || !in.u32le(value))
        return graphicblock::Refuse(reason, "a widget record is exactly 24 bytes");
    r.x = static_cast<int16_t>(x);
    r.y = static_cast<int16_t>(y);
    r.range = static_cast<int16_t>(range);
    r.value = static_cast<int32_t>(value);
    out = r;
    return true;
}

const ButtonStateImage IButton::kStateImages[4] = {
    {"normal", "_n", false}, {"hovered", "_s", true}, {"pressed", "_p", false}, {"deactivated", "_o", false}};

ButtonRecordFault IButton::CheckValues(const ButtonRecord& r) {
    if (!ValidType(r.type)) return kRecordBadType;
    if (r.key > kMaxKey) return kRecordBadKey;
    if ((r.type == kButtonSlider || r.type == kButtonProgressBar) &&
        (r.range < 0 || r.range > 255 || r.value < 0 || r.value > r.range))
        return kRecordBadRange;
    return kRecordSound;
}

int IButton::Save(int id, const char* name, const ButtonRecord* r) {
    if (!name || id < 1 || !r || CheckValues(*r) == kRecordBadType) return 0;
    if (std::strlen(name) > kMaxNameLength) return 0;
    if (!g_pStuffVLT) return 0;
    const std::string base(name);
    // The state images are looked for in this order, each missing one with
    // its own result.
    static const struct {
        size_t image;
        int missing;
    } kLookups[] = {{2, kMissingPressed}, {0, kMissingNormal}, {3, kMissingOff}, {1, kMissingSelected}};
    for (const auto& look : kLookups) {
        const ButtonStateImage& image = kStateImages[look.image];
        if (NeedsStateImage(image, r->type) && !HasBlock(id, base + image.suffix, "TILB2")) return look.missing;
    }
    switch (CheckValues(*r)) {
        case kRecordBadKey: return kBadKey;
        case kRecordBadRange: return kBadRange;
        default: break;
    }
    uint8_t payload[kBlockSize];
    EncodePayload(*r, payload);
    BlockInfo info{};
    std::memcpy(info.name, name, base.size());
    std::memcpy(info.type, "BUT", 3);
    info.mode = compressed;
    info.size = kBlockSize;
    info.data = payload;
    return g_pStuffVLT->AddData(id, &info);
}

void IButton::Remove() {
    const int layer = s_->currentLayer;
    int removed = 0;
    for (ButtonRecord& b : s_->working[layer]) {
        if (b.free) continue;
        CTile* images[4] = {b.normal, b.pressed, b.off, b.selected};
        const bool cloned = b.cloned != 0;
        const uint32_t master = b.master;
        Reset(b, 0);
        --s_->workingCount;
        if (cloned) {
            // The master keeps its images; only its clone count drops.
            if (master >= uint32_t(kMasterBase) && master < uint32_t(kMasterBase + kMasters)) {
                ButtonRecord& m = s_->masters[master - kMasterBase];
                if (!m.free && m.master > 0) --m.master;
            }
        } else {
            DestroyImages(images);
        }
        ++removed;
    }
    LogTag("IButton->Remove()").Info(5, "%d buttons of layer %d were deleted.\n", removed, layer);
}

void IButton::FreeMaster(int number) {
    if (number >= 1 && number < kMasterBase) return;
    int first = 0, last = kMasters - 1;
    if (number >= 0) {
        const int64_t index = number >= kMasterBase ? int64_t(number) - kMasterBase : 0;
        if (index >= kMasters) return;
        first = last = static_cast<int>(index);
    }
    for (int k = first; k <= last; ++k) {
        ButtonRecord& m = s_->masters[k];
        if (m.free) continue;
        CTile* images[4] = {m.normal, m.pressed, m.off, m.selected};
        const uint32_t clones = m.master;
        Reset(m, 1);
        DestroyImages(images);
        const int shown = number < 0 ? number : k;
        if (clones > 0) {
            LogTag("IButton->FreeMaster(%d)", shown)
                .Line(0, "Warning: this master button still has %d cloned buttons!\n", static_cast<int>(clones));
            // The clones stay in their slots, but the images they shared are
            // gone: they must not point at them any more.
            for (auto& layer : s_->working)
                for (ButtonRecord& b : layer)
                    if (!b.free && b.cloned && b.master == uint32_t(kMasterBase + k))
                        b.normal = b.selected = b.pressed = b.off = nullptr;
        }
        LogTag("IButton->FreeMaster(%d)", shown).Info(5, "master button deleted.\n");
    }
}

int IButton::Info(int number) {
    int masters = 0, working = 0, clones = 0;
    for (const ButtonRecord& m : s_->masters)
        if (!m.free) ++masters;
    for (const auto& layer : s_->working)
        for (const ButtonRecord& b : layer)
            if (!b.free) {
                ++working;
                if (b.cloned) ++clones;
            }
    const int inUse = masters + working + clones;

    if (number != -2) LOG_PRINT(0, "\n . IButton information:\n");
    if (number >= 0) {
        if (const ButtonRecord* b = GetButton(number)) {
            if (number < kMasterBase)
                WorkingDump(*b);
            else
                MasterDump(*b);
        }
    }
    if (number == -1) {
        LOG_PRINT(0, "\n   - Masterbuttons: %d - Cloned buttons: %d - Total working buttons: %d - Current layer %d.\n",
                  masters, clones, working, s_->currentLayer);
        LOG_PRINT(0, "\n   - Dumping Master button list:");
        if (masters == 0) LOG_PRINT(0, " None\n");
        LOG_PRINT(0, "\n");
        uint64_t saved = 0;
        for (const ButtonRecord& m : s_->masters)
            if (!m.free) saved += MasterDump(m);
        if (masters > 0) LOG_PRINT(0, "\n     -> Total saved memory: %.1f KBytes\n", double(saved) / 1024.0);
        LOG_PRINT(0, "\n   - Dumping Working layer list:\n");
        for (int layer = 0; layer < kLayers; ++layer) {
            LOG_PRINT(0, "\n     -> Layer %d - %s state\n", layer, s_->layerFlags[layer] ? "Visible" : "Hidden");
            for (const ButtonRecord& b : s_->working[layer])
                if (!b.free) WorkingDump(b);
        }
    }
    return inUse;
}
