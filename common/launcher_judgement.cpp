#include "common/launcher_judgement.h"

#include <windows.h>

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

bool startsAsProgram(const LayoutReport& layout) {
    return (layout.characteristics & IMAGE_FILE_DLL) == 0 &&
           (layout.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) != 0 &&
           (layout.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI || layout.subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI);
}

namespace {

// The layout and the version block are read through `held` when the caller
// holds the file, by its path otherwise.
CandidateKind judge(Candidate& result, const std::string& path, const SelfTest& self, LayoutCheck checkLayout,
                    HANDLE held) {
    if (self.rule == SelfTest::Rule::SamePath && pathsEqualIgnoreCase(path, self.path)) {
        return CandidateKind::Self;
    }
    // A damaged file drops out like an unreadable one, and a file that is not
    // a PE image like a foreign one, before the platform's version library
    // can fault or stall on it.
    result.layout = held != nullptr ? checkExecutableLayout(held) : checkLayout(path);
    switch (result.layout.verdict) {
    case LayoutVerdict::Readable:
        break;
    case LayoutVerdict::Unreadable:
        return CandidateKind::Unreadable;
    case LayoutVerdict::NotAnImage:
        return CandidateKind::NotAnImage;
    default:
        return CandidateKind::Damaged;
    }
    if (!startsAsProgram(result.layout)) {
        return CandidateKind::NotAProgram;
    }
    const VersionBlock block = held != nullptr ? readHeldVersionBlock(held) : readVersionBlock(path);
    result.info = launcherVersionInfoOf(block);
    if (!result.info.valid) {
        return CandidateKind::NoVersionResource;
    }
    result.keys = publisherKeysOf(block);
    if (!isLauncherFamilyId(result.info.launcherId)) {
        return CandidateKind::OtherFamily;
    }
    if (self.rule == SelfTest::Rule::SameFile && isSameFile(self.widePath, result.path)) {
        return CandidateKind::Self;
    }
    // Its start would fail with an error box while a launcher that runs here
    // may be beside it.
    if (!runsHere(runnableMachines(), result.layout.machine)) {
        return CandidateKind::OtherMachine;
    }
    return CandidateKind::Launcher;
}

}  // namespace

Candidate judgeCandidate(const std::string& path, const SelfTest& self, LayoutCheck checkLayout) {
    Candidate result;
    result.path = utf8ToWideStrict(path);
    result.kind = judge(result, path, self, checkLayout, nullptr);
    return result;
}

Candidate judgeHeldCandidate(HANDLE file, const std::wstring& path) {
    Candidate result;
    result.path = path;
    const std::string narrowPath = wideToUtf8(path.data(), path.size());
    result.kind = judge(result, narrowPath, SelfTest{}, checkExecutableLayout, file);
    return result;
}

bool isSameLauncher(const Candidate& judged, const Candidate& again) {
    return judged.kind == CandidateKind::Launcher && again.kind == CandidateKind::Launcher &&
           again.info.packed == judged.info.packed && again.layout.machine == judged.layout.machine;
}

}  // namespace kes
