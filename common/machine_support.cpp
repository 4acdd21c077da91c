#include "common/machine_support.h"

#include <windows.h>

#include "common/system_library.h"

namespace kes {

namespace {

// Where Windows runs each machine's programs: x64 Windows runs x64 and x86,
// ARM64 Windows ARM64, x64 and x86, 32-bit Windows x86 only.
constexpr std::uint16_t kGuests[] = {IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_ARM64,
                                     IMAGE_FILE_MACHINE_ARMNT};

#if defined(__x86_64__) || defined(_M_X64)
constexpr std::uint16_t kOwnMachine = IMAGE_FILE_MACHINE_AMD64;
#elif defined(__i386__) || defined(_M_IX86)
constexpr std::uint16_t kOwnMachine = IMAGE_FILE_MACHINE_I386;
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr std::uint16_t kOwnMachine = IMAGE_FILE_MACHINE_ARM64;
#else
constexpr std::uint16_t kOwnMachine = IMAGE_FILE_MACHINE_ARMNT;
#endif

// Declared here: older SDK headers lack them, and they are looked up, never
// imported, so that systems without them still start the program.
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using IsWow64GuestMachineSupportedFunction = HRESULT(WINAPI*)(USHORT, BOOL*);
using GetMachineTypeAttributesFunction = HRESULT(WINAPI*)(USHORT, int*);
constexpr int kUserEnabled = 1;  // MACHINE_ATTRIBUTES: user-mode programs run

// The fixed table, for systems that cannot be asked about a guest.
bool guestOf(std::uint16_t native, std::uint16_t guest) {
    return guest == IMAGE_FILE_MACHINE_I386 ? native != IMAGE_FILE_MACHINE_ARMNT
                                            : native == IMAGE_FILE_MACHINE_ARM64 && guest == IMAGE_FILE_MACHINE_AMD64;
}

// What the platform says, asked once per process: the answer does not change
// while a program runs, and a folder of many candidates would otherwise ask
// it once for each.
INIT_ONCE askedOnce = INIT_ONCE_STATIC_INIT;
RunnableMachines asked;

RunnableMachines askPlatform() {
    RunnableMachines runnable;
    const HMODULE kernel32 = GetModuleHandleW(kKernel32);
    const auto isWow64Process2 = lookUpFunction<IsWow64Process2Function>(kernel32, "IsWow64Process2");
    USHORT processMachine = 0;
    USHORT native = 0;
    if (isWow64Process2 == nullptr || !isWow64Process2(GetCurrentProcess(), &processMachine, &native)) {
        runnable.machines[runnable.count++] = kOwnMachine;
        if (sizeof(void*) == 8) {
            runnable.machines[runnable.count++] = IMAGE_FILE_MACHINE_I386;
        }
        return runnable;
    }
    runnable.machines[runnable.count++] = native;
    const auto attributesOf = lookUpFunction<GetMachineTypeAttributesFunction>(kernel32, "GetMachineTypeAttributes");
    const auto guestSupported =
        lookUpFunction<IsWow64GuestMachineSupportedFunction>(kernel32, "IsWow64GuestMachineSupported");
    for (const std::uint16_t guest : kGuests) {
        int attributes = 0;
        BOOL supported = FALSE;
        const bool runs = attributesOf != nullptr      ? SUCCEEDED(attributesOf(guest, &attributes)) &&
                                                             (attributes & kUserEnabled) != 0
                          : guestSupported != nullptr ? SUCCEEDED(guestSupported(guest, &supported)) && supported
                                                      : guestOf(native, guest);
        if (runs && guest != native) {
            runnable.machines[runnable.count++] = guest;
        }
    }
    return runnable;
}

BOOL CALLBACK askPlatformOnce(PINIT_ONCE, PVOID, PVOID*) {
    asked = askPlatform();
    return TRUE;
}

}  // namespace

RunnableMachines runnableMachines() {
    InitOnceExecuteOnce(&askedOnce, askPlatformOnce, nullptr, nullptr);
    return asked;
}

}  // namespace kes
