// Two ways of deciding whether two paths name the same file. They are not
// interchangeable: the start program compares normalised forms, the self-update
// routine compares the texts as they stand, ignoring case only.
#pragma once

#include <string>

namespace kes {

// Environment references expanded, made absolute against the current
// directory, '/' turned into '\', lower-cased. Empty when the path has no
// normalised form (empty input, or over the 32767-unit limits).
std::wstring normalizePathForCompare(const std::wstring& path);

// True when the two UTF-8 paths are the same text apart from case.
bool pathsEqualIgnoreCase(const std::string& a, const std::string& b);

}  // namespace kes
