#include "common/path_compare.h"

#include <windows.h>

#include "common/encoding.h"

namespace kes {

// Alone in its file: the self-update routine links this comparison, and the
// normalisation's user32 call would bring an import of user32 with it.
bool pathsEqualIgnoreCase(const std::string& a, const std::string& b) {
    const std::wstring wideB = utf8ToWide(b);
    const std::wstring wideA = utf8ToWide(a);
    return lstrcmpiW(wideA.c_str(), wideB.c_str()) == 0;
}

}  // namespace kes
