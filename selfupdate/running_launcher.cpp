#include "running_launcher.h"

#include "common/launcher_family.h"
#include "common/sibling_executables.h"
#include "debug_log.h"

namespace kes {

RunningLauncher runningLauncher() {
    RunningLauncher self;
    self.path = getSelfPath();
    if (self.path.empty()) {
        debugLog("getSelfPath failed");
        return self;
    }
    self.folder = parentDirectory(self.path);
    // One read of the version block, from the loaded image, for the version
    // and the pinned keys: the file at the path may have been replaced.
    const OwnVersionBlock own = readOwnVersionBlock();
    const VersionBlock& block = own.block;
    self.info = launcherVersionInfoOf(block);
    if (!self.info.valid || !isLauncherFamilyId(self.info.launcherId)) {
        debugLog("self is not a launcher of the family (no valid version resource with " KES_LAUNCHER_ID_KEY ")");
        return self;
    }
    self.keys = publisherKeysOf(block);
    self.valid = true;
    return self;
}

}  // namespace kes
