#include "OrbFormat.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/SourceDate.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Kinds.h"

namespace orb {

namespace {

constexpr const char* kPanelTag = "panel";

// The document's side of each kind, in the importer's order.
const struct {
    Kind kind;
    kinds::Kind block;  // unused for the panel
    const char* filePrefix;
} kDocumentKinds[] = {
    {Kind::Image, kinds::Kind::Image, "img_"}, {Kind::Tile, kinds::Kind::Tile, "tile_"},
    {Kind::Font, kinds::Kind::Font, "font_"},  {Kind::Sprite, kinds::Kind::Sprite, "spr_"},
    {Kind::Music, kinds::Kind::Music, "mus_"}, {Kind::Sound, kinds::Kind::Sound, "snd_"},
    {Kind::File, kinds::Kind::File, "file_"},  {Kind::Panel, kinds::Kind::Widget, "wid_"},
};

// The exporter's order of type tests: IMG, TILE, SPR, FONT, MUS, SND, FILE.
const Kind kExportOrder[] = {Kind::Image, Kind::Tile, Kind::Sprite, Kind::Font, Kind::Music, Kind::Sound, Kind::File};

const std::vector<KindRow>& Rows() {
    static const std::vector<KindRow> rows = [] {
        std::vector<KindRow> r;
        for (const auto& d : kDocumentKinds) {
            KindRow row{d.kind, kPanelTag, 0, nullptr, d.filePrefix, kPanelTag};
            if (d.kind != Kind::Panel) {
                const kinds::KindRow& block = kinds::Of(d.block);
                row.tag = block.element;
                // The older type text starts the current one: both are
                // exported.
                row.blockType = block.older ? block.older : block.type;
                row.word = block.word;
            }
            row.tagMatch = std::strlen(row.tag);
            r.push_back(row);
        }
        return r;
    }();
    return rows;
}

}  // namespace

const KindRow& Row(Kind k) {
    for (const KindRow& r : Rows())
        if (r.kind == k) return r;
    return Rows()[0];
}

const KindRow* MatchRootChild(const char* tag) {
    if (!tag) return nullptr;
    for (const KindRow& r : Rows())
        if (std::strncmp(tag, r.tag, r.tagMatch) == 0) return &r;
    return nullptr;
}

const KindRow* MatchBlockType(const char* type) {
    if (!type) return nullptr;
    for (Kind k : kExportOrder) {
        const KindRow& r = Row(k);
        if (std::strncmp(type, r.blockType, std::strlen(r.blockType)) == 0) return &r;
    }
    return nullptr;
}

bool TagIs(const char* tag, const char* expected) {
    return tag && std::strncmp(tag, expected, std::strlen(expected)) == 0;
}

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

const ButtonStateImage* StateImage(const char* state) {
    if (!state) return nullptr;
    for (const ButtonStateImage& r : IButton::kStateImages)
        if (std::strcmp(state, r.state) == 0) return &r;
    return nullptr;
}

const char* StateSuffix(const char* state) {
    const ButtonStateImage* r = StateImage(state);
    return r ? r->suffix : "";
}

bool IsPerPixel(const char* alphablending) { return alphablending && std::strncmp(alphablending, kPerPixel, 9) == 0; }

bool IsTilesetEnabled(const char* tileset) { return tileset && std::strncmp(tileset, kEnabled, 7) == 0; }

const char* StoreMethodName(uint8_t mode) {
    if (mode == 0) return "compressed";
    if (mode == 2) return "crypted";
    return "raw";
}

uint8_t StoreMethodMode(const char* text) {
    if (text && std::strcmp(text, "compressed") == 0) return 0;
    if (text && std::strcmp(text, "crypted") == 0) return 2;
    return 1;
}

std::string SafeComponent(const std::string& name) {
    std::string out;
    out.reserve(name.size() + 9);
    bool changed = false;
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
            out += ch;
        } else {
            out += '_';
            changed = true;
        }
    }
    if (changed) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "~%08x",
                      static_cast<unsigned>(Trovalis.CRC32(name.data(), static_cast<int32_t>(name.size()))));
        out += tag;
    }
    return out;
}

std::string PayloadNamer::Make(const std::string& prefix, const std::string& name, const std::string& extension) {
    const std::string stem = prefix + SafeComponent(name);
    std::string candidate = stem + extension;
    for (int n = 2;; ++n) {
        std::string key = candidate;
        for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (used_.insert(key).second) return candidate;
        candidate = stem + "~" + std::to_string(n) + extension;
    }
}


std::string DateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    // The asctime layout, written through strftime in the C locale (the
    // program never changes it), so that names are English.
    if (std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y\n", &local) == 0) return "\n";
    return buf;
}

std::string DateText(int package) {
    std::time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) return reproducible::DateText() + "\n";
    char stored[32] = {};
    if (g_pStuffVLT && g_pStuffVLT->GetModified(package, stored) == 1 && std::strlen(stored) == 24) {
        // "Www Mmm dd hh:mm:ss yyyy": letters, digits and the separators in their places.
        static const char kShape[] = "AAA AAA _9 99:99:99 9999";
        bool fits = true;
        for (size_t i = 0; i < 24 && fits; ++i) {
            const unsigned char c = static_cast<unsigned char>(stored[i]);
            switch (kShape[i]) {
                case 'A': fits = std::isalpha(c) != 0; break;
                case '9': fits = std::isdigit(c) != 0; break;
                case '_': fits = c == ' ' || std::isdigit(c); break;
                default: fits = c == static_cast<unsigned char>(kShape[i]);
            }
        }
        if (fits) return std::string(stored) + "\n";
    }
    return DateText();
}

int& Counters::Of(Kind k) {
    switch (k) {
        case Kind::Image: return img;
        case Kind::Tile: return til;
        case Kind::Sprite: return spr;
        case Kind::Font: return fnt;
        case Kind::Music: return mus;
        case Kind::Sound: return snd;
        case Kind::File: return fil;
        case Kind::Panel: return gui;
    }
    return img;
}

void PrintProgress(const Counters& c, int total) {
    std::printf(" - %d/%d: IMG %d - TIL %d - SPR %d - FNT %d - MUS %d - SND %d - FIL %d - GUI %d\r", c.done, total,
                c.img, c.til, c.spr, c.fnt, c.mus, c.snd, c.fil, c.gui);
}

}  // namespace orb
