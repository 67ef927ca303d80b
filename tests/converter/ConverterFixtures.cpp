#include "ConverterFixtures.h"

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>

#include <tinyxml.h>

#include "core/Endian.h"
#include "core/Trovalis.h"
#include "package/IStuffVLT.h"
#include "resources/Font.h"
#include "resources/IImage.h"
#include "resources/Sprite.h"
#include "resources/Tile.h"

namespace conv {

namespace {
void Put(SDL_Surface* s, int x, int y, Uint32 v) {
    std::memcpy(static_cast<Uint8*>(s->pixels) + y * s->pitch + x * 4, &v, 4);
}
}  // namespace

SDL_Surface* Rgba(int w, int h, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE | SDL_SRCALPHA, w, h, 32, 0x000000FF, 0x0000FF00,
                                          0x00FF0000, 0xFF000000);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(s, x, y,
                SDL_MapRGBA(s->format, static_cast<Uint8>(x * 7 + seed), static_cast<Uint8>(y * 5 + seed * 3),
                            static_cast<Uint8>(x ^ y), static_cast<Uint8>((x + y) * 9)));
    return s;
}

SDL_Surface* Rgb(int w, int h, uint32_t seed) {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(s, x, y,
                SDL_MapRGB(s->format, static_cast<Uint8>(x * 11 + seed), static_cast<Uint8>(y * 3),
                           static_cast<Uint8>(seed * 17)));
    return s;
}

SDL_Surface* FontStrip() {
    const int h = 8;
    int width = 1;
    for (int c = 33; c <= 126; ++c) width += 2 + c % 2 + 1;
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, width, h, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    SDL_FillRect(s, nullptr, 0);
    int x = 1;
    for (int c = 33; c <= 126; ++c) {
        const int w = 2 + c % 2;
        for (int i = 0; i < w; ++i)
            for (int y = 2; y < h; ++y) Put(s, x + i, y, SDL_MapRGB(s->format, 200, 200, static_cast<Uint8>(c)));
        x += w + 1;
    }
    return s;
}

Builder::Builder(const std::string& path) { id_ = g_pStuffVLT->Create(path.c_str()); }

void Builder::Close() {
    if (id_ > 0) g_pStuffVLT->Close(id_);
    id_ = 0;
}

void Builder::Image(const char* name, SDL_Surface* s) {
    EXPECT_GT(g_pImage->Save(id_, name, s), 0) << name;
    SDL_FreeSurface(s);
}

void Builder::Tile(const char* name, SDL_Surface* s, const char* type, int x, int y) {
    CTile t;
    EXPECT_TRUE(t.Create(s, name)) << name;
    SDL_FreeSurface(s);
    t.SetPosition(x, y);
    EXPECT_GT(t.Save(id_, type), 0) << name;
}

void Builder::Sprite(const char* name, SDL_Surface* s, int fw, int fh) {
    CSprite sp;
    EXPECT_GT(sp.Create(s, name, fw, fh), 0) << name;
    SDL_FreeSurface(s);
    EXPECT_GT(sp.Save(id_, "SPR2"), 0) << name;
}

void Builder::Font(const char* name, int kerning) {
    CFont f;
    SDL_Surface* s = FontStrip();
    EXPECT_EQ(f.Create(s), 96) << name;
    SDL_FreeSurface(s);
    f.SetKerning(kerning);
    EXPECT_GT(f.Save(id_, name), 0) << name;
}

void Builder::Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name);
    std::snprintf(info.type, sizeof info.type, "%s", type);
    info.mode = mode;
    info.size = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> copy = bytes;
    copy.push_back(0);
    info.data = copy.data();
    EXPECT_GT(g_pStuffVLT->AddData(id_, &info), 0) << name;
}

void Builder::Widget(const char* name, uint8_t type, uint16_t x, uint16_t y) {
    std::vector<uint8_t> record(24, 0);
    StoreLE16(record.data() + 4, 32);  // key
    record[6] = type;
    StoreLE32(record.data() + 8, 0xFF00FF00u);  // select box (top bit set: written negative)
    StoreLE16(record.data() + 12, x);
    StoreLE16(record.data() + 14, y);
    StoreLE16(record.data() + 16, static_cast<uint16_t>(-5));
    record[18] = 1;
    StoreLE32(record.data() + 20, 77);
    Raw(name, "BUT", record, 0);
}

void Builder::Delete(const char* name, const char* type) {
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.name, sizeof info.name, "%s", name);
    std::snprintf(info.type, sizeof info.type, "%s", type);
    EXPECT_NE(g_pStuffVLT->Delete(id_, &info), 0) << name;
}

std::vector<Entry> Entries(const std::string& package) {
    std::vector<Entry> out;
    const int id = g_pStuffVLT->Open(package.c_str());
    if (id < 1) return out;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    if (g_pStuffVLT->FindFirst(id, &info) == 1) {
        do {
            out.push_back({std::string(info.name, strnlen(info.name, 32)), std::string(info.type, strnlen(info.type, 8))});
        } while (g_pStuffVLT->FindNext(id, &info) == 1);
    }
    g_pStuffVLT->Close(id);
    return out;
}

std::vector<uint8_t> Block(const std::string& package, const char* type, const char* name) {
    std::vector<uint8_t> out;
    const int id = g_pStuffVLT->Open(package.c_str());
    if (id < 1) return out;
    BlockInfo info;
    std::memset(&info, 0, sizeof info);
    g_pStuffVLT->LoadBlock(id, type, name, &info);
    if (info.data) out.assign(info.data, info.data + info.size);
    g_pStuffVLT->FreeBlock(&info);
    g_pStuffVLT->Close(id);
    return out;
}

bool HasBlock(const std::string& package, const char* type, const char* name) {
    for (const Entry& e : Entries(package))
        if (e.type == type && e.name == name) return true;
    return false;
}

std::string Lines(const std::string& console) {
    std::string s = console;
    for (char& c : s)
        if (c == '\r') c = '\n';
    return s;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

std::vector<std::pair<std::string, std::string>> Attributes(const TiXmlElement* e) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) out.emplace_back(a->Name(), a->Value());
    return out;
}

std::vector<const TiXmlElement*> Children(const TiXmlElement* e, const char* tag) {
    std::vector<const TiXmlElement*> out;
    for (const TiXmlElement* c = tag ? e->FirstChildElement(tag) : e->FirstChildElement(); c;
         c = tag ? c->NextSiblingElement(tag) : c->NextSiblingElement())
        out.push_back(c);
    return out;
}

int RunTool(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SourceDir() { return BUNDLEX_SOURCE_DIR; }

}  // namespace conv
