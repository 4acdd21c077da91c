#include "start/launcher_selection.h"

#include "common/publisher_check.h"

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
    struct Qualified {
        std::wstring path;
        std::uint64_t version;
        bool tried;
    };
    std::vector<Qualified> launchers;
    selectNewestLauncher(candidates, selfPath, checkExecutableLayout, [&](const Candidate& candidate) {
        if (candidate.kind == CandidateKind::Launcher) {
            launchers.push_back({candidate.path, candidate.info.packed, false});
        }
    });
    for (;;) {
        Qualified* best = nullptr;
        for (Qualified& launcher : launchers) {
            if (!launcher.tried && (best == nullptr || isPreferredLauncher(launcher.version, launcher.path,
                                                                           best->version, best->path))) {
                best = &launcher;
            }
        }
        if (best == nullptr) {
            return {};
        }
        best->tried = true;
        PublishedLauncher chosen{best->path, {}};
        if (holdAndCheckPublisher(chosen.path, keys, chosen.held).verdict == PublisherVerdict::Passed) {
            return chosen;
        }
    }
}

}  // namespace kes
