// A bounds-checked look at an executable's layout, made before the platform's
// version library is let loose on it.
#pragma once

#include <cstdint>
#include <string>

namespace kes {

enum class LayoutVerdict {
    Readable,    // an intact image, or a file that is not a PE image at all,
                 // whose reading stays with the platform
    Unreadable,  // the file cannot be opened or read, or another program has
                 // it open for writing
    Damaged,     // a header, section or resource directory entry on the way to
                 // the version resource points outside the file or its section
    CutShort,    // the file ends before the image does: a download cut short,
                 // or an update still being written
    OverBudget,  // damaged too: its resource directory asks for more work than
                 // any linker's output needs, so the check stopped looking
};

struct LayoutReport {
    LayoutVerdict verdict = LayoutVerdict::Unreadable;
    unsigned long error = 0;       // Unreadable: the Windows error
    std::uint64_t imageBytes = 0;  // CutShort: what the image needs, more than the file holds
    bool isImage = false;          // the file has PE headers; then machine is theirs
    std::uint16_t machine = 0;     // IMAGE_FILE_HEADER.Machine
};

// Some platforms' version libraries copy whatever a damaged resource entry
// claims and fault, and a cut image cannot be started, so a file that is not
// Readable drops out before the platform is asked about it. The check reads
// the headers, one window over the resource directory and the last byte of
// the image; nothing is sized by what the file claims, and what one file may
// cost is bounded (common/pe_layout_walk.h). The file is opened with read and
// delete sharing for that moment.
LayoutReport checkExecutableLayout(const std::string& path);

inline bool isVersionResourceSafeToRead(const std::string& path) {
    return checkExecutableLayout(path).verdict == LayoutVerdict::Readable;
}

}  // namespace kes
