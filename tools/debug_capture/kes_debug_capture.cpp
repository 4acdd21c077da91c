// kes-debug-capture: runs a program as a debuggee and prints, byte for byte,
// every write it makes to the debugger output (OutputDebugString), the way a
// debug-output viewer receives them. Exits with the program's exit code.
//
//   kes-debug-capture [--framed] [--children] [--out file] [--argv0 text]
//                     [--delete-when text file] [--set-when text event]
//                     program [arguments...]
//
//   --framed      print each write as "<byte count>:<bytes>" and a line feed, so
//                 that separate writes can be told apart
//   --children    also capture processes that the program starts (a hand-over)
//   --out file    write the captured output to this file instead of standard
//                 output, which the program itself may be writing to
//   --argv0 text  start the program with this text, instead of its quoted
//                 path, as the first element of its command line
//   --delete-when text file
//                 delete the file as soon as the program writes a text that
//                 contains `text`, before the program goes on: a debuggee
//                 stands still while its debugger handles the write, so a file
//                 can be made to vanish at an exact point of the program
//   --set-when text event
//                 set the named event at the same point, so that another
//                 process can act there (a test that holds a file lets go)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/encoding.h"
#include "common/win_owners.h"
#include "common/process_start.h"

namespace {

struct Options {
    bool framed = false;
    bool children = false;
    const wchar_t* argv0 = nullptr;
    const wchar_t* out = nullptr;
    std::string deleteWhen;  // UTF-8, as the program writes it
    const wchar_t* deleteFile = nullptr;
    std::string setWhen;
    const wchar_t* setEvent = nullptr;
    int programIndex = 0;  // index of the program in argv; 0 when missing
};

Options parseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--framed") {
            options.framed = true;
        } else if (arg == L"--children") {
            options.children = true;
        } else if (arg == L"--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (arg == L"--argv0" && i + 1 < argc) {
            options.argv0 = argv[++i];
        } else if (arg == L"--delete-when" && i + 2 < argc) {
            const std::wstring text = argv[++i];
            options.deleteWhen = kes::wideToUtf8(text.data(), text.size());
            options.deleteFile = argv[++i];
        } else if (arg == L"--set-when" && i + 2 < argc) {
            const std::wstring text = argv[++i];
            options.setWhen = kes::wideToUtf8(text.data(), text.size());
            options.setEvent = argv[++i];
        } else {
            options.programIndex = i;
            break;
        }
    }
    return options;
}

void writeOut(FILE* output, const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), output);
    std::fflush(output);
}

// Reads one debug string from the debuggee. ANSI strings are passed through as
// they are; a UTF-16 string (rare) is converted to UTF-8.
std::string readDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const std::size_t unitSize = info.fUnicode ? 2 : 1;
    std::vector<char> raw(static_cast<std::size_t>(info.nDebugStringLength) * unitSize);
    SIZE_T got = 0;
    if (raw.empty() || !ReadProcessMemory(process, info.lpDebugStringData, raw.data(), raw.size(), &got)) {
        return {};
    }
    raw.resize(got);
    if (!info.fUnicode) {
        std::string text(raw.begin(), raw.end());
        return text.substr(0, text.find('\0'));
    }
    std::wstring wide(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
    wide.resize(wide.find(L'\0') == std::wstring::npos ? wide.size() : wide.find(L'\0'));
    return kes::wideToUtf8(wide.data(), wide.size());
}

// Starts the program as a debuggee; false (after saying why) when it cannot.
bool startDebuggee(const Options& options, int argc, wchar_t** argv, PROCESS_INFORMATION& process) {
    const wchar_t* program = argv[options.programIndex];
    std::wstring commandLine =
        options.argv0 != nullptr ? std::wstring(options.argv0) : kes::quoteCommandLineArg(program);
    for (int i = options.programIndex + 1; i < argc; ++i) {
        commandLine += L" " + kes::quoteCommandLineArg(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    process = PROCESS_INFORMATION{};
    const DWORD flags = options.children ? DEBUG_PROCESS : DEBUG_ONLY_THIS_PROCESS;
    if (!kes::createProcessRetrying(program, commandLine.data(), FALSE, flags, nullptr, nullptr, &startup,
                                    &process)) {
        std::fprintf(stderr, "kes-debug-capture: cannot start the program (Windows error %lu)\n", GetLastError());
        return false;
    }
    return true;
}

// Handles the debug events until the program (and with --children, whatever
// it started) has ended; returns the program's exit code.
DWORD pumpDebugEvents(const Options& options, const PROCESS_INFORMATION& process, FILE* output) {
    DWORD exitCode = 0;
    int running = 0;
    bool mainExited = false;
    bool deleted = false;
    std::vector<std::pair<DWORD, HANDLE>> debuggees;  // process id, handle (owned by the debug loop)
    while (!mainExited || running > 0 || options.children) {
        DEBUG_EVENT event;
        // A child's first event can arrive after its parent has exited, so with
        // --children the loop lingers briefly once nothing is left running.
        const DWORD wait = (mainExited && running <= 0) ? 1500 : INFINITE;
        if (!WaitForDebugEvent(&event, wait)) {
            break;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile != nullptr) {
                    CloseHandle(event.u.CreateProcessInfo.hFile);
                }
                debuggees.emplace_back(event.dwProcessId, event.u.CreateProcessInfo.hProcess);
                ++running;
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile != nullptr) {
                    CloseHandle(event.u.LoadDll.hFile);
                }
                break;
            case OUTPUT_DEBUG_STRING_EVENT: {
                HANDLE source = process.hProcess;
                for (const auto& debuggee : debuggees) {
                    if (debuggee.first == event.dwProcessId) {
                        source = debuggee.second;
                    }
                }
                const std::string text = readDebugString(source, event.u.DebugString);
                if (options.framed) {
                    writeOut(output, std::to_string(text.size()) + ":" + text + "\n");
                } else {
                    writeOut(output, text);
                }
                if (options.setEvent != nullptr && text.find(options.setWhen) != std::string::npos) {
                    const kes::UniqueHandle set(OpenEventW(EVENT_MODIFY_STATE, FALSE, options.setEvent));
                    if (!set || !SetEvent(set.get())) {
                        std::fprintf(stderr, "kes-debug-capture: cannot set %ls (Windows error %lu)\n",
                                     options.setEvent, GetLastError());
                    }
                }
                if (options.deleteFile != nullptr && !deleted && text.find(options.deleteWhen) != std::string::npos) {
                    deleted = true;
                    if (!DeleteFileW(options.deleteFile)) {
                        std::fprintf(stderr, "kes-debug-capture: cannot delete %ls (Windows error %lu)\n",
                                     options.deleteFile, GetLastError());
                    }
                }
                break;
            }
            case EXCEPTION_DEBUG_EVENT:
                // The loader's initial breakpoint is ours; every other exception
                // goes back to the program as if no debugger were there.
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                --running;
                if (event.dwProcessId == process.dwProcessId) {
                    exitCode = event.u.ExitProcess.dwExitCode;
                    mainExited = true;
                }
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.programIndex == 0) {
        std::fputs("usage: kes-debug-capture [--framed] [--children] [--out file] [--argv0 text]\n"
                   "                         [--delete-when text file] [--set-when text event] program "
                   "[arguments...]\n",
                   stderr);
        return 2;
    }
    // The bytes are passed on exactly: no line-end translation.
    FILE* output = stdout;
    if (options.out != nullptr) {
        output = _wfopen(options.out, L"wb");
        if (output == nullptr) {
            std::fprintf(stderr, "kes-debug-capture: cannot write %ls\n", options.out);
            return 2;
        }
    } else {
        _setmode(_fileno(stdout), _O_BINARY);
    }
    PROCESS_INFORMATION process;
    if (!startDebuggee(options, argc, argv, process)) {
        return 2;
    }
    const kes::UniqueHandle mainProcess(process.hProcess);
    const kes::UniqueHandle mainThread(process.hThread);
    const DWORD exitCode = pumpDebugEvents(options, process, output);
    if (output != stdout) {
        std::fclose(output);
    }
    return static_cast<int>(exitCode);
}
