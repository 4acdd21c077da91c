// Small owners for Win32 handles and allocations, so that every early return
// releases what the operation acquired.
#pragma once

#include <windows.h>

#include <memory>

namespace kes {

struct LocalFreer {
    void operator()(void* p) const noexcept { LocalFree(p); }
};

struct HandleCloser {
    void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};

struct FindCloser {
    void operator()(HANDLE h) const noexcept { FindClose(h); }
};

// CommandLineToArgvW's array, released with LocalFree.
using UniqueArgv = std::unique_ptr<LPWSTR, LocalFreer>;

// A kernel handle that is either valid or null.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// CreateFileW reports failure as INVALID_HANDLE_VALUE; this turns it into null.
inline UniqueHandle makeUniqueFileHandle(HANDLE h) {
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A directory search. FindFirstFileW reports failure as INVALID_HANDLE_VALUE;
// makeUniqueFind turns that into null so that "empty" always means "none".
using UniqueFind = std::unique_ptr<void, FindCloser>;

inline UniqueFind makeUniqueFind(HANDLE h) {
    return UniqueFind(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

}  // namespace kes
