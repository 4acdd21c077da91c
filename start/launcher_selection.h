// Which launcher the start program starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kes {

// The newest launcher of the family among the candidates, never the running
// file itself; equal versions are decided by the UTF-16 order of the paths so
// the choice does not depend on the listing order. Empty when none qualifies.
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath);

// The same selection with the check that runs before a candidate's version
// resource is read given by the caller; the one above passes
// isVersionResourceSafeToRead. The benchmark measures the selection without it.
using LayoutCheck = bool (*)(const std::string& path);
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck isSafeToRead);

// The self test: two paths name the same file when their normalised forms are
// the same text; two paths without a normalised form count as the same too.
bool isSameFile(const std::wstring& selfPath, const std::wstring& candidate);

// The ordering rule: whether a qualifying candidate replaces the one chosen so
// far. Nothing is chosen while chosenPath is empty, whatever chosenVersion says.
bool isPreferredLauncher(std::uint64_t version, const std::wstring& path, std::uint64_t chosenVersion,
                         const std::wstring& chosenPath);

}  // namespace kes
