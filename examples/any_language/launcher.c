/* A launcher in C that adopts the hand-over through the C interface: with
   MinGW or MSVC, linking kes_selfupdate.dll's import library. */
#include <stdio.h>

#include "kestrelwood/kes_selfupdate.h"

#ifndef KES_EXAMPLE_VERSION_TEXT
#define KES_EXAMPLE_VERSION_TEXT "0.0.0.0"
#endif

int main(int argc, char** argv) {
    if (kes_self_update_scan_argv(argc, (const char* const*)argv) == 1) {
        return 0; /* a newer launcher beside this one has taken over */
    }
    printf("C launcher %s running as %s\n", KES_EXAMPLE_VERSION_TEXT, argv[0]);
    for (int i = 1; i < argc; ++i) {
        printf("  argument %d: [%s]\n", i, argv[i]);
    }
    return 0;
}
