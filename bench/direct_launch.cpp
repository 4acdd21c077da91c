// The hand-off baseline: built and placed like KestrelwoodStart.exe (the same
// imports, the same system DLLs loaded at run time, in the same folder), it
// loads those DLLs and version.dll and starts the launcher named by its first
// argument, with no scan at all.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto split =
        kes::lookUpFunction<decltype(&CommandLineToArgvW)>(kes::loadSystemLibrary(L"shell32.dll"), "CommandLineToArgvW");
    const auto lowerCase =
        kes::lookUpFunction<decltype(&CharLowerBuffW)>(kes::loadSystemLibrary(L"user32.dll"), "CharLowerBuffW");
    if (split == nullptr || lowerCase == nullptr) {
        return 2;
    }
    int argc = 0;
    LPWSTR* argv = split(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        return 2;
    }
    // The start program also loads user32 and version; so does this one.
    wchar_t probe[] = L"X";
    lowerCase(probe, 1);
    kes::loadSystemLibrary(L"version.dll");

    std::wstring commandLine = std::wstring(L"\"") + argv[1] + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL ok = CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process);
    LocalFree(argv);
    if (!ok) {
        return 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
