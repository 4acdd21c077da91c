// The argument with which a hand-over starts the newer launcher, so that it
// does not hand over again.
#pragma once

#include <string>
#include <vector>

#include "kestrelwood/launcher_family_id.h"

namespace kes {

inline constexpr char kSkipSelfUpdateFlag[] = KES_SKIP_SELF_UPDATE_FLAG;
inline constexpr wchar_t kSkipSelfUpdateFlagW[] = L"" KES_SKIP_SELF_UPDATE_FLAG;

// Removes every argument equal to the skip flag (exact, case-sensitive).
void stripSkipFlag(std::vector<std::string>& args);

}  // namespace kes
