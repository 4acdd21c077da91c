#include <windows.h>

#include <cstdint>
#include <string>

#include "common/app_identity.h"
#include "common/encoding.h"
#include "common/sibling_executables.h"
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
    const std::wstring identity = makeAppUserModelId(utf8ToWideStrict(parentDirectory(selfPath)));
    const std::string identityText = wideToUtf8(identity.data(), identity.size());
    const IdentityOutcome outcome = applyAppUserModelId(identity);
    if (!outcome.reached) {
        debugLogf("identity: shell32 or its SetCurrentProcessExplicitAppUserModelID unavailable (GLE=%lu)" KES_DASH
                  "not joined",
                  static_cast<unsigned long>(outcome.error));
        return KES_ERROR_IDENTITY_REFUSED;
    }
    if (FAILED(outcome.result)) {
        debugLogf("identity: %s refused (HRESULT 0x%08lX)" KES_DASH "not joined", identityText.c_str(),
                  static_cast<unsigned long>(outcome.result));
        return KES_ERROR_IDENTITY_REFUSED;
    }
    debugLogf("identity: joined %s", identityText.c_str());
    return 1;
}

}  // namespace kes
