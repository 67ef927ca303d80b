// The block types a package holds, one row per type that a class of the
// SDK owns: its type text and the older (1.0) text the same class upgrades,
// the kind, the word reports use, the element that stands for it in an
// interchange document, how its payload is judged and how a reader loads it
// through its class. Everything that chooses by type text (the converter,
// its package commands, the fuzz targets and their seeds) asks this table.
// Adding a kind is one row here and the kind's own file.
//
// Also here: the walk over a package's entries through their descriptors,
// which every reader of a whole package starts with, and the properties of
// a block that a listing shows (ReadProperties).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BlockInfo;

namespace kinds {

enum class Kind { Image, Tile, StateImage, Sprite, Font, Sound, Music, Widget, File, Deleted };

// Judges a payload as the owning class decodes it, without a package:
// true when it decodes, else false with the reason (a sentence without its
// full stop) in why. older: the payload has the older layout.
using VerifyFn = bool (*)(const uint8_t* data, size_t size, bool older, std::string& why);
// Loads block name of package pkg through its class as a reader does (an
// older block is upgraded inside the package) and lets it go again.
using LoadFn = void (*)(int pkg, const char* name);

// One property of a block, as a listing shows it: a number, a text or a
// list of names. Keys are "width", "height", "depth", "alpha", "colorkey",
// "tiles", "frames", "animations", "glyphs", "container", "rate",
// "channels", "seconds", "widget" and "states". Width and height are the
// size of one tile of a tile set and of one frame of a sprite; "tiles" and
// "frames" count them.
struct Property {
    enum class Form { Number, Text, Names };
    std::string key;
    Form form = Form::Number;
    double number = 0;               // Number
    std::string text;                // Text
    std::vector<std::string> names;  // Names
};
using Properties = std::vector<Property>;
// Reads the properties of block name (older: of the row's older type) from
// package pkg without changing the package (an older block is read from a
// copy, never upgraded in place): true with out filled, else false with the
// reason (a sentence without its full stop) in why. Nothing beyond the
// block's own bytes is read, whatever its head claims.
using PropertiesFn = bool (*)(int pkg, const std::string& name, bool older, Properties& out, std::string& why);

struct KindRow {
    const char* type;   // the type text the class writes
    const char* older;  // the 1.0 type text the class upgrades, or null
    Kind kind;
    const char* word;     // the kind as reports name it ("state image", ...)
    const char* element;  // the document element that carries it, or null
    VerifyFn verify;      // null: raw bytes, loading is all there is
    LoadFn load;          // null: no class reads it
    // The byte that names this type (and its older one) in a payload-only
    // input (the payload fuzz target and its seeds); -1 for none.
    int inputCode;
    int olderInputCode;
    PropertiesFn properties;  // null: the kind has none worth listing
};

// Every row, in table order.
const std::vector<KindRow>& Rows();

// The row of a type text (exact: the 1.0 forms are told apart from the
// current ones), or null for a type no class owns; older tells which of
// the row's two texts it is.
const KindRow* Find(const std::string& type, bool* older = nullptr);
// The row of a kind (every kind has exactly one), and its type text.
const KindRow& Of(Kind kind);
inline const char* TypeOf(Kind kind) { return Of(kind).type; }
// The row and form named by a payload input's first byte (taken modulo
// InputCodes()).
const KindRow* ByInputCode(int code, bool* older);
int InputCodes();

// The kind word of a type text, "other" for a type no class owns.
const char* Word(const std::string& type);
// Every kind word in report order, "other" among them.
const std::vector<const char*>& Words();

// One entry of a package as FindFirst/FindNext give it.
struct Entry {
    std::string name;
    std::string type;
    uint8_t mode = 0;
    uint32_t size = 0;
    uint32_t packedSize = 0;
    bool deleted() const { return type == Of(Kind::Deleted).type; }
};
// The entry a package search gave as info.
Entry EntryOf(const ::BlockInfo& info);
// Walks the entries of an open package through their descriptors, at most
// limit of them. 1 when the walk reached the end (or the limit), 2 when a
// read error stopped it; the entries before the stop are in out.
int WalkEntries(int pkg, std::vector<Entry>& out, size_t limit = SIZE_MAX);

// The properties of an entry through its row: false with why for a block
// that cannot be read; true with nothing for a deleted entry, a type no
// class owns and a kind without properties.
bool ReadProperties(int pkg, const Entry& entry, Properties& out, std::string& why);

}  // namespace kinds
