#include "FileNames.h"

#include <cctype>

bool EndsInExtension(const std::string& path, const std::string& extension) {
    if (path.size() < extension.size()) return false;
    const size_t start = path.size() - extension.size();
    for (size_t i = 0; i < extension.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[start + i])) !=
            std::tolower(static_cast<unsigned char>(extension[i])))
            return false;
    return true;
}
