#include "start/launch.h"

#include <windows.h>

#include "common/command_line.h"
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

}  // namespace

int launchLauncher(const std::wstring& chosenPath) {
    // Every argument is forwarded, whatever its text: the start program
    // interprets none, removes none and adds none of its own.
    std::wstring commandLine = quoteCommandLineArg(chosenPath);
    if (!appendForwardedArguments(commandLine, nullptr)) {
        return 1;
    }

    PROCESS_INFORMATION process;
    DWORD error = 0;
    if (!startProcess(chosenPath, commandLine, process, error)) {
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
