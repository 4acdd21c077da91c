// The reference launcher: what a launcher of the family does with the
// self-update routine. It hands over to a newer sibling when there is one, and
// otherwise goes on as itself: it says which launcher and version is running
// and with which arguments, and records that next to itself (launch_record.h).
#include <windows.h>

#include <cstdio>

#include "kestrelwood/self_update.h"
#include "launch_record.h"

#ifndef KES_REFERENCE_VERSION
#error "KES_REFERENCE_VERSION must be set by the build"
#endif

int main(int argc, char** argv) {
    if (kes::runSelfUpdateScan(argc, argv)) {
        std::printf("reference launcher %s: handed over to a newer launcher\n", KES_REFERENCE_VERSION);
        return 0;
    }

    std::printf("reference launcher %s running as %s\n", KES_REFERENCE_VERSION, argc > 0 ? argv[0] : "?");
    for (int i = 1; i < argc; ++i) {
        std::printf("  argument %d: [%s]\n", i, argv[i]);
    }
    std::fflush(stdout);
    return kes::writeLaunchRecord() ? 0 : 4;
}
