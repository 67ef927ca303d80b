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
