// Helpers for tests that run under Wine against the real file system and real
// processes.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launch_record.h"

namespace kes::test {

std::string narrow(const std::wstring& wide);
std::wstring widen(const std::string& utf8);

// gtest's name for a row of a table: the row's own `name`, every character
// but letters, digits and '_' (which gtest refuses) turned into '_'.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return sanitized(nameText(info.param.name));
    }
    static std::string nameText(const char* name) { return name; }
    static std::string nameText(const wchar_t* name) { return narrow(name); }
    static std::string sanitized(std::string name) {
        for (char& c : name) {
            const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            c = kept ? c : '_';
        }
        return name;
    }
};

// The folder of the running test executable; fixtures are built beside it.
std::wstring binDir();

// Path of a built executable (fixture, tool or program) beside the tests.
std::wstring builtExe(const std::wstring& name);

// False when the harness found that this machine's kernel executes no 32-bit
// programs, so that Wine cannot start a 32-bit launcher.
bool hostRuns32BitPrograms();

// A fresh, empty folder under C:\kes-scratch for the running test, named after
// the test and this process: another run of the same test at the same time
// (a second build's or a mutant's run in this prefix) has a folder of its
// own. Folders that runs which have ended left behind are removed first.
std::wstring freshScratchDir(const std::wstring& leaf = L"");

// A built file and the name it is given in a test's folder.
struct Placed {
    const wchar_t* fixture;  // built executable, without .exe
    const wchar_t* name;     // file name in the folder
};

// The running test's fresh folder, into which built files are placed.
struct ScratchFolder {
    std::wstring dir;

    explicit ScratchFolder(const std::wstring& leaf = L"") : dir(freshScratchDir(leaf)) {}

    // Copies the built file in (once; a second placing of a name keeps the
    // first) and returns its path.
    std::wstring place(const Placed& p) const;
};

// Recursively removes a folder; quiet when it does not exist.
void removeTree(const std::wstring& path);

void copyFileOrFail(const std::wstring& from, const std::wstring& to);
void writeFileOrFail(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
std::string readFileBytes(const std::wstring& path);

struct ProcessResult {
    bool started = false;
    bool exited = false;  // false: still running at the timeout (then killed)
    DWORD exitCode = 0;
    DWORD createError = 0;
    double seconds = 0;
};

// Whether the process started, how it ended, and how long it took, for
// failure messages.
std::string describe(const ProcessResult& result);

// Starts `commandLine` (application name `exe`) in `cwd` (the test's own when
// empty) with an optional environment block, and waits up to timeoutMs. With
// an output path, the program's standard output and error go to that file.
ProcessResult runProcess(const std::wstring& exe, const std::wstring& commandLine,
                         const std::wstring& cwd = L"", DWORD timeoutMs = 20000,
                         const wchar_t* environment = nullptr, const std::wstring& outputPath = L"");

// Whether Wine, under load, failed a process start with ERROR_INTERNAL_ERROR
// (1359), the one failure that earns a second run, as the output shows it: the
// start program's message box in a relay trace, the routine's log line, or the
// capture tool's own failed start; or Wine's loader failing to lay out a new
// process's address space ("failed to map the shared user data"), which ends
// that process with 1 before its first instruction.
bool wineFailedAStart(const std::string& output);

// Runs a start program (application `start`) with its message boxes traced.
// Wine, under load, now and then fails the program's own start of the
// launcher with 1359; the program then rightly says so in its box and exits
// with 1. Such a run, and only such a run, is repeated once.
ProcessResult runStartProgram(const std::wstring& start, const std::wstring& commandLine, const std::wstring& cwd,
                              DWORD timeoutMs = 20000);

// What kes-inspect --json says of a folder: its exit code and the launcher it
// names as the one the start program would start (empty for none).
struct Inspection {
    ProcessResult run;
    std::wstring chosen;
    std::string json;
};
Inspection inspectFolder(const std::wstring& dir);

// Waits up to timeoutMs for the record of the launcher at exePath.
std::optional<LaunchRecord> waitForLaunchRecord(const std::wstring& exePath, DWORD timeoutMs = 10000);

// The names of the "*.started" records in a folder, i.e. which launchers ran.
std::vector<std::wstring> startedLaunchers(const std::wstring& folder);

// Polls the folder's records until `done` holds for the launchers that have
// started, or timeoutMs has passed; returns those launchers.
using StartsDone = std::function<bool(const std::vector<std::wstring>& started)>;
std::vector<std::wstring> waitForStarts(const std::wstring& folder, const StartsDone& done, DWORD timeoutMs);

}  // namespace kes::test
