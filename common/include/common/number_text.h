// Numbers as text, without printf (which the start program does not carry).
#pragma once

#include <cstdint>
#include <string>

namespace kes {

// The digits of `value` in base 10 or 16 (lower-case), most significant first,
// zero-filled to at least `minDigits`.
std::wstring unsignedToText(std::uint64_t value, unsigned base, unsigned minDigits = 1);

}  // namespace kes
