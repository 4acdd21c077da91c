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

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout) {
    return selectNewestLauncher(candidates, selfPath, checkLayout, [](const Candidate&) {});
}

PublishedLauncher selectNewestPublishedLauncher(const std::vector<std::string>& candidates,
                                                const std::wstring& selfPath, const PublisherKeys& keys) {
    std::vector<Candidate> judged;
    selectNewestLauncher(candidates, selfPath, checkExecutableLayout,
                         [&](const Candidate& candidate) { judged.push_back(candidate); });
    return choosePublishedLauncher(judged, keys);
}

PublishedLauncher choosePublishedLauncher(const std::vector<Candidate>& judged, const PublisherKeys& keys) {
    PublishedLauncher chosen;
    // The launchers not checked yet; the best of them is checked next.
    std::vector<const Candidate*> untried;
    for (const Candidate& candidate : judged) {
        if (candidate.kind == CandidateKind::Launcher) {
            untried.push_back(&candidate);
        }
    }
    while (!untried.empty()) {
        std::size_t at = 0;
        for (std::size_t i = 1; i < untried.size(); ++i) {
            if (isPreferredLauncher(untried[i]->info.packed, untried[i]->path, untried[at]->info.packed,
                                    untried[at]->path)) {
                at = i;
            }
        }
        const Candidate* best = untried[at];
        untried[at] = untried.back();
        untried.pop_back();
        const PublisherCheck check = holdAndCheckLauncher(*best, keys, chosen.held);
        if (check.verdict == PublisherVerdict::Passed) {
            chosen.path = best->path;
            return chosen;
        }
        chosen.refused.push_back({best->path, check});
    }
    return chosen;
}

}  // namespace kes
