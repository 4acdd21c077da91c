/* A launcher in C that adopts the hand-over through the C interface: with
   MinGW or MSVC, linking kes_selfupdate.dll's import library. After the scan
   it joins the start program's identity and prunes old launchers; with
   KES_EXAMPLE_DOWNLOAD and KES_EXAMPLE_NAME set it lands that download. */
#include <stdio.h>
#include <stdlib.h>

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
    /* Before any window: the taskbar groups it with the start program. */
    const int32_t joined = kes_join_start_identity();
    const int32_t pruned = kes_prune_launchers(2);
    printf("  cycle: identity %d, pruned %d\n", (int)joined, (int)pruned);
    const char* download = getenv("KES_EXAMPLE_DOWNLOAD");
    const char* name = getenv("KES_EXAMPLE_NAME");
    if (download != NULL && name != NULL) {
        printf("  landed: %d\n", (int)kes_land_update(download, name, 60000));
    }
    return 0;
}
