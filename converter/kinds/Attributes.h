// Every element and attribute of an ORBv1 document, as data: what the
// export writes and what the import reads, with the type, range, default and
// need of each value and a line that says what it means. The root's rows are
// the document's own (Attributes.cpp); each kind's rows lie in its own file
// under kinds/ and reach this list through the table of kinds (KindTable.h).
// The reference of the format and the checking of documents are made from
// these rows, so a value the import reads or the export writes that is not
// here is a fault of this table.
//
// Before the import takes anything, the document is checked against these
// rows (document/DocumentCheck.h): an element or attribute that has no row,
// a word that is not one of its words and a number that is not a whole
// decimal number within [min, max] (or one of its words) refuse the element
// that holds it, with its line and column. Words are matched whole; every
// graphic element takes either spelling of per-surface blending
// ("per-surface", and "per-pSurface", which the tiles' export writes).
// WrittenOnly values are not read, so they are not checked either.
#pragma once
#include <climits>
#include <cstddef>
#include <utility>
#include <vector>

namespace orb {

enum class ValueType {
    Integer,      // a whole number in decimal, within [min, max]; words, when
                  // given, are the only numbers taken
    Enumeration,  // one of the words
    Colour,       // a pixel value in decimal: 0xRRGGBB of a true-colour
                  // payload or a palette index; -1 stands for none
    Name,         // a block name as the document writes it (\xNN and \\ for
                  // bytes XML does not take), at most 31 bytes once read back
    PayloadPath,  // a payload file, relative to the document's folder
    PackagePath,  // a package file, relative to the document's folder
    Text,         // free text
};

enum class Need {
    Required,     // the import refuses the element without it
    Conditional,  // required only as "when" says, and ignored otherwise
    Optional,     // read when present; "fallback" when absent
    WrittenOnly,  // the export writes it; the import does not read it
};

struct Attribute {
    const char* name;
    ValueType type;
    long long min;                   // Integer and Colour: the smallest value taken
    long long max;                   // Integer and Colour: the largest value taken
    std::vector<const char*> words;  // Enumeration: the words; Integer: the only values taken (empty: any)
    const char* fallback;            // the value taken when it is absent, or null for none
    Need need;
    const char* when;     // Conditional: the condition, in words; else null
    const char* meaning;  // one line of plain English for the reference
};

// The rows as the kinds' tables write them.
inline Attribute Int(const char* name, long long min, long long max, Need need, const char* meaning,
                     const char* when = nullptr) {
    return {name, ValueType::Integer, min, max, {}, nullptr, need, when, meaning};
}
inline Attribute IntOf(const char* name, std::vector<const char*> values, Need need, const char* meaning) {
    return {name, ValueType::Integer, INT_MIN, INT_MAX, std::move(values), nullptr, need, nullptr, meaning};
}
inline Attribute Words(const char* name, std::vector<const char*> words, Need need, const char* meaning) {
    return {name, ValueType::Enumeration, 0, 0, std::move(words), nullptr, need, nullptr, meaning};
}
inline Attribute Colour(const char* name, long long min, Need need, const char* meaning, const char* when = nullptr) {
    return {name, ValueType::Colour, min, INT_MAX, {}, nullptr, need, when, meaning};
}
inline Attribute Of(const char* name, ValueType type, Need need, const char* meaning) {
    return {name, type, 0, 0, {}, nullptr, need, nullptr, meaning};
}

// One element: its tag, the tag of its parent ("" for the root), what it
// stands for and its attributes.
struct Element {
    const char* tag;
    const char* parent;
    const char* meaning;
    std::vector<Attribute> attributes;
};

using Elements = std::vector<Element>;

// The root element.
const Elements& RootElements();

// Every element of the document with its attributes: the root's, then each
// kind's in the order of the table of kinds.
std::vector<const Element*> AllElements();

// Ranges shared by the kinds' rows.
constexpr long long kIntMin = INT_MIN;
constexpr long long kIntMax = INT_MAX;
constexpr long long kU16Max = 0xFFFF;
constexpr long long kI16Min = -0x8000;
constexpr long long kI16Max = 0x7FFF;

// Rows that several kinds share: the name, a payload and its blending.
const char* const kNameMeaning =
    "the block's name in the package (at most 31 bytes; a control character or a byte that is not UTF-8 as \\xNN, "
    "a backslash as \\\\)";
const char* const kSourceMeaning =
    "the payload file, relative to the document's folder (it must lie inside that folder's tree)";
const char* const kBlendingMeaning =
    "how the picture is blended: \"per-pixel\" takes the payload as a PNG with its alpha channel; \"per-surface\" "
    "takes it as a BMP with alphamod and colorkey";
// The same for the kinds whose per-surface payload may be a PNG as well.
const char* const kBlendingOrPngMeaning =
    "how the picture is blended: \"per-pixel\" takes the payload as a PNG with its alpha channel; \"per-surface\" "
    "takes it as a BMP or a PNG, with alphamod and colorkey";
const char* const kAlphaModMeaning = "the alpha of the whole surface, 0 transparent to 255 opaque";
const char* const kColorKeyMeaning =
    "the transparent pixel value (0xRRGGBB in decimal, or the palette index of a paletted payload), -1 for none";
const char* const kPerSurfaceOnly = "alphablending is not \"per-pixel\"";

inline Attribute NameRow() { return Of("name", ValueType::Name, Need::Required, kNameMeaning); }
inline Attribute SourceRow(const char* meaning = kSourceMeaning) {
    return Of("source", ValueType::PayloadPath, Need::Required, meaning);
}
inline Attribute BlendingRow(const char* perSurfaceWord, const char* meaning = kBlendingMeaning) {
    return Words("alphablending", {"per-pixel", perSurfaceWord}, Need::Required, meaning);
}
inline Attribute AlphaModRow() { return Int("alphamod", 0, 255, Need::Conditional, kAlphaModMeaning, kPerSurfaceOnly); }
inline Attribute ColorKeyRow() { return Colour("colorkey", -1, Need::Conditional, kColorKeyMeaning, kPerSurfaceOnly); }

}  // namespace orb
