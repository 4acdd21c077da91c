// A game folder for the robustness tests: the start program, launchers of the
// family at 1.0.0.0 (L10.exe and the reference launcher Ref10.exe) and
// 1.2.0.0 (L12.exe), plus whatever a test adds. The expected outcomes are
// worked out from the files actually present, read by version_probe.exe in a
// process of its own (the platform's version library can fault on corrupted
// files), so that a corrupted file that still reads as a newer launcher of the
// family is expected to win.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kes::test {

struct ProbedVersion {
    bool valid = false;
    unsigned long long packed = 0;
    std::string launcherIdHex;  // "-" when empty
};

// Every *.exe of the folder, read by version_probe.exe. Files on which the
// reader faulted are left out of the map and listed in `faulted`.
std::map<std::string, ProbedVersion> probeFolder(const std::wstring& dir, std::set<std::string>& faulted);

struct HostileFolder {
    std::wstring dir;

    explicit HostileFolder(const std::wstring& folder);

    // Runs KestrelwoodStart.exe: it must exit by itself with 0 or 1 and start
    // the expected launcher.
    void checkStartProgram(const std::string& label) const;

    // Runs the reference launcher under the capture tool: it must count the
    // valid siblings of the family and hand over to the expected one.
    void checkSelfUpdate(const std::string& label) const;

    void clearRecords() const;
};

// The corpus files on which the platform's version library is known to fault
// (written by platform_crashes.py).
std::set<std::wstring> knownPlatformCrashes();

// The debug-output writes recorded by kes-debug-capture --framed.
std::vector<std::string> readFramedWrites(const std::wstring& path);

// Joins tag / message / line-feed triples into messages.
std::vector<std::string> logMessages(const std::vector<std::string>& writes);

}  // namespace kes::test
