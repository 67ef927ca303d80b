// Shared pieces of the converter tests: packages built in-process through
// the SDK, surfaces to put in them, and readers for what the bundlex
// executable wrote (packages, documents, console text).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <SDL.h>

#include "TestSupport.h"

class TiXmlElement;

namespace conv {

// A per-pixel surface (32-bit with an alpha channel, varying alpha) or a
// per-surface one (32-bit, no alpha channel), filled with a pattern from seed.
SDL_Surface* Rgba(int w, int h, uint32_t seed);
SDL_Surface* Rgb(int w, int h, uint32_t seed);
// A font strip that CFont accepts: black, 94 glyphs with a gap before each.
SDL_Surface* FontStrip();

// A package being built; closed (and so written) by Close or destruction.
class Builder {
public:
    explicit Builder(const std::string& path);
    ~Builder() { Close(); }
    void Close();
    int id() const { return id_; }

    void Image(const char* name, SDL_Surface* s);  // takes the surface
    void Tile(const char* name, SDL_Surface* s, const char* type = "TILE2", int x = 0, int y = 0);
    void Sprite(const char* name, SDL_Surface* s, int fw, int fh);
    void Font(const char* name, int kerning);
    void Raw(const char* name, const char* type, const std::vector<uint8_t>& bytes, uint8_t mode = 1);
    void Widget(const char* name, uint8_t type, uint16_t x = 5, uint16_t y = 6);
    void Delete(const char* name, const char* type);

private:
    int id_ = 0;
};

struct Entry {
    std::string name;
    std::string type;
};
std::vector<Entry> Entries(const std::string& package);
// The block's loaded payload; empty when it does not load.
std::vector<uint8_t> Block(const std::string& package, const char* type, const char* name);
bool HasBlock(const std::string& package, const char* type, const char* name);

// The console text with every carriage return turned into a line break.
std::string Lines(const std::string& console);
int Count(const std::string& text, const std::string& what);

// Attributes of an element as (name, value) pairs, in document order.
std::vector<std::pair<std::string, std::string>> Attributes(const TiXmlElement* e);
std::vector<const TiXmlElement*> Children(const TiXmlElement* e, const char* tag = nullptr);

// Runs an external checker (xmllint, pngcheck) quietly; its exit code.
int RunTool(const std::string& command);

std::string SourceDir();

}  // namespace conv
