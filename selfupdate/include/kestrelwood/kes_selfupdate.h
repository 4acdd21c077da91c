/* The self-update hand-over as a C interface, for launchers in any language.

   Call kes_self_update_scan first thing in the launcher:

       if (kes_self_update_scan() == 1) {
           return 0;  // a newer launcher beside this one has taken over
       }

   It looks in the launcher's own folder for a launcher of the same family
   with a strictly higher file version, starts it with this process's
   arguments plus a trailing skip flag, and returns 1 once that process
   exists; 0 means "go on as yourself". A launcher started that way skips the
   scan. Every decision is written as one line to the debugger output.

   The rules of the interface: every function is __cdecl and takes and returns
   fixed-width integers only. Nothing is allocated for the caller and no C++
   exception leaves a call. A call ends the process in one case only: when
   memory runs out during it (a scan needs a few kilobytes per file in the
   folder), the DLL ends the process with exit code 3, as a program built
   without C++ exceptions does; a launcher linked with the static library
   gets its own runtime's behaviour instead (std::bad_alloc, or the same).

   Linking: by default the functions are declared as imports from
   kes_selfupdate.dll (link kes_selfupdate.lib with MSVC, libkes_selfupdate.dll.a
   with MinGW, or load the DLL and look the names up). Define
   KES_SELFUPDATE_STATIC before including this header to link the static
   library libkes_selfupdate.a instead. No Windows header is needed. */
#ifndef KESTRELWOOD_KES_SELFUPDATE_H
#define KESTRELWOOD_KES_SELFUPDATE_H

#include <stdint.h>

#if defined(KES_SELFUPDATE_STATIC)
#define KES_SELFUPDATE_API
#elif defined(KES_SELFUPDATE_BUILDING_DLL)
#define KES_SELFUPDATE_API __declspec(dllexport)
#else
#define KES_SELFUPDATE_API __declspec(dllimport)
#endif

/* What kes_self_update_abi_version returns for this header. */
#define KES_SELFUPDATE_ABI_VERSION 1u

#ifdef __cplusplus
extern "C" {
#endif

/* The scan on this process's own command line, as Windows splits it: for
   launchers without argc and argv at hand (WinMain, Rust, Go, C#).
   1 when a newer launcher was started, 0 otherwise. */
KES_SELFUPDATE_API int32_t __cdecl kes_self_update_scan(void);

/* The scan with main's arguments (argv[0] is the program, and is not
   forwarded); the skip flag is looked for among argv[1] to argv[argc - 1].
   1 when a newer launcher was started, 0 otherwise. */
KES_SELFUPDATE_API int32_t __cdecl kes_self_update_scan_argv(int32_t argc, const char* const* argv);

/* KES_SELFUPDATE_ABI_VERSION of the library linked or loaded: a caller that
   loads the DLL at run time can check that it speaks this interface. */
KES_SELFUPDATE_API uint32_t __cdecl kes_self_update_abi_version(void);

#ifdef __cplusplus
}
#endif

#endif
