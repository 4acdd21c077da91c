// The launcher selection as compiled into the start program, run in-process on
// real fixture files, with the candidate list in a known order: the order in
// which the folder listing would hand the files over.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <ostream>

#include "common/held_launcher.h"
#include "common/publisher_keys.h"
#include "common/win_owners.h"
#include "start/launch.h"
#include "start/launcher_selection.h"
#include "start/launcher_wait.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

// The ordering rule alone, on versions and paths as numbers and code units.
struct RuleCase {
    const char* name;
    std::uint64_t version;
    std::wstring path;
    std::uint64_t chosenVersion;
    std::wstring chosenPath;
    bool preferred;
};
void PrintTo(const RuleCase& row, std::ostream* os) { *os << row.name; }

class PreferredLauncher : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PreferredLauncher, Rule) {
    const RuleCase& row = GetParam();
    EXPECT_EQ(isPreferredLauncher(row.version, row.path, row.chosenVersion, row.chosenPath), row.preferred);
}

constexpr std::uint64_t v1_1_max = 0x0001'0001'FFFF'FFFFull;
constexpr std::uint64_t v1_2 = 0x0001'0002'0000'0000ull;
constexpr std::uint64_t v2 = 0x0002'0000'0000'0000ull;
constexpr std::uint64_t v10 = 0x000A'0000'0000'0000ull;

INSTANTIATE_TEST_SUITE_P(
    Selection, PreferredLauncher,
    ::testing::Values(
        // Nothing chosen yet is an empty path, whatever the version says.
        RuleCase{"FirstAtZero", 0, L"C:\\g\\a.exe", 0, L"", true},
        RuleCase{"FirstBelowAStaleVersion", 0, L"C:\\g\\a.exe", v2, L"", true},
        // Higher packed version wins, compared as numbers.
        RuleCase{"TenOverTwo", v10, L"C:\\g\\b.exe", v2, L"C:\\g\\a.exe", true},
        RuleCase{"TwoUnderTen", v2, L"C:\\g\\a.exe", v10, L"C:\\g\\b.exe", false},
        RuleCase{"MinorOverBuildAndRevision", v1_2, L"C:\\g\\z.exe", v1_1_max, L"C:\\g\\a.exe", true},
        // Equal versions: the smaller path in unsigned UTF-16 code units.
        RuleCase{"TieSmallerPath", v2, L"C:\\g\\Launcher_a.exe", v2, L"C:\\g\\Launcher_b.exe", true},
        RuleCase{"TieLargerPath", v2, L"C:\\g\\Launcher_b.exe", v2, L"C:\\g\\Launcher_a.exe", false},
        RuleCase{"TieSamePath", v2, L"C:\\g\\a.exe", v2, L"C:\\g\\a.exe", false},
        RuleCase{"TieUpperBeforeLower", v2, L"C:\\g\\Z.exe", v2, L"C:\\g\\a.exe", true},
        RuleCase{"TiePrefixFirst", v2, L"C:\\g\\a.exe", v2, L"C:\\g\\a.exe.exe", true},
        RuleCase{"TieLongerAfterPrefix", v2, L"C:\\g\\a.exe.exe", v2, L"C:\\g\\a.exe", false},
        RuleCase{"TieAsciiBeforeAccent", v2, L"C:\\g\\z.exe", v2, L"C:\\g\\\x00E9.exe", true},
        // Code units, not code points: a surrogate (D83D) sorts before U+FFFD.
        RuleCase{"TieSurrogateBeforeFffd", v2, L"C:\\g\\\xD83D\xDE00.exe", v2, L"C:\\g\\\xFFFD.exe", true}),
    RowName());

// The whole selection over real files. Files are placed and handed over in
// the order given; `self` names the running file among them ("" for a start
// program elsewhere).
struct SelectionCase {
    const char* name;
    std::vector<Placed> candidates;
    const wchar_t* self;
    const wchar_t* winner;  // "" when nothing qualifies
};
void PrintTo(const SelectionCase& row, std::ostream* os) { *os << row.name; }

class SelectNewest : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectNewest, InListOrder) {
    const SelectionCase& row = GetParam();
    const ScratchFolder folder;
    const std::wstring& dir = folder.dir;
    std::vector<std::string> candidates;
    for (const Placed& p : row.candidates) {
        candidates.push_back(narrow(folder.place(p)));
    }
    // The running file's path as the program reads it: any spelling of one
    // file is that file.
    std::wstring self = dir + L"\\KestrelwoodStart.exe";
    if (*row.self != L'\0') {
        self = dir + L"\\" + row.self;
        for (wchar_t& c : self) {
            c = c == L'\\' ? L'/' : static_cast<wchar_t>(towupper(c));
        }
    }
    const std::wstring expected = *row.winner == L'\0' ? L"" : dir + L"\\" + row.winner;
    EXPECT_EQ(narrow(selectNewestLauncher(candidates, self)), narrow(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Selection, SelectNewest,
    ::testing::Values(
        // Equal versions, the winner listed first and listed second.
        SelectionCase{"TieWinnerListedFirst",
                      {{L"fx_family_2_0_0_0", L"Launcher_a.exe"}, {L"fx_family_2_0_0_0", L"Launcher_b.exe"}}, L"",
                      L"Launcher_a.exe"},
        SelectionCase{"TieWinnerListedSecond",
                      {{L"fx_family_2_0_0_0", L"Launcher_b.exe"}, {L"fx_family_2_0_0_0", L"Launcher_a.exe"}}, L"",
                      L"Launcher_a.exe"},
        SelectionCase{"TieUpperCaseListedSecond", {{L"fx_family_2_0_0_0", L"a.exe"}, {L"fx_family_2_0_0_0", L"Z.exe"}},
                      L"", L"Z.exe"},
        SelectionCase{"TiePrefixListedSecond",
                      {{L"fx_family_2_0_0_0", L"a.exe.exe"}, {L"fx_family_2_0_0_0", L"a.exe"}}, L"", L"a.exe"},
        SelectionCase{"NewerListedFirst",
                      {{L"fx_family_1_2_0_0", L"b.exe"}, {L"fx_family_1_1_65535_65535", L"a.exe"}}, L"", L"b.exe"},
        SelectionCase{"NewerListedLast",
                      {{L"fx_family_1_1_65535_65535", L"a.exe"}, {L"fx_family_10_0_0_0", L"z.exe"},
                       {L"fx_family_2_0_0_0", L"b.exe"}},
                      L"", L"z.exe"},
        // 32-bit launchers (PE32) compete as the 64-bit ones do.
        SelectionCase{"ThirtyTwoBitAmongOthers",
                      {{L"fx32_family_2_5_0_0", L"a32.exe"}, {L"fx_family_2_1_0_0", L"b.exe"},
                       {L"fx32_family_3_0_0_0", L"c32.exe"}},
                      L"", L"c32.exe"},
        // The running file is never chosen, however it is spelled.
        SelectionCase{"SelfIsSkipped",
                      {{L"fx_family_1_2_0_0", L"Self.exe"}, {L"fx_family_1_0_0_0", L"Older.exe"}}, L"Self.exe",
                      L"Older.exe"},
        SelectionCase{"OnlySelf", {{L"fx_family_1_2_0_0", L"Self.exe"}}, L"Self.exe", L""},
        SelectionCase{"NothingOfTheFamily",
                      {{L"fx_other_family", L"Other.exe"}, {L"fx_id_codepage_04b0", L"Unicode.exe"}}, L"", L""}),
    RowName());

// A path without a normalised form normalises to the empty text, and two
// empty texts are the same file: with an unreadable own path such a candidate
// drops out, with a readable one it competes as usual. The reference to a
// 40000-character variable makes the expansion too long, while the file
// system still resolves the path ("\x\..\" cancels out).
struct EmptyNormalisedCase {
    const char* name;
    bool selfReadable;
    bool chosen;
};
void PrintTo(const EmptyNormalisedCase& row, std::ostream* os) { *os << row.name; }

class EmptyNormalisedPaths : public ::testing::TestWithParam<EmptyNormalisedCase> {};

TEST_P(EmptyNormalisedPaths, CountAsTheSameFile) {
    const std::wstring dir = freshScratchDir();
    copyFileOrFail(builtExe(L"fx_family_1_0_0_0"), dir + L"\\L.exe");
    ASSERT_TRUE(SetEnvironmentVariableW(L"KES_TOO_LONG", std::wstring(40000, L'x').c_str()));
    const std::wstring candidate = dir + L"\\%KES_TOO_LONG%\\..\\L.exe";
    const std::wstring self = GetParam().selfReadable ? dir + L"\\KestrelwoodStart.exe" : L"";
    const std::wstring chosen = selectNewestLauncher({narrow(candidate)}, self);
    SetEnvironmentVariableW(L"KES_TOO_LONG", nullptr);
    EXPECT_EQ(narrow(chosen), GetParam().chosen ? narrow(candidate) : "");
}

INSTANTIATE_TEST_SUITE_P(Selection, EmptyNormalisedPaths,
                         ::testing::Values(EmptyNormalisedCase{"SelfUnreadableToo", false, false},
                                           EmptyNormalisedCase{"SelfReadable", true, true}),
                         RowName());

// With publisher pinning, the file that was judged is the file that is held,
// checked and started: a file put under the winner's name after the
// judgement (an older signed launcher, or a signed program that is no
// launcher) is judged again once it is held, and passed over for the next.
// The one chosen stays held against writers, renamers and deleters, and a
// process created from another file's path (a name repointed or replaced
// after the check) is ended before it runs, in both builds.
struct PublishedCase {
    const char* name;
    std::vector<Placed> candidates;
    Placed swappedIn;       // written over a file between its judgement and its check; {} for none
    const wchar_t* winner;  // "" when none passes
    PublisherVerdict swappedVerdict = PublisherVerdict::Changed;
};
void PrintTo(const PublishedCase& row, std::ostream* os) { *os << row.name; }

class PublishedChoice : public ::testing::TestWithParam<PublishedCase> {};

TEST_P(PublishedChoice, HoldsWhatItJudged) {
    const PublishedCase& row = GetParam();
    const ScratchFolder folder;
    std::vector<std::string> candidates;
    for (const Placed& p : row.candidates) {
        candidates.push_back(narrow(folder.place(p)));
    }
    const std::vector<Candidate> judged = judgeCandidates(candidates, folder.dir + L"\\KestrelwoodStart.exe");
    const std::wstring swapped = row.swappedIn.name ? folder.dir + L"\\" + row.swappedIn.name : L"";
    if (row.swappedIn.name) {
        copyFileOrFail(builtExe(row.swappedIn.fixture), swapped);
    }
    const PublishedLauncher chosen = choosePublishedLauncher(judged, parsePublisherKeys(widen(KES_STUDIO_KEY_DIGEST)));
    const std::wstring winner = *row.winner == L'\0' ? L"" : folder.dir + L"\\" + row.winner;
    EXPECT_EQ(narrow(chosen.path), narrow(winner));
    EXPECT_EQ(chosen.held != nullptr, !winner.empty());
    if (row.swappedIn.name) {
        ASSERT_FALSE(chosen.refused.empty());
        EXPECT_EQ(narrow(chosen.refused.front().path), narrow(swapped));
        EXPECT_EQ(chosen.refused.front().check.verdict, row.swappedVerdict);
    }
    if (winner.empty()) {
        return;
    }
    const UniqueHandle reader = makeUniqueFileHandle(CreateFileW(
        winner.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
        nullptr));
    EXPECT_TRUE(reader) << "a reader is kept out: " << GetLastError();
    SetLastError(0xdeadbeef);
    const UniqueHandle writer = makeUniqueFileHandle(CreateFileW(
        winner.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        0, nullptr));
    EXPECT_FALSE(writer) << "a writer is let in";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExW(winner.c_str(), (winner + L".moved").c_str(), 0)) << "the held file was renamed";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileW(winner.c_str())) << "the held file was deleted";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const std::wstring other = folder.place({L"fx_pinning_5_0_0_0", L"Other.exe"});
    UniqueHandle heldAgain = makeUniqueFileHandle(
        CreateFileW(winner.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(heldAgain);
    EXPECT_TRUE(runAndWait(other, L"Other.exe", folder.dir + L"\\", heldAgain).otherImage);
    EXPECT_EQ(launchLauncher(other, L"Other.exe", chosen.held.get()), kNotTheHeldFile);
    EXPECT_FALSE(waitForLaunchRecord(other, 1000).has_value()) << "a file other than the held one ran";
    EXPECT_EQ(launchLauncher(winner, L"Winner.exe", chosen.held.get()), 0);
    EXPECT_TRUE(waitForLaunchRecord(winner).has_value());

    // A held file is judged again through its hold, never by its name: with
    // its folder renamed away (Wine lets another process do so) and one that
    // pins nothing put at its name, the held launcher and its keys are read.
    const std::wstring moved = folder.dir + L"-moved";
    ASSERT_TRUE(MoveFileExW(folder.dir.c_str(), moved.c_str(), 0)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW(folder.dir.c_str(), nullptr));
    copyFileOrFail(builtExe(L"fx_signed_unpinning_5_0_0_0"), winner);
    const Candidate again = judgeHeldCandidate(chosen.held.get(), winner);
    DeleteFileW(winner.c_str());
    RemoveDirectoryW(folder.dir.c_str());
    MoveFileExW(moved.c_str(), folder.dir.c_str(), 0);
    EXPECT_EQ(again.kind, CandidateKind::Launcher);
    EXPECT_TRUE(keepsPublisherKeys(again.keys, parsePublisherKeys(widen(KES_STUDIO_KEY_DIGEST))));
}

INSTANTIATE_TEST_SUITE_P(
    Selection, PublishedChoice,
    ::testing::Values(
        PublishedCase{"NewestSignedIsHeld",
                      {{L"fx_signed_2_0_0_0", L"L20.exe"}, {L"fx_signed_5_0_0_0", L"L50.exe"}}, {}, L"L50.exe"},
        PublishedCase{"OlderSignedLauncherSwappedIn",
                      {{L"fx_signed_2_0_0_0", L"L20.exe"}, {L"fx_signed_5_0_0_0", L"L50.exe"}},
                      {L"fx_signed_2_0_0_0", L"L50.exe"}, L"L20.exe"},
        PublishedCase{"SignedProgramThatIsNoLauncherSwappedIn",
                      {{L"fx_signed_2_0_0_0", L"L20.exe"}, {L"fx_signed_5_0_0_0", L"L50.exe"}},
                      {L"fx_signed_other_family", L"L50.exe"}, L"L20.exe"},
        // Trust carries over only through a launcher that pins the key.
        PublishedCase{"SignedLauncherThatPinsNothingSwappedIn",
                      {{L"fx_signed_2_0_0_0", L"L20.exe"}, {L"fx_signed_5_0_0_0", L"L50.exe"}},
                      {L"fx_signed_unpinning_5_0_0_0", L"L50.exe"}, L"L20.exe", PublisherVerdict::KeysNotKept},
        PublishedCase{"UnsignedCopyOfTheSameVersionSwappedIn",
                      {{L"fx_signed_5_0_0_0", L"L50.exe"}}, {L"fx_family_5_0_0_0", L"L50.exe"}, L"",
                      PublisherVerdict::Unsigned}),
    RowName());

}  // namespace
