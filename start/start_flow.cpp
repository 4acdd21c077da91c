#include "start/start_flow.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/app_identity.h"
#include "common/encoding.h"
#include "common/publisher_keys.h"
#include "common/sibling_executables.h"
#include "start/launch.h"
#include "start/launcher_selection.h"
#include "start/message_box.h"

namespace kes {

namespace {

constexpr wchar_t kLauncherNotFound[] =
    L"The Kestrelwood launcher could not be found.\n\n"
    L"Keep KestrelwoodStart.exe in the game folder alongside the launcher.\n"
    L"If files are missing, extract the complete game download again.";

// The folder part of the self path: everything before the last '\' or '/'.
// Unlike parentDirectory, a path without a separator gives an empty folder.
std::wstring installFolderOf(const std::wstring& selfPath) {
    const std::size_t last = selfPath.find_last_of(L"\\/");
    if (last == std::wstring::npos) {
        return {};
    }
    return selfPath.substr(0, last);
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

    const std::string installFolderUtf8 = wideToUtf8(installFolder.data(), installFolder.size());
    const std::vector<std::string> candidates = listSiblingExecutables(installFolderUtf8);
    // A start program whose version resource pins publisher keys starts only
    // a launcher signed with one of them, held open until it has started.
    const PublisherKeys keys = readPublisherKeys(selfPathUtf8);
    const PublishedLauncher chosen = keys.pinned ? selectNewestPublishedLauncher(candidates, selfPath, keys)
                                                 : PublishedLauncher{selectNewestLauncher(candidates, selfPath), {}};
    if (chosen.path.empty()) {
        showStartWarning(kLauncherNotFound);
        return 1;
    }
    return launchLauncher(chosen.path);
}

}  // namespace kes
