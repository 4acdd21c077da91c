// Whole-process wall time of two starters, alternated: each run starts the
// program, waits until it has exited (having started its launcher), and
// records the time. Prints one line "pair <seconds A> <seconds B>" per pair,
// so that the caller can work with the ratio of each pair. Every run is held
// in a job, and the next run begins only when the launcher it started has
// exited too; within a pair, the two starters take turns at going first.
//
//   handoff_bench <runs> <starter A> <argument A> <starter B> <argument B>
//
// An argument of "-" means none.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Waits until every process of the job has exited, for at most ten seconds.
bool waitUntilJobIsEmpty(HANDLE job) {
    for (int waited = 0; waited < 10000; ++waited) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) {
            return false;
        }
        if (info.ActiveProcesses == 0) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

double runOnce(const std::wstring& exe, const std::wstring& argument) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (argument != L"-") {
        commandLine += L" \"" + argument + L"\"";
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return -1;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process)) {
        CloseHandle(job);
        return -1;
    }
    const bool held = AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&t1);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const bool quiet = held && waitUntilJobIsEmpty(job);
    CloseHandle(job);
    if (code != 0 || !quiet) {
        return -1;
    }
    return static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::fputs("usage: handoff_bench <runs> <starter A> <arg A> <starter B> <arg B>\n", stderr);
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    for (int i = 0; i < runs; ++i) {
        double ta = 0;
        double tb = 0;
        if (i % 2 == 0) {
            ta = runOnce(argv[2], argv[3]);
            tb = runOnce(argv[4], argv[5]);
        } else {
            tb = runOnce(argv[4], argv[5]);
            ta = runOnce(argv[2], argv[3]);
        }
        if (ta < 0 || tb < 0) {
            std::fputs("handoff_bench: a starter failed\n", stderr);
            return 1;
        }
        std::printf("pair %.6f %.6f\n", ta, tb);
        Sleep(50);
    }
    return 0;
}
