#include "start/start_flow.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/app_identity.h"
#include "common/encoding.h"
#include "common/number_text.h"
#include "common/publisher_keys.h"
#include "common/sibling_executables.h"
#include "common/version_info.h"
#include "start/debug_output.h"
#include "start/launch.h"
#include "start/launcher_selection.h"
#include "start/message_box.h"

namespace kes {

namespace {

constexpr wchar_t kLauncherNotFound[] =
    L"The Kestrelwood launcher could not be found.\n\n"
    L"Keep KestrelwoodStart.exe in the game folder alongside the launcher.\n"
    L"If files are missing, extract the complete game download again.";

constexpr wchar_t kNoSignedLauncher[] =
    L"No Kestrelwood launcher signed by the game's publisher was found.\n\n"
    L"The game folder may hold a changed or foreign launcher.\n"
    L"Extract the complete game download again.";

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

// "0x800B0100", as the routine's log writes a status.
std::string statusText(long status) {
    std::string text = "0x" + utf8Of(unsignedToText(static_cast<unsigned long>(status), 16, 8));
    for (char& c : text) {
        c = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

// One line for each launcher that pinning refused, with why and by whom it
// is signed, so that support can tell a missing launcher from a changed one.
void reportRefusals(const std::vector<RefusedLauncher>& refused) {
    for (const RefusedLauncher& launcher : refused) {
        std::string line = "publisher: " + utf8Of(launcher.path) + " refused (" +
                           publisherVerdictText(launcher.check.verdict) + ", " + statusText(launcher.check.status);
        if (launcher.check.haveSigner) {
            line += ", signer " + digestText(launcher.check.signer);
        }
        writeDebugLine(line + ") -- passed over");
    }
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
        showStartWarning(kLauncherNotFound);
        return 1;
    }
    // Whether publisher keys are pinned is read from the image that runs, not
    // from the file at its path; a block that cannot be read pins to nothing.
    const OwnVersionBlock own = readOwnVersionBlock();
    if (!launcherVersionInfoOf(own.block).valid) {
        writeDebugLine("own version block cannot be read from the image (Windows error " +
                       utf8Of(unsignedToText(own.error, 10)) + ") -- nothing started");
        showStartWarning(kLauncherNotFound);
        return 1;
    }
    const PublisherKeys keys = publisherKeysOf(own.block);

    const std::string installFolderUtf8 = wideToUtf8(installFolder.data(), installFolder.size());
    const std::vector<std::string> candidates = listSiblingExecutables(installFolderUtf8);
    if (!keys.pinned) {
        const std::wstring chosen = selectNewestLauncher(candidates, selfPath);
        if (chosen.empty()) {
            showStartWarning(kLauncherNotFound);
            return 1;
        }
        return launchLauncher(chosen);
    }
    // Pinned: only a launcher signed with one of the keys, held open from its
    // judgement until it has started.
    const PublishedLauncher chosen = selectNewestPublishedLauncher(candidates, selfPath, keys);
    reportRefusals(chosen.refused);
    if (chosen.path.empty()) {
        showStartWarning(chosen.refused.empty() ? kLauncherNotFound : kNoSignedLauncher);
        return 1;
    }
    return launchLauncher(chosen.path);
}

}  // namespace kes
