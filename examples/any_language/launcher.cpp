// A launcher in C++ that links the static library (here for 32-bit Windows).
#include <cstdio>

#include "kestrelwood/self_update.h"

#ifndef KES_EXAMPLE_VERSION_TEXT
#define KES_EXAMPLE_VERSION_TEXT "0.0.0.0"
#endif

int main(int argc, char** argv) {
    if (kes::runSelfUpdateScan(argc, argv)) {
        return 0;  // a newer launcher beside this one has taken over
    }
    std::printf("C++ launcher %s running as %s\n", KES_EXAMPLE_VERSION_TEXT, argv[0]);
    for (int i = 1; i < argc; ++i) {
        std::printf("  argument %d: [%s]\n", i, argv[i]);
    }
    return 0;
}
