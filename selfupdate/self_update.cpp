#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "common/command_line.h"
#include "common/encoding.h"
#include "common/held_launcher.h"
#include "common/launcher_family.h"
#include "common/path_compare.h"
#include "common/process_start.h"
#include "common/publisher_check.h"
#include "common/sibling_executables.h"
#include "common/version_info.h"
#include "common/version_library.h"
#include "common/win_owners.h"
#include "kestrelwood/self_update.h"
#include "debug_log.h"
#include "running_launcher.h"
#include "skip_flag.h"

namespace kes {

namespace {

bool hasSkipFlag(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kSkipSelfUpdateFlag) == 0) {
            return true;
        }
    }
    return false;
}

// The same test on this process's own command line, as CommandLineToArgvW
// splits it, for launchers entered through WinMain or wWinMain.
bool ownCommandLineHasSkipFlag() {
    int count = 0;
    const UniqueArgv args = splitCommandLine(GetCommandLineW(), count);
    for (int i = 1; args && i < count; ++i) {
        if (std::wcscmp(args.get()[i], kSkipSelfUpdateFlagW) == 0) {
            return true;
        }
    }
    return false;
}

// The siblings of the family that are newer than the running launcher, as
// judged, in listing order, and how many of the family there are.
struct Sibling {
    Candidate judged;
    bool tried = false;
};

struct ScanResult {
    std::vector<Sibling> newer;
    int familyCount = 0;
};

// The best of the newer siblings not tried yet: the highest version; among
// equals the first in listing order. Null when none is left.
Sibling* bestUntried(std::vector<Sibling>& newer) {
    Sibling* best = nullptr;
    for (Sibling& sibling : newer) {
        if (!sibling.tried && (best == nullptr || best->judged.info.packed < sibling.judged.info.packed)) {
            best = &sibling;
        }
    }
    return best;
}

ScanResult scanSiblings(const std::string& selfPath, std::uint64_t selfVersion) {
    ScanResult scan;
    const SelfTest self = routineSelf(selfPath);
    for (const std::string& sibling : listSiblingExecutables(parentDirectory(selfPath))) {
        // The running launcher is neither read again nor counted. A damaged
        // sibling is not counted, and the platform's version library never
        // gets to fault on it; nor is one that this computer cannot start.
        Candidate judged = judgeCandidate(sibling, self);
        if (judged.kind != CandidateKind::Launcher) {
            continue;
        }
        if (selfVersion < judged.info.packed) {
            scan.newer.push_back({std::move(judged)});
        }
        ++scan.familyCount;
    }
    return scan;
}

enum class HandOver { Started, Failed, OtherImage };

// Starts the newer launcher with this launcher's arguments and the skip
// flag. With `held` (publisher pinning), it is created suspended and resumed
// only when its process runs the held file; otherwise that process is ended.
HandOver handOverTo(const std::wstring& launcher, HANDLE held) {
    debugLogf("delegating to newer launcher: %s", wideToUtf8(launcher.data(), launcher.size()).c_str());

    // The quoted launcher path, every forwarded argument quoted (each skip
    // flag dropped), then exactly one unquoted skip flag.
    const ForwardedArguments forwarded = forwardedArguments(kSkipSelfUpdateFlagW);
    if (!forwarded.split) {
        debugLog("delegation failed" KES_DASH "falling back to self");
        return HandOver::Failed;
    }
    // CreateProcessW may write into its command line: this is its own copy.
    std::wstring commandLine = quoteCommandLineArg(launcher) + forwarded.text + L" " + kSkipSelfUpdateFlagW;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const bool tooLong = commandLine.size() > kMaxCommandLineUnits;
    const DWORD flags = held != nullptr ? CREATE_SUSPENDED : 0;
    if (tooLong || !createProcessRetrying(launcher.c_str(), commandLine.data(), FALSE, flags, nullptr, nullptr,
                                          &startup, &process)) {
        const DWORD error = tooLong ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        debugLogf("CreateProcess failed: GLE=%lu", static_cast<unsigned long>(error));
        debugLog("delegation failed" KES_DASH "falling back to self");
        return HandOver::Failed;
    }
    // Owners are destroyed in reverse order: the process handle is closed
    // first, then the thread handle.
    const UniqueHandle newerThread(process.hThread);
    const UniqueHandle newerProcess(process.hProcess);
    if (held != nullptr && !runsHeldFile(process.hProcess, held)) {
        TerminateProcess(process.hProcess, ERROR_ACCESS_DENIED);
        return HandOver::OtherImage;
    }
    if (held != nullptr && ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
        debugLogf("ResumeThread failed: GLE=%lu", static_cast<unsigned long>(GetLastError()));
        TerminateProcess(process.hProcess, ERROR_ACCESS_DENIED);
        debugLog("delegation failed" KES_DASH "falling back to self");
        return HandOver::Failed;
    }
    return HandOver::Started;
}

// Everything after the skip test.
bool scanAndHandOver(bool skipFlagPresent) {
    if (skipFlagPresent) {
        debugLog("skip flag present" KES_DASH "bypassing scan");
        return false;
    }
    const std::string selfPath = getSelfPath();
    if (selfPath.empty()) {
        debugLog("getSelfPath failed");
        return false;
    }
    // Without the version library every file reads as unreadable, this
    // launcher too; the log says why before it says so.
    const DWORD versionLibraryError = systemVersionLibrary().loadError;
    if (versionLibraryError != ERROR_SUCCESS) {
        debugLogf("version library not loaded from the system folder: GLE=%lu", versionLibraryError);
    }
    // One read of this launcher's version block, from its loaded image, for
    // its version and its pinned publisher keys: the file at its path may
    // have been replaced since it started.
    const OwnVersionBlock own = readOwnVersionBlock();
    const LauncherVersionInfo self = launcherVersionInfoOf(own.block);
    if (!self.valid) {
        debugLog("self has no valid VS_VERSIONINFO" KES_DASH "bypassing scan");
        return false;
    }
    if (!isLauncherFamilyId(self.launcherId)) {
        debugLogf("self " KES_LAUNCHER_ID_KEY " mismatch ('%s' vs '%s')" KES_DASH "build bug, bypassing scan",
                  self.launcherId.c_str(), kLauncherFamilyId);
        return false;
    }

    ScanResult scan = scanSiblings(selfPath, self.packed);
    debugLogf("scan: %d sibling keslauncher(s) found", scan.familyCount);
    // With publisher pinning, the newest of the newer launchers whose
    // signature passes, held open until its process is known to run it.
    const PublisherKeys keys = publisherKeysOf(own.block);
    for (Sibling* best = bestUntried(scan.newer); best != nullptr; best = bestUntried(scan.newer)) {
        best->tried = true;
        const std::string path = wideToUtf8(best->judged.path.data(), best->judged.path.size());
        UniqueHandle held;
        if (keys.pinned) {
            const PublisherCheck check = holdAndCheckLauncher(best->judged, keys, held);
            if (check.verdict != PublisherVerdict::Passed) {
                debugLogf("publisher: %s refused (%s, 0x%08lX)" KES_DASH "passed over", path.c_str(),
                          publisherVerdictText(check.verdict), static_cast<unsigned long>(check.status));
                continue;
            }
        }
        const HandOver handedOver = handOverTo(best->judged.path, held.get());
        if (handedOver != HandOver::OtherImage) {
            return handedOver == HandOver::Started;
        }
        debugLogf("publisher: %s refused (%s)" KES_DASH "passed over", path.c_str(),
                  publisherVerdictText(PublisherVerdict::OtherImage));
    }
    debugLog("self is newest" KES_DASH "continuing normally");
    return false;
}

}  // namespace

bool runSelfUpdateScan(int argc, const char* const* argv) {
    return scanAndHandOver(hasSkipFlag(argc, argv));
}

bool runSelfUpdateScan() {
    return scanAndHandOver(ownCommandLineHasSkipFlag());
}

}  // namespace kes
