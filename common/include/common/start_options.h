// What the start program's own version resource asks of it beside its keys.
#pragma once

#include "common/version_info.h"

namespace kes {

// KesWaitForLauncher "1" in the family's string table: the start program
// stays until the launcher's whole process tree has ended, passes the game's
// exit code through, and starts the next launcher when the newest cannot
// load. Any other value, or none, is the default: start and end at once.
bool waitsForLauncher(const VersionBlock& block);

}  // namespace kes
