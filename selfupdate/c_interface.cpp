#include "kestrelwood/kes_selfupdate.h"

#include "kestrelwood/self_update.h"

extern "C" {

int32_t __cdecl kes_self_update_scan(void) {
    return kes::runSelfUpdateScan() ? 1 : 0;
}

int32_t __cdecl kes_self_update_scan_argv(int32_t argc, const char* const* argv) {
    // A caller in another language may hand over nothing at all: then there
    // are no arguments, and so no skip flag.
    if (argc < 0 || argv == nullptr) {
        argc = 0;
    }
    return kes::runSelfUpdateScan(argc, argv) ? 1 : 0;
}

uint32_t __cdecl kes_self_update_abi_version(void) {
    return KES_SELFUPDATE_ABI_VERSION;
}

}  // extern "C"
