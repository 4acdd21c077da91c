#include "common/app_identity.h"

#include <cstdint>

#include "common/number_text.h"
#include "common/path_compare.h"
#include "common/system_library.h"

namespace kes {

namespace {
constexpr wchar_t kIdentityPrefix[] = L"Kestrelwood.Launcher.Install";
constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

SystemFunction setExplicitIdentity{L"shell32.dll", "SetCurrentProcessExplicitAppUserModelID"};
using SetIdentity = HRESULT(WINAPI*)(PCWSTR);
}  // namespace

std::wstring makeAppUserModelId(const std::wstring& folder) {
    // Normalising first gives one identity to every spelling of one folder
    // (case, '/' or '\', '.' and '..'); a folder without a normalised form
    // hashes as the empty text.
    const std::wstring normalized = normalizePathForCompare(folder);

    // FNV-1a over whole UTF-16 units, not over their bytes.
    std::uint64_t hash = kFnvOffsetBasis;
    for (const wchar_t unit : normalized) {
        hash ^= static_cast<std::uint16_t>(unit);
        hash *= kFnvPrime;
    }

    // As "%016llx" would print it: 16 lower-case digits, zero-filled.
    return kIdentityPrefix + unsignedToText(hash, 16, 16);
}

IdentityOutcome applyAppUserModelId(const std::wstring& identity) {
    IdentityOutcome outcome;
    const auto setIdentity = systemFunction<SetIdentity>(setExplicitIdentity);
    if (setIdentity == nullptr) {
        outcome.error = setExplicitIdentity.error;
        return outcome;
    }
    outcome.reached = true;
    outcome.result = setIdentity(identity.c_str());
    return outcome;
}

}  // namespace kes
