#include <windows.h>

#include <cstdint>
#include <string>

#include "common/app_identity.h"
#include "common/encoding.h"
#include "common/sibling_executables.h"
#include "common/system_library.h"
#include "debug_log.h"
#include "kestrelwood/kes_selfupdate.h"
#include "kestrelwood/self_update.h"

namespace kes {

std::int32_t joinStartIdentity() {
    // The start program's derivation: its own path in UTF-8, converted
    // strictly, and the folder before the last separator.
    const std::string selfPath = getSelfPath();
    if (selfPath.empty()) {
        debugLog("identity: getSelfPath failed" KES_DASH "not joined");
        return KES_ERROR_SELF;
    }
    // The normalisation calls user32, which the DLL delay-loads by name:
    // loaded from the system folder first, it is found loaded, and its own
    // imports come from there too, never from the game folder.
    loadSystemLibrary(L"user32.dll");
    const std::wstring identity = makeAppUserModelId(utf8ToWideStrict(parentDirectory(selfPath)));
    const std::string identityText = wideToUtf8(identity.data(), identity.size());

    // shell32 is a Known DLL, but is loaded from the system folder like the
    // version library, whatever this process's search settings are.
    using SetIdentity = HRESULT(WINAPI*)(PCWSTR);
    const HMODULE shell32 = loadSystemLibrary(L"shell32.dll");
    const SetIdentity setIdentity =
        shell32 != nullptr ? lookUpFunction<SetIdentity>(shell32, "SetCurrentProcessExplicitAppUserModelID") : nullptr;
    if (setIdentity == nullptr) {
        debugLogf("identity: shell32 or its SetCurrentProcessExplicitAppUserModelID unavailable (GLE=%lu)" KES_DASH
                  "not joined",
                  GetLastError());
        return KES_ERROR_IDENTITY_REFUSED;
    }
    const HRESULT result = setIdentity(identity.c_str());
    if (FAILED(result)) {
        debugLogf("identity: %s refused (HRESULT 0x%08lX)" KES_DASH "not joined", identityText.c_str(),
                  static_cast<unsigned long>(result));
        return KES_ERROR_IDENTITY_REFUSED;
    }
    debugLogf("identity: joined %s", identityText.c_str());
    return 1;
}

}  // namespace kes
