#include "start/launch.h"

#include <windows.h>

#include "common/command_line.h"
#include "common/held_launcher.h"
#include "common/number_text.h"
#include "common/process_start.h"
#include "common/win_owners.h"
#include "start/box_text.h"
#include "start/debug_output.h"
#include "start/message_box.h"

namespace kes {

namespace {

constexpr char kLaunchFailed[] = "launch: %s failed, Windows error %lu -- could-not-start box";

}  // namespace

void showCouldNotStart(unsigned long error) {
    // "\n\nWindows error: %lu", the number unsigned and decimal.
    std::wstring text = boxText(BoxText::CouldNotStart);
    text += L"\n\n";
    text += boxText(BoxText::WindowsError);
    text += unsignedToText(error, 10);
    showStartWarning(text.c_str());
}

void reportUnsplitCommandLine() {
    writeDebugLine("arguments: CommandLineToArgvW failed, Windows error %lu -- nothing started", GetLastError());
}

// CreateProcessW may write into its command line: `commandLine` is its own copy.
int launchLauncher(const std::wstring& chosenPath, std::wstring commandLine, HANDLE held) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool tooLong = commandLine.size() > kMaxCommandLineUnits;
    const DWORD flags = held != nullptr ? CREATE_SUSPENDED : 0;
    if (tooLong || !createProcessRetrying(chosenPath.c_str(), commandLine.data(), FALSE, flags, nullptr, nullptr,
                                          &startup, &process)) {
        const DWORD error = tooLong ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        writeDebugLine(kLaunchFailed, "CreateProcessW", error);
        showCouldNotStart(error);
        return 1;
    }
    // The start program never waits for the launcher. Owners are destroyed in
    // reverse order: the thread handle is closed first, then the process handle.
    const UniqueHandle launcherProcess(process.hProcess);
    const UniqueHandle launcherThread(process.hThread);
    if (held != nullptr && !runsHeldFile(process.hProcess, held)) {
        TerminateProcess(process.hProcess, ERROR_ACCESS_DENIED);
        return kNotTheHeldFile;
    }
    if (held != nullptr && ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        TerminateProcess(process.hProcess, error);
        writeDebugLine(kLaunchFailed, "ResumeThread", error);
        showCouldNotStart(error);
        return 1;
    }
    return 0;
}

}  // namespace kes
