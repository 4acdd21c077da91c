/* A launcher in C as a Visual Studio project builds it: MSVC's calling
   conventions and import libraries, here with clang-cl and lld-link, linking
   kes_selfupdate.lib. It needs no C runtime and no Windows SDK: the three
   KERNEL32 functions it uses are declared below. */
#include "kestrelwood/kes_selfupdate.h"

#ifndef KES_EXAMPLE_VERSION_TEXT
#define KES_EXAMPLE_VERSION_TEXT "0.0.0.0"
#endif

__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* bytes, unsigned long count,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) const char* __stdcall GetCommandLineA(void);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

static void say(const char* text) {
    unsigned long length = 0;
    unsigned long written = 0;
    while (text[length] != '\0') {
        ++length;
    }
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

void start(void) {
    if (kes_self_update_scan() == 1) {
        ExitProcess(0); /* a newer launcher beside this one has taken over */
    }
    say("C (MSVC) launcher " KES_EXAMPLE_VERSION_TEXT " running with the command line ");
    say(GetCommandLineA());
    say("\n");
    ExitProcess(0);
}
