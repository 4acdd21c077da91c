// Which launcher the start program starts, and what it makes of every other
// file in the folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/launcher_judgement.h"
#include "common/publisher_check.h"
#include "common/publisher_keys.h"
#include "common/win_owners.h"

namespace kes {

// The start program's self test: the same file as its own path, by the
// normalised forms.
inline SelfTest startProgramSelf(const std::wstring& selfPath) {
    return SelfTest{SelfTest::Rule::SameFile, {}, selfPath};
}

// The newest launcher of the family among the candidates, never the running
// file itself; equal versions are decided by the UTF-16 order of the paths so
// the choice does not depend on the listing order. Empty when none qualifies.
std::wstring selectNewestLauncher(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                  LayoutCheck checkLayout = checkExecutableLayout);

// With publisher pinning: the newest launcher, in the same order, that
// holdAndCheckLauncher passes: held open without write or delete sharing,
// judged again through that handle and its signature checked through it, so
// that the file judged and checked is the file started. Only the launchers
// that would otherwise win are checked, newest first. Empty path and handle
// when none passes; `refused` names each launcher checked and refused, in
// the order checked.
struct RefusedLauncher {
    std::wstring path;
    PublisherCheck check;
};
struct PublishedLauncher {
    std::wstring path;
    UniqueHandle held;
    std::vector<RefusedLauncher> refused;
};
// Every candidate's judgement, in listing order, as the selection makes it
// (kes-inspect lists them).
std::vector<Candidate> judgeCandidates(const std::vector<std::string>& candidates, const std::wstring& selfPath,
                                       LayoutCheck checkLayout = checkExecutableLayout);

// The same choice among candidates already judged (kes-inspect has them).
PublishedLauncher choosePublishedLauncher(const std::vector<Candidate>& judged, const PublisherKeys& keys);

// The launchers of the family among candidates already judged, one by one in
// the selection's order: with `previous` null the one it chooses, then the
// one after `previous` (the order in which pinning checks them and a start
// program that waits falls back). Null when none is left.
const Candidate* nextLauncher(const std::vector<Candidate>& judged, const Candidate* previous);

// The ordering rule: whether a qualifying candidate replaces the one chosen so
// far. Nothing is chosen while chosenPath is empty, whatever chosenVersion says.
bool isPreferredLauncher(std::uint64_t version, const std::wstring& path, std::uint64_t chosenVersion,
                         const std::wstring& chosenPath);

}  // namespace kes
