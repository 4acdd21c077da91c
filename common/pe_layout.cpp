#include "common/pe_layout.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "common/encoding.h"
#include "common/win_owners.h"

namespace kes {

namespace {

// The layout facts this check relies on, as the PE format fixes them:
//
//   at 0x3C            offset of "PE\0\0", then the 20-byte file header
//   file header +2     number of sections       +16  size of the optional header
//   optional header    magic 0x10B (32-bit): data directories at +96, their count at +92
//                      magic 0x20B (64-bit): data directories at +112, their count at +108
//                      size of the headers at +60
//   data directory 2   the resource directory: RVA and size
//   section header     40 bytes: virtual address +12, raw size +16, raw offset +20
//   resource directory 16 bytes, counts of named and id entries at +12 and +14,
//                      then 8-byte entries: name or id, offset (high bit: a
//                      sub-directory), offsets counted from the root directory
//   data entry         16 bytes: RVA and size of the resource's bytes
//
// Version resources sit under type 16, name 1, in any language.
constexpr std::uint32_t kWindowSize = 4096;
constexpr std::uint16_t kVersionType = 16;
constexpr std::uint16_t kVersionName = 1;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
// The platform's loader takes no more sections than this; nor does the check.
constexpr std::uint16_t kMaxSections = 96;

// One small window of the file, moved only when a read falls outside it.
// Nothing is sized by what the file claims, and the file's size is never
// asked for (under Wine that costs as much as a read): a structure lies in the
// file when its bytes can be read.
struct FileWindow {
    HANDLE file = nullptr;
    std::uint64_t start = 0;
    std::uint32_t length = 0;
    unsigned char bytes[kWindowSize];
};

// Reads through the file pointer of a handle opened for synchronous use.
// Under Wine, a read given its offset in an OVERLAPPED costs one more round
// trip to the server than a seek and a plain read.
bool readAt(HANDLE file, std::uint64_t offset, void* buffer, DWORD count, DWORD& got) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, count, &got, nullptr);
}

bool readWindowAt(FileWindow& window, std::uint64_t offset) {
    DWORD got = 0;
    if (!readAt(window.file, offset, window.bytes, kWindowSize, got)) {
        window.length = 0;
        return false;
    }
    window.start = offset;
    window.length = got;
    return true;
}

// `count` bytes at `offset`; null when the file does not hold them.
const unsigned char* view(FileWindow& window, std::uint64_t offset, std::uint32_t count) {
    const bool inside = offset >= window.start && offset + count <= window.start + window.length;
    if (!inside && !readWindowAt(window, offset)) {
        return nullptr;
    }
    if (offset + count > window.start + window.length) {
        return nullptr;
    }
    return window.bytes + (offset - window.start);
}

// A little-endian value at `offset`, as the PE format stores every field.
template <typename T>
bool readValue(FileWindow& window, std::uint64_t offset, T& value) {
    const unsigned char* p = view(window, offset, sizeof value);
    if (p == nullptr) {
        return false;
    }
    std::memcpy(&value, p, sizeof value);
    return true;
}

// Whether the file reaches `end`: a byte already read there, or one more read.
bool reaches(FileWindow& headers, FileWindow& resources, std::uint64_t end) {
    for (const FileWindow* window : {&headers, &resources}) {
        if (end > window->start && end <= window->start + window->length) {
            return true;
        }
    }
    unsigned char last = 0;
    DWORD got = 0;
    return readAt(headers.file, end - 1, &last, 1, got) && got == 1;
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// The section table, read once from the window over the headers.
struct Image {
    std::uint16_t sectionCount = 0;
    Section sections[kMaxSections];
};

bool readSections(FileWindow& headers, std::uint64_t table, Image& image) {
    for (std::uint16_t i = 0; i < image.sectionCount; ++i) {
        const std::uint64_t header = table + std::uint64_t{i} * 40;
        Section& s = image.sections[i];
        if (!readValue(headers, header + 12, s.virtualAddress) || !readValue(headers, header + 16, s.rawSize) ||
            !readValue(headers, header + 20, s.rawOffset)) {
            return false;
        }
    }
    return true;
}

// The first section whose raw data covers `rva`, as the platform looks it up.
const Section* findSection(const Image& image, std::uint32_t rva) {
    for (std::uint16_t i = 0; i < image.sectionCount; ++i) {
        const Section& s = image.sections[i];
        if (s.virtualAddress <= rva && rva - s.virtualAddress < s.rawSize) {
            return &s;
        }
    }
    return nullptr;
}

// The resource directory's bytes: [begin, end) of the file.
struct ResourceArea {
    std::uint64_t root = 0;
    std::uint64_t end = 0;
};

// Calls visit(name, target) for each entry of the directory at `offset` (from
// the root), once the directory's header and all its entries are known to lie
// in the area; stops at the first visit that fails.
template <typename Visit>
bool forEachEntry(FileWindow& window, const ResourceArea& area, std::uint32_t offset, Visit visit) {
    const std::uint64_t at = area.root + offset;
    std::uint16_t named = 0;
    std::uint16_t ids = 0;
    if (at + 16 > area.end || !readValue(window, at + 12, named) || !readValue(window, at + 14, ids)) {
        return false;
    }
    const std::uint64_t entries = at + 16;
    const std::uint32_t count = std::uint32_t{named} + ids;
    if (entries + std::uint64_t{count} * 8 > area.end) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t name = 0;
        std::uint32_t target = 0;
        if (!readValue(window, entries + std::uint64_t{i} * 8, name) ||
            !readValue(window, entries + std::uint64_t{i} * 8 + 4, target) || !visit(name, target)) {
            return false;
        }
    }
    return true;
}

// The bytes that a data entry names must lie in the file, found the way the
// platform finds them: through the section that holds their RVA.
bool checkDataEntry(FileWindow& headers, FileWindow& resources, const Image& image, const ResourceArea& area,
                    std::uint32_t offset) {
    const std::uint64_t at = area.root + offset;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    if (at + 16 > area.end || !readValue(resources, at, rva) || !readValue(resources, at + 4, size)) {
        return false;
    }
    const Section* section = findSection(image, rva);
    if (section == nullptr) {
        return false;
    }
    const std::uint64_t data = std::uint64_t{rva} - section->virtualAddress + section->rawOffset;
    return size == 0 || reaches(headers, resources, data + size);
}

// Every sub-directory under the entries whose id is `id`: the platform
// searches entries by id and may land on any of them.
template <typename Visit>
bool forEachSubdirectoryWithId(FileWindow& window, const ResourceArea& area, std::uint32_t directory,
                               std::uint16_t id, Visit visit) {
    return forEachEntry(window, area, directory, [&](std::uint32_t name, std::uint32_t target) {
        return (name & 0xFFFFu) != id || (target & kSubdirectoryBit) == 0 || visit(target & ~kSubdirectoryBit);
    });
}

// Any language of the version resource may be the one the platform picks.
bool checkLanguages(FileWindow& headers, FileWindow& resources, const Image& image, const ResourceArea& area,
                    std::uint32_t directory) {
    return forEachEntry(resources, area, directory, [&](std::uint32_t, std::uint32_t target) {
        return (target & kSubdirectoryBit) != 0 || checkDataEntry(headers, resources, image, area, target);
    });
}

enum class Layout { NotAnImage, Damaged, Sound };

// Two windows, so that an intact launcher costs two reads: one over the
// headers and section table, one over the resource directory.
Layout checkLayout(FileWindow& headers) {
    std::uint16_t mz = 0;
    std::uint32_t peOffset = 0;
    std::uint32_t signature = 0;
    if (!readValue(headers, 0, mz) || mz != 0x5A4D || !readValue(headers, 0x3C, peOffset) ||
        !readValue(headers, peOffset, signature) || signature != 0x00004550) {
        return Layout::NotAnImage;
    }
    const std::uint64_t fileHeader = std::uint64_t{peOffset} + 4;
    const std::uint64_t optionalHeader = fileHeader + 20;
    Image image;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    if (!readValue(headers, fileHeader + 2, image.sectionCount) ||
        !readValue(headers, fileHeader + 16, optionalSize) || !readValue(headers, optionalHeader, magic)) {
        return Layout::Damaged;
    }
    if (image.sectionCount > kMaxSections || !readSections(headers, optionalHeader + optionalSize, image)) {
        return Layout::Damaged;
    }
    std::uint32_t directoriesAt = 0;
    if (magic == 0x10B) {
        directoriesAt = 96;
    } else if (magic == 0x20B) {
        directoriesAt = 112;
    } else {
        return Layout::Damaged;
    }
    std::uint32_t directoryCount = 0;
    std::uint32_t headersSize = 0;
    if (!readValue(headers, optionalHeader + directoriesAt - 4, directoryCount) ||
        !readValue(headers, optionalHeader + 60, headersSize)) {
        return Layout::Damaged;
    }
    if (directoryCount <= 2) {
        return Layout::Sound;  // no resources: nothing for the platform to follow
    }
    std::uint32_t resourceRva = 0;
    if (!readValue(headers, optionalHeader + directoriesAt + 2 * 8, resourceRva)) {
        return Layout::Damaged;
    }
    if (resourceRva == 0) {
        return Layout::Sound;
    }
    // A directory inside the headers would be read as a file offset; no
    // linker puts it there.
    const Section* section = resourceRva < headersSize ? nullptr : findSection(image, resourceRva);
    if (section == nullptr) {
        return Layout::Damaged;
    }
    ResourceArea area;
    area.root = std::uint64_t{resourceRva} - section->virtualAddress + section->rawOffset;
    area.end = std::uint64_t{section->rawOffset} + section->rawSize;
    FileWindow resources;
    resources.file = headers.file;
    const bool sound = forEachSubdirectoryWithId(resources, area, 0, kVersionType, [&](std::uint32_t names) {
        return forEachSubdirectoryWithId(resources, area, names, kVersionName, [&](std::uint32_t languages) {
            return checkLanguages(headers, resources, image, area, languages);
        });
    });
    return sound ? Layout::Sound : Layout::Damaged;
}

}  // namespace

bool isVersionResourceSafeToRead(const std::string& path) {
    const std::wstring widePath = utf8ToWide(path);
    // Every sharing mode: an updater writing or replacing the file is never blocked.
    const UniqueHandle file = makeUniqueFileHandle(CreateFileW(widePath.c_str(), GENERIC_READ,
                                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    FileWindow headers;
    headers.file = file.get();
    if (!readWindowAt(headers, 0)) {
        return false;
    }
    return checkLayout(headers) != Layout::Damaged;
}

}  // namespace kes
