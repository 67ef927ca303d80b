#include "NameMatch.h"

#include <fnmatch.h>

bool NameMatches(const std::string& pattern, const std::string& name) {
    return pattern == name || ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& name) {
    for (const std::string& p : patterns)
        if (NameMatches(p, name)) return true;
    return false;
}

const std::string* FirstUnmatched(const std::vector<std::string>& patterns, const std::vector<std::string>& names) {
    for (const std::string& p : patterns) {
        bool found = false;
        for (const std::string& n : names) {
            if (NameMatches(p, n)) {
                found = true;
                break;
            }
        }
        if (!found) return &p;
    }
    return nullptr;
}
