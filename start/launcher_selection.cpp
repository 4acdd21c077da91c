#include "start/launcher_selection.h"

#include "common/encoding.h"
#include "common/launcher_family.h"
#include "common/machine_support.h"
#include "common/path_compare.h"

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

Candidate classifyCandidate(const std::string& candidate, const std::wstring& selfPath, LayoutCheck checkLayout) {
    Candidate result;
    result.path = utf8ToWideStrict(candidate);
    // A damaged file drops out like an unreadable one, before the platform's
    // version library can fault on it.
    result.layout = checkLayout(candidate);
    if (result.layout.verdict == LayoutVerdict::Unreadable) {
        result.kind = CandidateKind::Unreadable;
        return result;
    }
    if (result.layout.verdict != LayoutVerdict::Readable) {
        result.kind = CandidateKind::Damaged;
        return result;
    }
    result.info = readLauncherVersionInfo(candidate);
    // The family test comes before the self test, so that only the family's
    // launchers cost the two path normalisations.
    if (!result.info.valid) {
        result.kind = CandidateKind::NoVersionResource;
    } else if (!isLauncherFamilyId(result.info.launcherId)) {
        result.kind = CandidateKind::OtherFamily;
    } else if (isSameFile(selfPath, result.path)) {
        result.kind = CandidateKind::Self;
    } else if (!machineRunsHere(result.layout)) {
        // Its start would fail with an error box while a launcher that runs
        // here may be beside it.
        result.kind = CandidateKind::OtherMachine;
    } else {
        result.kind = CandidateKind::Launcher;
    }
    return result;
}

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout) {
    return selectNewestLauncher(candidates, selfPath, checkLayout, [](const Candidate&) {});
}

}  // namespace kes
