#include "robustness/robustness_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

#include "common/launcher_family.h"
#include "common/path_compare.h"
#include "common/sibling_executables.h"
#include "support/test_support.h"

namespace kes::test {

namespace {

constexpr DWORD kMayTakeMs = 15000;

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}

bool isFamily(const ProbedVersion& info) {
    return info.valid && info.launcherIdHex == hexOf(kLauncherFamilyId);
}

bool isExceptionCode(DWORD code) {
    return code >= 0xC0000000u;
}

// The platform's version library faults on some corrupted files only now and
// then (it reads past its mapping). When a program faults in a folder where
// the first probe did not, probe again a few times before calling it ours.
bool platformFaultsIn(const std::wstring& dir, std::set<std::string>& faulted) {
    for (int attempt = 0; attempt < 10 && faulted.empty(); ++attempt) {
        probeFolder(dir, faulted);
    }
    return !faulted.empty();
}

}  // namespace

std::map<std::string, ProbedVersion> probeFolder(const std::wstring& dir, std::set<std::string>& faulted) {
    std::vector<std::string> remaining = listSiblingExecutables(narrow(dir));
    std::map<std::string, ProbedVersion> result;
    const std::wstring out = dir + L".probe.txt";
    while (!remaining.empty()) {
        // As many paths as fit in one command line; the rest in the next round.
        std::wstring commandLine = L"\"" + builtExe(L"version_probe") + L"\"";
        std::size_t batch = 0;
        while (batch < remaining.size() && commandLine.size() + remaining[batch].size() * 3 + 3 < 30000) {
            commandLine += L" \"" + widen(remaining[batch]) + L"\"";
            ++batch;
        }
        // The probe's output goes to a file through cmd-free redirection: the
        // child inherits a handle to it.
        SECURITY_ATTRIBUTES inherit{};
        inherit.nLength = sizeof inherit;
        inherit.bInheritHandle = TRUE;
        HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = file;
        si.hStdError = file;
        PROCESS_INFORMATION pi{};
        const std::wstring probe = builtExe(L"version_probe");
        // Under load Wine now and then fails a start with ERROR_INTERNAL_ERROR;
        // a second try succeeds.
        BOOL started = FALSE;
        for (int attempt = 0; attempt < 5 && !started; ++attempt) {
            started = CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                     &si, &pi);
            if (!started) {
                Sleep(200);
            }
        }
        if (!started) {
            CloseHandle(file);
            ADD_FAILURE() << "cannot start version_probe: " << GetLastError();
            return result;
        }
        CloseHandle(file);
        WaitForSingleObject(pi.hProcess, 120000);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);

        std::istringstream lines(readFileBytes(out));
        std::string line, reading;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.rfind("reading ", 0) == 0) {
                reading = line.substr(8);
                continue;
            }
            // A result line ends in the path being read; anything else (such
            // as the platform's crash report) is not a result.
            const std::string tail = " " + reading;
            if (reading.empty() || line.size() <= tail.size() ||
                line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
                continue;
            }
            std::istringstream fields(line);
            ProbedVersion info;
            int valid = 0;
            fields >> valid >> std::hex >> info.packed >> info.launcherIdHex;
            info.valid = valid != 0;
            result[reading] = info;
            reading.clear();
        }
        DeleteFileW(out.c_str());
        if (code == 0 || reading.empty()) {
            remaining.erase(remaining.begin(), remaining.begin() + static_cast<std::ptrdiff_t>(batch));
            continue;
        }
        // The probe faulted while reading `reading`: note it and go on after it.
        faulted.insert(reading);
        auto at = std::find(remaining.begin(), remaining.end(), reading);
        remaining.erase(remaining.begin(), at == remaining.end() ? remaining.end() : at + 1);
    }
    return result;
}

HostileFolder::HostileFolder(const std::wstring& folder) : dir(folder) {
    copyFileOrFail(builtExe(L"KestrelwoodStart"), dir + L"\\KestrelwoodStart.exe");
    copyFileOrFail(builtExe(L"fx_family_1_0_0_0"), dir + L"\\L10.exe");
    copyFileOrFail(builtExe(L"fx_family_1_2_0_0"), dir + L"\\L12.exe");
    copyFileOrFail(builtExe(L"ref_1_0_0_0"), dir + L"\\Ref10.exe");
}

void HostileFolder::checkStartProgram(const std::string& label) const {
    clearRecords();
    std::set<std::string> faulted;
    const auto versions = probeFolder(dir, faulted);
    // The start program's rule: highest version, then the smaller UTF-16 path.
    std::wstring expected;
    std::uint64_t best = 0;
    for (const auto& [path, info] : versions) {
        const std::wstring wide = widen(path);
        if (isFamily(info) && (expected.empty() || info.packed > best || (info.packed == best && wide < expected))) {
            expected = wide;
            best = info.packed;
        }
    }
    const std::wstring start = dir + L"\\KestrelwoodStart.exe";
    const ProcessResult run = runProcess(start, L"\"" + start + L"\" -x", dir, kMayTakeMs);
    ASSERT_TRUE(run.started) << label;
    ASSERT_TRUE(run.exited) << label << ": the start program did not exit by itself";
    if (isExceptionCode(run.exitCode) && platformFaultsIn(dir, faulted)) {
        std::printf("%s: the start program faulted, as the platform's version reader does on %s\n", label.c_str(),
                    faulted.begin()->c_str());
        return;
    }
    ASSERT_LE(run.exitCode, 1u) << label << ": the start program ended abnormally, code 0x" << std::hex
                                << run.exitCode;
    if (faulted.empty() && expected == dir + L"\\L12.exe") {
        EXPECT_EQ(run.exitCode, 0u) << label;
        EXPECT_TRUE(waitForLaunchRecord(expected).has_value()) << label << ": L12.exe was not started";
    } else if (run.exitCode == 0 && !expected.empty()) {
        // Let whatever was started write its record now, not during the next check.
        waitForLaunchRecord(expected, 5000);
    }
    // Otherwise a corrupted file reads as the newest launcher: starting it may
    // fail (exit code 1 and a message box), which is the right report.
}

void HostileFolder::checkSelfUpdate(const std::string& label) const {
    clearRecords();
    std::set<std::string> faulted;
    const auto versions = probeFolder(dir, faulted);
    // The routine's rule: strictly newer than the running launcher, the first
    // listed among equals; every valid sibling of the family counts.
    const std::string self = narrow(dir + L"\\Ref10.exe");
    std::string best = self;
    std::uint64_t bestVersion = versions.count(self) != 0 ? versions.at(self).packed : 0;
    int count = 0;
    for (const std::string& sibling : listSiblingExecutables(narrow(dir))) {
        if (pathsEqualIgnoreCase(sibling, self) || versions.count(sibling) == 0) {
            continue;
        }
        const ProbedVersion& info = versions.at(sibling);
        if (isFamily(info)) {
            if (bestVersion < info.packed) {
                best = sibling;
                bestVersion = info.packed;
            }
            ++count;
        }
    }

    const std::wstring out = dir + L".capture.bin";
    DeleteFileW(out.c_str());
    const std::wstring capture = builtExe(L"kes-debug-capture");
    const std::wstring commandLine =
        L"\"" + capture + L"\" --framed --out \"" + out + L"\" \"" + widen(self) + L"\" -x";
    const ProcessResult run = runProcess(capture, commandLine, dir, kMayTakeMs);
    ASSERT_TRUE(run.exited) << label << ": the launcher did not exit by itself";
    if (isExceptionCode(run.exitCode) && platformFaultsIn(dir, faulted)) {
        std::printf("%s: the launcher faulted, as the platform's version reader does on %s\n", label.c_str(),
                    faulted.begin()->c_str());
        return;
    }
    ASSERT_LE(run.exitCode, 4u) << label << ": the launcher ended abnormally, code 0x" << std::hex << run.exitCode;
    if (!faulted.empty()) {
        return;  // the count depends on whether the platform read the faulting file this time
    }

    const std::vector<std::string> messages = logMessages(readFramedWrites(out));
    ASSERT_GE(messages.size(), 2u) << label;
    EXPECT_EQ(messages[0], "scan: " + std::to_string(count) + " sibling keslauncher(s) found") << label;
    EXPECT_EQ(messages[1], "delegating to newer launcher: " + best) << label;
    if (best == narrow(dir + L"\\L12.exe")) {
        auto record = waitForLaunchRecord(widen(best));
        std::string log;
        for (const std::string& message : messages) {
            log += "\n  " + message;
        }
        if (!record.has_value()) {
            const bool late = waitForLaunchRecord(widen(best), 30000).has_value();
            FAIL() << label << ": L12.exe was not started within 10 s (" << (late ? "it did later" : "nor within 40 s")
                   << "); the log:" << log;
        }
        EXPECT_EQ(record->args.back(), L"--no-self-update-scan") << label;
    }
}

void HostileFolder::clearRecords() const {
    for (const std::wstring& name : startedLaunchers(dir)) {
        DeleteFileW((dir + L"\\" + name + L".started").c_str());
    }
}

std::set<std::wstring> knownPlatformCrashes() {
    std::set<std::wstring> names;
    std::istringstream lines(readFileBytes(binDir() + L"\\corpus\\platform-crashes.txt"));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) {
            names.insert(widen(line));
        }
    }
    return names;
}

std::vector<std::string> readFramedWrites(const std::wstring& path) {
    const std::string bytes = readFileBytes(path);
    std::vector<std::string> writes;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t colon = bytes.find(':', pos);
        if (colon == std::string::npos) {
            break;
        }
        const std::size_t n = std::stoul(bytes.substr(pos, colon - pos));
        writes.push_back(bytes.substr(colon + 1, n));
        pos = colon + 1 + n + 1;
    }
    return writes;
}

std::vector<std::string> logMessages(const std::vector<std::string>& writes) {
    std::vector<std::string> messages;
    for (std::size_t i = 0; i + 2 < writes.size(); i += 3) {
        EXPECT_EQ(writes[i], "[keslauncher][selfupdate] ");
        EXPECT_EQ(writes[i + 2], "\n");
        messages.push_back(writes[i + 1]);
    }
    return messages;
}

}  // namespace kes::test
