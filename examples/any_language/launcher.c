/* A launcher in C that adopts the hand-over through the C interface: with
   MinGW or MSVC, linking kes_selfupdate.dll's import library. After the scan
   it joins the start program's identity and prunes old launchers; with
   KES_EXAMPLE_DOWNLOAD and KES_EXAMPLE_NAME set it lands that download
   (paths go to the interface in UTF-8). */
#include <stdio.h>
#include <windows.h>

#include "kestrelwood/kes_selfupdate.h"

#ifndef KES_EXAMPLE_VERSION_TEXT
#define KES_EXAMPLE_VERSION_TEXT "0.0.0.0"
#endif

/* An environment variable in UTF-8, as the interface takes paths: getenv
   would give the ANSI code page, which cannot hold every path. */
static const char* utf8_variable(const wchar_t* name, char* out, int size) {
    wchar_t wide[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, NULL, NULL) == 0) {
        return NULL;
    }
    return out;
}

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
    char download_text[4 * MAX_PATH];
    char name_text[4 * MAX_PATH];
    const char* download = utf8_variable(L"KES_EXAMPLE_DOWNLOAD", download_text, sizeof download_text);
    const char* name = utf8_variable(L"KES_EXAMPLE_NAME", name_text, sizeof name_text);
    if (download != NULL && name != NULL) {
        printf("  landed: %d\n", (int)kes_land_update(download, name, 60000));
    }
    return 0;
}
