#include "common/number_text.h"

namespace kes {

std::wstring unsignedToText(std::uint64_t value, unsigned base, unsigned minDigits) {
    wchar_t digits[64];
    unsigned n = 0;
    do {
        digits[n++] = L"0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    while (n < minDigits && n < 64) {
        digits[n++] = L'0';
    }
    std::wstring text;
    text.reserve(n);
    while (n > 0) {
        text.push_back(digits[--n]);
    }
    return text;
}

}  // namespace kes
