// The identifier that a launcher of this family carries as KesLauncherID in
// its version resource, and the flag a hand-over appends.
#pragma once

#include <string>

namespace kes {

// Compared as exactly these 36 bytes, case-sensitive.
inline constexpr char kLauncherFamilyId[] = "4F1A7C2E-6D5B-4E8A-9C51-7D2E6B0A8F13";
inline constexpr unsigned kLauncherFamilyIdLength = sizeof(kLauncherFamilyId) - 1;

// Same length and the same bytes: no case folding, no trimming, no braces.
inline bool isLauncherFamilyId(const std::string& id) {
    return id.size() == kLauncherFamilyIdLength && id.compare(0, id.size(), kLauncherFamilyId) == 0;
}

inline constexpr char kSkipSelfUpdateFlag[] = "--no-self-update-scan";
inline constexpr wchar_t kSkipSelfUpdateFlagW[] = L"--no-self-update-scan";

}  // namespace kes
