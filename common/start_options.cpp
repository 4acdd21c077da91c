#include "common/start_options.h"

#include "kestrelwood/launcher_family_id.h"

namespace kes {

namespace {

constexpr wchar_t kWaitQuery[] = L"\\StringFileInfo\\" KES_VERSION_STRING_TABLE "\\" KES_WAIT_FOR_LAUNCHER_KEY;

}  // namespace

bool waitsForLauncher(const VersionBlock& block) {
    unsigned count = 0;
    const auto* value = static_cast<const wchar_t*>(findVersionValue(block, kWaitQuery, sizeof(wchar_t), count));
    // Stored with its terminating NUL, as every value is, or without.
    return value != nullptr && count >= 1 && value[0] == L'1' && (count == 1 || value[1] == L'\0');
}

}  // namespace kes
