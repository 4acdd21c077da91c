// A bounds-checked look at an executable's layout, made before the platform's
// version library is let loose on it.
#pragma once

#include <cstdint>
#include <string>

namespace kes {

enum class LayoutVerdict {
    Readable,    // an intact PE image, whose version resource the platform may read
    NotAnImage,  // no whole PE signature: not a Windows program of today (an
                 // NE or LE executable, a DOS program, or no executable at all);
                 // the platform is never asked about it
    Unreadable,  // the file cannot be opened or read, or another program has
                 // it open for writing
    Damaged,     // a header, section or resource directory entry on the way to
                 // the version resource points outside the file or its section
    CutShort,    // the file ends before the image does: a download cut short,
                 // or an update still being written
    OverBudget,  // damaged too: its resource directory asks for more work than
                 // any real program needs, so the check stopped looking
};

// What stands where a PE image has its signature, for a file that is not one.
enum class Signature {
    None,      // not even a DOS header: no executable at all
    DosOnly,   // a DOS header whose e_lfanew leads past the file's end
    NewExe,    // "NE": a 16-bit Windows or OS/2 program
    LinearExe, // "LE" or "LX": a virtual device driver or an OS/2 program
    Other,     // anything else, "PE00" among them
};

struct LayoutReport {
    LayoutVerdict verdict = LayoutVerdict::Unreadable;
    unsigned long error = 0;       // Unreadable: the Windows error
    std::uint64_t imageBytes = 0;  // CutShort: what the image needs, more than the file holds
    bool isImage = false;          // the file has PE headers; then the fields below are theirs
    Signature signature = Signature::None;  // NotAnImage: what it has instead
    std::uint16_t machine = 0;              // IMAGE_FILE_HEADER.Machine
    std::uint16_t characteristics = 0;      // IMAGE_FILE_HEADER.Characteristics
    std::uint16_t subsystem = 0;            // the optional header's Subsystem
};

// Some platforms' version libraries copy whatever a damaged resource entry
// claims and fault, and a cut image cannot be started, so a file that is not
// Readable drops out before the platform is asked about it. The check reads
// the headers, the resource directory on the way to the version resource and
// the last byte of the image; nothing is sized by what the file claims, and
// what one file may cost is bounded (common/pe_layout_walk.h). The file is
// opened with read and delete sharing for that moment.
LayoutReport checkExecutableLayout(const std::string& path);

// The same check through a handle that the caller holds (opened for reading,
// synchronous); its file pointer is moved.
LayoutReport checkExecutableLayout(void* file);

}  // namespace kes
