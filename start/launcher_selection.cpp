#include "start/launcher_selection.h"

#include "common/held_launcher.h"

namespace kes {

bool isPreferredLauncher(std::uint64_t version, const std::wstring& path, std::uint64_t chosenVersion,
                         const std::wstring& chosenPath) {
    // "Nothing chosen" is an empty path, never a version of 0: a single
    // launcher at 0.0.0.0 is still chosen. std::wstring compares unsigned
    // 16-bit units, a prefix sorting first.
    return chosenPath.empty() || version > chosenVersion || (version == chosenVersion && path < chosenPath);
}

std::vector<Candidate> judgeCandidates(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                       LayoutCheck checkLayout) {
    const SelfTest self = startProgramSelf(selfPath);
    std::vector<Candidate> judged;
    for (const std::string& path : candidates) {
        judged.push_back(judgeCandidate(path, self, checkLayout));
    }
    return judged;
}

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout) {
    const std::vector<Candidate> judged = judgeCandidates(candidates, selfPath, checkLayout);
    const Candidate* newest = nextLauncher(judged, nullptr);
    return newest != nullptr ? newest->path : std::wstring();
}

const Candidate* nextLauncher(const std::vector<Candidate>& judged, const Candidate* previous) {
    // One look at every candidate per launcher taken, and nothing kept: the
    // first is usually the one started. Paths are unique, so the order is total.
    const Candidate* best = nullptr;
    for (const Candidate& candidate : judged) {
        const bool after = previous == nullptr || isPreferredLauncher(previous->info.packed, previous->path,
                                                                      candidate.info.packed, candidate.path);
        if (candidate.kind == CandidateKind::Launcher && after &&
            (best == nullptr || isPreferredLauncher(candidate.info.packed, candidate.path, best->info.packed,
                                                    best->path))) {
            best = &candidate;
        }
    }
    return best;
}

PublishedLauncher choosePublishedLauncher(const std::vector<Candidate>& judged, const PublisherKeys& keys) {
    PublishedLauncher chosen;
    for (const Candidate* launcher = nextLauncher(judged, nullptr); launcher != nullptr;
         launcher = nextLauncher(judged, launcher)) {
        const PublisherCheck check = holdAndCheckLauncher(*launcher, keys, chosen.held);
        if (check.verdict == PublisherVerdict::Passed) {
            chosen.path = launcher->path;
            return chosen;
        }
        chosen.refused.push_back({launcher->path, check});
    }
    return chosen;
}

}  // namespace kes
