// The identifier that a launcher of this family carries in its version
// resource.
#pragma once

#include <string>

#include "kestrelwood/launcher_family_id.h"

namespace kes {

// Compared as exactly these 36 bytes, case-sensitive.
inline constexpr char kLauncherFamilyId[] = KES_LAUNCHER_FAMILY_ID;
inline constexpr unsigned kLauncherFamilyIdLength = sizeof(kLauncherFamilyId) - 1;

// Same length and the same bytes: no case folding, no trimming, no braces.
inline bool isLauncherFamilyId(const std::string& id) {
    return id.size() == kLauncherFamilyIdLength && id.compare(0, id.size(), kLauncherFamilyId) == 0;
}

// The argument that ends a hand-over, and that the waiting start program adds
// for each launcher it falls back to: a launcher started with it runs as
// itself and does not hand over again.
inline constexpr char kSkipSelfUpdateFlag[] = KES_SKIP_SELF_UPDATE_FLAG;
inline constexpr wchar_t kSkipSelfUpdateFlagW[] = L"" KES_SKIP_SELF_UPDATE_FLAG;

}  // namespace kes
