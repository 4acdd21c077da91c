// Times the launcher selection against the floor: a loop over the same files
// that makes only the platform calls the selection must make for each
// candidate (opening the file and reading two blocks and a byte of it for the
// layout check, reading the version resource, and normalising the two paths).
// It also times the same selection without the layout check in front of the
// version calls, so that the check's share is measured in the same run.
//
//   selection_bench <folder> <repetitions>
//
// Prints "selection", "unchecked" and "floor": the median seconds of one pass
// over the folder's executables, the three measured in turn; before them, one
// line "pass <selection> <unchecked> <floor>" for each repetition.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/encoding.h"
#include "common/launcher_family.h"
#include "common/sibling_executables.h"
#include "start/launcher_selection.h"

namespace {

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void normalizeCalls(const std::wstring& path, wchar_t* expanded, wchar_t* full) {
    const DWORD n = ExpandEnvironmentStringsW(path.c_str(), expanded, 32768);
    if (n == 0 || n > 32767) {
        return;
    }
    const DWORD m = GetFullPathNameW(expanded, 32768, full, nullptr);
    if (m == 0 || m > 32767) {
        return;
    }
    CharLowerBuffW(full, m);
}

// The layout check's platform calls: one open, two seeks and reads of one
// block, a seek and a one-byte read (the image's last byte), a close.
void layoutCheckCalls(const std::wstring& path) {
    static unsigned char block[4096];
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    for (const auto& [offset, count] : {std::pair<LONGLONG, DWORD>{0, 4096}, {4096, 4096}, {12287, 1}}) {
        LARGE_INTEGER at;
        at.QuadPart = offset;
        DWORD got = 0;
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        ReadFile(file, block, count, &got, nullptr);
    }
    CloseHandle(file);
}

// The platform's share of one selection pass.
std::size_t floorPass(const std::vector<std::wstring>& candidates, const std::wstring& self) {
    static wchar_t expanded[32768];
    static wchar_t full[32768];
    std::size_t found = 0;
    for (const std::wstring& path : candidates) {
        layoutCheckCalls(path);
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        if (size == 0) {
            continue;
        }
        std::vector<unsigned char> buffer(size, 0);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) {
            continue;
        }
        void* p = nullptr;
        UINT length = 0;
        VerQueryValueW(buffer.data(), L"\\", &p, &length);
        if (VerQueryValueW(buffer.data(), L"\\StringFileInfo\\" KES_VERSION_STRING_TABLE "\\" KES_LAUNCHER_ID_KEY, &p, &length)) {
            ++found;
            normalizeCalls(self, expanded, full);
            normalizeCalls(path, expanded, full);
        }
    }
    return found;
}

// What the check says of an intact x64 program, without looking.
kes::LayoutReport noCheck(const std::string&) {
    kes::LayoutReport readable;
    readable.verdict = kes::LayoutVerdict::Readable;
    readable.isImage = true;
    readable.machine = IMAGE_FILE_MACHINE_AMD64;
    readable.characteristics = IMAGE_FILE_EXECUTABLE_IMAGE;
    readable.subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
    return readable;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: selection_bench <folder> <repetitions>\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    const int repetitions = _wtoi(argv[2]);
    const std::string folderUtf8 = kes::wideToUtf8(folder.data(), folder.size());
    const std::vector<std::string> candidates = kes::listSiblingExecutables(folderUtf8);
    std::vector<std::wstring> wideCandidates;
    for (const std::string& c : candidates) {
        wideCandidates.push_back(kes::utf8ToWideStrict(c));
    }
    const std::wstring self = folder + L"\\KestrelwoodStart.exe";

    // One warm-up pass of each so that the file cache is equally warm.
    kes::selectNewestLauncher(candidates, self);
    floorPass(wideCandidates, self);
    kes::selectNewestLauncher(candidates, self, noCheck);

    // The checked and the unchecked selection take turns at going first.
    std::vector<double> selection, floor, unchecked;
    for (int i = 0; i < repetitions; ++i) {
        std::wstring chosen;
        std::wstring chosenUnchecked;
        const double t0 = now();
        if (i % 2 == 0) {
            chosen = kes::selectNewestLauncher(candidates, self);
        } else {
            chosenUnchecked = kes::selectNewestLauncher(candidates, self, noCheck);
        }
        const double t1 = now();
        const std::size_t found = floorPass(wideCandidates, self);
        const double t2 = now();
        if (i % 2 == 0) {
            chosenUnchecked = kes::selectNewestLauncher(candidates, self, noCheck);
        } else {
            chosen = kes::selectNewestLauncher(candidates, self);
        }
        const double t3 = now();
        const double checked = i % 2 == 0 ? t1 - t0 : t3 - t2;
        const double plain = i % 2 == 0 ? t3 - t2 : t1 - t0;
        std::printf("pass %.9f %.9f %.9f\n", checked, plain, t2 - t1);
        selection.push_back(checked);
        floor.push_back(t2 - t1);
        unchecked.push_back(plain);
        if (chosen.empty() || found == 0 || chosenUnchecked != chosen) {
            std::fputs("selection_bench: nothing chosen\n", stderr);
            return 1;
        }
    }
    std::printf("candidates %zu\nselection %.9f\nunchecked %.9f\nfloor %.9f\n", candidates.size(), median(selection),
                median(unchecked), median(floor));
    return 0;
}
