#include "start/debug_output.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kes {

void writeDebugLine(const char* format, ...) {
    static constexpr char kTagText[] = "[KestrelwoodStart] ";
    constexpr std::size_t kTag = sizeof kTagText - 1;
    char line[1024];
    std::memcpy(line, kTagText, kTag);
    va_list args;
    va_start(args, format);
    // The C runtime's own formatter, which the program imports anyway: the
    // compiler's portable one would add kilobytes to a program that has few.
    const int length = _vsnprintf(line + kTag, sizeof line - kTag - 2, format, args);
    va_end(args);
    const std::size_t end = length < 0 ? sizeof line - 2 : kTag + static_cast<std::size_t>(length);
    line[end] = '\n';
    line[end + 1] = '\0';
    OutputDebugStringA(line);
}

}  // namespace kes
