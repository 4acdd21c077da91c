#include "common/pe_layout.h"

#include <windows.h>

#include <cstdint>

#include "common/encoding.h"
#include "common/win_owners.h"
#include "pe_layout_walk.h"

namespace kes {

namespace {

// Reads through the file pointer of a handle opened for synchronous use.
// Under Wine, a read given its offset in an OVERLAPPED costs one more round
// trip to the server than a seek and a plain read.
struct FileSource {
    HANDLE file;

    bool read(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& got) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD done = 0;
        const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, count, &done, nullptr);
        got = done;
        return ok;
    }
};

}  // namespace

LayoutReport checkExecutableLayout(const std::string& path) {
    const std::wstring widePath = utf8ToWide(path);
    // Writers are not let in while the file is looked at, and a file that a
    // writer has open cannot be opened so: an update still being written is
    // passed over (its start would fail with the same sharing violation).
    // Delete sharing lets an updater remove or rename the file meanwhile.
    const UniqueHandle file = makeUniqueFileHandle(CreateFileW(widePath.c_str(), GENERIC_READ,
                                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        LayoutReport report;
        report.error = GetLastError();
        return report;
    }
    return checkExecutableLayout(file.get());
}

LayoutReport checkExecutableLayout(void* file) {
    FileSource source{file};
    LayoutReport report = layout::walkExecutableLayout(source);
    if (report.verdict == LayoutVerdict::Unreadable) {
        report.error = GetLastError();
    }
    return report;
}

}  // namespace kes
