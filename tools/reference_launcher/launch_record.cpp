#include "launch_record.h"

#include <windows.h>

#include <string>

#include "common/command_line.h"

namespace kes {

namespace {

void appendField(std::wstring& record, const wchar_t* text) {
    record += text;
    record.push_back(L'\0');
}

}  // namespace

std::wstring launchRecordPath(const std::wstring& exePath) {
    return exePath + kLaunchRecordSuffix;
}

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
    const UniqueArgv argv = splitCommandLine(GetCommandLineW(), argc);
    for (int i = 0; argv && i < argc; ++i) {
        appendField(record, argv.get()[i]);
    }

    // A reader never sees half a record: write under another name, then rename.
    const std::wstring finalPath = launchRecordPath(self);
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

LaunchRecord readLaunchRecord(const std::wstring& exePath) {
    LaunchRecord record;
    HANDLE file = CreateFileW(launchRecordPath(exePath).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return record;
    }
    std::wstring units;
    wchar_t chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        units.append(chunk, got / sizeof(wchar_t));
    }
    CloseHandle(file);

    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i] == L'\0') {
            fields.push_back(units.substr(start, i - start));
            start = i + 1;
        }
    }
    if (fields.size() < 3) {
        return record;
    }
    record.complete = true;
    record.selfPath = fields[0];
    record.commandLine = fields[1];
    record.currentDirectory = fields[2];
    record.args.assign(fields.begin() + 3, fields.end());
    return record;
}

}  // namespace kes
