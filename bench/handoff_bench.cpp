// Whole-process wall time of two starters, alternated: each run starts the
// program, waits until it has exited (having started its launcher), and
// records the time, and the time until the first process it started was
// created. Prints "pair <seconds A> <seconds B>" and "launch <seconds A>
// <seconds B>" per pair, so that the caller can work with the ratio of each
// pair. Every run is held in a job whose completion port reports the
// processes, and the next run begins only when the launcher it started has
// exited too; within a pair, the two starters take turns at going first.
//
//   handoff_bench <runs> <starter A> <arguments A> <starter B> <arguments B>
//
// The arguments are appended to the command line as they are given; "-"
// means none.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Times {
    double ended = -1;     // the starter's end
    double launched = -1;  // the first process it started
};

double since(const LARGE_INTEGER& t0) {
    LARGE_INTEGER f;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
}

Times runOnce(const std::wstring& exe, const std::wstring& arguments) {
    Times times;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (arguments != L"-") {
        commandLine += L" " + arguments;
    }
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT reports{};
    reports.CompletionKey = job;
    reports.CompletionPort = port;
    if (job == nullptr || port == nullptr ||
        !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &reports, sizeof reports)) {
        return times;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process)) {
        CloseHandle(port);
        CloseHandle(job);
        return times;
    }
    const bool held = AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    // The job reports every process, nested jobs' too, and its last one's end.
    for (bool done = !held; !done;) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        if (!GetQueuedCompletionStatus(port, &message, &key, &detail, 30000)) {
            break;
        }
        const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && id != process.dwProcessId && times.launched < 0) {
            times.launched = since(t0);
        } else if ((message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) &&
                   id == process.dwProcessId) {
            times.ended = since(t0);
        }
        done = message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(port);
    CloseHandle(job);
    if (code != 0 || times.launched < 0) {
        times.ended = -1;
    }
    return times;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::fputs("usage: handoff_bench <runs> <starter A> <arg A> <starter B> <arg B>\n", stderr);
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    for (int i = 0; i < runs; ++i) {
        Times ta;
        Times tb;
        if (i % 2 == 0) {
            ta = runOnce(argv[2], argv[3]);
            tb = runOnce(argv[4], argv[5]);
        } else {
            tb = runOnce(argv[4], argv[5]);
            ta = runOnce(argv[2], argv[3]);
        }
        if (ta.ended < 0 || tb.ended < 0) {
            std::fputs("handoff_bench: a starter failed\n", stderr);
            return 1;
        }
        std::printf("pair %.6f %.6f\nlaunch %.6f %.6f\n", ta.ended, tb.ended, ta.launched, tb.launched);
        Sleep(50);
    }
    return 0;
}
