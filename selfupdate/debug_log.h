// The routine's log: one line per decision on the debugger output.
#pragma once

namespace kes {

// Writes tag, message and a line feed to the debugger output as three writes.
void debugLog(const char* message);

// printf-style; the formatted message is cut after 511 bytes.
void debugLogf(const char* format, ...)
#if defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

}  // namespace kes
