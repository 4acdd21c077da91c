// The layout check's walk over an executable's bytes, whatever holds them: a
// file for the start program, the routine and kes-inspect, memory for the
// fuzzer. A source is any type with
//
//   bool read(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t& got);
//
// which fills at most `count` bytes from `offset` and says how many it got
// (fewer at the end of the file); false when the read itself failed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "common/pe_layout.h"

namespace kes::layout {

// What the check may spend on one file, whatever the file claims. The path to
// the version resource of a real program is short: Wine's 1,448 programs and
// libraries, the largest resource trees at hand, need at most 74 entries,
// three directories and six reads, and a launcher with its version resource
// in 64 languages beside 64 string tables needs 200 entries. The budget is
// many times that, so that no real file is refused for its size, while the
// worst a file can cost stays `reads` reads of at most 4 KiB and `entries`
// entries of 8 bytes, looked at in memory.
struct Budget {
    std::uint32_t entries;      // resource directory entries and data entries looked at
    std::uint32_t directories;  // distinct resource directories visited
    std::uint32_t reads;        // reads of the file, windows and one-byte probes alike
};
inline constexpr Budget kBudget{2048, 64, 32};

inline constexpr std::uint32_t kWindowSize = 4096;
// The platform's loader takes no more sections than this; nor does the check.
inline constexpr WORD kMaxSections = 96;
// The resource type of version resources (RT_VERSION, which winnt.h spells
// as a pointer); their name is VS_VERSION_INFO.
inline constexpr WORD kVersionType = 16;

// One small window of the file, moved only when a read falls outside it.
// Nothing is sized by what the file claims, and the file's size is never
// asked for (under Wine that costs as much as a read): a structure lies in the
// file when its bytes can be read.
struct FileWindow {
    std::uint64_t start = 0;
    std::uint32_t length = 0;
    unsigned char bytes[kWindowSize];
};

// The levels of the path to the version resource.
enum class Level { Types, Names, Languages };
inline constexpr int kLevels = 3;

// A resource directory already visited, and at which level.
struct Visit {
    DWORD offset;
    Level level;
};

// What the walk has learnt of one image, shared by its steps. A window over
// the headers and section table, one for each level of the resource
// directory and one for the data entries: bytes that any window holds are
// taken from it, and a read moves only the window of the step that asked, so
// that walking one directory's entries never moves the window that another
// level is read through. An intact launcher costs two reads and a one-byte
// read at its end.
template <typename Source>
struct Image {
    Source& source;
    FileWindow headers;
    FileWindow levels[kLevels];
    FileWindow dataEntries;
    Signature signature = Signature::None;
    WORD machine = 0;
    WORD characteristics = 0;
    WORD subsystem = 0;
    WORD sectionCount = 0;
    IMAGE_SECTION_HEADER sections[kMaxSections];
    DWORD headersSize = 0;
    DWORD imageSize = 0;    // SizeOfImage: how much of memory the loader maps
    DWORD resourceRva = 0;  // 0: the image has no resources
    // The resource section's raw data, from the root directory on.
    std::uint64_t resourceRoot = 0;
    std::uint64_t resourceEnd = 0;
    // The furthest offset that a read has shown the file to reach.
    std::uint64_t reached = 0;
    // What has been spent of kBudget, and whether it ran out.
    std::uint32_t entries = 0;
    std::uint32_t reads = 0;
    std::uint32_t visitCount = 0;
    Visit visits[kBudget.directories];
    bool overBudget = false;

    explicit Image(Source& s) : source(s) {}
};

template <typename Source>
bool spend(Image<Source>& image, std::uint32_t& used, std::uint32_t limit) {
    if (used == limit) {
        image.overBudget = true;
        return false;
    }
    ++used;
    return true;
}

template <typename Source>
bool readThrough(Image<Source>& image, std::uint64_t offset, void* buffer, std::uint32_t count,
                 std::uint32_t& got) {
    got = 0;
    if (!spend(image, image.reads, kBudget.reads) || !image.source.read(offset, buffer, count, got)) {
        return false;
    }
    got = got < count ? got : count;
    if (got > 0 && offset + got > image.reached) {
        image.reached = offset + got;
    }
    return true;
}

template <typename Source>
bool readWindowAt(Image<Source>& image, FileWindow& window, std::uint64_t offset) {
    std::uint32_t got = 0;
    if (!readThrough(image, offset, window.bytes, kWindowSize, got)) {
        window.length = 0;
        return false;
    }
    window.start = offset;
    window.length = got;
    return true;
}

inline bool holds(const FileWindow& window, std::uint64_t offset, std::uint32_t count) {
    return offset >= window.start && offset + count <= window.start + window.length;
}

// Copies `count` bytes at `offset` out of whichever window holds them, or out
// of `window`, moved there first; false when the file does not hold them.
template <typename Source>
bool readBytes(Image<Source>& image, FileWindow& window, std::uint64_t offset, void* out, std::uint32_t count) {
    const FileWindow* from = nullptr;
    for (const FileWindow* w : {&image.headers, &image.levels[0], &image.levels[1], &image.levels[2],
                                &image.dataEntries}) {
        if (from == nullptr && holds(*w, offset, count)) {
            from = w;
        }
    }
    if (from == nullptr) {
        if (!readWindowAt(image, window, offset) || !holds(window, offset, count)) {
            return false;
        }
        from = &window;
    }
    std::memcpy(out, from->bytes + (offset - from->start), count);
    return true;
}

// A structure of the PE format at `offset`, as it is stored: little-endian,
// packed as winnt.h declares it.
template <typename Source, typename T>
bool readValue(Image<Source>& image, FileWindow& window, std::uint64_t offset, T& value) {
    return readBytes(image, window, offset, &value, sizeof value);
}

enum class Headers { NotAnImage, Damaged, Sound };

// Where the two forms of the optional header keep what the check needs.
struct OptionalHeaderForm {
    std::size_t sizeOfImage;
    std::size_t sizeOfHeaders;
    std::size_t subsystem;
    std::size_t directoryCount;
    std::size_t resourceRva;
};

template <typename OptionalHeader>
constexpr OptionalHeaderForm formOf() {
    return {offsetof(OptionalHeader, SizeOfImage), offsetof(OptionalHeader, SizeOfHeaders),
            offsetof(OptionalHeader, Subsystem), offsetof(OptionalHeader, NumberOfRvaAndSizes),
            offsetof(OptionalHeader, DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress)};
}

// SizeOfImage, SizeOfHeaders, the subsystem and the resource directory's
// address.
template <typename Source>
bool readOptionalHeader(Image<Source>& image, std::uint64_t at, const OptionalHeaderForm& form) {
    DWORD directoryCount = 0;
    if (!readValue(image, image.headers, at + form.sizeOfImage, image.imageSize) ||
        !readValue(image, image.headers, at + form.sizeOfHeaders, image.headersSize) ||
        !readValue(image, image.headers, at + form.subsystem, image.subsystem) ||
        !readValue(image, image.headers, at + form.directoryCount, directoryCount)) {
        return false;
    }
    if (directoryCount <= IMAGE_DIRECTORY_ENTRY_RESOURCE) {
        return true;  // no resources: nothing for the platform to follow
    }
    return readValue(image, image.headers, at + form.resourceRva, image.resourceRva);
}

// What a file that is not a PE image has where the PE signature would be.
// Only all four bytes of "PE\0\0" make an image: a platform that compares
// fewer would take "PE00" for one and size its reads from garbage.
inline Signature signatureOf(DWORD found) {
    const WORD low = LOWORD(found);
    return low == IMAGE_OS2_SIGNATURE ? Signature::NewExe
           : low == IMAGE_OS2_SIGNATURE_LE || low == 0x584C /* "LX" */ ? Signature::LinearExe
                                                                   : Signature::Other;
}

// The DOS and NT headers and the section table, all from the first window.
template <typename Source>
Headers readHeaders(Image<Source>& image) {
    IMAGE_DOS_HEADER dos;
    DWORD signature = 0;
    if (!readValue(image, image.headers, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        image.signature = Signature::None;
        return Headers::NotAnImage;
    }
    const std::uint64_t ntHeaders = static_cast<std::uint32_t>(dos.e_lfanew);
    if (!readValue(image, image.headers, ntHeaders, signature)) {
        image.signature = Signature::DosOnly;
        return Headers::NotAnImage;
    }
    if (signature != IMAGE_NT_SIGNATURE) {
        image.signature = signatureOf(signature);
        return Headers::NotAnImage;
    }
    const std::uint64_t fileHeaderAt = ntHeaders + sizeof signature;
    const std::uint64_t optionalHeaderAt = fileHeaderAt + sizeof(IMAGE_FILE_HEADER);
    IMAGE_FILE_HEADER fileHeader;
    WORD magic = 0;
    if (!readValue(image, image.headers, fileHeaderAt, fileHeader) ||
        !readValue(image, image.headers, optionalHeaderAt, magic) || fileHeader.NumberOfSections > kMaxSections) {
        return Headers::Damaged;
    }
    image.machine = fileHeader.Machine;
    image.characteristics = fileHeader.Characteristics;
    image.sectionCount = fileHeader.NumberOfSections;
    const std::uint64_t sectionTable = optionalHeaderAt + fileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < image.sectionCount; ++i) {
        if (!readValue(image, image.headers, sectionTable + std::uint64_t{i} * sizeof(IMAGE_SECTION_HEADER),
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
template <typename Source>
const IMAGE_SECTION_HEADER* findSection(const Image<Source>& image, DWORD rva) {
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
template <typename Source>
std::uint64_t imageEnd(const Image<Source>& image) {
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
template <typename Source>
[[gnu::always_inline]] inline bool reaches(Image<Source>& image, std::uint64_t end) {
    if (end <= image.reached) {
        return true;
    }
    unsigned char last = 0;
    std::uint32_t got = 0;
    return readThrough(image, end - 1, &last, 1, got) && got == 1;
}

// The bytes that a data entry names must lie in the file, found the way the
// platform finds them in a file: through the section that holds their RVA;
// and in the image, where a platform that maps the file as an image finds
// them: below SizeOfImage, past which nothing is mapped. Bytes inside that
// section's raw data are covered by the image's end, which is checked anyway;
// only bytes past it cost a read of their own.
template <typename Source>
bool checkDataEntry(Image<Source>& image, DWORD offset) {
    const std::uint64_t at = image.resourceRoot + offset;
    IMAGE_RESOURCE_DATA_ENTRY data;
    if (!spend(image, image.entries, kBudget.entries) || at + sizeof data > image.resourceEnd ||
        !readValue(image, image.dataEntries, at, data) ||
        std::uint64_t{data.OffsetToData} + data.Size > image.imageSize) {
        return false;
    }
    const IMAGE_SECTION_HEADER* section = findSection(image, data.OffsetToData);
    if (section == nullptr) {
        return false;
    }
    const std::uint64_t begin = std::uint64_t{data.OffsetToData} - section->VirtualAddress + section->PointerToRawData;
    const std::uint64_t sectionEnd = std::uint64_t{section->PointerToRawData} + section->SizeOfRawData;
    return data.Size == 0 || begin + data.Size <= sectionEnd || reaches(image, begin + data.Size);
}

// One resource directory on the path to the version resource, at `offset`
// from the root: once it and all its entries are known to lie in the
// resource section, the sub-directories of its version type entries (at the
// types level) or of its VS_VERSION_INFO entries (at the names level), or
// the data of every language (at the languages level, any of which the
// platform may pick). The platform searches entries by id, the low 16 bits
// whatever the name bit says, and may land on any that matches. A directory
// already visited at this level succeeds at once: what it leads to has been
// checked. One reached again at another level is damage: a loop, or a
// directory read as two different things, whose other level was never
// looked at.
template <typename Source>
bool checkDirectory(Image<Source>& image, DWORD offset, Level level) {
    for (std::uint32_t i = 0; i < image.visitCount; ++i) {
        if (image.visits[i].offset == offset) {
            return image.visits[i].level == level;
        }
    }
    if (image.visitCount == kBudget.directories) {
        image.overBudget = true;
        return false;
    }
    image.visits[image.visitCount++] = Visit{offset, level};
    FileWindow& window = image.levels[static_cast<int>(level)];
    const std::uint64_t at = image.resourceRoot + offset;
    IMAGE_RESOURCE_DIRECTORY directory;
    if (at + sizeof directory > image.resourceEnd || !readValue(image, window, at, directory)) {
        return false;
    }
    const std::uint64_t entries = at + sizeof directory;
    const std::uint32_t count = std::uint32_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    if (entries + std::uint64_t{count} * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) > image.resourceEnd) {
        return false;
    }
    const WORD wanted = level == Level::Types ? kVersionType : VS_VERSION_INFO;
    for (std::uint32_t i = 0; i < count; ++i) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        if (!spend(image, image.entries, kBudget.entries) ||
            !readValue(image, window, entries + std::uint64_t{i} * sizeof entry, entry)) {
            return false;
        }
        const bool sound = level == Level::Languages
                               ? entry.DataIsDirectory || checkDataEntry(image, entry.OffsetToData)
                               : entry.Id != wanted || !entry.DataIsDirectory ||
                                     checkDirectory(image, entry.OffsetToDirectory,
                                                    level == Level::Types ? Level::Names : Level::Languages);
        if (!sound) {
            return false;
        }
    }
    return true;
}

// The path to the version resource, type -> name -> every language, and the
// data each names.
template <typename Source>
bool checkVersionResource(Image<Source>& image) {
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
    // The directories, too, lie below SizeOfImage in an image's mapping.
    const std::uint64_t mappedEnd = image.resourceRoot + (image.imageSize - image.resourceRva);
    if (image.resourceRva >= image.imageSize) {
        return false;
    }
    if (mappedEnd < image.resourceEnd) {
        image.resourceEnd = mappedEnd;
    }
    return checkDirectory(image, 0, Level::Types);
}

template <typename Source>
LayoutReport reportOf(const Image<Source>& image, LayoutVerdict verdict) {
    LayoutReport report;
    report.verdict = image.overBudget ? LayoutVerdict::OverBudget : verdict;
    report.isImage = true;
    report.machine = image.machine;
    report.characteristics = image.characteristics;
    report.subsystem = image.subsystem;
    return report;
}

// The walk itself. Unreadable only when the file's first bytes cannot be
// read; the caller says why. This and reaches() are inlined where they are
// called: each function costs the start program an unwind entry.
template <typename Source>
[[gnu::always_inline]] inline LayoutReport walkExecutableLayout(Source& source) {
    Image<Source> image(source);
    LayoutReport report;
    if (!readWindowAt(image, image.headers, 0)) {
        return report;
    }
    const Headers headers = readHeaders(image);
    if (headers == Headers::NotAnImage) {
        report.verdict = LayoutVerdict::NotAnImage;
        report.signature = image.signature;
        return report;
    }
    if (headers == Headers::Damaged) {
        return reportOf(image, LayoutVerdict::Damaged);
    }
    // The resource walk first: its window may already hold the image's end.
    const bool versionResourceSound = checkVersionResource(image);
    const std::uint64_t end = imageEnd(image);
    if (!image.overBudget && !reaches(image, end)) {
        report = reportOf(image, LayoutVerdict::CutShort);
        report.imageBytes = end;
        return report;
    }
    return reportOf(image, versionResourceSound ? LayoutVerdict::Readable : LayoutVerdict::Damaged);
}

}  // namespace kes::layout
