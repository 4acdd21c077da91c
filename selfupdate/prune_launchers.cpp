#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "common/sibling_executables.h"
#include "common/win_owners.h"
#include "debug_log.h"
#include "kestrelwood/kes_selfupdate.h"
#include "kestrelwood/self_update.h"
#include "land_update.h"
#include "running_launcher.h"

namespace kes {

namespace {

constexpr std::uint32_t kFewestKept = 2;

struct Kept {
    std::uint64_t version = 0;
    std::wstring path;  // compared as the start program compares paths of one version
    std::string utf8Path;
};

// A delete that is refused (a running launcher, a reader without delete
// sharing) leaves the file for the next call.
bool removeFile(const std::string& path, const char* what) {
    if (DeleteFileW(utf8ToWide(path).c_str())) {
        debugLogf("prune: removed %s %s", what, path.c_str());
        return true;
    }
    debugLogf("prune: %s %s in use or protected (GLE=%lu)" KES_DASH "kept until the next call", what, path.c_str(),
              GetLastError());
    return false;
}

std::int32_t removeStagingLeftovers(const std::string& folder) {
    std::int32_t removed = 0;
    const std::wstring pattern = utf8ToWide(folder) + L"\\*" + kStagingSuffix;
    WIN32_FIND_DATAW entry;
    UniqueFind search = makeUniqueFind(FindFirstFileW(pattern.c_str(), &entry));
    if (!search) {
        return 0;
    }
    std::vector<std::string> leftovers;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            leftovers.push_back(folder + "\\" + wideToUtf8(entry.cFileName, wcsnlen(entry.cFileName, MAX_PATH)));
        }
    } while (FindNextFileW(search.get(), &entry));
    for (const std::string& leftover : leftovers) {
        removed += removeFile(leftover, "staging leftover") ? 1 : 0;
    }
    return removed;
}

}  // namespace

std::int32_t pruneLaunchers(std::uint32_t keep) {
    const RunningLauncher self = runningLauncher();
    if (!self.valid) {
        debugLog("prune: this launcher cannot be judged" KES_DASH "nothing removed");
        return KES_ERROR_SELF;
    }
    keep = std::max(keep, kFewestKept);

    // Every intact launcher of the family, this one included, newest first;
    // of one version the path that the start program would prefer first.
    std::vector<Kept> launchers;
    launchers.push_back({self.info.packed, utf8ToWideStrict(self.path), self.path});
    const SelfTest running = routineSelf(self.path);
    for (const std::string& sibling : listSiblingExecutables(self.folder)) {
        const Candidate judged = judgeCandidate(sibling, running);
        if (judged.kind == CandidateKind::Launcher) {
            launchers.push_back({judged.info.packed, judged.path, sibling});
        }
    }
    std::sort(launchers.begin(), launchers.end(), [](const Kept& a, const Kept& b) {
        return a.version > b.version || (a.version == b.version && a.path < b.path);
    });

    std::int32_t removed = 0;
    for (std::size_t i = keep; i < launchers.size(); ++i) {
        if (launchers[i].utf8Path == self.path) {
            debugLogf("prune: keeping %s, the running launcher", self.path.c_str());
            continue;
        }
        removed += removeFile(launchers[i].utf8Path, "launcher") ? 1 : 0;
    }
    removed += removeStagingLeftovers(self.folder);
    debugLogf("prune: %d file(s) removed, %u newest launcher(s) kept", removed,
              static_cast<unsigned>(std::min<std::size_t>(keep, launchers.size())));
    return removed;
}

}  // namespace kes
