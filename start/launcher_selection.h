// Which launcher the start program starts.
#pragma once

#include <string>
#include <vector>

namespace kes {

// The newest launcher of the family among the candidates, never the running
// file itself; equal versions are decided by the UTF-16 order of the paths so
// the choice does not depend on the listing order. Empty when none qualifies.
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath);

}  // namespace kes
