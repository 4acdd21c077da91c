#include "common/held_launcher.h"

#include <string>

#include "common/resolved_path.h"

namespace kes {

namespace {

// Readers are let in, writers and deleters are not, so the file that was
// judged and checked is the file that starts. A reparse point is opened as
// itself, not followed, so that a link shows as one.
UniqueHandle openHeldForStart(const std::wstring& path) {
    return makeUniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Whether the held file is the folder's own entry of the name it was judged
// by. Windows shows a symbolic link or a mount point as a reparse point,
// which was opened as itself. Wine follows a Unix symbolic link whatever the
// flags say and shows no reparse point, but resolves it in the held file's
// final path: that path must be the folder's, resolved the same way, and
// the name.
bool isPlainFileAt(HANDLE held, const std::wstring& path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    // npos + 1 is 0: a path without a folder.
    const std::size_t name = path.find_last_of(L"\\/") + 1;
    const std::size_t nameLength = path.size() - name;
    wchar_t expected[kFinalPathUnits];
    wchar_t actual[kFinalPathUnits];
    if (name == 0 || name >= kFinalPathUnits) {
        return false;
    }
    // The folder with its separator, which also opens a drive's root.
    path.copy(expected, name);
    expected[name] = L'\0';
    const UniqueHandle folder = openToResolve(expected);
    DWORD length = folder ? finalPathOf(folder.get(), expected) : 0;
    const DWORD actualLength = finalPathOf(held, actual);
    if (length == 0 || actualLength == 0 || length + 1 + nameLength >= kFinalPathUnits) {
        return false;
    }
    // "\\?\C:\" ends in a separator, "\\?\C:\Games" does not.
    if (expected[length - 1] != L'\\') {
        expected[length++] = L'\\';
    }
    length += static_cast<DWORD>(path.copy(expected + length, nameLength, name));
    // Case counts: the listing and the final path both give the name as it
    // is stored, and a link to a file whose name differs only in case is a
    // link too.
    return CompareStringOrdinal(expected, static_cast<int>(length), actual, static_cast<int>(actualLength), FALSE) ==
           CSTR_EQUAL;
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
    if (!isPlainFileAt(held.get(), judged.path)) {
        held.reset();
        check.verdict = PublisherVerdict::Link;
        return check;
    }
    // Between the judgement by path and the hold, anyone who can write into
    // the folder could have put another file, signed too, under the name.
    const Candidate again = judgeHeldCandidate(held.get(), judged.path);
    if (!isSameLauncher(judged, again)) {
        held.reset();
        check.verdict = PublisherVerdict::Changed;
        return check;
    }
    check = checkPublisher(held.get(), judged.path, keys);
    if (check.verdict == PublisherVerdict::Passed && !keepsPublisherKeys(again.keys, keys)) {
        check.verdict = PublisherVerdict::KeysNotKept;
    }
    if (check.verdict != PublisherVerdict::Passed) {
        held.reset();
    }
    return check;
}

bool keepsPublisherKeys(const PublisherKeys& launcher, const PublisherKeys& caller) {
    for (const KeyDigest& key : launcher.keys) {
        for (const KeyDigest& pinned : caller.keys) {
            if (key == pinned) {
                return true;
            }
        }
    }
    return false;
}

bool runsHeldFile(HANDLE process, HANDLE held) {
    const UniqueHandle running = openProcessImage(process);
    BY_HANDLE_FILE_INFORMATION image{};
    BY_HANDLE_FILE_INFORMATION checked{};
    return running && GetFileInformationByHandle(running.get(), &image) && GetFileInformationByHandle(held, &checked) &&
           image.dwVolumeSerialNumber == checked.dwVolumeSerialNumber && image.nFileIndexHigh == checked.nFileIndexHigh &&
           image.nFileIndexLow == checked.nFileIndexLow;
}

}  // namespace kes
