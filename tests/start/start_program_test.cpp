// End-to-end tests of the real KestrelwoodStart.exe: each test lays out a game
// folder with fixture launchers that record how they were started, runs the
// program there, and checks what a player would get.
#include <gtest/gtest.h>

#include <ostream>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <tlhelp32.h>

#include "common/command_line.h"
#include "common/win_owners.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

// A scratch folder with the start program in it.
struct GameFolder : ScratchFolder {
    std::wstring start = place({L"KestrelwoodStart", L"KestrelwoodStart.exe"});

    explicit GameFolder(const std::wstring& leaf = L"") : ScratchFolder(leaf) {}

    ProcessResult run(const std::wstring& argumentsTail = L"", const std::wstring& cwd = L"") const {
        std::wstring commandLine = L"\"" + start + L"\"";
        if (!argumentsTail.empty()) {
            commandLine += L" " + argumentsTail;
        }
        return runStartProgram(start, commandLine, cwd.empty() ? dir : cwd);
    }
};

bool anyStart(const std::vector<std::wstring>& started) {
    return !started.empty();
}

// Nothing qualifies: exit code 1, and no launcher ran.
struct NotFoundCase {
    const char* name;
    std::vector<Placed> files;
    const wchar_t* start = L"KestrelwoodStart";  // the start program as built, or a variant that pins keys
};

void PrintTo(const NotFoundCase& row, std::ostream* os) { *os << row.name; }

class StartFindsNothing : public ::testing::TestWithParam<NotFoundCase> {};

TEST_P(StartFindsNothing, ExitsWithOneAndStartsNothing) {
    GameFolder game;
    writeFileOrFail(game.start, readFileBytes(builtExe(GetParam().start)));
    for (const Placed& p : GetParam().files) {
        game.place(p);
    }
    writeFileOrFail(game.dir + L"\\readme.exe", "not a program");
    const ProcessResult result = game.run();
    ASSERT_TRUE(result.exited) << describe(result);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(waitForStarts(game.dir, anyStart, 300), std::vector<std::wstring>{});
    // The inspector agrees: no launcher.
    const Inspection inspection = inspectFolder(game.dir);
    EXPECT_EQ(inspection.run.exitCode, 1u) << inspection.json;
    EXPECT_EQ(narrow(inspection.chosen), "") << inspection.json;
}

INSTANTIATE_TEST_SUITE_P(
    StartProgram, StartFindsNothing,
    ::testing::Values(
        NotFoundCase{"Alone", {}},
        NotFoundCase{"OnlyOtherFamily", {{L"fx_other_family", L"Other.exe"}}},
        NotFoundCase{"NoVersionResource", {{L"fx_no_version", L"Plain.exe"}}},
        NotFoundCase{"LowerCaseIdentifier", {{L"fx_id_lowercase", L"Lower.exe"}}},
        NotFoundCase{"BracedIdentifier", {{L"fx_id_braced", L"Braced.exe"}}},
        NotFoundCase{"IdentifierWithTwoNuls", {{L"fx_id_two_nuls", L"TwoNuls.exe"}}},
        NotFoundCase{"OtherCodePage", {{L"fx_id_codepage_04b0", L"Unicode.exe"}}},
        NotFoundCase{"KeyAbsent", {{L"fx_id_absent", L"NoKey.exe"}}},
        NotFoundCase{"FixedRecordTooShort", {{L"fx_fixed_short", L"Short.exe"}}},
        NotFoundCase{"IdentifierLengthLies", {{L"fx_id_length_lies", L"Lies.exe"}}},
        NotFoundCase{"CopyOfTheStartProgram", {{L"KestrelwoodStart", L"Copy of KestrelwoodStart.exe"}}},
        // Pinned to the studio's key: unsigned, signed by another key, or
        // changed after signing, no launcher passes; a list without a valid
        // digest lets none pass.
        // Nor does one whose signature has any link broken (its code
        // changed, its signature value changed, its signer's parts taken
        // from another file, another file's whole signature), nor one signed
        // with the key that does not pin it (nothing, or only another key),
        // nor one signed by another key that carries the studio's
        // certificate.
        NotFoundCase{"PinnedAndNoneSignedWithTheKey",
                     {{L"fx_family_5_0_0_0", L"L50.exe"},
                      {L"fx_signed_other_4_0_0_0", L"L40.exe"},
                      {L"fx_signed_5_0_0_0_changed", L"L55.exe"},
                      {L"fx_bad_signature_5_0_0_0", L"L56.exe"},
                      {L"fx_mixed_signer_5_0_0_0", L"L57.exe"},
                      {L"fx_signed_unpinning_5_0_0_0", L"L58.exe"},
                      {L"fx_signed_pins_other_5_0_0_0", L"L59.exe"},
                      {L"fx_grafted_signature_5_0_0_0", L"L60.exe"},
                      {L"fx_carries_studio_cert_5_0_0_0", L"L61.exe"}},
                     L"KestrelwoodStart_pinned"},
        NotFoundCase{"PinnedToNoValidDigest", {{L"fx_signed_2_0_0_0", L"L20.exe"}}, L"KestrelwoodStart_pinned_to_nothing"},
        NotFoundCase{"AllOfThem",
                     {{L"fx_other_family", L"Other.exe"},
                      {L"fx_no_version", L"Plain.exe"},
                      {L"fx_id_lowercase", L"Lower.exe"},
                      {L"fx_id_two_nuls", L"TwoNuls.exe"},
                      {L"fx_id_codepage_04b0", L"Unicode.exe"},
                      {L"fx_id_absent", L"NoKey.exe"}}}),
    RowName());

// Which launcher is chosen. Files are placed in the order given; each case
// that depends on the tie-break also appears with the order reversed.
struct ChoiceCase {
    const char* name;
    std::vector<Placed> files;
    const wchar_t* winner;
    const wchar_t* start = L"KestrelwoodStart";  // the start program as built, or a variant that pins keys
};

void PrintTo(const ChoiceCase& row, std::ostream* os) { *os << row.name; }

class StartChooses : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(StartChooses, NewestLauncherOfTheFamily) {
    GameFolder game;
    writeFileOrFail(game.start, readFileBytes(builtExe(GetParam().start)));
    for (const Placed& p : GetParam().files) {
        if (std::wstring(p.name) == GetParam().winner && std::wstring(p.fixture).rfind(L"fx32_", 0) == 0 &&
            !hostRuns32BitPrograms()) {
            GTEST_SKIP() << "this kernel does not execute 32-bit programs, so Wine starts no 32-bit launcher";
        }
        game.place(p);
    }
    ASSERT_TRUE(CreateDirectoryW((game.dir + L"\\old.exe").c_str(), nullptr));
    const ProcessResult result = game.run();
    ASSERT_TRUE(result.exited) << describe(result);
    EXPECT_EQ(result.exitCode, 0u);
    const std::wstring winner = game.dir + L"\\" + GetParam().winner;
    const auto record = waitForLaunchRecord(winner);
    ASSERT_TRUE(record.has_value()) << "expected " << narrow(winner) << " to start";
    EXPECT_EQ(record->selfPath, winner);
    EXPECT_EQ(waitForStarts(game.dir, [](const auto& started) { return started.size() > 1; }, 200),
              std::vector<std::wstring>{GetParam().winner});
    // The inspector names the same launcher.
    const Inspection inspection = inspectFolder(game.dir);
    EXPECT_EQ(inspection.run.exitCode, 0u) << inspection.json;
    EXPECT_EQ(narrow(inspection.chosen), narrow(winner)) << inspection.json;
}

INSTANTIATE_TEST_SUITE_P(
    StartProgram, StartChooses,
    ::testing::Values(
        // Pinned to the studio's key, the newest launcher signed with it wins
        // over newer ones that are unsigned, signed by another key, or
        // changed after signing; without pinning the newest wins whatever
        // its signature.
        ChoiceCase{"PinnedNewestSignedWithTheKey",
                   {{L"fx_family_5_0_0_0", L"L50.exe"},
                    {L"fx_signed_other_4_0_0_0", L"L40.exe"},
                    {L"fx_signed_2_0_0_0", L"L20.exe"},
                    {L"fx_signed_5_0_0_0_changed", L"L55.exe"},
                    {L"fx_mixed_signer_5_0_0_0", L"L57.exe"},
                    {L"fx_signed_unpinning_5_0_0_0", L"L58.exe"},
                    {L"fx_family_1_0_0_0", L"L10.exe"}},
                   L"L20.exe", L"KestrelwoodStart_pinned"},
        // Its keys are read from its own image, whatever the size of its
        // version resource: a read by path refuses one this large.
        ChoiceCase{"PinnedWithAVersionResourcePastTheBound",
                   {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_signed_2_0_0_0", L"L20.exe"}}, L"L20.exe",
                   L"KestrelwoodStart_pinned_padded"},
        ChoiceCase{"UnpinnedNewestWhateverItsSignature",
                   {{L"fx_signed_2_0_0_0", L"L20.exe"}, {L"fx_family_5_0_0_0", L"L50.exe"}},
                   L"L50.exe"},
        // Versions compare as numbers, part by part.
        ChoiceCase{"TenOverTwo", {{L"fx_family_2_0_0_0", L"L2.exe"}, {L"fx_family_10_0_0_0", L"L10.exe"}}, L"L10.exe"},
        ChoiceCase{"MinorOverBuildAndRevision",
                   {{L"fx_family_1_1_65535_65535", L"Older.exe"}, {L"fx_family_1_2_0_0", L"New.exe"}}, L"New.exe"},
        ChoiceCase{"HighestOfMany",
                   {{L"fx_family_1_0_0_0", L"A.exe"},
                    {L"fx_family_65535_65535_65535_65535", L"Max.exe"},
                    {L"fx_family_2_1_0_0", L"B.exe"},
                    {L"fx_other_family", L"Other.exe"}},
                   L"Max.exe"},
        // Equal versions: the smaller UTF-16 path wins, whatever the listing order.
        ChoiceCase{"TieLowerNameFirst",
                   {{L"fx_family_2_0_0_0", L"Launcher_a.exe"}, {L"fx_family_2_0_0_0", L"Launcher_b.exe"}},
                   L"Launcher_a.exe"},
        ChoiceCase{"TieLowerNameSecond",
                   {{L"fx_family_2_0_0_0", L"Launcher_b.exe"}, {L"fx_family_2_0_0_0", L"Launcher_a.exe"}},
                   L"Launcher_a.exe"},
        ChoiceCase{"TieUpperCaseBeforeLower", {{L"fx_family_2_0_0_0", L"a.exe"}, {L"fx_family_2_0_0_0", L"Z.exe"}},
                   L"Z.exe"},
        ChoiceCase{"TiePrefixFirst", {{L"fx_family_2_0_0_0", L"a.exe.exe"}, {L"fx_family_2_0_0_0", L"a.exe"}},
                   L"a.exe"},
        // 32-bit launchers (PE32) are read as the 64-bit ones are.
        ChoiceCase{"ThirtyTwoBitNewest",
                   {{L"fx_family_2_1_0_0", L"L21.exe"}, {L"fx32_family_3_0_0_0", L"L30_32.exe"}}, L"L30_32.exe"},
        ChoiceCase{"ThirtyTwoBitOlder",
                   {{L"fx32_family_2_5_0_0", L"L25_32.exe"}, {L"fx_family_10_0_0_0", L"L10.exe"}}, L"L10.exe"},
        // A whole, newer launcher built for a machine this computer cannot run
        // (Wine runs x64 and x86 programs) loses to one that runs here.
        ChoiceCase{"NewerArm64Loses",
                   {{L"corpus\\441_crafted_machine_arm64", L"Launcher-2.0-arm64.exe"},
                    {L"fx_family_1_0_0_0", L"Launcher-1.0.exe"}},
                   L"Launcher-1.0.exe"},
        ChoiceCase{"NewerArmLoses",
                   {{L"fx_family_1_0_0_0", L"Launcher-1.0.exe"},
                    {L"corpus\\442_crafted_machine_arm", L"Launcher-2.0-arm.exe"}},
                   L"Launcher-1.0.exe"},
        ChoiceCase{"NewerUnknownMachineLoses",
                   {{L"corpus\\443_crafted_machine_unknown", L"Launcher-2.0-other.exe"},
                    {L"corpus\\444_crafted_machine_none", L"Launcher-2.0-none.exe"},
                    {L"fx_family_1_0_0_0", L"Launcher-1.0.exe"}},
                   L"Launcher-1.0.exe"},
        // A single launcher at 0.0.0.0 is still a launcher.
        ChoiceCase{"SingleZeroVersion", {{L"fx_family_0_0_0_0", L"Zero.exe"}}, L"Zero.exe"},
        // One stored NUL or none: the same identifier.
        ChoiceCase{"IdentifierWithoutNul", {{L"fx_family_2_0_0_0", L"L2.exe"}, {L"fx_id_no_nul", L"L3.exe"}},
                   L"L3.exe"},
        // Broken or foreign files beside a real launcher change nothing.
        ChoiceCase{"IgnoresNonLaunchers",
                   {{L"fx_id_two_nuls", L"TwoNuls.exe"},
                    {L"fx_id_length_lies", L"Lies.exe"},
                    {L"fx_fixed_short", L"Short.exe"},
                    {L"fx_id_codepage_04b0", L"Unicode.exe"},
                    {L"KestrelwoodStart", L"KestrelwoodStart_copy.exe"},
                    {L"fx_family_1_0_0_0", L"Launcher.exe"}},
                   L"Launcher.exe"}),
    RowName());

TEST(StartProgram, WorksFromAFolderWithBlanksAndCharactersOutsideAscii) {
    GameFolder game(L"Spi\x00EBle Kestrel \x4E2D\xD83D\xDE00");
    game.place({L"fx_family_1_0_0_0", L"L\x00E4uncher 1.exe"});
    game.place({L"fx_family_1_2_0_0", L"L\x00E4uncher \xD83D\xDE00.exe"});
    const ProcessResult result = game.run(L"\"x y\"");
    ASSERT_TRUE(result.exited) << describe(result);
    EXPECT_EQ(result.exitCode, 0u);
    const std::wstring winner = game.dir + L"\\L\x00E4uncher \xD83D\xDE00.exe";
    const auto record = waitForLaunchRecord(winner);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->commandLine, quoteCommandLineArg(winner) + L" \"x y\"");
}

// Arguments: whatever the start program receives reaches the launcher
// unchanged once the launcher splits its command line, and the raw command
// line is the quoted launcher path followed by each argument, quoted, after
// one blank.
struct ArgumentsCase {
    const char* name;
    std::wstring tail;  // what follows the start program's own quoted path
};

void PrintTo(const ArgumentsCase& row, std::ostream* os) { *os << row.name; }

class StartForwards : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(StartForwards, EveryArgumentUnchanged) {
    GameFolder game;
    game.place({L"fx_family_1_0_0_0", L"Launcher.exe"});
    const ProcessResult result = game.run(GetParam().tail);
    ASSERT_TRUE(result.exited) << describe(result);
    ASSERT_EQ(result.exitCode, 0u);
    const std::wstring launcher = game.dir + L"\\Launcher.exe";
    const auto record = waitForLaunchRecord(launcher);
    ASSERT_TRUE(record.has_value());

    // What the start program itself received, split by the platform's rules.
    const std::wstring startLine = L"\"" + game.start + L"\"" + (GetParam().tail.empty() ? L"" : L" " + GetParam().tail);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(startLine.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    std::vector<std::wstring> received(argv + 1, argv + argc);
    LocalFree(argv);

    std::wstring expectedLine = quoteCommandLineArg(launcher);
    for (const std::wstring& arg : received) {
        expectedLine += L" " + quoteCommandLineArg(arg);
    }
    EXPECT_EQ(narrow(record->commandLine), narrow(expectedLine));
    ASSERT_FALSE(record->args.empty());
    EXPECT_EQ(record->args[0], launcher);
    EXPECT_EQ(std::vector<std::wstring>(record->args.begin() + 1, record->args.end()), received);
}

INSTANTIATE_TEST_SUITE_P(
    StartProgram, StartForwards,
    ::testing::Values(ArgumentsCase{"None", L""},
                      ArgumentsCase{"Plain", L"-windowed -w 1280"},
                      ArgumentsCase{"Blanks", L"\"a b\" \"  lead and trail  \""},
                      ArgumentsCase{"Quotes", L"c\\\"d \"say \\\"hi\\\"\""},
                      ArgumentsCase{"Empty", L"\"\" x \"\""},
                      ArgumentsCase{"TrailingBackslashes", L"\"C:\\Program Files\\\\\" C:\\dir\\\\ a\\\\\\\\\"b\""},
                      ArgumentsCase{"Tabs", L"\"tab\there\" \"\t\""},
                      ArgumentsCase{"OutsideBasicPlane", L"\xD83D\xDE00 \"\x4E2D \x00E9\""},
                      ArgumentsCase{"SkipFlagIsForwarded", L"--no-self-update-scan -x --no-self-update-scan"},
                      ArgumentsCase{"OddQuoting", L"a\"b c\"d \"unterminated"}),
    RowName());

TEST(StartProgram, NoArgumentsGiveTheQuotedPathAlone) {
    GameFolder game;
    game.place({L"fx_family_1_0_0_0", L"Launcher.exe"});
    const ProcessResult result = game.run();
    ASSERT_EQ(result.exitCode, 0u) << describe(result);
    const auto record = waitForLaunchRecord(game.dir + L"\\Launcher.exe");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->commandLine, L"\"" + game.dir + L"\\Launcher.exe\"");
}

// The launcher keeps running on its own: the start program exits while the
// launcher is still held, and the launcher inherits the current directory.
TEST(StartProgram, ExitsWithoutWaitingAndPassesItsCurrentDirectory) {
    GameFolder game;
    game.place({L"fx_family_1_0_0_0", L"Launcher.exe"});
    const std::wstring elsewhere = game.dir + L"\\elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    const std::wstring holdName = L"KesFixtureHold-" + std::to_wstring(GetCurrentProcessId());
    const UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, holdName.c_str()));
    ASSERT_TRUE(hold);

    SetEnvironmentVariableW(L"KES_FIXTURE_HOLD", holdName.c_str());
    const ProcessResult result = game.run(L"", elsewhere);
    SetEnvironmentVariableW(L"KES_FIXTURE_HOLD", nullptr);
    const auto record = waitForLaunchRecord(game.dir + L"\\Launcher.exe");
    SetEvent(hold.get());

    ASSERT_TRUE(result.exited) << "the start program waited for the launcher: " << describe(result);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(result.seconds, 10.0);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->currentDirectory, elsewhere);
}

// The start program that stays with the game (built with KES_START_WAITS):
// it ends with the exit code of the last process of the game folder to end,
// waits for the whole tree but for a child that breaks away, and goes on to
// the next launcher when the newest cannot load. `tail` runs the fixture
// launchers (see recording_launcher.cpp): {dir} is the game folder, {out} a
// folder beside it.
struct WaitCase {
    const char* name;
    std::vector<Placed> files;
    std::wstring tail;
    DWORD exitCode;
    std::vector<std::wstring> started;  // sorted
    double atLeastSeconds = 0;
    double atMostSeconds = 15;
    const wchar_t* start = L"KestrelwoodStart_waits";
    const wchar_t* survivor = nullptr;  // still running once the start program has ended
    const wchar_t* runsAsItself = nullptr;  // the one started whose arguments end with the skip flag
};
void PrintTo(const WaitCase& row, std::ostream* os) { *os << row.name; }

std::wstring expanded(std::wstring text, const std::wstring& dir) {
    for (const auto& [from, to] : {std::pair<std::wstring, std::wstring>{L"{dir}", dir}, {L"{out}", dir + L"-out"}}) {
        for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from)) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

// The processes whose executable lies in the folder.
std::vector<std::wstring> runningIn(const std::wstring& folder) {
    std::vector<std::wstring> running;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH];
        DWORD length = MAX_PATH;
        if (process && QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
            CompareStringOrdinal(image, static_cast<int>(folder.size()), folder.c_str(),
                                 static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL) {
            running.emplace_back(image, length);
        }
    }
    return running;
}

class StartWaits : public ::testing::TestWithParam<WaitCase> {};

TEST_P(StartWaits, ForTheTreeAndPassesItsCodeThrough) {
    const WaitCase& row = GetParam();
    GameFolder game;
    writeFileOrFail(game.start, readFileBytes(builtExe(row.start)));
    ASSERT_TRUE(CreateDirectoryW((game.dir + L"-out").c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    copyFileOrFail(builtExe(L"fx_other_family"), game.dir + L"-out\\Helper.exe");
    for (const Placed& p : row.files) {
        game.place(p);
    }
    const ProcessResult result = game.run(expanded(row.tail, game.dir));
    ASSERT_TRUE(result.exited) << describe(result);
    EXPECT_EQ(result.exitCode, row.exitCode) << describe(result);
    EXPECT_GE(result.seconds, row.atLeastSeconds) << "the start program did not wait for the tree";
    EXPECT_LE(result.seconds, row.atMostSeconds) << "the start program waited for a child that broke away";
    EXPECT_EQ(waitForStarts(game.dir, [&](const auto& started) { return started.size() > row.started.size(); }, 300),
              row.started);
    const std::vector<std::wstring> survivors =
        row.survivor ? std::vector<std::wstring>{game.dir + L"\\" + row.survivor} : std::vector<std::wstring>{};
    for (const std::wstring& name : row.started) {
        const auto record = waitForLaunchRecord(game.dir + L"\\" + name);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(!record->args.empty() && record->args.back() == L"--no-self-update-scan",
                  row.runsAsItself != nullptr && name == row.runsAsItself)
            << narrow(name) << ": " << narrow(record->commandLine);
    }
    EXPECT_EQ(runningIn(game.dir + L"\\"), survivors) << "a process of the game outlived the wait, or did not";
    for (int waited = 0; waited < 100 && !runningIn(game.dir + L"\\").empty(); ++waited) {
        Sleep(100);
    }
}

INSTANTIATE_TEST_SUITE_P(
    StartProgram, StartWaits,
    ::testing::Values(
        WaitCase{"TheLaunchersExitCode", {{L"fx_family_1_0_0_0", L"L10.exe"}}, L"--exit 7", 7, {L"L10.exe"}},
        // The game the launcher starts ends last: its code.
        WaitCase{"TheGameItStartsEndsLast",
                 {{L"fx_family_1_0_0_0", L"L10.exe"}, {L"fx_other_family", L"Game.exe"}},
                 L"--exit 3 --child \"{dir}\\Game.exe\" --sleep 800 --exit 9", 9, {L"Game.exe", L"L10.exe"}, 0.7},
        // A helper from elsewhere outlives the launcher: waited for, no code.
        WaitCase{"AHelperFromElsewhereIsWaitedForButSetsNoCode", {{L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--exit 3 --child \"{out}\\Helper.exe\" --sleep 1500 --exit 5", 3, {L"L10.exe"}, 1.4},
        // A child that breaks away from the job is neither waited for nor ended.
        WaitCase{"AChildThatBreaksAwayIsNotWaitedFor",
                 {{L"fx_family_1_0_0_0", L"L10.exe"}, {L"fx_other_family", L"Game.exe"}},
                 L"--exit 4 --breakaway \"{dir}\\Game.exe\" --sleep 2500 --exit 9", 4, {L"Game.exe", L"L10.exe"}, 0,
                 2.0, L"KestrelwoodStart_waits", L"Game.exe"},
        // The newest cannot load (a DLL it imports is missing): the next one,
        // with the same arguments.
        WaitCase{"TheNextWhenTheNewestCannotLoad",
                 {{L"fx_missing_dll_9_0_0_0", L"L90.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}}, L"--exit 7", 7,
                 {L"L10.exe"}, 0, 15, L"KestrelwoodStart_waits", nullptr, L"L10.exe"},
        WaitCase{"NoneLoads", {{L"fx_missing_dll_9_0_0_0", L"L90.exe"}}, L"--exit 7", 1, {}},
        // The one it falls back to runs the hand-over: it runs as itself, not
        // handing back to the newest.
        WaitCase{"AFallbackRunsAsItself", {{L"fx_missing_dll_9_0_0_0", L"L90.exe"}, {L"ref_2_0_0_0", L"L20.exe"}},
                 L"", 0, {L"L20.exe"}, 0, 15, L"KestrelwoodStart_waits", nullptr, L"L20.exe"},
        // One that crashes at start is passed over as one that cannot load;
        // one that crashes later, or once it has started a game's process,
        // has run: its code, no fallback; so has one that started a process
        // and ends with a loader status.
        // (a helper from elsewhere, such as an error reporter, does not count).
        WaitCase{"TheNextWhenTheNewestCrashesAtOnce",
                 {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--exit 7 --crash-as L50.exe --child \"{out}\\Helper.exe\" --sleep 300", 7,
                 {L"L10.exe", L"L50.exe"}, 0, 15, L"KestrelwoodStart_waits", nullptr, L"L10.exe"},
        WaitCase{"NoFallbackForACrashAfterTwelveSeconds",
                 {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--crash-as L50.exe --sleep 12000", 0xC0000005, {L"L50.exe"}, 12, 40},
        // Nor for a loader status after 12 s: the launcher was running.
        WaitCase{"NoFallbackForALoaderStatusAfterTwelveSeconds",
                 {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--sleep 12000 --exit 3221225781", 0xC0000135, {L"L50.exe"}, 12, 40},
        WaitCase{"NoFallbackForACrashOnceTheGameRuns",
                 {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"},
                  {L"fx_other_family", L"Game.exe"}},
                 L"--crash-as L50.exe --child \"{dir}\\Game.exe\" --sleep 800 --exit 9", 9, {L"Game.exe", L"L50.exe"},
                 0.7},
        WaitCase{"NoFallbackForALoaderStatusOnceItStartedAProcess",
                 {{L"fx_family_5_0_0_0", L"L50.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--exit 3221225781 --child \"{out}\\Helper.exe\" --sleep 300", 0xC0000135, {L"L50.exe"}},
        // The newest cannot be started at all (CreateProcessW refuses it).
        WaitCase{"TheNextWhenTheNewestCannotBeStarted",
                 {{L"fx_refused_by_loader_5_0_0_0", L"L50.exe"}, {L"fx_missing_dll_9_0_0_0", L"L90.exe"},
                  {L"fx_family_1_0_0_0", L"L10.exe"}},
                 L"--exit 7", 7, {L"L10.exe"}, 0, 15, L"KestrelwoodStart_waits", nullptr, L"L10.exe"},
        // Pinned: the next one that passes, never an unsigned one.
        WaitCase{"PinnedTheNextSigned",
                 {{L"fx_signed_missing_dll_9_0_0_0", L"L90.exe"}, {L"fx_family_2_0_0_0", L"L20.exe"},
                  {L"fx_signed_1_0_0_0", L"L10.exe"}},
                 L"--exit 7", 7, {L"L10.exe"}, 0, 15, L"KestrelwoodStart_waits_pinned", nullptr, L"L10.exe"},
        WaitCase{"PinnedNeverAnUnsignedOlder",
                 {{L"fx_signed_missing_dll_9_0_0_0", L"L90.exe"}, {L"fx_family_1_0_0_0", L"L10.exe"}}, L"--exit 7", 1,
                 {}, 0, 15, L"KestrelwoodStart_waits_pinned"},
        // Trust carries over only through a launcher that keeps it: the
        // signed launcher pins the key, so its own hand-over refuses the
        // unsigned newer one and it runs itself; one signed before the studio
        // pinned is refused, and so nothing runs.
        WaitCase{"TheLauncherItHandsOverTo",
                 {{L"ref_signed_2_0_0_0", L"L20.exe"}, {L"fx_family_5_0_0_0", L"L50.exe"}},
                 L"--sleep 500 --exit 6", 0, {L"L20.exe"}, 0, 15, L"KestrelwoodStart_waits_pinned"},
        WaitCase{"NotASignedLauncherThatPinsNothing",
                 {{L"ref_signed_unpinning_2_0_0_0", L"L20.exe"}, {L"fx_family_5_0_0_0", L"L50.exe"}},
                 L"--sleep 500 --exit 6", 1, {}, 0, 15, L"KestrelwoodStart_waits_pinned"}),
    RowName());

// The port of the start program's job, taken out of it: the one handle of
// the process on which a time-out of no length waits instead of failing.
UniqueHandle portOf(HANDLE process) {
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            UniqueHandle candidate(copy);
            DWORD count = 0;
            ULONG_PTR key = 0;
            LPOVERLAPPED detail = nullptr;
            if (GetQueuedCompletionStatus(copy, &count, &key, &detail, 0) || GetLastError() == WAIT_TIMEOUT) {
                return candidate;
            }
        }
    }
    return nullptr;
}

// Ended from outside (a launcher tool's Stop), the start program takes the
// game's whole tree with it; started inside a job of its own, as such a tool
// may start it, it still waits and passes the code through; and when the
// job's messages are lost (here taken from its port while it is suspended),
// it still ends once the tree has, with the launcher's code.
TEST(StartProgram, WaitingInAJobAndEndedFromOutside) {
    enum { InAJob, Terminated, MessagesLost };
    for (const int mode : {InAJob, Terminated, MessagesLost}) {
        const bool terminate = mode == Terminated;
        GameFolder game(terminate ? L"terminated" : mode == InAJob ? L"in a job" : L"messages lost");
        writeFileOrFail(game.start, readFileBytes(builtExe(L"KestrelwoodStart_waits")));
        game.place({L"fx_family_1_0_0_0", L"L10.exe"});
        game.place({L"fx_other_family", L"Game.exe"});
        const UniqueHandle outer(CreateJobObjectW(nullptr, nullptr));
        ASSERT_TRUE(outer);
        const std::wstring holdName = L"KesFixtureHold-lost-" + std::to_wstring(GetCurrentProcessId());
        const UniqueHandle hold(CreateEventW(nullptr, TRUE, FALSE, holdName.c_str()));
        SetEnvironmentVariableW(L"KES_FIXTURE_HOLD", mode == MessagesLost ? holdName.c_str() : nullptr);
        std::wstring commandLine = L"\"" + game.start + L"\" --exit 3 --child \"" + game.dir +
                                   L"\\Game.exe\" --sleep " + (terminate ? L"20000" : L"300") + L" --exit 8";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        ASSERT_TRUE(CreateProcessW(game.start.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                   nullptr, game.dir.c_str(), &startup, &created))
            << GetLastError();
        SetEnvironmentVariableW(L"KES_FIXTURE_HOLD", nullptr);
        const UniqueHandle process(created.hProcess);
        const UniqueHandle thread(created.hThread);
        ASSERT_TRUE(AssignProcessToJobObject(outer.get(), process.get())) << GetLastError();
        ResumeThread(thread.get());
        if (terminate) {
            ASSERT_EQ(waitForStarts(game.dir, [](const auto& started) { return started.size() == 2; }, 10000),
                      (std::vector<std::wstring>{L"Game.exe", L"L10.exe"}));
            ASSERT_EQ(WaitForSingleObject(process.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT))
                << "the start program did not wait for the game";
            TerminateProcess(process.get(), 77);
        }
        if (mode == MessagesLost) {
            // The launcher holds until the start program is suspended; every
            // message after that, to the last, is taken here.
            ASSERT_TRUE(waitForLaunchRecord(game.dir + L"\\L10.exe").has_value());
            SuspendThread(thread.get());
            const UniqueHandle port = portOf(process.get());
            SetEvent(hold.get());
            DWORD message = 0;
            ULONG_PTR key = 0;
            LPOVERLAPPED detail = nullptr;
            while (port && GetQueuedCompletionStatus(port.get(), &message, &key, &detail, 20000) &&
                   message != JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            }
            ResumeThread(thread.get());
            ASSERT_TRUE(port) << "no port found in the start program";
            ASSERT_EQ(message, static_cast<DWORD>(JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO));
        }
        ASSERT_EQ(WaitForSingleObject(process.get(), 15000), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, terminate ? 77u : mode == InAJob ? 8u : 3u);
        for (int waited = 0; waited < 50 && !runningIn(game.dir + L"\\").empty(); ++waited) {
            Sleep(100);
        }
        EXPECT_EQ(runningIn(game.dir + L"\\"), std::vector<std::wstring>{}) << "the game outlived its start program";
    }
}

TEST(StartProgram, NewerFileThatIsNotAProgramIsPassedOver) {
    GameFolder game;
    game.place({L"fx_family_1_0_0_0", L"Launcher.exe"});
    // A DLL carrying the family's version resource at 50.0.0.0: Windows
    // would refuse to start it (error 193), so it never wins.
    copyFileOrFail(binDir() + L"\\fx_family_dll.dll", game.dir + L"\\Launcher50.exe");
    const ProcessResult result = game.run();
    ASSERT_TRUE(result.exited) << describe(result);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(waitForStarts(game.dir, anyStart, 10000), std::vector<std::wstring>{L"Launcher.exe"});
}

}  // namespace
