// Self-update hand-over for launchers of the Kestrelwood family.
//
// Call runSelfUpdateScan first thing in the launcher, with main's argc/argv:
//
//     int main(int argc, char** argv) {
//         if (kes::runSelfUpdateScan(argc, argv)) {
//             return 0;  // a newer launcher beside this one has taken over
//         }
//         ... go on as this launcher ...
//     }
//
// A GUI launcher, entered through WinMain or wWinMain, calls it without
// arguments; it then reads the process's own command line:
//
//     int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
//         if (kes::runSelfUpdateScan()) {
//             return 0;
//         }
//         ...
//     }
//
// It looks in the launcher's own folder for a launcher of the same family
// (KesLauncherID in the 040904E4 version strings) with a strictly higher file
// version, starts it with this process's arguments plus a trailing
// "--no-self-update-scan", and returns true once that process exists. A
// launcher started that way skips the scan, so a hand-over goes one step only.
// Every decision is written as one line to the debugger output, tagged
// "[keslauncher][selfupdate] ".
//
// The rest of an update: landUpdate puts a complete download into the folder,
// pruneLaunchers clears out old launchers, joinStartIdentity shares the start
// program's taskbar identity. They return the codes of kes_selfupdate.h
// (1 or a count on success, a negative KES_ERROR_ code otherwise), and follow
// its rules, described there in full.
#pragma once

#include <cstdint>
#include <string>

#include "kestrelwood/kes_selfupdate.h"

namespace kes {

// True only when a newer launcher was started; false means "go on as yourself".
bool runSelfUpdateScan(int argc, const char* const* argv);

// The same for a launcher without argc/argv at hand: the skip flag is looked
// for among the process's own arguments, as CommandLineToArgvW splits them.
bool runSelfUpdateScan();

// Lands the download at downloadedPath (UTF-8) in this launcher's folder under
// fileName; 1 once a file of exactly those bytes lies there under that name.
// Retries files in use until retryMs has passed (0: one try).
std::int32_t landUpdate(const std::string& downloadedPath, const std::string& fileName, std::uint32_t retryMs);

// Removes launchers of the family older than the newest `keep` (at least 2)
// and staging leftovers; this launcher always stays. How many were removed.
std::int32_t pruneLaunchers(std::uint32_t keep);

// The start program's identity for this folder, given to this process. Call
// it before any window is shown.
std::int32_t joinStartIdentity();

}  // namespace kes
