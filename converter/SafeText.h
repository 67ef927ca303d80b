// Names from a package, a document or the command line as a terminal may
// show them: such a name may hold control characters that a hostile file
// would use to drive the terminal.
#pragma once
#include <string>

enum class SafeStyle {
    // The package commands: backslash doubled, \n \r \t, other control
    // characters (C0, DEL, C1) and bytes that are not well-formed UTF-8 as
    // \xNN.
    Escaped,
    // The export and import lines: C0 controls and DEL become "?", every
    // other byte stays as it is.
    Masked,
};

std::string SafeText(const std::string& bytes, SafeStyle style = SafeStyle::Escaped);

// A block name as a document holds it. XML takes neither control characters
// nor bytes that are not UTF-8 (nor U+FFFE and U+FFFF), so each such byte is
// written as "\xNN" (two upper-case hex digits) and a backslash as "\\";
// everything else stays as it is. NameFromDocument reads that back: "\\" is
// a backslash, "\x" with two hex digits that byte, and any other backslash
// stays a backslash.
std::string NameForDocument(const std::string& name);
std::string NameFromDocument(const std::string& text);
