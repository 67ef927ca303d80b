// The tables of docs/orbv1.md, made from the table of elements and
// attributes (kinds/Attributes.h): one table per element, in the order of
// the table of kinds. The file holds them between kTablesBegin and
// kTablesEnd; the prose around them is written by hand.
#pragma once
#include <string>

namespace orb {

constexpr const char* kTablesBegin =
    "<!-- tables: made by tools/orbv1_tables from the converter's table; do not edit -->";
constexpr const char* kTablesEnd = "<!-- end of tables -->";

// The markdown between the two markers (without them).
std::string ReferenceTables();

// The text with what lies between its markers replaced by the tables; false
// when it has no pair of markers.
bool WithReferenceTables(const std::string& text, std::string& out);

}  // namespace orb
