#include "resources/Kinds.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace kinds {

namespace {

// A decoded surface is only looked at, then freed.
bool Decoded(SDL_Surface* s) {
    if (!s) return false;
    SDL_FreeSurface(s);
    return true;
}

bool Refuse(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

bool VerifyImage(const uint8_t* data, size_t size, bool, std::string& why) {
    PixelFormatRecord rec;
    return Decoded(IImage::DecodePayload(data, size, &rec)) ||
           Refuse(why, "the image does not decode (header, depth or pixel area out of range)");
}

bool VerifyTile(const uint8_t* data, size_t size, bool older, std::string& why) {
    return Decoded(CTile::DecodeSurface(data, size, older)) ||
           Refuse(why, "the tile does not decode (its sizes, depth or pixel area do not match)");
}

bool VerifySprite(const uint8_t* data, size_t size, bool older, std::string& why) {
    return Decoded(CSprite::DecodeSurface(data, size, older)) ||
           Refuse(why, "the sprite does not decode (its animation table, depth or pixel area do not match)");
}

bool VerifyFont(const uint8_t* data, size_t size, bool older, std::string& why) {
    CFont font;
    const char* reason = nullptr;
    const int r = font.CreateFromPayload(data, size, older, &reason);
    if (r == CFont::kCreated) return true;
    if (r < 0) return Refuse(why, std::string("the font does not decode: ") + (reason ? reason : "malformed payload"));
    return Refuse(why, "the font bitmap does not hold 94 glyphs separated by marker columns");
}

// A sound or music block holds the user's own file, whatever its format.
bool VerifyAudio(const uint8_t*, size_t size, bool, std::string& why) {
    return size > 0 || Refuse(why, "the block is empty: it holds no audio file");
}

// The record's values as the widget class would store them; its state
// images are other blocks, which only a package can show.
bool VerifyWidget(const uint8_t* data, size_t size, bool, std::string& why) {
    ButtonRecord r;
    if (!IButton::DecodePayload(data, size, r))
        return Refuse(why, "the widget record is " + std::to_string(size) + " bytes long instead of 24");
    switch (IButton::CheckValues(r)) {
        case kRecordBadType: return Refuse(why, "the widget type code " + std::to_string(r.type) + " is unknown");
        case kRecordBadKey: return Refuse(why, "the key code " + std::to_string(r.key) + " is above 321");
        case kRecordBadRange:
            return Refuse(why, "range " + std::to_string(r.range) + " and value " + std::to_string(r.value) +
                                   " are outside 0 to 255 and 0 to the range");
        case kRecordSound: break;
    }
    return true;
}

void LoadImage(int pkg, const char* name) {
    ImageInfo info{};
    if (g_pImage) Decoded(g_pImage->Load(pkg, name, &info));
}

void LoadTile(int pkg, const char* name) {
    CTile tile;
    tile.Load(pkg, name, "TILE2");
}

void LoadStateImage(int pkg, const char* name) {
    CTile tile;
    tile.Load(pkg, name, "TILB2");
}

void LoadSprite(int pkg, const char* name) {
    CSprite sprite;
    sprite.Load(pkg, name, "SPR2");
}

void LoadFont(int pkg, const char* name) {
    CFont font;
    font.Load(pkg, name);
}

void LoadSound(int pkg, const char* name) {
    AudioInfo info{};
    if (g_pSoundFX) g_pSoundFX->SoundInfo(pkg, name, &info);
}

void LoadMusic(int pkg, const char* name) {
    AudioInfo info{};
    if (g_pSoundFX) g_pSoundFX->MusicInfo(pkg, name, &info);
}

void LoadWidget(int pkg, const char* name) {
    if (!g_pStuffVLT) return;
    BlockInfo info{};
    if (g_pStuffVLT->LoadBlock(pkg, "BUT", name, &info) > 0 && info.data) {
        ButtonRecord r;
        IButton::DecodePayload(info.data, info.size, r);
    }
    g_pStuffVLT->FreeBlock(&info);
}

// "DELETED" marks an entry that Delete rewrote; a widget's state images
// are children of its element.
const KindRow kTable[] = {
    {"IMG", nullptr, Kind::Image, "image", "image", VerifyImage, LoadImage, 0, -1},
    {"TILE2", "TILE", Kind::Tile, "tile", "tile", VerifyTile, LoadTile, 1, 2},
    {"TILB2", "TILB", Kind::StateImage, "state image", "image", VerifyTile, LoadStateImage, 3, -1},
    {"SPR2", "SPR", Kind::Sprite, "sprite", "sprite", VerifySprite, LoadSprite, 4, 5},
    {"FONT2", "FONT", Kind::Font, "font", "font", VerifyFont, LoadFont, 6, 7},
    {"SND", nullptr, Kind::Sound, "sound", "sound", VerifyAudio, LoadSound, -1, -1},
    {"MUS", nullptr, Kind::Music, "music", "music", VerifyAudio, LoadMusic, -1, -1},
    {"BUT", nullptr, Kind::Widget, "widget", "widget", VerifyWidget, LoadWidget, 8, -1},
    {"FILE", nullptr, Kind::File, "file", "file", nullptr, nullptr, -1, -1},
    {"DELETED", nullptr, Kind::Deleted, "deleted", nullptr, nullptr, nullptr, -1, -1},
};

std::string FieldText(const char* field, size_t capacity) { return std::string(field, strnlen(field, capacity)); }

}  // namespace

const std::vector<KindRow>& Rows() {
    static const std::vector<KindRow> rows(std::begin(kTable), std::end(kTable));
    return rows;
}

const KindRow* Find(const std::string& type, bool* older) {
    for (const KindRow& row : kTable) {
        const bool isOlder = row.older && type == row.older;
        if (type == row.type || isOlder) {
            if (older) *older = isOlder;
            return &row;
        }
    }
    return nullptr;
}

const KindRow& Of(Kind kind) {
    for (const KindRow& row : kTable)
        if (row.kind == kind) return row;
    return kTable[std::size(kTable) - 1];
}

int InputCodes() {
    int n = 0;
    for (const KindRow& row : kTable) n = std::max({n, row.inputCode + 1, row.olderInputCode + 1});
    return n;
}

const KindRow* ByInputCode(int code, bool* older) {
    for (const KindRow& row : kTable) {
        if (row.inputCode == code || row.olderInputCode == code) {
            *older = row.olderInputCode == code;
            return &row;
        }
    }
    return nullptr;
}

const char* Word(const std::string& type) {
    const KindRow* row = Find(type);
    return row ? row->word : "other";
}

const std::vector<const char*>& Words() {
    static const std::vector<const char*> words = [] {
        std::vector<const char*> w;
        for (const KindRow& row : kTable)
            if (row.kind != Kind::Deleted) w.push_back(row.word);
        w.push_back("other");
        w.push_back(Of(Kind::Deleted).word);
        return w;
    }();
    return words;
}

int WalkEntries(int pkg, std::vector<Entry>& out, size_t limit) {
    if (!g_pStuffVLT) return 2;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    int r = g_pStuffVLT->FindFirst(pkg, &info);
    for (size_t n = 0; r == 1 && n < limit; ++n) {
        Entry e;
        e.name = FieldText(info.name, sizeof info.name);
        e.type = FieldText(info.type, sizeof info.type);
        e.mode = info.mode;
        e.size = info.size;
        e.packedSize = info.packedSize;
        out.push_back(std::move(e));
        std::memset(&info, 0, sizeof info);
        r = g_pStuffVLT->FindNext(pkg, &info);
    }
    return r == 0 || r == 1 ? 1 : 2;
}

}  // namespace kinds
