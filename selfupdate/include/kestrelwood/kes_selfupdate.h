/* The self-update hand-over as a C interface, for launchers in any language.

   A launcher's update cycle: at start, kes_self_update_scan (and exit when
   it handed over), then kes_join_start_identity before any window, then
   kes_prune_launchers; later, once a download is complete, kes_land_update;
   the next start hands over to the landed launcher.

   Call kes_self_update_scan first thing in the launcher:

       if (kes_self_update_scan() == 1) {
           return 0;  // a newer launcher beside this one has taken over
       }

   It looks in the launcher's own folder for a launcher of the same family
   with a strictly higher file version, starts it with this process's
   arguments plus a trailing skip flag, and returns 1 once that process
   exists; 0 means "go on as yourself". A launcher started that way skips the
   scan. Every decision is written as one line to the debugger output.
   Version 2 of the interface adds the landing, the pruning and the identity
   below; the functions of version 1 are unchanged.

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
#define KES_SELFUPDATE_ABI_VERSION 2u

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

/* What kes_land_update, kes_prune_launchers and kes_join_start_identity
   return when they fail; each failure is also logged with its reason. */
#define KES_ERROR_ARGUMENT (-1)          /* a null path or name, or one that is not UTF-8 */
#define KES_ERROR_SELF (-2)              /* this launcher's own path or version resource cannot be read,
                                            or it is not a launcher of the family */
#define KES_ERROR_UNREADABLE (-3)        /* the download cannot be opened or read, or is being written */
#define KES_ERROR_DAMAGED (-4)           /* the download is damaged or cut short */
#define KES_ERROR_NOT_AN_IMAGE (-5)      /* the download is no Windows executable at all */
#define KES_ERROR_OTHER_MACHINE (-6)     /* the download is built for a machine this computer cannot run */
#define KES_ERROR_OTHER_FAMILY (-7)      /* no valid version resource with the family's identifier */
#define KES_ERROR_NOT_NEWER (-8)         /* its version is not higher than the running launcher's */
#define KES_ERROR_BAD_NAME (-9)          /* not a plain file name ending in .exe, a reserved or the
                                            start program's name, or too long for the folder */
#define KES_ERROR_NAME_TAKEN (-10)       /* another file already has that name */
#define KES_ERROR_BUSY (-11)             /* a file stayed in use (sharing, lock or access refused)
                                            until retry_ms had passed */
#define KES_ERROR_IO (-12)               /* copying, flushing or renaming failed otherwise */
#define KES_ERROR_STAGED_COPY_BAD (-13)  /* the copy in the folder did not pass the judgement again */
#define KES_ERROR_IDENTITY_REFUSED (-14) /* the shell could not be loaded or refused the identity */
#define KES_ERROR_NOT_A_PROGRAM (-15)    /* the download is an image that Windows does not start as a
                                            program: a DLL, or neither a GUI nor a console program */
#define KES_ERROR_PUBLISHER_REFUSED (-16) /* this launcher pins publisher keys (KesPublisherKeys), and the
                                             download or its staged copy is not signed with one of them */

/* Puts a downloaded launcher into this launcher's folder under file_name (a
   plain name such as "KestrelwoodLauncher-1.3.exe", UTF-8), and returns 1 when
   a file of exactly those bytes now lies there under that name; a negative
   KES_ERROR_ code otherwise.
   - The download must be a whole image of a program (a GUI or console
     program, not a DLL) for a machine this computer runs, with the family's
     identifier and a version higher than this launcher's; where this
     launcher's version resource pins publisher keys, signed with one of them.
   - A new version lands beside the old ones, never over one: a file of that
     name with other bytes is refused; one with the same bytes returns 1, so
     that a retry after a crash lands nothing twice.
   - The bytes are copied (the copy takes the folder's permissions) into
     "<file_name>.kes-landing", which no *.exe search matches, flushed, judged
     again, and renamed to file_name without replacing anything. No *.exe in
     the folder ever holds less than a whole file.
   - While a file is in use (a virus scanner holds new files for up to about
     45 seconds), the staging and the rename are retried with backoff until
     retry_ms has passed; 0 means one try. 60000 is a sound default.
   - On failure nothing is left behind and every other file stays as it was.
     The download itself is never changed or removed. */
KES_SELFUPDATE_API int32_t __cdecl kes_land_update(const char* downloaded_path, const char* file_name,
                                                   uint32_t retry_ms);

/* Removes older launchers of the family from this launcher's folder, and the
   landing's staging files left behind. Keeps the newest `keep` intact
   launchers of the family by version, then path (a keep below 2 counts as
   2), and this launcher whatever its version. Never removes a file that is
   not an intact launcher of the family (the start program, foreign programs,
   damaged or cut files) nor one in use: a refused delete is logged and tried
   again at the next call. Returns how many files it removed, or
   KES_ERROR_SELF. */
KES_SELFUPDATE_API int32_t __cdecl kes_prune_launchers(uint32_t keep);

/* Gives this process the application identity that KestrelwoodStart.exe
   gives itself in this folder, so that the launcher's windows group with a
   taskbar shortcut pinned with it. Call it before the launcher shows any
   window. 1 when the platform accepted it, KES_ERROR_SELF or
   KES_ERROR_IDENTITY_REFUSED otherwise. shell32 is loaded from the system
   folder only. */
KES_SELFUPDATE_API int32_t __cdecl kes_join_start_identity(void);

/* KES_SELFUPDATE_ABI_VERSION of the library linked or loaded: a caller that
   loads the DLL at run time can check that it speaks this interface. */
KES_SELFUPDATE_API uint32_t __cdecl kes_self_update_abi_version(void);

#ifdef __cplusplus
}
#endif

#endif
