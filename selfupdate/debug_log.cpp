#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "debug_log.h"

namespace kes {

namespace {
constexpr char kTag[] = "[keslauncher][selfupdate] ";
constexpr std::size_t kFormatBufferSize = 512;
}  // namespace

// Three writes, never joined: a listener sees the tag, the message and the
// line end separately. Nothing is allocated.
void debugLog(const char* message) {
    OutputDebugStringA(kTag);
    OutputDebugStringA(message);
    OutputDebugStringA("\n");
}

void debugLogf(const char* format, ...) {
    char buffer[kFormatBufferSize];
    va_list args;
    va_start(args, format);
    // Longer output is cut after 511 bytes, possibly inside a UTF-8 sequence.
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    buffer[kFormatBufferSize - 1] = '\0';
    debugLog(buffer);
}

}  // namespace kes
