// Starting a launcher and staying with it until its whole process tree has
// ended: the start program's waiting build.
#pragma once

#include <windows.h>

#include <string>

#include "common/win_owners.h"

namespace kes {

// How one launcher's start went.
struct LauncherRun {
    bool created = false;       // CreateProcessW succeeded (else `error` is its Windows error)
    bool couldNotLoad = false;  // it ended with a loader status before it started any process (`error`)
    bool otherImage = false;    // pinned: its process ran another file than the one held, and was ended
    DWORD error = 0;
    DWORD exitCode = 0;         // created and loaded: the code the start program ends with
};

// The loader's statuses for a program that could not be loaded: a DLL or an
// entry point missing, a bad image, a DLL that failed to initialise.
bool isLoaderStatus(DWORD code);

// Starts `path` with `commandLine` suspended, in a job of its own (kill on
// close, breakaway allowed) tied to a completion port, resumes it, and
// blocks on the port until the job holds no process. `held` is released once
// CreateProcessW has returned. The exit code is that of the last process to
// end whose executable lies in or under `folder` (normalised, ending in
// '\'). Where the launcher cannot join the job, it still runs, and its own
// process is waited for. With `held` (publisher pinning), a process that
// does not run the held file is ended before it runs (`otherImage`).
LauncherRun runAndWait(const std::wstring& path, std::wstring commandLine, const std::wstring& folder,
                       UniqueHandle& held);

}  // namespace kes
