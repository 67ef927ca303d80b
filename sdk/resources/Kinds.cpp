#include "resources/Kinds.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "core/ByteReader.h"
#include "core/Endian.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/GraphicBlock.h"
#include "resources/IButton.h"
#include "resources/IImage.h"
#include "resources/ISoundFX.h"
#include "resources/PixelFormatRecord.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"
#include "resources/VocFile.h"

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


// ---------------------------------------------------------------------------
// Properties for a listing. Each reader loads its block (the package only
// decompresses it), reads what the kind's head says through the class's own
// decoder or a bounded reader, and lets the block go.

void AddNumber(Properties& out, const char* key, double value) {
    Property p;
    p.key = key;
    p.number = value;
    out.push_back(std::move(p));
}

void AddText(Properties& out, const char* key, std::string text) {
    Property p;
    p.key = key;
    p.form = Property::Form::Text;
    p.text = std::move(text);
    out.push_back(std::move(p));
}

bool LoadFor(BlockPayload& block, int pkg, const char* type, const std::string& name, std::string& why) {
    block.Load(pkg, type, name.c_str());
    return block.info.data || Refuse(why, "the block could not be loaded from the package");
}

const char* TypeText(Kind kind, bool older) { return older && Of(kind).older ? Of(kind).older : Of(kind).type; }

// Size, depth, alpha kind and colour key of a graphic block's pixel area.
void AddSurface(Properties& out, uint32_t w, uint32_t h, const PixelFormatRecord& rec) {
    AddNumber(out, "width", w);
    AddNumber(out, "height", h);
    AddNumber(out, "depth", rec.bitsPerPixel);
    AddText(out, "alpha", rec.Amask ? "per-pixel" : rec.alpha < 255 ? "per-surface" : "none");
    if (rec.colorkey != kNoColorKey && !rec.Amask) AddNumber(out, "colorkey", rec.colorkey);
}

// Images are read from their 48-byte head alone: what the listing shows is
// what the block claims (--verify judges whether the pixels agree).
bool ImageProperties(int pkg, const std::string& name, bool, Properties& out, std::string& why) {
    BlockPayload block;
    if (!LoadFor(block, pkg, TypeText(Kind::Image, false), name, why)) return false;
    ByteReader in(block.info.data, block.info.size);
    uint32_t w = 0, h = 0;
    PixelFormatRecord rec;
    if (!in.u32le(w) || !in.u32le(h) || !ReadPixelFormatRecord(in, rec))
        return Refuse(why, "the image head ends early");
    AddSurface(out, w, h, rec);
    return true;
}

// An older payload is read from an upgraded copy; the package is left as it is.
bool TileFields(int pkg, const std::string& name, Kind kind, bool older, TilePayload& t, std::string& why) {
    BlockPayload block;
    if (!LoadFor(block, pkg, TypeText(kind, older), name, why)) return false;
    std::vector<uint8_t> upgraded;
    if (older && !CTile::UpgradePayload(block.info.data, block.info.size, upgraded))
        return Refuse(why, "the tile head ends early");
    const uint8_t* data = older ? upgraded.data() : block.info.data;
    const size_t size = older ? upgraded.size() : block.info.size;
    if (!CTile::DecodePayload(data, size, t)) return Refuse(why, "the tile does not decode");
    t.pixels = t.palette = nullptr;  // they pointed into the block, which goes now
    return true;
}

bool TileProperties(int pkg, const std::string& name, bool older, Properties& out, std::string& why) {
    TilePayload t;
    if (!TileFields(pkg, name, Kind::Tile, older, t, why)) return false;
    if (t.tileset && t.xoffset > 0 && t.yoffset > 0) {
        AddSurface(out, uint32_t(t.xoffset), uint32_t(t.yoffset), t.format);
        AddNumber(out, "tiles", double(t.width / uint32_t(t.xoffset)) * double(t.height / uint32_t(t.yoffset)));
    } else {
        AddSurface(out, t.width, t.height, t.format);
        AddNumber(out, "tiles", 1);
    }
    return true;
}

bool StateImageProperties(int pkg, const std::string& name, bool older, Properties& out, std::string& why) {
    TilePayload t;
    if (!TileFields(pkg, name, Kind::StateImage, older, t, why)) return false;
    AddSurface(out, t.width, t.height, t.format);
    return true;
}

bool SpriteProperties(int pkg, const std::string& name, bool older, Properties& out, std::string& why) {
    BlockPayload block;
    if (!LoadFor(block, pkg, TypeText(Kind::Sprite, older), name, why)) return false;
    std::vector<uint8_t> upgraded;
    if (older && !CSprite::UpgradePayload(block.info.data, block.info.size, upgraded))
        return Refuse(why, "the sprite's animation table runs past its end");
    SpritePayload sp;
    if (!CSprite::DecodePayload(older ? upgraded.data() : block.info.data, older ? upgraded.size() : block.info.size,
                                sp))
        return Refuse(why, "the sprite does not decode");
    double frames = 0;
    for (const SpriteAnimation& a : sp.animations) frames += double(a.frames.size());
    AddSurface(out, sp.frameWidth, sp.frameHeight, sp.format);
    AddNumber(out, "frames", frames);
    AddNumber(out, "animations", double(sp.animations.size()));
    return true;
}

bool FontProperties(int pkg, const std::string& name, bool older, Properties& out, std::string& why) {
    BlockPayload block;
    if (!LoadFor(block, pkg, TypeText(Kind::Font, older), name, why)) return false;
    CFont font;
    const char* reason = nullptr;
    if (font.CreateFromPayload(block.info.data, block.info.size, older, &reason) != CFont::kCreated)
        return Refuse(why, reason ? std::string("the font does not decode: ") + reason
                                  : std::string("the font bitmap does not hold 94 glyphs between marker columns"));
    const SDL_Surface* s = font.GetSurface();
    AddNumber(out, "height", font.GetFontHeight());
    if (s && s->format) AddNumber(out, "depth", s->format->BitsPerPixel);
    AddText(out, "alpha", font.GetAlpha() == 256 ? "per-pixel" : font.GetAlpha() < 255 ? "per-surface" : "none");
    AddNumber(out, "glyphs", CFont::kGlyphs);
    return true;
}

// Sampled audio: rate, channels and, where the head tells, the length. Only
// the file's own head is read (chunk walks bounded by the bytes there are);
// nothing is decoded.
struct AudioHead {
    uint32_t rate = 0;
    uint32_t channels = 0;
    double seconds = -1;
};

uint32_t LoadBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t LoadBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

void WavHead(const uint8_t* d, size_t n, AudioHead& a) {
    uint32_t bits = 0;
    uint64_t dataBytes = 0;
    bool haveData = false;
    // "RIFF" size "WAVE", then chunks: id, u32 size, bytes, padded to even.
    for (size_t at = 12; at + 8 <= n;) {
        const uint32_t size = LoadLE32(d + at + 4);
        const size_t body = at + 8;
        if (std::memcmp(d + at, "fmt ", 4) == 0 && size >= 16 && n - body >= 16) {
            a.channels = LoadLE16(d + body + 2);
            a.rate = LoadLE32(d + body + 4);
            bits = LoadLE16(d + body + 14);
        } else if (std::memcmp(d + at, "data", 4) == 0) {
            dataBytes = std::min<uint64_t>(size, n - body);
            haveData = true;
        }
        if (uint64_t(size) + (size & 1) > n - body) break;
        at = body + size + (size & 1);
    }
    const uint64_t frameBytes = uint64_t(a.channels) * ((bits + 7) / 8);
    if (haveData && frameBytes && a.rate) a.seconds = double(dataBytes / frameBytes) / a.rate;
}

// The 80-bit extended rate of an AIFF "COMM" chunk.
double ExtendedValue(const uint8_t* p) {
    const int exponent = (p[0] & 0x7F) << 8 | p[1];
    const uint64_t mantissa = uint64_t(LoadBE32(p + 2)) << 32 | LoadBE32(p + 6);
    if (exponent == 0 || exponent == 0x7FFF) return 0;
    return std::ldexp(double(mantissa), exponent - 16383 - 63);
}

void AiffHead(const uint8_t* d, size_t n, AudioHead& a) {
    for (size_t at = 12; at + 8 <= n;) {
        const uint32_t size = LoadBE32(d + at + 4);
        const size_t body = at + 8;
        if (std::memcmp(d + at, "COMM", 4) == 0 && size >= 18 && n - body >= 18) {
            const double rate = ExtendedValue(d + body + 8);
            a.channels = LoadBE16(d + body);
            if (rate >= 1 && rate < 4294967296.0) {
                a.rate = uint32_t(rate);
                a.seconds = LoadBE32(d + body + 2) / rate;
            }
            return;
        }
        if (uint64_t(size) + (size & 1) > n - body) break;
        at = body + size + (size & 1);
    }
}

// Ogg Vorbis: the identification packet opens the first page; the length is
// the last page's granule position (samples) over the rate.
void OggHead(const uint8_t* d, size_t n, AudioHead& a) {
    if (n < 27) return;
    const size_t packet = 27 + size_t(d[26]);
    if (n < packet + 16 || d[packet] != 1 || std::memcmp(d + packet + 1, "vorbis", 6) != 0) return;
    a.channels = d[packet + 11];
    a.rate = LoadLE32(d + packet + 12);
    if (!a.rate) return;
    const size_t from = n > (64u << 10) ? n - (64u << 10) : 0;
    for (size_t at = n - 14; at > from; --at) {
        if (std::memcmp(d + at, "OggS", 4) != 0) continue;
        const uint64_t granule = uint64_t(LoadLE32(d + at + 10)) << 32 | LoadLE32(d + at + 6);
        if (granule != ~uint64_t(0)) a.seconds = double(granule) / a.rate;
        return;
    }
}

bool AudioProperties(int pkg, const std::string& name, Kind kind, Properties& out, std::string& why) {
    BlockPayload block;
    if (!LoadFor(block, pkg, TypeOf(kind), name, why)) return false;
    const uint8_t* d = block.info.data;
    const size_t n = block.info.size;
    const char* container = ISoundFX::FormatOfHead(d, n, kind == Kind::Music ? 1 : 0);
    if (!container) return Refuse(why, "the block is in no audio format the SDK knows");
    AddText(out, "container", container);
    AudioHead a;
    const std::string c = container;
    if (c == "WAV") {
        WavHead(d, n, a);
    } else if (c == "AIFF") {
        AiffHead(d, n, a);
    } else if (c == "OGG") {
        OggHead(d, n, a);
    } else if (c == "VOC") {
        vocfile::Format voc;
        const char* reason = nullptr;
        if (vocfile::ReadFormat(d, n, voc, reason)) {
            a.rate = voc.frequency;
            a.channels = voc.channels;
            const uint64_t frameBytes = uint64_t(voc.channels) * (voc.sampleFormat == AUDIO_U8 ? 1 : 2);
            if (frameBytes && voc.frequency) a.seconds = double(voc.decodedBytes / frameBytes) / voc.frequency;
        }
    }
    if (a.rate) AddNumber(out, "rate", a.rate);
    if (a.channels) AddNumber(out, "channels", a.channels);
    if (a.seconds >= 0) AddNumber(out, "seconds", std::round(a.seconds * 1000) / 1000);
    return true;
}

bool SoundProperties(int pkg, const std::string& name, bool, Properties& out, std::string& why) {
    return AudioProperties(pkg, name, Kind::Sound, out, why);
}

bool MusicProperties(int pkg, const std::string& name, bool, Properties& out, std::string& why) {
    return AudioProperties(pkg, name, Kind::Music, out, why);
}

bool WidgetProperties(int pkg, const std::string& name, bool, Properties& out, std::string& why) {
    ButtonRecord r;
    {
        BlockPayload block;
        if (!LoadFor(block, pkg, TypeOf(Kind::Widget), name, why)) return false;
        if (!IButton::DecodePayload(block.info.data, block.info.size, r))
            return Refuse(why, "the widget record is " + std::to_string(block.info.size) + " bytes long instead of 24");
    }
    const char* type = IButton::GetTypeName(r.type);
    AddText(out, "widget", type ? type : "unknown (" + std::to_string(r.type) + ")");
    Property states;
    states.key = "states";
    states.form = Property::Form::Names;
    for (const ButtonStateImage& image : IButton::kStateImages) {
        const std::string stateName = name + image.suffix;
        BlockPayload state;
        std::string unused;
        if (LoadFor(state, pkg, TypeOf(Kind::StateImage), stateName, unused) ||
            LoadFor(state, pkg, Of(Kind::StateImage).older, stateName, unused))
            states.names.push_back(image.state);
    }
    out.push_back(std::move(states));
    return true;
}

// "DELETED" marks an entry that Delete rewrote; a widget's state images
// are children of its element.
const KindRow kTable[] = {
    {"IMG", nullptr, Kind::Image, "image", "image", VerifyImage, LoadImage, 0, -1, ImageProperties},
    {"TILE2", "TILE", Kind::Tile, "tile", "tile", VerifyTile, LoadTile, 1, 2, TileProperties},
    {"TILB2", "TILB", Kind::StateImage, "state image", "image", VerifyTile, LoadStateImage, 3, -1,
     StateImageProperties},
    {"SPR2", "SPR", Kind::Sprite, "sprite", "sprite", VerifySprite, LoadSprite, 4, 5, SpriteProperties},
    {"FONT2", "FONT", Kind::Font, "font", "font", VerifyFont, LoadFont, 6, 7, FontProperties},
    {"SND", nullptr, Kind::Sound, "sound", "sound", VerifyAudio, LoadSound, -1, -1, SoundProperties},
    {"MUS", nullptr, Kind::Music, "music", "music", VerifyAudio, LoadMusic, -1, -1, MusicProperties},
    {"BUT", nullptr, Kind::Widget, "widget", "widget", VerifyWidget, LoadWidget, 8, -1, WidgetProperties},
    {"FILE", nullptr, Kind::File, "file", "file", nullptr, nullptr, -1, -1, nullptr},
    {"DELETED", nullptr, Kind::Deleted, "deleted", nullptr, nullptr, nullptr, -1, -1, nullptr},
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

Entry EntryOf(const BlockInfo& info) {
    Entry e;
    e.name = FieldText(info.name, sizeof info.name);
    e.type = FieldText(info.type, sizeof info.type);
    e.mode = info.mode;
    e.size = info.size;
    e.packedSize = info.packedSize;
    return e;
}

int WalkEntries(int pkg, std::vector<Entry>& out, size_t limit) {
    if (!g_pStuffVLT) return 2;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    int r = g_pStuffVLT->FindFirst(pkg, &info);
    for (size_t n = 0; r == 1 && n < limit; ++n) {
        out.push_back(EntryOf(info));
        std::memset(&info, 0, sizeof info);
        r = g_pStuffVLT->FindNext(pkg, &info);
    }
    return r == 0 || r == 1 ? 1 : 2;
}

}  // namespace kinds

namespace kinds {

bool ReadProperties(int pkg, const Entry& entry, Properties& out, std::string& why) {
    out.clear();
    why.clear();
    bool older = false;
    const KindRow* row = entry.deleted() ? nullptr : Find(entry.type, &older);
    if (!row || !row->properties || !g_pStuffVLT) return true;
    if (row->properties(pkg, entry.name, older, out, why)) return true;
    out.clear();
    return false;
}

}  // namespace kinds
