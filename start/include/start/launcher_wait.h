// Starting a launcher and staying with it until its whole process tree has
// ended: the start program's waiting build.
#pragma once

#include <windows.h>

#include <string>

#include "common/win_owners.h"

namespace kes {

// How one launcher's start went.
struct LauncherRun {
    bool created = false;         // CreateProcessW succeeded (else `error` is its Windows error)
    bool couldNotLoad = false;    // it ended with a loader status before it started any process (`error`)
    bool crashedAtStart = false;  // it ended with an exception status (`error`) soon after its start, and
                                  // no process of the folder was started in its job
    bool otherImage = false;      // pinned: its process ran another file than the one held, and was ended
    DWORD error = 0;
    DWORD exitCode = 0;  // created and run: the code the start program ends with
    DWORD ranMs = 0;     // how long the launcher's own process ran, as the platform timed it
};

// The loader's statuses for a program that could not be loaded: a DLL or an
// entry point missing, a bad image, a DLL that failed to initialise.
bool isLoaderStatus(DWORD code);

// The statuses of a process ended by an exception that it did not handle:
// severity "error" (0xC0000000-0xCFFFFFFF) and a breakpoint (0x80000003).
bool isExceptionStatus(DWORD code);

// A launcher that crashes later than this after its start is running the
// game, and its status is the game's.
inline constexpr DWORD kCrashAtStartMs = 10000;

// The folder as the platform resolves it: the final path of a handle to it,
// ending in '\'. Empty when it cannot be opened.
std::wstring resolvedFolder(const std::wstring& folder);

// Starts `path` with `commandLine` suspended, in a job of its own (kill on
// close, breakaway allowed) tied to a completion port, resumes it, and waits
// until the job holds no process. `held` is released once CreateProcessW has
// returned. The exit code is that of the last process to end whose image,
// by its final path, lies in or under `folder` (from resolvedFolder). Where
// the launcher cannot join the job, it still runs, and its own process is
// waited for. With `held` (publisher pinning), a process that does not run
// the held file is ended before it runs (`otherImage`).
LauncherRun runAndWait(const std::wstring& path, std::wstring commandLine, const std::wstring& folder,
                       UniqueHandle& held);

}  // namespace kes
