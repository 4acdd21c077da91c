#include <cstdio>

#include "common/version_info.h"

namespace kes {

// Apart from the version reader: the start program never shows a version, and
// does not carry printf.
std::string versionText(const LauncherVersionInfo& info) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", info.major, info.minor, info.build, info.revision);
    return text;
}

}  // namespace kes
