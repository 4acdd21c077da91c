#include "launcher_selection.h"

#include "common/encoding.h"
#include "common/launcher_family.h"
#include "common/path_compare.h"
#include "common/pe_layout.h"
#include "common/version_info.h"

namespace kes {

// Both normalisations failing also counts as "the same file": a path that
// cannot be normalised must not be started in place of the running program.
bool isSameFile(const std::wstring& selfPath, const std::wstring& candidate) {
    return normalizePathForCompare(selfPath) == normalizePathForCompare(candidate);
}

bool isPreferredLauncher(std::uint64_t version, const std::wstring& path, std::uint64_t chosenVersion,
                         const std::wstring& chosenPath) {
    // "Nothing chosen" is an empty path, never a version of 0: a single
    // launcher at 0.0.0.0 is still chosen. std::wstring compares unsigned
    // 16-bit units, a prefix sorting first.
    return chosenPath.empty() || version > chosenVersion || (version == chosenVersion && path < chosenPath);
}

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath) {
    return selectNewestLauncher(candidates, selfPath, isVersionResourceSafeToRead);
}

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck isSafeToRead) {
    std::wstring chosenPath;
    std::uint64_t chosenVersion = 0;

    for (const std::string& candidate : candidates) {
        // A damaged file drops out like an unreadable one, before the
        // platform's version library can fault on it.
        if (!isSafeToRead(candidate)) {
            continue;
        }
        const LauncherVersionInfo info = readLauncherVersionInfo(candidate);
        const std::wstring widePath = utf8ToWideStrict(candidate);
        if (!info.valid || !isLauncherFamilyId(info.launcherId)) {
            continue;
        }
        if (isSameFile(selfPath, widePath)) {
            continue;
        }
        if (isPreferredLauncher(info.packed, widePath, chosenVersion, chosenPath)) {
            chosenPath = widePath;
            chosenVersion = info.packed;
        }
    }
    return chosenPath;
}

}  // namespace kes
