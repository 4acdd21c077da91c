// The landing's steps, with the copy into the staging file given as a
// function, so that a test can make the staged copy differ from the download.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kes {

// The suffix of the staging file beside its final name. Its last extension
// does not begin with "exe", so that no *.exe search matches it, not even
// through its 8.3 short name.
inline constexpr wchar_t kStagingSuffix[] = L".kes-landing";

// Copies every byte of `from` into `to`; ERROR_SUCCESS or the Windows error.
using CopyBytes = DWORD (*)(HANDLE from, HANDLE to);
DWORD copyAllBytes(HANDLE from, HANDLE to);

std::int32_t landUpdateWith(const std::string& downloadedPath, const std::string& fileName, std::uint32_t retryMs,
                            CopyBytes copy);

}  // namespace kes
