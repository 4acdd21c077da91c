// The argument with which a hand-over starts the newer launcher, so that it
// does not hand over again.
#pragma once

namespace kes {

inline constexpr char kSkipSelfUpdateFlag[] = "--no-self-update-scan";
inline constexpr wchar_t kSkipSelfUpdateFlagW[] = L"--no-self-update-scan";

}  // namespace kes
