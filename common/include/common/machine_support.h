// Which machines' programs this computer can start.
#pragma once

#include <cstdint>

namespace kes {

// IMAGE_FILE_HEADER.Machine values, this computer's own first.
struct RunnableMachines {
    std::uint16_t machines[4] = {};
    unsigned count = 0;
};

// Asked of the platform once per process, from what this version of Windows
// offers: GetMachineTypeAttributes, then IsWow64GuestMachineSupported, for
// each machine beside the native one that IsWow64Process2 names. Without
// them, this process's own machine, with x86 beside it on a 64-bit system.
RunnableMachines runnableMachines();

inline bool runsHere(const RunnableMachines& runnable, std::uint16_t machine) {
    for (unsigned i = 0; i < runnable.count; ++i) {
        if (runnable.machines[i] == machine) {
            return true;
        }
    }
    return false;
}

}  // namespace kes
