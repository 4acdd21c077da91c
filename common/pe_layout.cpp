#include "common/pe_layout.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/encoding.h"
#include "common/win_owners.h"

namespace kes {

namespace {

constexpr std::uint32_t kWindowSize = 4096;
// The platform's loader takes no more sections than this; nor does the check.
constexpr WORD kMaxSections = 96;
// The resource type of version resources (RT_VERSION, which winnt.h spells
// as a pointer); their name is VS_VERSION_INFO.
constexpr WORD kVersionType = 16;

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

bool readBytes(FileWindow& window, std::uint64_t offset, void* out, std::uint32_t count) {
    const unsigned char* p = view(window, offset, count);
    if (p == nullptr) {
        return false;
    }
    std::memcpy(out, p, count);
    return true;
}

// A structure of the PE format at `offset`, as it is stored: little-endian,
// packed as winnt.h declares it.
template <typename T>
bool readValue(FileWindow& window, std::uint64_t offset, T& value) {
    return readBytes(window, offset, &value, sizeof value);
}

// What the check has learnt of one image, shared by its steps. Two windows,
// so that an intact launcher costs two reads and a one-byte read at its end:
// one over the headers and section table, one over the resource directory.
struct Image {
    FileWindow headers;
    FileWindow resources;
    WORD sectionCount = 0;
    IMAGE_SECTION_HEADER sections[kMaxSections];
    DWORD headersSize = 0;
    DWORD resourceRva = 0;  // 0: the image has no resources
    // The resource section's raw data, from the root directory on.
    std::uint64_t resourceRoot = 0;
    std::uint64_t resourceEnd = 0;
};

enum class Headers { NotAnImage, Damaged, Sound };

// Where the two forms of the optional header keep what the check needs.
struct OptionalHeaderForm {
    std::size_t sizeOfHeaders;
    std::size_t directoryCount;
    std::size_t resourceRva;
};

template <typename OptionalHeader>
constexpr OptionalHeaderForm formOf() {
    return {offsetof(OptionalHeader, SizeOfHeaders), offsetof(OptionalHeader, NumberOfRvaAndSizes),
            offsetof(OptionalHeader, DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress)};
}

// SizeOfHeaders and the resource directory's address.
bool readOptionalHeader(Image& image, std::uint64_t at, const OptionalHeaderForm& form) {
    DWORD directoryCount = 0;
    if (!readValue(image.headers, at + form.sizeOfHeaders, image.headersSize) ||
        !readValue(image.headers, at + form.directoryCount, directoryCount)) {
        return false;
    }
    if (directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        return true;  // no resources: nothing for the platform to follow
    }
    return readValue(image.headers, at + form.resourceRva, image.resourceRva);
}

// The DOS and NT headers and the section table, all from the first window.
Headers readHeaders(Image& image) {
    IMAGE_DOS_HEADER dos;
    DWORD signature = 0;
    if (!readValue(image.headers, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        return Headers::NotAnImage;
    }
    const std::uint64_t ntHeaders = static_cast<std::uint32_t>(dos.e_lfanew);
    if (!readValue(image.headers, ntHeaders, signature) || signature != IMAGE_NT_SIGNATURE) {
        return Headers::NotAnImage;
    }
    const std::uint64_t fileHeaderAt = ntHeaders + sizeof signature;
    const std::uint64_t optionalHeaderAt = fileHeaderAt + sizeof(IMAGE_FILE_HEADER);
    IMAGE_FILE_HEADER fileHeader;
    WORD magic = 0;
    if (!readValue(image.headers, fileHeaderAt, fileHeader) || !readValue(image.headers, optionalHeaderAt, magic) ||
        fileHeader.NumberOfSections > kMaxSections) {
        return Headers::Damaged;
    }
    image.sectionCount = fileHeader.NumberOfSections;
    const std::uint64_t sectionTable = optionalHeaderAt + fileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < image.sectionCount; ++i) {
        if (!readValue(image.headers, sectionTable + std::uint64_t{i} * sizeof(IMAGE_SECTION_HEADER),
                       image.sections[i])) {
            return Headers::Damaged;
        }
    }
    if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return Headers::Damaged;
    }
    const OptionalHeaderForm form = magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC ? formOf<IMAGE_OPTIONAL_HEADER32>()
                                                                           : formOf<IMAGE_OPTIONAL_HEADER64>();
    return readOptionalHeader(image, optionalHeaderAt, form) ? Headers::Sound : Headers::Damaged;
}

// The first section whose raw data covers `rva`, as the platform looks it up.
const IMAGE_SECTION_HEADER* findSection(const Image& image, DWORD rva) {
    for (WORD i = 0; i < image.sectionCount; ++i) {
        const IMAGE_SECTION_HEADER& s = image.sections[i];
        if (s.VirtualAddress <= rva && rva - s.VirtualAddress < s.SizeOfRawData) {
            return &s;
        }
    }
    return nullptr;
}

// The end of what the loader maps from the file: the headers and every
// section's raw data.
std::uint64_t imageEnd(const Image& image) {
    std::uint64_t end = image.headersSize;
    for (WORD i = 0; i < image.sectionCount; ++i) {
        const IMAGE_SECTION_HEADER& s = image.sections[i];
        const std::uint64_t sectionEnd = std::uint64_t{s.PointerToRawData} + s.SizeOfRawData;
        if (s.SizeOfRawData != 0 && sectionEnd > end) {
            end = sectionEnd;
        }
    }
    return end;
}

// Whether the file reaches `end`: a byte already read there, or one more read.
bool reaches(Image& image, std::uint64_t end) {
    if (end == 0) {
        return true;
    }
    for (const FileWindow* window : {&image.headers, &image.resources}) {
        if (end > window->start && end <= window->start + window->length) {
            return true;
        }
    }
    unsigned char last = 0;
    DWORD got = 0;
    return readAt(image.headers.file, end - 1, &last, 1, got) && got == 1;
}

// Calls visit(entry) for each entry of the directory at `offset` (from the
// root), once the directory and all its entries are known to lie in the
// resource section; stops at the first visit that fails.
template <typename Visit>
bool forEachEntry(Image& image, DWORD offset, Visit visit) {
    const std::uint64_t at = image.resourceRoot + offset;
    IMAGE_RESOURCE_DIRECTORY directory;
    if (at + sizeof directory > image.resourceEnd || !readValue(image.resources, at, directory)) {
        return false;
    }
    const std::uint64_t entries = at + sizeof directory;
    const std::uint32_t count = std::uint32_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    if (entries + std::uint64_t{count} * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) > image.resourceEnd) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        if (!readValue(image.resources, entries + std::uint64_t{i} * sizeof entry, entry) || !visit(entry)) {
            return false;
        }
    }
    return true;
}

// The bytes that a data entry names must lie in the file, found the way the
// platform finds them: through the section that holds their RVA.
bool checkDataEntry(Image& image, DWORD offset) {
    const std::uint64_t at = image.resourceRoot + offset;
    IMAGE_RESOURCE_DATA_ENTRY data;
    if (at + sizeof data > image.resourceEnd || !readValue(image.resources, at, data)) {
        return false;
    }
    const IMAGE_SECTION_HEADER* section = findSection(image, data.OffsetToData);
    if (section == nullptr) {
        return false;
    }
    const std::uint64_t begin = std::uint64_t{data.OffsetToData} - section->VirtualAddress + section->PointerToRawData;
    return data.Size == 0 || reaches(image, begin + data.Size);
}

// Every sub-directory under the entries whose id is `id`: the platform
// searches entries by id (the low 16 bits, whatever the name bit says) and may
// land on any of them.
template <typename Visit>
bool forEachSubdirectoryWithId(Image& image, DWORD directory, WORD id, Visit visit) {
    return forEachEntry(image, directory, [&](const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) {
        return entry.Id != id || !entry.DataIsDirectory || visit(entry.OffsetToDirectory);
    });
}

// The path to the version resource, type -> name -> every language (any of
// which may be the one the platform picks), and the data each names.
bool checkVersionResource(Image& image) {
    if (image.resourceRva == 0) {
        return true;
    }
    // A directory inside the headers would be read as a file offset; no
    // linker puts it there.
    const IMAGE_SECTION_HEADER* section =
        image.resourceRva < image.headersSize ? nullptr : findSection(image, image.resourceRva);
    if (section == nullptr) {
        return false;
    }
    image.resourceRoot = std::uint64_t{image.resourceRva} - section->VirtualAddress + section->PointerToRawData;
    image.resourceEnd = std::uint64_t{section->PointerToRawData} + section->SizeOfRawData;
    image.resources.file = image.headers.file;
    return forEachSubdirectoryWithId(image, 0, kVersionType, [&](DWORD names) {
        return forEachSubdirectoryWithId(image, names, VS_VERSION_INFO, [&](DWORD languages) {
            return forEachEntry(image, languages, [&](const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) {
                return entry.DataIsDirectory || checkDataEntry(image, entry.OffsetToData);
            });
        });
    });
}

LayoutReport reportOf(LayoutVerdict verdict) {
    LayoutReport report;
    report.verdict = verdict;
    return report;
}

LayoutReport unreadable() {
    LayoutReport report;
    report.error = GetLastError();
    return report;
}

LayoutReport cutShort(std::uint64_t imageBytes) {
    LayoutReport report = reportOf(LayoutVerdict::CutShort);
    report.imageBytes = imageBytes;
    return report;
}

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
        return unreadable();
    }
    Image image;
    image.headers.file = file.get();
    if (!readWindowAt(image.headers, 0)) {
        return unreadable();
    }
    const Headers headers = readHeaders(image);
    if (headers == Headers::NotAnImage) {
        return reportOf(LayoutVerdict::Readable);
    }
    if (headers == Headers::Damaged) {
        return reportOf(LayoutVerdict::Damaged);
    }
    // The resource walk first: its window may already hold the image's end.
    const bool versionResourceSound = checkVersionResource(image);
    const std::uint64_t end = imageEnd(image);
    if (!reaches(image, end)) {
        return cutShort(end);
    }
    return reportOf(versionResourceSound ? LayoutVerdict::Readable : LayoutVerdict::Damaged);
}

}  // namespace kes
