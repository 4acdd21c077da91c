#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

#include "common/encoding.h"
#include "common/win_owners.h"
#include "common/process_start.h"

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

bool hostRuns32BitPrograms() {
    wchar_t value[4] = {};
    return GetEnvironmentVariableW(L"KES_HOST_RUNS_32_BIT", value, 4) != 1 || value[0] != L'0';
}

std::wstring builtExe(const std::wstring& name) {
    return binDir() + L"\\" + name + L".exe";
}

void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const UniqueFind search = makeUniqueFind(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (search) {
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
        } while (FindNextFileW(search.get(), &entry));
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
    WIN32_FIND_DATAW entry;
    const UniqueFind earlier = makeUniqueFind(FindFirstFileW((root + L"\\" + name + L"-*").c_str(), &entry));
    for (BOOL more = earlier != nullptr; more; more = FindNextFileW(earlier.get(), &entry)) {
        const wchar_t* digits = entry.cFileName + name.size() + 1;
        wchar_t* end = nullptr;
        const auto owner = static_cast<DWORD>(std::wcstoul(digits, &end, 10));
        DWORD code = 0;
        const UniqueHandle running(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
        if (end != digits && *end == L'\0' &&
            (!running || (GetExitCodeProcess(running.get(), &code) && code != STILL_ACTIVE))) {
            removeTree(root + L"\\" + entry.cFileName);
        }
    }
    std::wstring dir = root + L"\\" + name + L"-" + std::to_wstring(GetCurrentProcessId());
    removeTree(dir);
    EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "cannot create " << narrow(dir);
    if (!leaf.empty()) {
        dir += L"\\" + leaf;
        EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "cannot create " << narrow(dir);
    }
    return dir;
}

std::wstring ScratchFolder::place(const Placed& p) const {
    const std::wstring path = dir + L"\\" + p.name;
    if (!fileExists(path)) {
        copyFileOrFail(builtExe(p.fixture), path);
    }
    return path;
}

void copyFileOrFail(const std::wstring& from, const std::wstring& to) {
    ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE))
        << "copy " << narrow(from) << " -> " << narrow(to) << " failed: " << GetLastError();
}

void writeFileOrFail(const std::wstring& path, const std::string& bytes) {
    const UniqueHandle file = makeUniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create " << narrow(path);
    DWORD written = 0;
    const BOOL ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ASSERT_TRUE(ok && written == bytes.size());
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFileBytes(const std::wstring& path) {
    const UniqueHandle file = makeUniqueFileHandle(CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
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
    UniqueHandle output;
    if (!outputPath.empty()) {
        SECURITY_ATTRIBUTES inherit{};
        inherit.nLength = sizeof inherit;
        inherit.bInheritHandle = TRUE;
        output = makeUniqueFileHandle(
            CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!output) {
            ADD_FAILURE() << "cannot create " << narrow(outputPath);
            return result;
        }
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = output.get();
        si.hStdError = output.get();
    }
    PROCESS_INFORMATION pi{};
    const auto begin = std::chrono::steady_clock::now();
    const BOOL created = createProcessRetrying(exe.c_str(), buffer.data(), output != nullptr,
                                               environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0,
                                               const_cast<wchar_t*>(environment), cwd.empty() ? nullptr : cwd.c_str(),
                                               &si, &pi);
    result.createError = created ? 0 : GetLastError();
    output.reset();
    if (!created) {
        return result;
    }
    result.started = true;
    const UniqueHandle thread(pi.hThread);
    const UniqueHandle process(pi.hProcess);
    if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.exited = true;
        GetExitCodeProcess(process.get(), &result.exitCode);
    } else {
        TerminateProcess(process.get(), 99);
        WaitForSingleObject(process.get(), 5000);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return result;
}

bool wineFailedAStart(const std::string& output) {
    for (std::size_t at = output.find("Call user32.MessageBoxW("); at != std::string::npos;
         at = output.find("Call user32.MessageBoxW(", at + 1)) {
        const std::string call = output.substr(at, output.find('\n', at) - at);
        if (call.find("Windows error: 1359") != std::string::npos) {
            return true;
        }
    }
    return output.find("CreateProcess failed: GLE=1359") != std::string::npos ||
           output.find("cannot start the program (Windows error 1359)") != std::string::npos ||
           output.find("failed to map the shared user data") != std::string::npos;
}

namespace {

// Where Wine's traces of this process and of everything it starts are
// written, as the harness's Wine wrapper says: a Unix file, seen on Z:.
std::wstring wineStandardError() {
    wchar_t path[4096];
    const DWORD n = GetEnvironmentVariableW(L"KES_WINE_STDERR", path, 4096);
    if (n == 0 || n >= 4096) {
        return {};
    }
    std::wstring windowsPath = L"Z:" + std::wstring(path, n);
    std::replace(windowsPath.begin(), windowsPath.end(), L'/', L'\\');
    return windowsPath;
}

// One run of the start program with its calls traced (the prefix's relay list
// names MessageBoxW), and what it traced.
ProcessResult runTracedStart(const std::wstring& start, const std::wstring& commandLine, const std::wstring& cwd,
                             DWORD timeoutMs, std::string& traced) {
    const std::wstring trace = wineStandardError();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::size_t before = !trace.empty() && GetFileAttributesExW(trace.c_str(), GetFileExInfoStandard, &data)
                                   ? data.nFileSizeLow
                                   : 0;
    wchar_t previous[256] = {};
    const DWORD had = GetEnvironmentVariableW(L"WINEDEBUG", previous, 256);
    SetEnvironmentVariableW(L"WINEDEBUG", trace.empty() ? nullptr : L"+relay");
    const ProcessResult result = runProcess(start, commandLine, cwd, timeoutMs);
    SetEnvironmentVariableW(L"WINEDEBUG", had > 0 && had < 256 ? previous : nullptr);
    const std::string after = trace.empty() ? std::string() : readFileBytes(trace);
    traced = after.size() > before ? after.substr(before) : std::string();
    return result;
}

}  // namespace

ProcessResult runStartProgram(const std::wstring& start, const std::wstring& commandLine, const std::wstring& cwd,
                              DWORD timeoutMs) {
    std::string traced;
    ProcessResult result = runTracedStart(start, commandLine, cwd, timeoutMs, traced);
    if (result.exited && result.exitCode == 1 && wineFailedAStart(traced)) {
        std::printf("Wine failed the start program's start of its launcher with 1359: running it once more\n");
        Sleep(500);
        result = runTracedStart(start, commandLine, cwd, timeoutMs, traced);
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
    const UniqueFind search = makeUniqueFind(FindFirstFileW((folder + L"\\*" + kLaunchRecordSuffix).c_str(), &entry));
    if (!search) {
        return names;
    }
    do {
        std::wstring name = entry.cFileName;
        names.push_back(name.substr(0, name.size() - (std::size(kLaunchRecordSuffix) - 1)));
    } while (FindNextFileW(search.get(), &entry));
    return names;
}

std::vector<std::wstring> waitForStarts(const std::wstring& folder, const StartsDone& done, DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::vector<std::wstring> started = startedLaunchers(folder);
        if (done(started) || std::chrono::steady_clock::now() > deadline) {
            return started;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace kes::test
