#include "land_update.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/encoding.h"
#include "common/held_launcher.h"
#include "common/launcher_judgement.h"
#include "common/pe_layout.h"
#include "common/publisher_check.h"
#include "common/win_owners.h"
#include "debug_log.h"
#include "kestrelwood/kes_selfupdate.h"
#include "kestrelwood/launcher_family_id.h"
#include "kestrelwood/self_update.h"
#include "running_launcher.h"

namespace kes {

namespace {

constexpr DWORD kCopyChunk = 16 * 1024;
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 1000;

// What a file in use answers: a scanner or another reader holds it without
// the sharing that the step needs, or has locked part of it.
bool isInUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Runs `step` (ERROR_SUCCESS or a Windows error) again, with a pause that
// doubles up to a second, while it finds the file in use and retryMs has not
// passed; 0 means one try. Returns the last answer.
template <typename Step>
DWORD retryWhileInUse(const char* what, std::uint32_t retryMs, Step step) {
    const ULONGLONG begun = GetTickCount64();
    DWORD pause = kFirstPauseMs;
    unsigned refusals = 0;
    for (;;) {
        const DWORD error = step();
        if (!isInUse(error)) {
            if (refusals > 0 && error == ERROR_SUCCESS) {
                debugLogf("land: %s done after %u refusal(s) in %llu ms", what, refusals,
                          static_cast<unsigned long long>(GetTickCount64() - begun));
            }
            return error;
        }
        const ULONGLONG elapsed = GetTickCount64() - begun;
        if (elapsed >= retryMs) {
            debugLogf("land: %s refused %u time(s) in %llu ms (GLE=%lu)" KES_DASH "giving up", what,
                      refusals + 1, static_cast<unsigned long long>(elapsed), static_cast<unsigned long>(error));
            return error;
        }
        if (refusals == 0) {
            debugLogf("land: %s refused (GLE=%lu), file in use" KES_DASH "retrying for up to %u ms", what,
                      static_cast<unsigned long>(error), static_cast<unsigned>(retryMs));
        }
        ++refusals;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, retryMs - elapsed)));
        pause = std::min(pause * 2, kLongestPauseMs);
    }
}

bool endsWithIgnoreCase(const std::wstring& text, const wchar_t* suffix, int suffixLength) {
    const int length = static_cast<int>(text.size());
    return length >= suffixLength &&
           CompareStringOrdinal(text.c_str() + length - suffixLength, suffixLength, suffix, suffixLength, TRUE) ==
               CSTR_EQUAL;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (with the superscript digits that
// Windows also reserves) name devices whatever extension follows, and with
// blanks before it.
bool isReservedDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    static constexpr const wchar_t* kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    for (const wchar_t* device : kDevices) {
        if (CompareStringOrdinal(base.c_str(), -1, device, -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    if (base.size() != 4) {
        return false;
    }
    const wchar_t digit = base[3];
    const bool numbered = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
                          digit == L'\u00B3';
    return numbered && (CompareStringOrdinal(base.c_str(), 3, L"COM", 3, TRUE) == CSTR_EQUAL ||
                        CompareStringOrdinal(base.c_str(), 3, L"LPT", 3, TRUE) == CSTR_EQUAL);
}

// Why the name cannot be a launcher's in this folder, or null when it can.
const char* nameProblem(const std::wstring& name) {
    if (name.empty()) {
        return "it is empty or not UTF-8";
    }
    for (const wchar_t unit : name) {
        if (unit < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(unit) != std::wstring_view::npos) {
            return "it is not a plain file name (separator, colon or a character names cannot hold)";
        }
    }
    if (name.back() == L'.' || name.back() == L' ') {
        return "it ends in a dot or a blank";
    }
    if (name.size() <= 4 || !endsWithIgnoreCase(name, L".exe", 4)) {
        return "it does not end in .exe";
    }
    if (isReservedDeviceName(name)) {
        return "it is a reserved device name";
    }
    const std::wstring startProgram = utf8ToWide(KES_START_PROGRAM_FILE_NAME);
    if (CompareStringOrdinal(name.c_str(), -1, startProgram.c_str(), -1, TRUE) == CSTR_EQUAL) {
        return "it is the start program's name";
    }
    return nullptr;
}

// The judgement of the start program and the scan, of a file that the
// landing holds, with what a landing adds: a whole image, newer than the
// running launcher. 0 when it passes; `keys` are then the keys its own
// version block pins.
std::int32_t judgeDownload(HANDLE held, const std::wstring& path, const LauncherVersionInfo& self,
                           const char* which, PublisherKeys& keys) {
    const Candidate judged = judgeHeldCandidate(held, path);
    switch (judged.kind) {
    case CandidateKind::Launcher:
        break;
    case CandidateKind::Unreadable:
        debugLogf("land: %s unreadable or being written (GLE=%lu)" KES_DASH "refused", which, judged.layout.error);
        return KES_ERROR_UNREADABLE;
    case CandidateKind::Damaged:
        debugLogf("land: %s damaged or cut short" KES_DASH "refused", which);
        return KES_ERROR_DAMAGED;
    case CandidateKind::NotAnImage:
        debugLogf("land: %s is not a Windows executable" KES_DASH "refused", which);
        return KES_ERROR_NOT_AN_IMAGE;
    case CandidateKind::NotAProgram:
        debugLogf("land: %s is not a program that Windows starts (a DLL, or subsystem %u)" KES_DASH "refused", which,
                  static_cast<unsigned>(judged.layout.subsystem));
        return KES_ERROR_NOT_A_PROGRAM;
    case CandidateKind::OtherMachine:
        debugLogf("land: %s built for machine 0x%04X, which this computer cannot run" KES_DASH "refused", which,
                  judged.layout.machine);
        return KES_ERROR_OTHER_MACHINE;
    default:
        debugLogf("land: %s carries no valid version resource with the family's " KES_LAUNCHER_ID_KEY
                  KES_DASH "refused", which);
        return KES_ERROR_OTHER_FAMILY;
    }
    if (judged.info.packed <= self.packed) {
        debugLogf("land: %s is %s, not newer than the running %s" KES_DASH "refused", which,
                  versionText(judged.info).c_str(), versionText(self).c_str());
        return KES_ERROR_NOT_NEWER;
    }
    keys = judged.keys;
    return 0;
}

// With publisher pinning, the file that the landing holds must also be
// signed with one of the running launcher's keys, and pin one of them
// itself (`downloadKeys`), so that its own hand-over and landing keep the
// trust. 0 when it passes or nothing is pinned.
std::int32_t judgePublisher(HANDLE held, const std::wstring& path, const PublisherKeys& keys,
                            const PublisherKeys& downloadKeys, const char* which) {
    if (!keys.pinned) {
        return 0;
    }
    PublisherCheck check = checkPublisher(held, path, keys);
    if (check.verdict == PublisherVerdict::Passed && !keepsPublisherKeys(downloadKeys, keys)) {
        check.verdict = PublisherVerdict::KeysNotKept;
    }
    if (check.verdict == PublisherVerdict::Passed) {
        return 0;
    }
    debugLogf("land: %s refused by this launcher's publisher keys (%s, 0x%08lX)" KES_DASH "refused", which,
              publisherVerdictText(check.verdict), static_cast<unsigned long>(check.status));
    return KES_ERROR_PUBLISHER_REFUSED;
}

enum class Comparison { Same, Different, Unreadable };

UniqueHandle openForReading(const std::wstring& path, DWORD share) {
    return makeUniqueFileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Both files from their first byte; each handle's file pointer is moved.
Comparison compareHandles(HANDLE first, HANDLE second) {
    LARGE_INTEGER firstSize{};
    LARGE_INTEGER secondSize{};
    const LARGE_INTEGER start{};
    if (!GetFileSizeEx(first, &firstSize) || !GetFileSizeEx(second, &secondSize) ||
        !SetFilePointerEx(first, start, nullptr, FILE_BEGIN) || !SetFilePointerEx(second, start, nullptr, FILE_BEGIN)) {
        return Comparison::Unreadable;
    }
    if (firstSize.QuadPart != secondSize.QuadPart) {
        return Comparison::Different;
    }
    char left[kCopyChunk / 2];
    char right[kCopyChunk / 2];
    for (;;) {
        DWORD gotLeft = 0;
        DWORD gotRight = 0;
        if (!ReadFile(first, left, sizeof left, &gotLeft, nullptr) ||
            !ReadFile(second, right, sizeof right, &gotRight, nullptr)) {
            return Comparison::Unreadable;
        }
        if (gotLeft != gotRight || std::memcmp(left, right, gotLeft) != 0) {
            return Comparison::Different;
        }
        if (gotLeft == 0) {
            return Comparison::Same;
        }
    }
}

// A file already under the final name: the same bytes mean "landed before".
std::int32_t existingTarget(HANDLE source, const std::wstring& target, const std::string& name) {
    const UniqueHandle existing = openForReading(target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (existing && compareHandles(source, existing.get()) == Comparison::Same) {
        debugLogf("land: %s already holds these bytes" KES_DASH "nothing to do", name.c_str());
        return 1;
    }
    debugLogf("land: %s already exists with other bytes" KES_DASH "refused, a new version lands beside the old",
              name.c_str());
    return KES_ERROR_NAME_TAKEN;
}

// The staging file that this landing made and holds goes when its handle is
// closed; readers that let deleters in may still have it open until then.
void discardHeldStaging(UniqueHandle& staged) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(staged.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        debugLogf("land: staging file cannot be removed (GLE=%lu)" KES_DASH "pruning removes it later",
                  GetLastError());
    }
    staged.reset();
}

// Renames the held file, never over an existing one: ERROR_SUCCESS or the
// Windows error (ERROR_ALREADY_EXISTS when the name is taken).
DWORD renameHeld(HANDLE file, const std::wstring& target) {
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[bytes]());
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(bytes)) ? ERROR_SUCCESS
                                                                                               : GetLastError();
}

}  // namespace

DWORD copyAllBytes(HANDLE from, HANDLE to) {
    char buffer[kCopyChunk];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr)) {
            return GetLastError();
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        DWORD written = 0;
        if (!WriteFile(to, buffer, got, &written, nullptr)) {
            return GetLastError();
        }
        if (written != got) {
            return ERROR_WRITE_FAULT;
        }
    }
}

std::int32_t landUpdateWith(const std::string& downloadedPath, const std::string& fileName, std::uint32_t retryMs,
                            CopyBytes copy) {
    const std::wstring download = utf8ToWideStrict(downloadedPath);
    const std::wstring name = utf8ToWideStrict(fileName);
    if (download.empty()) {
        debugLog("land: the download's path is empty or not UTF-8" KES_DASH "refused");
        return KES_ERROR_ARGUMENT;
    }
    const RunningLauncher self = runningLauncher();
    if (!self.valid) {
        debugLog("land: this launcher cannot be judged" KES_DASH "refused");
        return KES_ERROR_SELF;
    }
    // The download is held from its judgement to the end of the copy, with
    // readers let in and writers and deleters kept out, so that what is
    // copied is what was judged and checked.
    const UniqueHandle source = openForReading(download, FILE_SHARE_READ);
    if (!source) {
        debugLogf("land: download unreadable or being written (GLE=%lu)" KES_DASH "refused", GetLastError());
        return KES_ERROR_UNREADABLE;
    }
    PublisherKeys downloadKeys;
    if (const std::int32_t refused = judgeDownload(source.get(), download, self.info, "download", downloadKeys)) {
        return refused;
    }
    if (const std::int32_t refused = judgePublisher(source.get(), download, self.keys, downloadKeys, "download")) {
        return refused;
    }
    if (const char* problem = nameProblem(name)) {
        debugLogf("land: name '%s' refused: %s", fileName.c_str(), problem);
        return KES_ERROR_BAD_NAME;
    }
    const std::wstring target = utf8ToWideStrict(self.folder) + L"\\" + name;
    const std::wstring staging = target + kStagingSuffix;
    if (staging.size() >= MAX_PATH) {
        debugLogf("land: name '%s' refused: the path in this folder would be %u characters, past 259",
                  fileName.c_str(), static_cast<unsigned>(staging.size()));
        return KES_ERROR_BAD_NAME;
    }
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return existingTarget(source.get(), target, fileName);
    }

    // Copied rather than moved, so that the new file takes the folder's
    // permissions. From its creation to its rename one handle holds the
    // staging file, shared for reading only: nothing else can write, rename
    // or delete it, and the rename goes through that handle.
    UniqueHandle staged;
    DWORD error = retryWhileInUse("creating the staging file", retryMs, [&]() -> DWORD {
        // A staging file of an earlier attempt goes first.
        if (!DeleteFileW(staging.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            return GetLastError();
        }
        staged = makeUniqueFileHandle(CreateFileW(staging.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                                  FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
        return staged ? ERROR_SUCCESS : GetLastError();
    });
    if (error != ERROR_SUCCESS) {
        debugLogf("land: staging file cannot be created (GLE=%lu)" KES_DASH "refused",
                  static_cast<unsigned long>(error));
        return isInUse(error) ? KES_ERROR_BUSY : KES_ERROR_IO;
    }
    // The judgement moved the download's file pointer.
    const LARGE_INTEGER start{};
    error = SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN) ? copy(source.get(), staged.get())
                                                                       : GetLastError();
    if (error == ERROR_SUCCESS && !FlushFileBuffers(staged.get())) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        debugLogf("land: copying into the staging file failed (GLE=%lu)" KES_DASH "refused",
                  static_cast<unsigned long>(error));
        discardHeldStaging(staged);
        return KES_ERROR_IO;
    }
    // What lies in the folder is judged again, through the handle that holds
    // it: the copy may have gone wrong. The platform's version calls open a
    // file by its path and cannot while it is held for writing, so the
    // staged copy must be the judged download byte for byte, with an intact
    // layout of its own, and signed as the download is.
    const bool whole = compareHandles(source.get(), staged.get()) == Comparison::Same &&
                       checkExecutableLayout(staged.get()).verdict == LayoutVerdict::Readable;
    if (!whole) {
        debugLog("land: staged copy differs from the download or is damaged" KES_DASH "refused");
        discardHeldStaging(staged);
        return KES_ERROR_STAGED_COPY_BAD;
    }
    if (const std::int32_t refused = judgePublisher(staged.get(), staging, self.keys, downloadKeys, "staged copy")) {
        discardHeldStaging(staged);
        return refused;
    }
    error = retryWhileInUse("renaming the staging file", retryMs,
                            [&]() -> DWORD { return renameHeld(staged.get(), target); });
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        // Another landing was quicker.
        const std::int32_t result = existingTarget(staged.get(), target, fileName);
        discardHeldStaging(staged);
        return result;
    }
    if (error != ERROR_SUCCESS) {
        debugLogf("land: renaming to %s failed (GLE=%lu)" KES_DASH "refused", fileName.c_str(),
                  static_cast<unsigned long>(error));
        discardHeldStaging(staged);
        return isInUse(error) ? KES_ERROR_BUSY : KES_ERROR_IO;
    }
    debugLogf("land: %s landed", fileName.c_str());
    return 1;
}

std::int32_t landUpdate(const std::string& downloadedPath, const std::string& fileName, std::uint32_t retryMs) {
    return landUpdateWith(downloadedPath, fileName, retryMs, copyAllBytes);
}

}  // namespace kes
