// Conversions between UTF-8 (how paths and identifiers are kept) and UTF-16
// (how Windows is called). None reports an error: failure gives an empty string.
#pragma once

#include <cstddef>
#include <string>

namespace kes {

// Lenient: converts the bytes before the first NUL; ill-formed input becomes U+FFFD.
std::wstring utf8ToWide(const std::string& text);

// Strict: converts every byte up to the length (NUL bytes included) and fails,
// giving an empty string, on any ill-formed UTF-8.
std::wstring utf8ToWideStrict(const std::string& text);

// Lenient: converts exactly `count` units; an unpaired surrogate becomes EF BF BD.
std::string wideToUtf8(const wchar_t* units, std::size_t count);

}  // namespace kes
