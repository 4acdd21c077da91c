// Which launcher the start program starts, and what it makes of every other
// file in the folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/pe_layout.h"
#include "common/version_info.h"

namespace kes {

// The one judgement of a candidate, shared by the selection and kes-inspect,
// made in this order; the first that applies is the answer.
enum class CandidateKind {
    Damaged,            // the layout check rejects it (layout says why)
    Unreadable,         // it cannot be opened or read (layout.error says why)
    NoVersionResource,  // no version resource with a full fixed file version
    OtherFamily,        // a version resource without the family's identifier
    Self,               // a launcher of the family that is the running program itself
    OtherMachine,       // a launcher of the family built for a machine this computer
                        // cannot run (layout.machine)
    Launcher,           // a launcher of the family, which may be chosen
};

struct Candidate {
    CandidateKind kind = CandidateKind::Unreadable;
    std::wstring path;          // UTF-16, as it would be started
    LayoutReport layout;        // what the layout check found
    LauncherVersionInfo info;   // from NoVersionResource on: what the version resource says
};

// The check that runs before a candidate's version resource is read; the
// start program uses checkExecutableLayout. The benchmark measures the
// selection without it.
using LayoutCheck = LayoutReport (*)(const std::string& path);

Candidate classifyCandidate(const std::string& candidate, const std::wstring& selfPath,
                            LayoutCheck checkLayout = checkExecutableLayout);

// The newest launcher of the family among the candidates, never the running
// file itself; equal versions are decided by the UTF-16 order of the paths so
// the choice does not depend on the listing order. Empty when none qualifies.
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout = checkExecutableLayout);

// The self test: two paths name the same file when their normalised forms are
// the same text; two paths without a normalised form count as the same too.
bool isSameFile(const std::wstring& selfPath, const std::wstring& candidate);

// The ordering rule: whether a qualifying candidate replaces the one chosen so
// far. Nothing is chosen while chosenPath is empty, whatever chosenVersion says.
bool isPreferredLauncher(std::uint64_t version, const std::wstring& path, std::uint64_t chosenVersion,
                         const std::wstring& chosenPath);

// The same selection, showing `seen` each candidate's judgement, in listing
// order, before it is weighed (kes-inspect lists them).
template <typename Seen>
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout, Seen&& seen) {
    std::wstring chosenPath;
    std::uint64_t chosenVersion = 0;
    for (const std::string& path : candidates) {
        Candidate candidate = classifyCandidate(path, selfPath, checkLayout);
        seen(static_cast<const Candidate&>(candidate));
        if (candidate.kind == CandidateKind::Launcher &&
            isPreferredLauncher(candidate.info.packed, candidate.path, chosenVersion, chosenPath)) {
            chosenPath = std::move(candidate.path);
            chosenVersion = candidate.info.packed;
        }
    }
    return chosenPath;
}

}  // namespace kes
