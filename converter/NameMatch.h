// How the commands that take resource NAMEs (--extract, --delete) choose
// blocks: each NAME is an exact block name or a shell wildcard pattern
// ("*", "?", "[...]", as fnmatch(3) reads them with no flags) matched against
// whole block names. An exact name always selects its own block, even when
// it holds wildcard characters itself ("a[1]" selects "a[1]", and "a1" too).
#pragma once
#include <string>
#include <vector>

// Whether NAME selects the block name.
bool NameMatches(const std::string& pattern, const std::string& name);

// The first NAME that selects none of the names, or null when each selects
// at least one: a NAME that matches nothing is an error of the command line,
// reported before anything is read or written.
const std::string* FirstUnmatched(const std::vector<std::string>& patterns, const std::vector<std::string>& names);

// Whether any NAME selects the block name.
bool AnyMatches(const std::vector<std::string>& patterns, const std::string& name);
