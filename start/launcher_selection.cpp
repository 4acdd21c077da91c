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
    std::vector<Candidate> judged;
    selectNewestLauncher(candidates, selfPath, checkLayout,
                         [&](const Candidate& candidate) { judged.push_back(candidate); });
    return judged;
}

std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout) {
    const std::vector<Candidate> judged = judgeCandidates(candidates, selfPath, checkLayout);
    const std::vector<const Candidate*> order = launchersInOrder(judged);
    return order.empty() ? std::wstring() : order.front()->path;
}

PublishedLauncher selectNewestPublishedLauncher(const std::vector<std::string>& candidates,
                                                const std::wstring& selfPath, const PublisherKeys& keys) {
    return choosePublishedLauncher(judgeCandidates(candidates, selfPath), keys);
}

std::vector<const Candidate*> launchersInOrder(const std::vector<Candidate>& judged) {
    // Each launcher goes in before the first one it is preferred to: a few
    // launchers, and less code than a sort.
    std::vector<const Candidate*> order;
    for (const Candidate& candidate : judged) {
        if (candidate.kind != CandidateKind::Launcher) {
            continue;
        }
        std::size_t at = 0;
        while (at < order.size() &&
               !isPreferredLauncher(candidate.info.packed, candidate.path, order[at]->info.packed, order[at]->path)) {
            ++at;
        }
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(at), &candidate);
    }
    return order;
}

PublishedLauncher choosePublishedLauncher(const std::vector<Candidate>& judged, const PublisherKeys& keys) {
    PublishedLauncher chosen;
    for (const Candidate* launcher : launchersInOrder(judged)) {
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
