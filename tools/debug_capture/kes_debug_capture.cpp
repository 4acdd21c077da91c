// kes-debug-capture: runs a program as a debuggee and prints, byte for byte,
// every write it makes to the debugger output (OutputDebugString), the way a
// debug-output viewer receives them. Exits with the program's exit code.
//
//   kes-debug-capture [--framed] [--children] [--out file] [--argv0 text]
//                     program [arguments...]
//
//   --framed      print each write as "<byte count>:<bytes>" and a line feed, so
//                 that separate writes can be told apart
//   --children    also capture processes that the program starts (a hand-over)
//   --out file    write the captured output to this file instead of standard
//                 output, which the program itself may be writing to
//   --argv0 text  start the program with this text, instead of its quoted
//                 path, as the first element of its command line
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/win_owners.h"

namespace {

struct Options {
    bool framed = false;
    bool children = false;
    const wchar_t* argv0 = nullptr;
    const wchar_t* out = nullptr;
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
        } else {
            options.programIndex = i;
            break;
        }
    }
    return options;
}

FILE* gOutput = stdout;

void writeOut(const char* bytes, std::size_t count) {
    std::fwrite(bytes, 1, count, gOutput);
    std::fflush(gOutput);
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
        const std::size_t nul = text.find('\0');
        return nul == std::string::npos ? text : text.substr(0, nul);
    }
    std::wstring wide(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
    wide.resize(wide.find(L'\0') == std::wstring::npos ? wide.size() : wide.find(L'\0'));
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.programIndex == 0) {
        std::fputs("usage: kes-debug-capture [--framed] [--children] [--out file] [--argv0 text] program [arguments...]\n",
                   stderr);
        return 2;
    }
    // The bytes are passed on exactly: no line-end translation.
    if (options.out != nullptr) {
        gOutput = _wfopen(options.out, L"wb");
        if (gOutput == nullptr) {
            std::fprintf(stderr, "kes-debug-capture: cannot write %ls\n", options.out);
            return 2;
        }
    } else {
        _setmode(_fileno(stdout), _O_BINARY);
    }
    std::wstring commandLine =
        options.argv0 != nullptr ? std::wstring(options.argv0) : kes::quoteCommandLineArg(argv[options.programIndex]);
    for (int i = options.programIndex + 1; i < argc; ++i) {
        commandLine += L" " + kes::quoteCommandLineArg(argv[i]);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const DWORD flags = options.children ? DEBUG_PROCESS : DEBUG_ONLY_THIS_PROCESS;
    if (!CreateProcessW(argv[options.programIndex], commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "kes-debug-capture: cannot start the program (Windows error %lu)\n", GetLastError());
        return 2;
    }
    kes::UniqueHandle mainProcess(process.hProcess);
    kes::UniqueHandle mainThread(process.hThread);

    DWORD exitCode = 0;
    int running = 0;
    bool mainExited = false;
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
                    const std::string count = std::to_string(text.size()) + ":";
                    writeOut(count.data(), count.size());
                    writeOut(text.data(), text.size());
                    writeOut("\n", 1);
                } else {
                    writeOut(text.data(), text.size());
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
    if (gOutput != stdout) {
        std::fclose(gOutput);
    }
    return static_cast<int>(exitCode);
}
