#include "launcher_judgement.h"

#include "common/launcher_family.h"
#include "common/machine_support.h"
#include "common/sibling_executables.h"
#include "debug_log.h"

namespace kes {

JudgedFile judgeLauncher(const std::string& path) {
    JudgedFile judged;
    judged.layout = checkExecutableLayout(path);
    if (judged.layout.verdict == LayoutVerdict::Unreadable) {
        judged.judgement = Judgement::Unreadable;
        return judged;
    }
    if (judged.layout.verdict != LayoutVerdict::Readable) {
        judged.judgement = Judgement::Damaged;
        return judged;
    }
    if (!machineRunsHere(judged.layout)) {
        judged.judgement = Judgement::OtherMachine;
        return judged;
    }
    judged.info = readLauncherVersionInfo(path);
    judged.judgement = judged.info.valid && isLauncherFamilyId(judged.info.launcherId) ? Judgement::Launcher
                                                                                       : Judgement::OtherFamily;
    return judged;
}

RunningLauncher runningLauncher() {
    RunningLauncher self;
    self.path = getSelfPath();
    if (self.path.empty()) {
        debugLog("getSelfPath failed");
        return self;
    }
    self.folder = parentDirectory(self.path);
    self.info = readLauncherVersionInfo(self.path);
    if (!self.info.valid || !isLauncherFamilyId(self.info.launcherId)) {
        debugLog("self is not a launcher of the family (no valid version resource with " KES_LAUNCHER_ID_KEY ")");
        return self;
    }
    self.valid = true;
    return self;
}

}  // namespace kes
