// The widget kind: a button, slider, progress bar, check box or input box
// of the game's interface, with its state images; a "widget" element inside
// the document's one "panel", with one "image" child per state image.
#include <cstdio>
#include <cstring>

#include "ExportKinds.h"
#include "Gallery.h"
#include "ImportKinds.h"
#include "KindTable.h"
#include "SafeText.h"
#include "SameMeaning.h"
#include "SdkHandles.h"
#include "package/BlockPayload.h"
#include "package/IStuffVLT.h"
#include "resources/IButton.h"

namespace orb {

const char* WidgetTypeName(uint8_t code) {
    switch (code) {
        case 1:
        case 2:
        case 4: return "button";
        case 8: return "hslider";
        case 16: return "progressbar";
        case 32: return "checkbox";
        case 64: return "inputbox";
        default: return "unknown";
    }
}

uint8_t WidgetTypeCode(const char* name) {
    if (!name) return 0;
    static const struct {
        const char* name;
        uint8_t code;
    } kTable[] = {{"button", 1}, {"hslider", 8}, {"progressbar", 16}, {"checkbox", 32}, {"inputbox", 64}};
    for (const auto& row : kTable)
        if (std::strcmp(name, row.name) == 0) return row.code;
    return 0;
}

const char* StateSuffix(const char* state) {
    if (!state) return "";
    for (const ButtonStateImage& r : IButton::kStateImages)
        if (std::strcmp(state, r.state) == 0) return r.suffix;
    return "";
}

std::vector<StateImageBlock> StateImagesOf(const std::string& widget, const uint8_t* record, size_t size) {
    ButtonRecord r;
    const bool decoded = record && IButton::DecodePayload(record, size, r);
    std::vector<StateImageBlock> blocks;
    for (const ButtonStateImage& image : IButton::kStateImages)
        blocks.push_back({widget + image.suffix, image.state, decoded && IButton::NeedsStateImage(image, r.type)});
    return blocks;
}

bool IsStateImageOf(const std::string& name, const std::set<std::string>& widgets) {
    for (const ButtonStateImage& state : IButton::kStateImages) {
        const size_t len = std::strlen(state.suffix);
        if (name.size() > len && name.compare(name.size() - len, len, state.suffix) == 0 &&
            widgets.count(name.substr(0, name.size() - len)))
            return true;
    }
    return false;
}

namespace {

const char* const kTypeMeaning =
    "what the widget is (a type the export does not know is written \"unknown\", which the import refuses); a button "
    "given a \"hovered\" image becomes a complex button";

const Elements kElements = {
    {"panel",
     "ORB",
     "the panel that holds every widget: at most one, after every resource (its attributes are written, not read)",
     {Of("name", ValueType::Text, Need::WrittenOnly, "the panel's name, always \"default\""),
      Int("xposition", 0, 0, Need::WrittenOnly, "the panel's left edge, always 0"),
      Int("yposition", 0, 0, Need::WrittenOnly, "the panel's top edge, always 0"),
      Int("width", 800, 800, Need::WrittenOnly, "the panel's width, always 800"),
      Int("height", 600, 600, Need::WrittenOnly, "the panel's height, always 600"),
      Int("alphamod", 0, 0, Need::WrittenOnly, "the panel's alpha, always 0")}},
    {"widget",
     "panel",
     "a widget (BUT block) of the game's interface",
     {NameRow(),
      Words("type", {"button", "hslider", "progressbar", "checkbox", "inputbox"}, Need::Required, kTypeMeaning),
      Int("id", 1, kIntMax, Need::WrittenOnly, "the widget's number in the panel, from 1"),
      Int("xposition", kI16Min, kU16Max, Need::Required,
          "the widget's left edge, in pixels (16 bits: -32768 to -1 are 32768 to 65535)"),
      Int("yposition", kI16Min, kU16Max, Need::Required,
          "the widget's top edge, in pixels (16 bits: -32768 to -1 are 32768 to 65535)"),
      Int("key", 0, kU16Max, Need::Required,
          "the key code that presses it, 0 for none (the widget class takes at most 321)"),
      Colour("selectboxRGB", kIntMin, Need::Required, "the colour of its selection box, 0xRRGGBB in decimal"),
      Int("value", kIntMin, kIntMax, Need::Required,
          "its value (a slider's or progress bar's from 0 to its range, a check box's 0 or 1)"),
      Int("range", kI16Min, kU16Max, Need::Required,
          "the largest value of a slider or progress bar (the widget class takes 0 to 255), an input box's length")}},
    {"image",
     "widget",
     "one state image of the widget (a TILB2 block named after the widget and the state's suffix _n, _s, _p or _o)",
     {Words("state", {"normal", "hovered", "pressed", "deactivated"}, Need::Required,
            "the state it shows (every widget needs normal, pressed and deactivated; a complex button hovered too)"),
      SourceRow(), BlendingRow("per-surface", kBlendingOrPngMeaning), AlphaModRow(), ColorKeyRow()}},
};


using namespace exportstep;
using namespace importstep;

const char* const kUnreadableRecord = "the widget record could not be read: the block is damaged or not 24 bytes long.";

// The widget record of block w: the first 24 bytes of the block, which the
// widget class reads.
bool ReadRecord(int pkg, const std::string& w, ButtonRecord& record) {
    BlockPayload block;
    g_pStuffVLT->LoadBlock(pkg, kinds::TypeOf(kinds::Kind::Widget), w.c_str(), &block.info);
    return block.info.data && block.info.size >= kWidgetRecordSize &&
           IButton::DecodePayload(block.info.data, kWidgetRecordSize, record);
}

// One state image of widget w: silently absent when the package holds no
// such block; a block that is there but does not load is a failure, warned
// about here. True when it was exported.
bool ExportStateImage(ExportSession& s, const std::string& w, const ButtonStateImage& state) {
    const std::string blockName = w + state.suffix;
    Graphic g;
    const int written =
        WriteTileGraphic(s, blockName, kinds::TypeOf(kinds::Kind::StateImage), "wid_", w + "_" + state.state, g);
    if (written == 1 && exportstep::Open(s, kImageTag)) {
        SetText(s, attr::kState, state.state);
        SetGraphicAttributes(s, g, kPerSurface);
        Close(s);
        return true;
    }
    if (written == 0 && !s.stateImages.count(blockName)) return false;
    PrintWarning("problem found exporting '%s' state of widget '%s'.\n", state.state,
                 SafeText(w, SafeStyle::Masked).c_str());
    PrintCause(s.cause.empty() ? kUnreadableBlock : s.cause.c_str());
    s.cause.clear();
    ++s.failed;
    return false;
}

// The panel that holds every widget, made before the first one.
bool OpenPanel(ExportSession& s) {
    if (!exportstep::Open(s, kWidgetKind.tag())) return false;
    SetText(s, attr::kName, kPanelName);
    SetInt(s, attr::kXPosition, 0);
    SetInt(s, attr::kYPosition, 0);
    SetInt(s, attr::kWidth, kPanelWidth);
    SetInt(s, attr::kHeight, kPanelHeight);
    SetInt(s, attr::kAlphaMod, 0);
    s.panelMade = true;
    return true;
}

// One "BUT" block and its state images into the panel (the caller counts
// the widget; each state image is counted here).
bool Export(ExportSession& s, const std::string& w) {
    ButtonRecord record;
    if (!ReadRecord(s.pkg, w, record)) return s.Fail(kUnreadableRecord);
    if (!s.panelMade && !OpenPanel(s)) return false;
    if (!exportstep::Open(s, kWidgetTag)) return false;
    SetText(s, attr::kName, w.c_str());
    SetText(s, attr::kType, WidgetTypeName(record.type));
    SetInt(s, attr::kId, s.c.gui + 1);
    SetInt(s, attr::kXPosition, static_cast<uint16_t>(record.x));
    SetInt(s, attr::kYPosition, static_cast<uint16_t>(record.y));
    SetInt(s, attr::kKey, record.key);
    SetInt(s, attr::kSelectBox, static_cast<int>(record.selectBox));
    SetInt(s, attr::kValue, record.value);
    SetInt(s, attr::kRange, record.range);
    for (const ButtonStateImage& state : IButton::kStateImages)
        if (ExportStateImage(s, w, state)) ++s.c.done;
    Close(s);
    return true;
}

// The state images, the current element's children; each stored one is
// counted. code becomes a complex button's when a plain button has an image
// of a state only complex buttons show.
bool ImportStateImages(ImportSession& s, const std::string& name, uint8_t& code) {
    if (Trovalis.XMLNodeChild(s.doc) != 1) return true;
    bool ok = true;
    do {
        if (!TagIs(Trovalis.XMLNodeGetName(s.doc), kImageTag)) {
            PrintWarning("no 'image' tag found.");
            ok = false;
            break;
        }
        std::string state;
        if (!Text(s, attr::kState, state)) {
            PrintWarning("no 'state' attribute found.");
            ok = false;
            break;
        }
        for (const ButtonStateImage& image : IButton::kStateImages)
            if (state == image.state && image.complexOnly && code == kButton) code = kComplexButton;
        if (!ImportTileBlock(s, name + StateSuffix(state.c_str()), kinds::TypeOf(kinds::Kind::StateImage), false,
                             "the widget's name with the state's suffix is longer than 31 characters.")) {
            PrintWarning("could not load '%s' state.", SafeText(state, SafeStyle::Masked).c_str());
            ok = false;
            break;
        }
        ++s.c.done;  // a stored state image stays stored and counted
    } while (Trovalis.XMLNodeNext(s.doc) == 1);
    Trovalis.XMLNodeParent(s.doc);
    return ok;
}

// The widget's record from its attributes; the record's other bytes keep
// the values of a freshly reset widget (visible, not cloned).
bool ReadRecordAttributes(ImportSession& s, ButtonRecord& record) {
    int x = 0, y = 0, key = 0, select = 0, value = 0, range = 0;
    std::string typeName;
    // Positions and range are 16-bit fields, written as unsigned or signed.
    if (!importstep::Int(s, attr::kXPosition, x, kI16Min, kU16) ||
        !importstep::Int(s, attr::kYPosition, y, kI16Min, kU16) || !Text(s, attr::kType, typeName))
        return false;
    const uint8_t code = WidgetTypeCode(typeName.c_str());
    if (code == 0) return Fail(s, "its \"type\" " + Quoted(typeName) + " is not a widget type this program knows.");
    if (!importstep::Int(s, attr::kKey, key, 0, kU16) || !importstep::Int(s, attr::kSelectBox, select) ||
        !importstep::Int(s, attr::kValue, value) || !importstep::Int(s, attr::kRange, range, kI16Min, kU16))
        return false;
    record.key = static_cast<uint16_t>(key);
    record.type = code;
    record.selectBox = static_cast<uint32_t>(select);
    record.x = static_cast<int16_t>(static_cast<uint16_t>(x));
    record.y = static_cast<int16_t>(static_cast<uint16_t>(y));
    record.range = static_cast<int16_t>(static_cast<uint16_t>(range));
    record.value = value;
    return true;
}

// One widget; the current element is the panel's child. The state images
// go first: the widget's own store refuses a widget whose images are not in
// the package yet.
bool Import(ImportSession& s, std::string& name) {
    if (!TagIs(Trovalis.XMLNodeGetName(s.doc), kWidgetTag)) {
        PrintWarning("no 'widget' tag found.");
        return false;
    }
    ButtonRecord record;
    if (!ReadName(s, name) || !ReadRecordAttributes(s, record) || !ImportStateImages(s, name, record.type))
        return false;
    int result = 0;
    if (StoreReplacing(
            s, kinds::TypeOf(kinds::Kind::Widget), name, [&] { return g_pButton->Save(s.pkg, name.c_str(), &record); },
            &result))
        return true;
    PrintWarning("widget could not be saved (ErrCode '%d').", result);
    if (result < -1)
        return Fail(s,
                    "the widget class refused the record: a state image it needs is missing (give the widget its "
                    "\"normal\", \"pressed\" and \"deactivated\" images), or its key or range is out of bounds.");
    return false;
}

bool Show(gallery::Session& s, const kinds::Entry& e) {
    using gallery::N;
    ButtonRecord record;
    {
        BlockPayload block;
        block.Load(s.pkg, kinds::TypeOf(kinds::Kind::Widget), e.name.c_str());
        if (!block.info.data || block.info.size < IButton::kBlockSize ||
            !IButton::DecodePayload(block.info.data, IButton::kBlockSize, record))
            return s.Fail(kUnreadableRecord);
    }
    std::string states;
    for (const ButtonStateImage& state : IButton::kStateImages) {
        const std::string blockName = e.name + state.suffix;
        if (!s.stateImages.count(blockName)) continue;
        std::string url;
        int w = 0, h = 0;
        const int written = gallery::WriteTilePng(s, blockName, kinds::TypeOf(kinds::Kind::StateImage), "wid_",
                                                  e.name + "_" + state.state, url, w, h);
        if (written == 0)
            return s.Fail(std::string("its ") + state.state + " state image could not be read from the package.");
        if (written < 0) return false;
        states += "<span class=\"cell state\"><img class=\"chk\" src=\"" + url + "\" width=\"" + N(w) + "\" height=\"" +
                  N(h) + "\" loading=\"lazy\" alt=\"\">" + state.state + "</span>";
    }
    s.html += gallery::Open("widget", e.name) + "<div class=\"states\">" + states + "</div>\n<div class=\"meta\">" +
              gallery::Html(WidgetTypeName(record.type)) + ", key code " + N(record.key) + ", position " + N(record.x) +
              ", " + N(record.y) + "</div>\n</section>\n";
    return true;
}

void Compare(const BlockSide& a, const BlockSide& b, const kinds::KindRow&, std::vector<std::string>& diffs) {
    using samemeaning::Became;
    using samemeaning::Hex;
    Payload pa, pb;
    ButtonRecord ra, rb;
    const bool la = pa.Load(a.pkg, a.entry->type, a.entry->name, a.entry->size) && pa.info.data &&
                    IButton::DecodePayload(pa.info.data, pa.info.size, ra);
    const bool lb = pb.Load(b.pkg, b.entry->type, b.entry->name, b.entry->size) && pb.info.data &&
                    IButton::DecodePayload(pb.info.data, pb.info.size, rb);
    if (!la || !lb) return diffs.push_back(!la ? samemeaning::kOriginalFails : samemeaning::kCopyFails);
    auto field = [&](const char* what, long long v1, long long v2) {
        if (v1 != v2) diffs.push_back(Became(what, v1, v2));
    };
    field("type code", ra.type, rb.type);
    field("key", ra.key, rb.key);
    if (ra.selectBox != rb.selectBox)
        diffs.push_back("selection box colour " + Hex(ra.selectBox) + " became " + Hex(rb.selectBox));
    field("x position", ra.x, rb.x);
    field("y position", ra.y, rb.y);
    field("range", ra.range, rb.range);
    field("value", ra.value, rb.value);
}

}  // namespace

const KindSpec kWidgetKind = {
    kinds::Kind::Widget, "wid_", &kElements, &Counters::gui, true, Export, Import, Show, Compare};

}  // namespace orb
