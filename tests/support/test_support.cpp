#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

#include "common/encoding.h"
#include "process_retry.h"

namespace kes::test {

std::string narrow(const std::wstring& wide) {
    return wideToUtf8(wide.data(), wide.size());
}

std::wstring widen(const std::string& utf8) {
    return utf8ToWideStrict(utf8);
}

std::wstring binDir() {
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    std::wstring self(path, n);
    return self.substr(0, self.find_last_of(L'\\'));
}

std::wstring builtExe(const std::wstring& name) {
    return binDir() + L"\\" + name + L".exe";
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring freshScratchDir(const std::wstring& leaf) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = widen(std::string(info->test_suite_name()) + "." + info->name());
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\' || c == L':' || c == L'*' || c == L'?' || c == L'<' || c == L'>' ||
            c == L'|' || c == L'"') {
            c = L'_';
        }
    }
    // On the prefix's own C: drive: a short, fixed place whatever the depth
    // of the checkout, so that no test folder comes near MAX_PATH.
    const std::wstring root = L"C:\\kes-scratch";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring dir = root + L"\\" + name;
    removeTree(dir);
    EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "cannot create " << narrow(dir);
    if (!leaf.empty()) {
        dir += L"\\" + leaf;
        EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "cannot create " << narrow(dir);
    }
    return dir;
}

void copyFileOrFail(const std::wstring& from, const std::wstring& to) {
    ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE))
        << "copy " << narrow(from) << " -> " << narrow(to) << " failed: " << GetLastError();
}

void writeFileOrFail(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << narrow(path);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == bytes.size());
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

std::string describe(const ProcessResult& result) {
    if (!result.started) {
        return "the process could not be started (Windows error " + std::to_string(result.createError) + ")";
    }
    if (!result.exited) {
        return "the process was still running after " + std::to_string(result.seconds) + " s and was ended";
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%lx", static_cast<unsigned long>(result.exitCode));
    return std::string("the process exited with ") + code + " after " + std::to_string(result.seconds) + " s";
}

ProcessResult runProcess(const std::wstring& exe, const std::wstring& commandLine, const std::wstring& cwd,
                         DWORD timeoutMs, const wchar_t* environment, const std::wstring& outputPath) {
    ProcessResult result;
    std::wstring buffer = commandLine;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    HANDLE output = nullptr;
    if (!outputPath.empty()) {
        SECURITY_ATTRIBUTES inherit{};
        inherit.nLength = sizeof inherit;
        inherit.bInheritHandle = TRUE;
        output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "cannot create " << narrow(outputPath);
            return result;
        }
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = output;
        si.hStdError = output;
    }
    PROCESS_INFORMATION pi{};
    const auto begin = std::chrono::steady_clock::now();
    const BOOL created = createProcessRetrying(exe.c_str(), buffer.data(), output != nullptr,
                                               environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0,
                                               const_cast<wchar_t*>(environment), cwd.empty() ? nullptr : cwd.c_str(),
                                               &si, &pi);
    result.createError = created ? 0 : GetLastError();
    if (output != nullptr) {
        CloseHandle(output);
    }
    if (!created) {
        return result;
    }
    result.started = true;
    CloseHandle(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.exited = true;
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
    } else {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    CloseHandle(pi.hProcess);
    return result;
}

ProcessResult runStartProgram(const std::wstring& start, const std::wstring& commandLine, const std::wstring& cwd,
                              DWORD timeoutMs) {
    ProcessResult result = runProcess(start, commandLine, cwd, timeoutMs);
    if (result.exited && result.exitCode == 1) {
        std::printf("the start program exited with 1: running it once more\n");
        Sleep(500);
        result = runProcess(start, commandLine, cwd, timeoutMs);
    }
    return result;
}

Inspection inspectFolder(const std::wstring& dir) {
    Inspection inspection;
    const std::wstring out = dir + L".inspect.json";
    const std::wstring tool = builtExe(L"kes-inspect");
    inspection.run = runProcess(tool, L"\"" + tool + L"\" \"" + dir + L"\" --json", dir, 60000, nullptr, out);
    inspection.json = readFileBytes(out);
    DeleteFileW(out.c_str());
    // "chosen" is on a line of its own: null, or a JSON string.
    const std::string key = "\n  \"chosen\": \"";
    std::size_t at = inspection.json.find(key);
    if (at == std::string::npos) {
        return inspection;
    }
    std::string chosen;
    for (at += key.size(); at < inspection.json.size() && inspection.json[at] != '"'; ++at) {
        if (inspection.json[at] == '\\') {
            ++at;  // the tool escapes only '"' and '\\' in paths
        }
        chosen.push_back(inspection.json[at]);
    }
    inspection.chosen = widen(chosen);
    return inspection;
}

std::optional<LaunchRecord> waitForLaunchRecord(const std::wstring& exePath, DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!fileExists(launchRecordPath(exePath))) {
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    LaunchRecord record = readLaunchRecord(exePath);
    if (!record.complete) {
        return std::nullopt;
    }
    return record;
}

std::vector<std::wstring> startedLaunchers(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*" + kLaunchRecordSuffix).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::wstring name = entry.cFileName;
        names.push_back(name.substr(0, name.size() - (std::size(kLaunchRecordSuffix) - 1)));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

}  // namespace kes::test
