// A launcher that adopts the Kestrelwood self-update hand-over: two lines at
// the top of main, and a version resource carrying the family identifier
// (kes_launcher_version_info in CMakeLists.txt; launcher.rc without CMake).
#include <cstdio>

#include "kestrelwood/self_update.h"

int main(int argc, char** argv) {
    if (kes::runSelfUpdateScan(argc, argv)) {
        return 0;  // a newer launcher beside this one has taken over
    }
    std::puts("My launcher 1.3.0.0 is running.");
    return 0;
}
