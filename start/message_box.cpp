#include "start/message_box.h"

#include <windows.h>

namespace kes {

void showStartWarning(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"Kestrelwood", MB_OK | MB_ICONWARNING);
}

}  // namespace kes
