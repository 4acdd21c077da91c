// What the platform resolves for a path or a process: links, junctions,
// mapped and substituted drives and short names are followed, so that two
// spellings of one file or folder compare equal.
#pragma once

#include <windows.h>

#include "common/win_owners.h"

namespace kes {

// Opens a file or a folder only to ask the platform about it (attributes,
// with every sharing allowed: no reader, writer or deleter is kept out).
// Null when it cannot be opened.
UniqueHandle openToResolve(const wchar_t* path);

// Room for a final path: "\\?\" and a path that a program may be started by.
inline constexpr DWORD kFinalPathUnits = 1024;

// The final path of what a handle holds ("\\?\C:\Games\K\L.exe"), written
// into `path` (kFinalPathUnits units): its length, 0 when the platform gives
// none that fits.
DWORD finalPathOf(HANDLE handle, wchar_t* path);

// The file a process runs, by the name the platform gives for its image,
// opened as openToResolve opens it. Null when it cannot be named or opened.
UniqueHandle openProcessImage(HANDLE process);

}  // namespace kes
