// The routine's one judgement of a file as a launcher of the family: the
// scan, the landing and the pruning all ask it.
#pragma once

#include <string>

#include "common/pe_layout.h"
#include "common/version_info.h"

namespace kes {

enum class Judgement {
    Launcher,      // intact, of the family, and startable here
    Unreadable,    // cannot be opened or read, or is being written
    Damaged,       // damaged, cut short or over the layout check's budget
    OtherMachine,  // built for a machine this computer does not run
    OtherFamily,   // no valid version resource with the family's identifier
};

struct JudgedFile {
    Judgement judgement = Judgement::Unreadable;
    LayoutReport layout;
    LauncherVersionInfo info;  // read only when the layout allowed it
};

// The layout check first, so that the platform's version library never sees
// a damaged file; the machine before the version read, which is dearer.
JudgedFile judgeLauncher(const std::string& path);

// The running launcher: its path and version, or `valid` false (logged) when
// either cannot be read or it is not a launcher of the family.
struct RunningLauncher {
    bool valid = false;
    std::string path;
    std::string folder;
    LauncherVersionInfo info;
};
RunningLauncher runningLauncher();

}  // namespace kes
