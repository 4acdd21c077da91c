#include "start/start_flow.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/app_identity.h"
#include "common/command_line.h"
#include "common/encoding.h"
#include "common/held_launcher.h"
#include "common/launcher_family.h"
#include "common/start_options.h"
#include "common/publisher_keys.h"
#include "common/sibling_executables.h"
#include "common/version_info.h"
#include "start/debug_output.h"
#include "start/launch.h"
#include "start/launcher_wait.h"
#include "start/launcher_selection.h"
#include "start/message_box.h"

namespace kes {

namespace {

// The folder part of the self path: everything before the last '\' or '/'.
// Unlike parentDirectory, a path without a separator gives an empty folder.
std::wstring installFolderOf(const std::wstring& selfPath) {
    const std::size_t last = selfPath.find_last_of(L"\\/");
    if (last == std::wstring::npos) {
        return {};
    }
    return selfPath.substr(0, last);
}

std::string utf8Of(const std::wstring& text) {
    return wideToUtf8(text.data(), text.size());
}

// One line for each launcher that pinning refused, with why and by whom it
// is signed, so that support can tell a missing launcher from a changed one.
void reportRefusals(const std::vector<RefusedLauncher>& refused) {
    for (const RefusedLauncher& launcher : refused) {
        const PublisherCheck& check = launcher.check;
        writeDebugLine("publisher: %s refused (%s, 0x%08lX%s%s) -- passed over", utf8Of(launcher.path).c_str(),
                       publisherVerdictText(check.verdict), static_cast<unsigned long>(check.status),
                       check.haveSigner ? ", signer " : "", check.haveSigner ? digestText(check.signer).c_str() : "");
    }
}

// A launcher whose process ran another file than the one held and checked.
RefusedLauncher otherImageRefusal(const std::wstring& path) {
    RefusedLauncher refusal{path, {}};
    refusal.check.verdict = PublisherVerdict::OtherImage;
    return refusal;
}

// The launchers in the selection's order (with pinning, those that pass,
// each held until its process is known to run the held file). The start
// program that ends at once ends with the first that is created; the one
// that stays with the game waits for each until one has run, and tries the
// next only when one cannot be started, cannot load or crashes at start.
int startInOrder(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                 const std::wstring& installFolder, const PublisherKeys& keys, bool waits) {
    const std::vector<Candidate> judged = judgeCandidates(candidates, selfPath);
    // Every argument is forwarded, whatever its text: the start program
    // interprets none, removes none and adds none of its own (but the skip
    // flag for a launcher that the waiting start program falls back to).
    const ForwardedArguments forwarded = forwardedArguments(nullptr);
    if (!forwarded.split) {
        reportUnsplitCommandLine();
        return 1;
    }
    const std::wstring folder = waits ? resolvedFolder(installFolder) : std::wstring();
    std::vector<RefusedLauncher> refused;
    bool tried = false;
    DWORD lastError = 0;
    for (const Candidate* launcher = nextLauncher(judged, nullptr); launcher != nullptr;
         launcher = nextLauncher(judged, launcher)) {
        UniqueHandle held;
        if (keys.pinned) {
            const PublisherCheck check = holdAndCheckLauncher(*launcher, keys, held);
            if (check.verdict != PublisherVerdict::Passed) {
                refused.push_back({launcher->path, check});
                continue;
            }
        }
        // A launcher after the first runs as itself: its hand-over must not
        // go back to a newer one that could not start.
        const bool triedBefore = tried;
        const std::wstring commandLine = quoteCommandLineArg(launcher->path) + forwarded.text +
                                         (tried ? std::wstring(L" ") + kSkipSelfUpdateFlagW : std::wstring());
        if (!waits) {
            const int started = launchLauncher(launcher->path, commandLine, held.get());
            if (started != kNotTheHeldFile) {
                reportRefusals(refused);
                return started;
            }
            refused.push_back(otherImageRefusal(launcher->path));
            continue;
        }
        tried = true;
        LauncherRun run;
        run.error = ERROR_FILENAME_EXCED_RANGE;
        if (commandLine.size() <= kMaxCommandLineUnits) {
            run = runAndWait(launcher->path, commandLine, folder, held);
        }
        if (run.otherImage) {
            // Ended before it ran: refused as pinning refuses, not tried.
            tried = triedBefore;
            refused.push_back(otherImageRefusal(launcher->path));
            continue;
        }
        if (run.created && !run.couldNotLoad && !run.crashedAtStart) {
            reportRefusals(refused);
            return static_cast<int>(run.exitCode);
        }
        lastError = run.error;
        if (run.crashedAtStart) {
            writeDebugLine("fallback: %s crashed at start, status 0x%08lX, after %lu ms -- trying the next launcher",
                           utf8Of(launcher->path).c_str(), run.error, run.ranMs);
        } else {
            writeDebugLine(run.created ? "fallback: %s could not load, status 0x%08lX -- trying the next launcher"
                                       : "fallback: %s CreateProcessW failed, Windows error %lu -- trying the next "
                                         "launcher",
                           utf8Of(launcher->path).c_str(), run.error);
        }
    }
    reportRefusals(refused);
    if (!tried) {
        writeDebugLine("start: no launcher %s -- not-found box", refused.empty() ? "found" : "passed pinning");
        showStartWarning(refused.empty() ? BoxText::LauncherNotFound : BoxText::NoSignedLauncher);
    } else {
        writeDebugLine("start: no launcher ran, last error 0x%08lX -- could-not-start box", lastError);
        showCouldNotStart(lastError);
    }
    return 1;
}

}  // namespace

int runStartFlow() {
    const std::string selfPathUtf8 = getSelfPath();
    const std::wstring selfPath = utf8ToWideStrict(selfPathUtf8);
    const std::wstring installFolder = installFolderOf(selfPath);

    // The identity is given before the folder is searched, whatever the search
    // finds; whether the shell accepts it changes nothing here.
    {
        applyAppUserModelId(makeAppUserModelId(installFolder));
    }

    // Without its own path the program does not know its folder, and an
    // empty folder would search the root of the current drive.
    if (installFolder.empty()) {
        writeDebugLine("own path cannot be read (260 characters or more, or not UTF-16) -- no folder searched");
        showStartWarning(BoxText::LauncherNotFound);
        return 1;
    }
    // Whether publisher keys are pinned, and whether it waits, is read from
    // the image that runs, not from the file at its path; when that block
    // cannot be read, nothing is started.
    const OwnVersionBlock own = readOwnVersionBlock();
    if (!launcherVersionInfoOf(own.block).valid) {
        writeDebugLine("own version block cannot be read or parsed from the image (Windows error %lu) -- "
                       "nothing started",
                       own.error);
        showStartWarning(BoxText::LauncherNotFound);
        return 1;
    }
    const PublisherKeys keys = publisherKeysOf(own.block);

    const std::string installFolderUtf8 = wideToUtf8(installFolder.data(), installFolder.size());
    const std::vector<std::string> candidates = listSiblingExecutables(installFolderUtf8);
    return startInOrder(candidates, selfPath, installFolder, keys, waitsForLauncher(own.block));
}

}  // namespace kes
