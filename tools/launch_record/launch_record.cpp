#include "launch_record.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace kes {

namespace {

void appendField(std::wstring& record, const wchar_t* text) {
    record += text;
    record.push_back(L'\0');
}

}  // namespace

bool writeLaunchRecord() {
    wchar_t self[32768];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, 32768);
    wchar_t cwd[32768];
    const DWORD cwdLength = GetCurrentDirectoryW(32768, cwd);
    if (selfLength == 0 || selfLength >= 32768 || cwdLength == 0 || cwdLength >= 32768) {
        return false;
    }

    std::wstring record;
    appendField(record, self);
    appendField(record, GetCommandLineW());
    appendField(record, cwd);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        appendField(record, argv[i]);
    }
    LocalFree(argv);

    // A reader never sees half a record: write under another name, then rename.
    const std::wstring finalPath = std::wstring(self) + L".started";
    const std::wstring partPath = finalPath + L".part";
    HANDLE file = CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(record.size() * sizeof(wchar_t));
    const BOOL ok = WriteFile(file, record.data(), bytes, &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes && MoveFileExW(partPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace kes
