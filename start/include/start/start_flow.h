// The whole behaviour of KestrelwoodStart.exe.
#pragma once

namespace kes {

// Finds the newest launcher of the family beside the running program and starts
// it with this process's arguments. Returns the exit code: 0 when a launcher was
// started, 1 otherwise (after a message box saying why, where there is one).
int runStartFlow();

}  // namespace kes
