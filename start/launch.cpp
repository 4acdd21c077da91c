#include "start/launch.h"

#include <windows.h>

#include "common/command_line.h"
#include "common/number_text.h"
#include "common/process_start.h"
#include "common/win_owners.h"
#include "start/debug_output.h"
#include "start/message_box.h"

namespace kes {

namespace {

constexpr wchar_t kCouldNotStart[] =
    L"Could not start the Kestrelwood launcher.\n"
    L"Open the game folder and try the versioned launcher directly.";

}  // namespace

void showCouldNotStart(unsigned long error) {
    // "\n\nWindows error: %lu", the number unsigned and decimal.
    const std::wstring text = kCouldNotStart + (L"\n\nWindows error: " + unsignedToText(error, 10));
    showStartWarning(text.c_str());
}

void reportUnsplitCommandLine() {
    writeDebugLine("arguments: CommandLineToArgvW (shell32) failed, Windows error %lu -- nothing started",
                   GetLastError());
}

int launchLauncher(const std::wstring& chosenPath) {
    // Every argument is forwarded, whatever its text: the start program
    // interprets none, removes none and adds none of its own.
    const ForwardedArguments forwarded = forwardedArguments(nullptr);
    if (!forwarded.split) {
        reportUnsplitCommandLine();
        return 1;
    }
    // CreateProcessW may write into its command line: this is its own copy.
    std::wstring commandLine = quoteCommandLineArg(chosenPath) + forwarded.text;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool tooLong = commandLine.size() > kMaxCommandLineUnits;
    if (tooLong || !createProcessRetrying(chosenPath.c_str(), commandLine.data(), FALSE, 0, nullptr, nullptr,
                                          &startup, &process)) {
        const DWORD error = tooLong ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        writeDebugLine("launch: CreateProcessW failed, Windows error %lu -- could-not-start box", error);
        showCouldNotStart(error);
        return 1;
    }
    // The start program never waits for the launcher. Owners are destroyed in
    // reverse order: the thread handle is closed first, then the process handle.
    const UniqueHandle launcherProcess(process.hProcess);
    const UniqueHandle launcherThread(process.hThread);
    return 0;
}

}  // namespace kes
