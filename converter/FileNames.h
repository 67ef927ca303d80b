// Names of the files the converter reads and writes, as the user gave them.
#pragma once
#include <string>

// Whether a path ends in the extension (".vlt", ".xml", ".html"), in any
// case. The extension alone is enough: ".vlt" ends in ".vlt".
bool EndsInExtension(const std::string& path, const std::string& extension);
