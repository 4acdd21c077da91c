// The argument with which a hand-over starts the newer launcher, so that it
// does not hand over again.
#pragma once

#include <string>
#include <vector>

#include "common/launcher_family.h"

namespace kes {

// Removes every argument equal to the skip flag (exact, case-sensitive).
void stripSkipFlag(std::vector<std::string>& args);

}  // namespace kes
