#include "start/launcher_wait.h"

#include <utility>
#include <vector>

#include "common/held_launcher.h"
#include "common/path_compare.h"
#include "start/debug_output.h"

namespace kes {

namespace {

// The processes of the job that are still running, each opened when the job
// reports it: by the time it ends, its id may name another process. A
// process leaves the list when it ends (its id may come back with another
// process), and the rest are closed with the list.
struct Members {
    std::vector<std::pair<DWORD, HANDLE>> opened;

    Members() = default;
    Members(const Members&) = delete;
    Members& operator=(const Members&) = delete;
    ~Members() {
        for (const auto& member : opened) {
            if (member.second != nullptr) {
                CloseHandle(member.second);
            }
        }
    }
    // The process of that id, now out of the list: the caller closes it.
    HANDLE take(DWORD id) {
        for (auto& member : opened) {
            if (member.first == id) {
                const HANDLE process = member.second;
                member = opened.back();
                opened.pop_back();
                return process;
            }
        }
        return nullptr;
    }
};

// Whether the process's executable lies in or under the folder.
bool liesIn(HANDLE process, const std::wstring& folder) {
    wchar_t image[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, image, &length)) {
        return false;
    }
    const std::wstring normalised = normalizePathForCompare(std::wstring(image, length));
    return normalised.size() > folder.size() && normalised.compare(0, folder.size(), folder) == 0;
}

// A job whose processes end when its last handle closes (when the start
// program ends, however it ends), from which a child started with
// CREATE_BREAKAWAY_FROM_JOB may leave, and which reports to `port`.
UniqueHandle makeJob(HANDLE port) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT reports{};
    reports.CompletionKey = job.get();
    reports.CompletionPort = port;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &reports, sizeof reports)) {
        job.reset();
    }
    return job;
}

}  // namespace

bool isLoaderStatus(DWORD code) {
    return code == 0xC0000135 || code == 0xC0000139 || code == 0xC000007B || code == 0xC0000142;
}

LauncherRun runAndWait(const std::wstring& path, std::wstring commandLine, const std::wstring& folder,
                       UniqueHandle& held) {
    LauncherRun run;
    const UniqueHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    const UniqueHandle job = port ? makeJob(port.get()) : UniqueHandle();
    if (!job) {
        writeDebugLine("job: cannot be made (Windows error %lu) -- waiting for the launcher's own process",
                       GetLastError());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    // Suspended, so that it is in the job before it can start anything.
    run.created = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 nullptr, &startup, &created) != FALSE;
    run.error = run.created ? 0 : GetLastError();
    if (!run.created) {
        held.reset();
        return run;
    }
    const UniqueHandle launcher(created.hProcess);
    const UniqueHandle thread(created.hThread);
    if (held && !runsHeldFile(launcher.get(), held.get())) {
        TerminateProcess(launcher.get(), ERROR_ACCESS_DENIED);
        run.created = false;
        run.otherImage = true;
        held.reset();
        return run;
    }
    held.reset();
    const bool joined = job && AssignProcessToJobObject(job.get(), launcher.get());
    if (job && !joined) {
        writeDebugLine("job: the launcher cannot join it (Windows error %lu) -- waiting for its own process",
                       GetLastError());
    }
    ResumeThread(thread.get());

    bool startedOthers = false;
    bool haveCode = false;
    DWORD launcherCode = 0;
    Members members;
    while (joined) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        // No time-out: the port reports every process of the job, and the
        // last one's end.
        if (!GetQueuedCompletionStatus(port.get(), &message, &key, &detail, INFINITE) ||
            message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            break;
        }
        const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && id != created.dwProcessId) {
            // Opened now and asked its name and code when it ends: when it is
            // reported, its name may not be known yet.
            startedOthers = true;
            members.opened.emplace_back(id, OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
        } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
            const bool isLauncher = id == created.dwProcessId;
            const UniqueHandle member(isLauncher ? nullptr : members.take(id));
            const HANDLE ended = isLauncher ? launcher.get() : member.get();
            DWORD code = 0;
            // A process of the game folder sets the code; one from elsewhere
            // (a browser the game opened) is waited for only, and so is one
            // that ended before it could be opened.
            if (ended != nullptr && GetExitCodeProcess(ended, &code) &&
                (isLauncher || liesIn(ended, folder))) {
                run.exitCode = code;
                haveCode = true;
            }
            if (isLauncher) {
                launcherCode = code;
                run.couldNotLoad = !startedOthers && isLoaderStatus(code);
            }
        }
    }
    // Without the job, or when its port failed, the launcher's own process
    // is all that can be followed.
    if (!haveCode) {
        WaitForSingleObject(launcher.get(), INFINITE);
        GetExitCodeProcess(launcher.get(), &launcherCode);
        run.exitCode = launcherCode;
        run.couldNotLoad = isLoaderStatus(launcherCode);
    }
    if (run.couldNotLoad) {
        run.error = launcherCode;
    }
    return run;
}

}  // namespace kes
