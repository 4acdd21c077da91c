#include "start/launch.h"

#include <windows.h>

#include "common/command_line.h"
#include "common/number_text.h"
#include "common/win_owners.h"
#include "start/box_text.h"
#include "start/message_box.h"

namespace kes {

void showCouldNotStart(unsigned long error) {
    // "\n\nWindows error: %lu", the number unsigned and decimal.
    std::wstring text = boxText(BoxText::CouldNotStart);
    text += L"\n\n";
    text += boxText(BoxText::WindowsError);
    text += unsignedToText(error, 10);
    showStartWarning(text.c_str());
}

int launchLauncher(const std::wstring& chosenPath) {
    // Every argument is forwarded, whatever its text: the start program
    // interprets none, removes none and adds none of its own.
    const ForwardedArguments forwarded = forwardedArguments(nullptr);
    if (!forwarded.split) {
        return 1;
    }
    // CreateProcessW may write into its command line: this is its own copy.
    std::wstring commandLine = quoteCommandLineArg(chosenPath) + forwarded.text;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool tooLong = commandLine.size() > kMaxCommandLineUnits;
    if (tooLong || !CreateProcessW(chosenPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process)) {
        showCouldNotStart(tooLong ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
        return 1;
    }
    // The start program never waits for the launcher. Owners are destroyed in
    // reverse order: the thread handle is closed first, then the process handle.
    const UniqueHandle launcherProcess(process.hProcess);
    const UniqueHandle launcherThread(process.hThread);
    return 0;
}

}  // namespace kes
