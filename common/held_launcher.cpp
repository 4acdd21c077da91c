#include "common/held_launcher.h"

namespace kes {

namespace {

// Readers are let in, writers and deleters are not, so the file that was
// judged and checked is the file that starts.
UniqueHandle openHeldForStart(const std::wstring& path) {
    return makeUniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

PublisherCheck holdAndCheckLauncher(const Candidate& judged, const PublisherKeys& keys, UniqueHandle& held) {
    PublisherCheck check;
    held = openHeldForStart(judged.path);
    if (!held) {
        check.verdict = PublisherVerdict::NotHeld;
        check.status = static_cast<long>(GetLastError());
        return check;
    }
    // Between the judgement by path and the hold, anyone who can write into
    // the folder could have put another file, signed too, under the name.
    if (!isSameLauncher(judged, judgeHeldCandidate(held.get(), judged.path))) {
        held.reset();
        check.verdict = PublisherVerdict::Changed;
        return check;
    }
    check = checkPublisher(held.get(), judged.path, keys);
    if (check.verdict != PublisherVerdict::Passed) {
        held.reset();
    }
    return check;
}

}  // namespace kes
