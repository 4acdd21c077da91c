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
#pragma once

namespace kes {

// True only when a newer launcher was started; false means "go on as yourself".
bool runSelfUpdateScan(int argc, const char* const* argv);

// The same for a launcher without argc/argv at hand: the skip flag is looked
// for among the process's own arguments, as CommandLineToArgvW splits them.
bool runSelfUpdateScan();

}  // namespace kes
