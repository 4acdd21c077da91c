#include "start/launch.h"

#include <windows.h>
#include <shellapi.h>

#include "common/command_line.h"
#include "common/win_owners.h"
#include "start/message_box.h"

namespace kes {

namespace {

constexpr wchar_t kCouldNotStart[] =
    L"Could not start the Kestrelwood launcher.\n"
    L"Open the game folder and try the versioned launcher directly.";

// "\n\nWindows error: %lu" into 96 wide characters, the number unsigned and
// decimal; written by hand to keep printf out of the program.
std::wstring windowsErrorSuffix(DWORD error) {
    wchar_t digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + error % 10);
        error /= 10;
    } while (error != 0);
    std::wstring suffix = L"\n\nWindows error: ";
    while (n > 0) {
        suffix.push_back(digits[--n]);
    }
    return suffix;
}

// Every argument after the program's own name, each quoted and after one
// blank; the start program forwards all of them and adds none.
bool buildCommandLine(const std::wstring& chosenPath, std::wstring& commandLine) {
    int count = 0;
    UniqueArgv args(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args) {
        return false;
    }
    commandLine = quoteCommandLineArg(chosenPath);
    for (int i = 1; i < count; ++i) {
        commandLine.push_back(L' ');
        commandLine += quoteCommandLineArg(args.get()[i]);
    }
    return true;
}

}  // namespace

int launchLauncher(const std::wstring& chosenPath) {
    std::wstring commandLine;
    if (!buildCommandLine(chosenPath, commandLine)) {
        return 1;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL created = FALSE;
    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    // Refused here as Windows refuses it, rather than started cut short.
    if (commandLine.size() <= kMaxCommandLineUnits) {
        created = CreateProcessW(chosenPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process);
        if (!created) {
            error = GetLastError();
        }
    }
    if (!created) {
        const std::wstring text = kCouldNotStart + windowsErrorSuffix(error);
        showStartWarning(text.c_str());
        return 1;
    }
    // The start program never waits for the launcher.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

}  // namespace kes
