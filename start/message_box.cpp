#include "start/message_box.h"

#include <windows.h>

#include "common/system_library.h"

namespace kes {

namespace {

SystemFunction messageBox{L"user32.dll", "MessageBoxW"};

}  // namespace

void showStartWarning(const wchar_t* text) {
    // Without user32 there is no one to tell; the exit code still says it.
    if (const auto show = systemFunction<decltype(&MessageBoxW)>(messageBox)) {
        show(nullptr, text, L"Kestrelwood", MB_OK | MB_ICONWARNING);
    }
}

void showStartWarning(BoxText text) {
    showStartWarning(boxText(text).c_str());
}

}  // namespace kes
