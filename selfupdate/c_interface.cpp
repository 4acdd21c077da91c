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

int32_t __cdecl kes_land_update(const char* downloaded_path, const char* file_name, uint32_t retry_ms) {
    if (downloaded_path == nullptr || file_name == nullptr) {
        return KES_ERROR_ARGUMENT;
    }
    return kes::landUpdate(downloaded_path, file_name, retry_ms);
}

int32_t __cdecl kes_prune_launchers(uint32_t keep) {
    return kes::pruneLaunchers(keep);
}

int32_t __cdecl kes_join_start_identity(void) {
    return kes::joinStartIdentity();
}

uint32_t __cdecl kes_self_update_abi_version(void) {
    return KES_SELFUPDATE_ABI_VERSION;
}

}  // extern "C"
