#include "start/launcher_wait.h"

#include <utility>
#include <vector>

#include "common/held_launcher.h"
#include "common/process_start.h"
#include "common/resolved_path.h"
#include "start/debug_output.h"

namespace kes {

namespace {

// How long the wait sleeps on the port before it asks the job itself: the
// job's messages are notifications, and one may be lost.
constexpr DWORD kPortWaitMs = 3000;

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
            CloseHandle(member.second);
        }
    }
    // The process of that id once it has ended, now out of the list: the
    // caller closes it. Null when none of that id has ended.
    HANDLE takeEnded(DWORD id) {
        for (auto& member : opened) {
            if (member.first == id && WaitForSingleObject(member.second, 0) == WAIT_OBJECT_0) {
                const HANDLE process = member.second;
                member = opened.back();
                opened.pop_back();
                return process;
            }
        }
        return nullptr;
    }
};

// Whether the process's image, by its own final path, lies in or under the
// folder (a final path ending in '\'); no when either cannot be resolved.
bool liesIn(HANDLE process, const std::wstring& folder) {
    const UniqueHandle file = folder.empty() ? UniqueHandle() : openProcessImage(process);
    wchar_t resolved[kFinalPathUnits];
    const DWORD length = file ? finalPathOf(file.get(), resolved) : 0;
    const auto prefix = static_cast<int>(folder.size());
    // Case counts: both are final paths, spelt as the file system stores
    // them, and a file system may hold folders whose names differ only in case.
    return length > folder.size() &&
           CompareStringOrdinal(resolved, prefix, folder.c_str(), prefix, FALSE) == CSTR_EQUAL;
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

// Whether the job still holds a process, asked of the job itself; yes when
// it cannot be asked, since ending the wait would end the game.
bool jobHasProcesses(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                   nullptr)) {
        return true;
    }
    return accounting.ActiveProcesses != 0;
}

// How long an ended process ran, from the platform's own times.
DWORD ranMsOf(HANDLE process) {
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) {
        return MAXDWORD;
    }
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<DWORD>((ticks(ended) - ticks(created)) / 10000);
}

// What the launcher's end says about it: a loader status before it started
// anything, or a crash soon after its start before a process of the folder
// ran (a debugger or error reporter from elsewhere does not count).
void judgeLauncherEnd(LauncherRun& run, HANDLE launcher, DWORD code, bool startedOthers, bool startedOfFolder) {
    run.ranMs = ranMsOf(launcher);
    // A launcher that ran longer was running the game, whatever status it
    // ends with: that status is the game's.
    const bool soon = run.ranMs < kCrashAtStartMs;
    if (isLoaderStatus(code)) {
        run.couldNotLoad = !startedOthers && soon;
    } else {
        run.crashedAtStart = isExceptionStatus(code) && soon && !startedOfFolder;
    }
    if (run.couldNotLoad || run.crashedAtStart) {
        run.error = code;
    }
}

}  // namespace

bool isLoaderStatus(DWORD code) {
    return code == 0xC0000135 || code == 0xC0000139 || code == 0xC000007B || code == 0xC0000142;
}

bool isExceptionStatus(DWORD code) {
    return (code & 0xF0000000) == 0xC0000000 || code == 0x80000003;
}

std::wstring resolvedFolder(const std::wstring& folder) {
    const UniqueHandle handle = openToResolve(folder.c_str());
    wchar_t path[kFinalPathUnits];
    const DWORD length = handle ? finalPathOf(handle.get(), path) : 0;
    if (length == 0) {
        writeDebugLine("folder: not resolved (Windows error %lu) -- only the launcher's code counts", GetLastError());
        return {};
    }
    // "\\?\R:\" ends in a separator, "\\?\C:\Games\K" does not.
    return std::wstring(path, length) + (path[length - 1] == L'\\' ? L"" : L"\\");
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
    run.created = createProcessRetrying(path.c_str(), commandLine.data(), FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                                        &startup, &created) != FALSE;
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
    // A process that could not be told apart (it had ended, or its id named
    // another process, when it was opened) may have been one of the folder;
    // so may any, outside the job, where none can be seen.
    bool startedOfFolder = folder.empty() || !joined;
    bool launcherEnded = false;
    bool haveCode = false;
    Members members;
    while (joined) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        if (!GetQueuedCompletionStatus(port.get(), &message, &key, &detail, kPortWaitMs)) {
            if (detail == nullptr && GetLastError() == WAIT_TIMEOUT && jobHasProcesses(job.get())) {
                continue;
            }
            break;
        }
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            break;
        }
        const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
        if (message == JOB_OBJECT_MSG_NEW_PROCESS && id != created.dwProcessId) {
            // Opened now and asked its name and code when it ends: when it is
            // reported, its name may not be known yet. Kept only when the
            // process of that id is the job's.
            startedOthers = true;
            // Wine asks the full query right to tell a process's job; a
            // process that runs elevated grants only the limited one.
            UniqueHandle member(OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id));
            if (!member) {
                member.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
            }
            BOOL inJob = FALSE;
            if (member && IsProcessInJob(member.get(), job.get(), &inJob) && inJob) {
                members.opened.emplace_back(id, member.release());
            } else {
                startedOfFolder = true;
            }
        } else if (message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) {
            const bool isLauncher = id == created.dwProcessId && WaitForSingleObject(launcher.get(), 0) == 0;
            const UniqueHandle member(isLauncher ? nullptr : members.takeEnded(id));
            const HANDLE ended = isLauncher ? launcher.get() : member.get();
            DWORD code = 0;
            // A process of the game folder sets the code; one from elsewhere
            // (a browser the game opened) is waited for only, and so is one
            // that ended before it could be opened.
            const bool ofFolder = ended != nullptr && !isLauncher && liesIn(ended, folder);
            startedOfFolder = startedOfFolder || ofFolder;
            if (ended != nullptr && GetExitCodeProcess(ended, &code) && (isLauncher || ofFolder)) {
                run.exitCode = code;
                haveCode = true;
            }
            if (isLauncher) {
                launcherEnded = true;
                for (const auto& running : members.opened) {
                    startedOfFolder = startedOfFolder || liesIn(running.second, folder);
                }
                judgeLauncherEnd(run, launcher.get(), code, startedOthers, startedOfFolder);
                // What is left of a launcher passed over (a debugger, an
                // error reporter) is not the game's: the job's end ends it.
                if (run.couldNotLoad || run.crashedAtStart) {
                    break;
                }
            }
        }
    }
    // Without the job, or when its port failed or lost the launcher's end,
    // the launcher's own process is all that can be followed.
    if (!launcherEnded) {
        WaitForSingleObject(launcher.get(), INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(launcher.get(), &code);
        judgeLauncherEnd(run, launcher.get(), code, startedOthers, startedOfFolder);
        if (!haveCode) {
            run.exitCode = code;
        }
    }
    return run;
}

}  // namespace kes
