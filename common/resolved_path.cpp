#include "common/resolved_path.h"

namespace kes {

UniqueHandle openToResolve(const wchar_t* path) {
    return makeUniqueFileHandle(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD finalPathOf(HANDLE handle, wchar_t* path) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path, kFinalPathUnits, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length < kFinalPathUnits ? length : 0;
}

UniqueHandle openProcessImage(HANDLE process) {
    wchar_t image[kFinalPathUnits];
    DWORD length = kFinalPathUnits;
    return QueryFullProcessImageNameW(process, 0, image, &length) ? openToResolve(image) : UniqueHandle();
}

}  // namespace kes
