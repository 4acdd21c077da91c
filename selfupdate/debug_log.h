// The routine's log: one line per decision on the debugger output.
#pragma once

// The log lines use U+2014 EM DASH, written as its UTF-8 bytes.
#define KES_DASH " \xE2\x80\x94 "

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
