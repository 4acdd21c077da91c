// The landing and the pruning, run by a launcher of the family (the lifecycle
// probe) in a fresh folder, judged by what lies in the folder afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "common/win_owners.h"
#include "support/test_support.h"

namespace kes::test {
namespace {

using Names = std::set<std::wstring>;

Names namesMatching(const std::wstring& folder, const wchar_t* pattern) {
    Names names;
    WIN32_FIND_DATAW entry;
    const UniqueFind search = makeUniqueFind(FindFirstFileW((folder + L"\\" + pattern).c_str(), &entry));
    for (bool more = search != nullptr; more; more = FindNextFileW(search.get(), &entry)) {
        names.insert(entry.cFileName);
    }
    return names;
}

// Runs the probe placed in the folder under the capture tool; its printed
// "result" code, with its log lines and output.
int runProbe(const std::wstring& probe, const std::wstring& arguments, std::string& output,
             const std::wstring& captureOptions = L"") {
    const std::wstring out = probe + L".out";
    const std::wstring capture = builtExe(L"kes-debug-capture");
    const ProcessResult run = runProcess(
        capture, L"\"" + capture + L"\" " + captureOptions + L"\"" + probe + L"\" " + arguments, L"", 60000, nullptr, out);
    output = readFileBytes(out);
    DeleteFileW(out.c_str());
    EXPECT_TRUE(run.exited && run.exitCode == 0) << describe(run) << output;
    const std::size_t at = output.rfind("result ");
    return at == std::string::npos ? 1000 : std::atoi(output.c_str() + at + 7);
}

// Holds a file open for reading without delete sharing, as a scanner does,
// until the event `letGo` is set (by the capture tool, when the landing says
// that it found the file in use), or until it is destroyed: a release after a
// time would race the start of a program under load.
struct HeldFile {
    UniqueHandle handle;
    UniqueHandle letGo;
    std::thread release;
    HeldFile(const std::wstring& path, const wchar_t* eventName)
        : handle(makeUniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr))),
          letGo(CreateEventW(nullptr, TRUE, FALSE, eventName)),
          release([this] {
              WaitForSingleObject(letGo.get(), INFINITE);
              handle.reset();
          }) {}
    ~HeldFile() {
        SetEvent(letGo.get());
        release.join();
    }
};

std::string withMachine(std::string bytes, unsigned short machine) {
    const std::size_t pe = *reinterpret_cast<const unsigned*>(bytes.data() + 0x3C);
    std::memcpy(bytes.data() + pe + 4, &machine, sizeof machine);
    return bytes;
}

// Which copy of the routine the probe runs: the static library, or the
// shipped DLL for x64 or x86 beside it; or the static library in a launcher
// that pins the studio's publisher key.
enum class Copy { Static, Dll, Dll32, Pinned };

// The probe at `version` ("1_2_0_0"), placed under `name` with what it needs.
std::wstring placeProbe(const ScratchFolder& game, Copy copy, const std::wstring& version, const wchar_t* name) {
    if (copy == Copy::Static || copy == Copy::Pinned) {
        return game.place({((copy == Copy::Pinned ? L"lifecycle_probe_pinned_" : L"lifecycle_probe_") + version).c_str(),
                           name});
    }
    const bool x86 = copy == Copy::Dll32;
    copyFileOrFail(binDir() + (x86 ? L"\\..\\x86\\bin" : L"") + L"\\kes_selfupdate.dll",
                   game.dir + L"\\kes_selfupdate.dll");
    return game.place({((x86 ? L"lifecycle_probe32_dll_" : L"lifecycle_probe_dll_") + version).c_str(), name});
}

// Whether this machine can run the row's copy; a 32-bit one needs a kernel
// that executes 32-bit programs.
bool runsHere(Copy copy) {
    return copy != Copy::Dll32 || hostRuns32BitPrograms();
}

constexpr wchar_t kRunning[] = L"KestrelwoodLauncher-1.2.exe";
constexpr wchar_t kStart[] = L"KestrelwoodStart.exe";
constexpr wchar_t kLanded[] = L"KestrelwoodLauncher-2.0.exe";
constexpr int kBusy = -11;

enum class Download {
    Good, CutShort, OtherFamily, Older, Equal, OtherMachine, NotAnImage, NotAProgram, OnZ, Signed, SignedByOther,
    SignedNotPinning, MixedSigner
};
enum class Before { Nothing, SameBytesThere, OtherBytesThere, StaleStaging, StaleStagingHeld };

struct LandingRow {
    const char* name;
    Download download;
    const wchar_t* fileName;
    Before before;
    unsigned retryMs;
    const wchar_t* extra;  // more arguments to the probe
    int code;
    bool lands;  // kLanded holds the download's bytes afterwards
    Copy copy = Copy::Static;
};

void PrintTo(const LandingRow& row, std::ostream* os) { *os << row.name; }

class Landing : public ::testing::TestWithParam<LandingRow> {};

TEST_P(Landing, LeavesTheFolderWhole) {
    const LandingRow& row = GetParam();
    if (!runsHere(row.copy)) {
        GTEST_SKIP() << "this kernel does not execute 32-bit programs, so Wine starts no 32-bit launcher";
    }
    ScratchFolder game(L"game");
    const std::wstring downloads = game.dir + L"\\..\\downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    const std::wstring probe = placeProbe(game, row.copy, L"1_2_0_0", kRunning);
    game.place({L"KestrelwoodStart", kStart});

    const std::string good = readFileBytes(builtExe(L"fx_family_2_0_0_0"));
    std::string bytes = good;
    std::wstring download = downloads + L"\\download.bin";
    switch (row.download) {
        case Download::Good: break;
        case Download::CutShort: bytes.resize(bytes.size() - 700); break;
        case Download::OtherFamily: bytes = readFileBytes(builtExe(L"fx_other_family")); break;
        case Download::Older: bytes = readFileBytes(builtExe(L"fx_family_1_0_0_0")); break;
        case Download::Equal: bytes = readFileBytes(builtExe(L"fx_family_1_2_0_0")); break;
        case Download::OtherMachine: bytes = withMachine(bytes, IMAGE_FILE_MACHINE_ARM64); break;
        case Download::NotAnImage: bytes = "a launcher, it said\r\n"; break;
        case Download::NotAProgram: bytes = readFileBytes(binDir() + L"\\fx_family_dll.dll"); break;
        case Download::Signed: bytes = readFileBytes(builtExe(L"fx_signed_2_0_0_0")); break;
        case Download::SignedByOther: bytes = readFileBytes(builtExe(L"fx_signed_other_4_0_0_0")); break;
        case Download::SignedNotPinning: bytes = readFileBytes(builtExe(L"fx_signed_unpinning_5_0_0_0")); break;
        case Download::MixedSigner: bytes = readFileBytes(builtExe(L"fx_mixed_signer_5_0_0_0")); break;
        case Download::OnZ: download = builtExe(L"fx_family_2_0_0_0"); break;
    }
    if (row.download != Download::OnZ) {
        writeFileOrFail(download, bytes);
    }
    const std::wstring target = game.dir + L"\\" + kLanded;
    const std::wstring staging = target + L".kes-landing";
    if (row.before == Before::SameBytesThere) {
        writeFileOrFail(target, good);
    } else if (row.before == Before::OtherBytesThere) {
        writeFileOrFail(target, readFileBytes(builtExe(L"fx_family_2_1_0_0")));
    } else if (row.before != Before::Nothing) {
        writeFileOrFail(staging, good.substr(0, 4096));
    }
    const Names exesBefore = namesMatching(game.dir, L"*.exe");
    const std::string otherBytesBefore = readFileBytes(target);

    std::string output;
    int code = 0;
    {
        // Held through the landing's first refusal: let go then when it
        // has time enough to try again, else only once it has ended.
        const std::wstring letGo = L"KesHeldStaging-" + std::to_wstring(GetCurrentProcessId());
        std::optional<HeldFile> held;
        if (row.before == Before::StaleStagingHeld) {
            held.emplace(staging, letGo.c_str());
            ASSERT_TRUE(held->handle && held->letGo) << GetLastError();
        }
        const bool letGoAtRefusal = held && row.code != kBusy;
        code = runProbe(probe,
                        L"land \"" + download + L"\" \"" + row.fileName + L"\" " + std::to_wstring(row.retryMs) + L" " +
                            row.extra,
                        output, letGoAtRefusal ? L"--set-when \"file in use\" " + letGo + L" " : L"");
    }
    EXPECT_EQ(code, row.code) << output;

    Names expected = exesBefore;
    if (row.lands) {
        expected.insert(kLanded);
        EXPECT_TRUE(readFileBytes(target) == (row.download == Download::OnZ ? good : bytes))
            << "the landed file holds other bytes";
    } else if (row.before == Before::OtherBytesThere) {
        EXPECT_TRUE(readFileBytes(target) == otherBytesBefore) << "a launcher of that name was changed";
    }
    if (std::wstring(row.extra) == L"--name-taken-during-copy") {
        expected.insert(kLanded);
        EXPECT_EQ(readFileBytes(target), "taken") << "the landing replaced a file";
    }
    EXPECT_EQ(namesMatching(game.dir, L"*.exe"), expected) << output;
    // A staging file stays only where another program held it all along.
    const bool heldThroughout = row.before == Before::StaleStagingHeld && row.code == kBusy;
    EXPECT_EQ(fileExists(staging), heldThroughout) << output;
    EXPECT_TRUE(readFileBytes(download) == (row.download == Download::OnZ ? good : bytes)) << "the download was changed";
}

INSTANTIATE_TEST_SUITE_P(
    LifeCycle, Landing,
    ::testing::Values(
        LandingRow{"good", Download::Good, kLanded, Before::Nothing, 0, L"", 1, true},
        LandingRow{"good, through the x64 DLL", Download::Good, kLanded, Before::Nothing, 0, L"", 1, true, Copy::Dll},
        LandingRow{"good, through the x86 DLL", Download::Good, kLanded, Before::Nothing, 0, L"", 1, true,
                   Copy::Dll32},
        LandingRow{"download on another drive", Download::OnZ, kLanded, Before::Nothing, 0, L"", 1, true},
        LandingRow{"cut short after its resources", Download::CutShort, kLanded, Before::Nothing, 0, L"", -4, false},
        LandingRow{"another family", Download::OtherFamily, kLanded, Before::Nothing, 0, L"", -7, false},
        LandingRow{"older", Download::Older, kLanded, Before::Nothing, 0, L"", -8, false},
        LandingRow{"equal", Download::Equal, kLanded, Before::Nothing, 0, L"", -8, false},
        LandingRow{"machine this computer cannot run", Download::OtherMachine, kLanded, Before::Nothing, 0, L"", -6,
                   false},
        LandingRow{"not an image", Download::NotAnImage, kLanded, Before::Nothing, 0, L"", -5, false},
        LandingRow{"signed with the pinned key", Download::Signed, kLanded, Before::Nothing, 0, L"", 1, true,
                   Copy::Pinned},
        LandingRow{"unsigned, the key pinned", Download::Good, kLanded, Before::Nothing, 0, L"", -16, false,
                   Copy::Pinned},
        LandingRow{"signed with another key, the key pinned", Download::SignedByOther, kLanded, Before::Nothing, 0,
                   L"", -16, false, Copy::Pinned},
        // Trust carries over only to a download that pins the key itself, and
        // every link of its signature holds.
        LandingRow{"signed with the key but pinning nothing", Download::SignedNotPinning, kLanded, Before::Nothing,
                   0, L"", -16, false, Copy::Pinned},
        LandingRow{"the signer's parts from another file", Download::MixedSigner, kLanded, Before::Nothing, 0, L"",
                   -16, false, Copy::Pinned},
        LandingRow{"a DLL, through the x86 DLL", Download::NotAProgram, kLanded, Before::Nothing, 0, L"", -15, false,
                   Copy::Dll32},
        LandingRow{"name taken with the same bytes", Download::Good, kLanded, Before::SameBytesThere, 0, L"", 1, true},
        LandingRow{"name taken with other bytes", Download::Good, kLanded, Before::OtherBytesThere, 0, L"", -10,
                   false},
        LandingRow{"name taken in another case", Download::Good, L"kestrelwoodlauncher-2.0.EXE",
                   Before::OtherBytesThere, 0, L"", -10, false},
        LandingRow{"name with a backslash", Download::Good, L"sub\\KestrelwoodLauncher-2.0.exe", Before::Nothing, 0,
                   L"", -9, false},
        LandingRow{"name with a slash", Download::Good, L"../KestrelwoodLauncher-2.0.exe", Before::Nothing, 0, L"",
                   -9, false},
        LandingRow{"name with a drive colon", Download::Good, L"C:KestrelwoodLauncher-2.0.exe", Before::Nothing, 0,
                   L"", -9, false},
        LandingRow{"name with a stream colon", Download::Good, L"KestrelwoodLauncher-2.0.exe:x.exe", Before::Nothing,
                   0, L"", -9, false},
        LandingRow{"reserved device name", Download::Good, L"con.exe", Before::Nothing, 0, L"", -9, false},
        LandingRow{"reserved device name with a blank", Download::Good, L"COM1 .exe", Before::Nothing, 0, L"", -9,
                   false},
        LandingRow{"reserved device name with superscript", Download::Good, L"LPT\u00B9.exe", Before::Nothing, 0,
                   L"", -9, false},
        LandingRow{"no .exe", Download::Good, L"KestrelwoodLauncher-2.0", Before::Nothing, 0, L"", -9, false},
        LandingRow{"exe with a trailing dot", Download::Good, L"KestrelwoodLauncher-2.0.exe.", Before::Nothing, 0,
                   L"", -9, false},
        LandingRow{"exe with a trailing blank", Download::Good, L"KestrelwoodLauncher-2.0.exe ", Before::Nothing, 0,
                   L"", -9, false},
        LandingRow{"only the extension", Download::Good, L".exe", Before::Nothing, 0, L"", -9, false},
        LandingRow{"the start program's name", Download::Good, L"kestrelwoodSTART.exe", Before::Nothing, 0, L"", -9,
                   false},
        LandingRow{"stale staging file", Download::Good, kLanded, Before::StaleStaging, 0, L"", 1, true},
        LandingRow{"stale staging file held, time enough", Download::Good, kLanded, Before::StaleStagingHeld, 15000,
                   L"", 1, true},
        LandingRow{"stale staging file held, time too short", Download::Good, kLanded, Before::StaleStagingHeld, 300,
                   L"", kBusy, false},
        LandingRow{"name taken while the copy runs", Download::Good, kLanded, Before::Nothing, 0,
                   L"--name-taken-during-copy", -10, false},
        LandingRow{"staged copy differs from the download", Download::Good, kLanded, Before::Nothing, 0,
                   L"--cut-staged-copy", -13, false},
        // From its judgement to the end of the copy, the download is held
        // against writers; from its creation to its rename, the staging file
        // is the landing's alone: another writer, renamer or deleter is
        // refused, and what lands is what was judged.
        LandingRow{"download or staging file written, renamed or deleted by another", Download::Signed, kLanded,
                   Before::Nothing, 0, L"--tamper-during-copy", 1, true, Copy::Pinned}),
    RowName());

// Launchers 1.0 to 5.0 with the running 3.0 among them, beside files that are
// not intact launchers of the family (the start program, another family, a
// cut copy, a DLL of the family).
struct PruningRow {
    const char* name;
    unsigned keep;
    bool holdTwo;  // another process holds 2.0 open without delete sharing
    int removed;
    Names remaining;
    Copy copy = Copy::Static;
};

void PrintTo(const PruningRow& row, std::ostream* os) { *os << row.name; }

class Pruning : public ::testing::TestWithParam<PruningRow> {};

const Names kNeverPruned = {L"KestrelwoodStart.exe", L"Other.exe", L"L-6.0-cut.exe", L"L-50.0-dll.exe"};

Names plus(Names names, std::initializer_list<const wchar_t*> more) {
    names.insert(more.begin(), more.end());
    return names;
}

TEST_P(Pruning, KeepsWhatItMust) {
    const PruningRow& row = GetParam();
    if (!runsHere(row.copy)) {
        GTEST_SKIP() << "this kernel does not execute 32-bit programs, so Wine starts no 32-bit launcher";
    }
    ScratchFolder game(L"game");
    for (const Placed& p : {Placed{L"fx_family_1_0_0_0", L"L-1.0.exe"}, Placed{L"fx_family_2_0_0_0", L"L-2.0.exe"},
                            Placed{L"fx_family_4_0_0_0", L"L-4.0.exe"}, Placed{L"fx_family_5_0_0_0", L"L-5.0.exe"},
                            Placed{L"KestrelwoodStart", L"KestrelwoodStart.exe"},
                            Placed{L"fx_other_family", L"Other.exe"}}) {
        game.place(p);
    }
    const std::wstring probe = placeProbe(game, row.copy, L"3_0_0_0", L"L-3.0.exe");
    const std::string newest = readFileBytes(builtExe(L"fx_family_10_0_0_0"));
    writeFileOrFail(game.dir + L"\\L-6.0-cut.exe", newest.substr(0, newest.size() - 700));
    // Of the family and newest of all, but a DLL: neither a launcher to keep
    // nor one to remove.
    copyFileOrFail(binDir() + L"\\fx_family_dll.dll", game.dir + L"\\L-50.0-dll.exe");
    writeFileOrFail(game.dir + L"\\L-7.0.exe.kes-landing", newest.substr(0, 4096));

    std::string output;
    int removed = 0;
    {
        std::optional<HeldFile> held;
        if (row.holdTwo) {
            held.emplace(game.dir + L"\\L-2.0.exe", nullptr);
        }
        removed = runProbe(probe, L"prune " + std::to_wstring(row.keep), output);
    }
    EXPECT_EQ(removed, row.removed) << output;
    // The running launcher is never even tried: a delete refused because it
    // runs would hide it on this platform.
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("L-3.0.exe") != std::string::npos) {
            EXPECT_NE(line.find("the running launcher"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(namesMatching(game.dir, L"*.exe"), row.remaining) << output;
    EXPECT_TRUE(namesMatching(game.dir, L"*.kes-landing").empty()) << output;
}

INSTANTIATE_TEST_SUITE_P(
    LifeCycle, Pruning,
    ::testing::Values(
        PruningRow{"keep 2", 2, false, 3, plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe"})},
        PruningRow{"keep 0 counts as 2", 0, false, 3, plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe"})},
        PruningRow{"keep 2, through the x86 DLL", 2, false, 3,
                   plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe"}), Copy::Dll32},
        PruningRow{"keep 4, through the x64 DLL", 4, false, 2,
                   plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe", L"L-2.0.exe"}), Copy::Dll},
        PruningRow{"keep 4", 4, false, 2,
                   plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe", L"L-2.0.exe"})},
        PruningRow{"2.0 held open", 2, true, 2,
                   plus(kNeverPruned, {L"L-5.0.exe", L"L-4.0.exe", L"L-3.0.exe", L"L-2.0.exe"})}),
    RowName());

}  // namespace
}  // namespace kes::test
