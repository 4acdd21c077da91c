// The hand-off baseline: built and placed like KestrelwoodStart.exe (the same
// imports, the same delay-loaded system DLLs, in the same folder), it loads
// those DLLs and version.dll and starts the launcher named by its first argument, with no scan
// at all.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        return 2;
    }
    // The start program also loads user32 and version; so does this one.
    wchar_t probe[] = L"X";
    CharLowerBuffW(probe, 1);
    LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);

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
