// Where the running program is and which executables lie beside it.
#pragma once

#include <string>
#include <vector>

namespace kes {

// The running executable's full path in UTF-8; empty when it cannot be read or
// does not fit in the classic 260-character limit.
std::string getSelfPath();

// Everything before the last '\' or '/'; "." when the path has neither.
std::string parentDirectory(const std::string& path);

// folder + '\' + name for each non-directory entry matching *.exe, in the order
// the directory search yields them. The folder is used as given, untrimmed.
std::vector<std::string> listSiblingExecutables(const std::string& folder);

}  // namespace kes
