#include "common/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "common/system_library.h"

namespace kes {

// Windows splits a command line by these rules, so the quoted form follows them:
//
//   in the argument          written as
//   ---------------          ----------
//   n backslashes + "        2n+1 backslashes + "   (escaped quote)
//   n backslashes at end     2n backslashes + "     (closing quote stays a quote)
//   n backslashes + other    n backslashes + other  (backslashes are literal)
//   blank, tab, anything     unchanged              (inside the quotes)
//
// Every argument is quoted, even one without blanks, so an empty argument
// survives as "".
std::wstring quoteCommandLineArg(const std::wstring& arg) {
    std::wstring body;
    body.reserve(arg.size() + 2);
    body.push_back(L'"');
    std::size_t pendingBackslashes = 0;
    for (const wchar_t unit : arg) {
        if (unit == L'\\') {
            ++pendingBackslashes;
        } else if (unit == L'"') {
            body.append(pendingBackslashes * 2 + 1, L'\\');
            body.push_back(L'"');
            pendingBackslashes = 0;
        } else {
            body.append(pendingBackslashes, L'\\');
            body.push_back(unit);
            pendingBackslashes = 0;
        }
    }
    body.append(pendingBackslashes * 2, L'\\');

    std::wstring result;
    result.reserve(body.size() + 1);
    result.append(body);
    result.push_back(L'"');
    return result;
}

UniqueArgv splitCommandLine(const wchar_t* commandLine, int& count) {
    count = 0;
    const HMODULE shell32 = loadSystemLibrary(L"shell32.dll");
    const auto split = lookUpFunction<decltype(&CommandLineToArgvW)>(shell32, "CommandLineToArgvW");
    if (split == nullptr) {
        return nullptr;
    }
    return UniqueArgv(split(commandLine, &count));
}

ForwardedArguments forwardedArguments(const wchar_t* skip) {
    ForwardedArguments forwarded;
    int count = 0;
    const UniqueArgv args = splitCommandLine(GetCommandLineW(), count);
    if (!args) {
        return forwarded;
    }
    forwarded.split = true;
    // Element 0, the running program's own name, is never forwarded.
    for (int i = 1; i < count; ++i) {
        const wchar_t* arg = args.get()[i];
        if (skip != nullptr && std::wcscmp(arg, skip) == 0) {
            continue;
        }
        forwarded.text.push_back(L' ');
        forwarded.text += quoteCommandLineArg(arg);
    }
    return forwarded;
}

}  // namespace kes
