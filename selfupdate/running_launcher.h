// The launcher that runs the routine: its path and version.
#pragma once

#include <string>

#include "common/launcher_judgement.h"
#include "common/publisher_keys.h"
#include "common/version_info.h"

namespace kes {

// `valid` false (logged) when the path or the version cannot be read or it
// is not a launcher of the family.
struct RunningLauncher {
    bool valid = false;
    std::string path;
    std::string folder;
    LauncherVersionInfo info;
    PublisherKeys keys;  // the publisher keys its version resource pins, if any
};
RunningLauncher runningLauncher();

// The routine's self test: the running launcher's path as text, apart from
// case, before anything of a sibling is read.
inline SelfTest routineSelf(const std::string& selfPath) {
    return SelfTest{SelfTest::Rule::SamePath, selfPath, {}};
}

}  // namespace kes
