// The reference launcher: what a launcher of the family does with the
// self-update routine. It hands over to a newer sibling when there is one, and
// otherwise goes on as itself: it says which launcher and version is running
// and with which arguments, and records that next to itself (launch_record.h).
//
// On request it runs the rest of the update cycle, in the cycle's order:
//   --join-identity         takes the start program's taskbar identity
//   --prune KEEP            removes launchers older than the newest KEEP
//   --land DOWNLOAD NAME    lands a downloaded launcher under NAME
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "common/command_line.h"
#include "common/encoding.h"
#include "kestrelwood/self_update.h"
#include "launch_record.h"

// The version this build of it carries, as text (one file per build, made
// by kes_add_reference_launcher).
extern const char kReferenceVersion[];

int main(int argc, char** argv) {
    if (kes::runSelfUpdateScan(argc, argv)) {
        std::printf("reference launcher %s: handed over to a newer launcher\n", kReferenceVersion);
        return 0;
    }

    // What it runs as and its arguments in UTF-8, from the wide command line:
    // the narrow argv is in the ANSI code page, which cannot hold every path.
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    const kes::UniqueArgv args = kes::splitCommandLine(GetCommandLineW(), count);
    const auto utf8 = [&](int i) { return kes::wideToUtf8(args.get()[i], std::wcslen(args.get()[i])); };
    std::printf("reference launcher %s running as %s\n", kReferenceVersion, count > 0 ? utf8(0).c_str() : "?");
    for (int i = 1; i < count; ++i) {
        std::printf("  argument %d: [%s]\n", i, utf8(i).c_str());
    }
    std::fflush(stdout);
    if (!kes::writeLaunchRecord()) {
        return 4;
    }

    std::string download;
    std::string landAs;
    long keep = -1;
    bool join = false;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = args.get()[i];
        if (arg == L"--join-identity") {
            join = true;
        } else if (arg == L"--prune" && i + 1 < count) {
            keep = std::wcstol(args.get()[++i], nullptr, 10);
        } else if (arg == L"--land" && i + 2 < count) {
            download = utf8(++i);
            landAs = utf8(++i);
        }
    }
    // Before any window, so that it groups with the start program's button.
    if (join) {
        std::printf("reference launcher %s: joined the start program's identity: %d\n", kReferenceVersion,
                    static_cast<int>(kes::joinStartIdentity()));
    }
    if (keep >= 0) {
        std::printf("reference launcher %s: pruned: %d\n", kReferenceVersion,
                    static_cast<int>(kes::pruneLaunchers(static_cast<std::uint32_t>(keep))));
    }
    if (!landAs.empty()) {
        std::printf("reference launcher %s: landed %s: %d\n", kReferenceVersion, landAs.c_str(),
                    static_cast<int>(kes::landUpdate(download, landAs, 60000)));
    }
    return 0;
}
