// The start program and the self-update routine in hostile game folders: every
// file of the generated corpus (empty, random, truncated and corrupted
// executables, among them files on which the platform's own version library
// faults) is placed, with the others of its group, beside valid launchers,
// and both must still choose the right launcher, exit by themselves and
// never crash. A file whose layout is
// damaged drops out before the platform reads it; HostileCorpus.PlatformCrashes
// shows which files make the platform fault without that check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>
#include <vector>

#include "common/win_owners.h"
#include "common/version_info.h"
#include "robustness/robustness_support.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

std::wstring corpusDir() {
    return binDir() + L"\\corpus";
}

TEST(HostileCorpus, HasAtLeast400FilesAndItsSeed) {
    EXPECT_GE(corpusExpectations().size(), 400u);
    const std::string seed = readFileBytes(corpusDir() + L"\\SEED");
    EXPECT_FALSE(seed.empty());
    std::printf("hostile corpus seed: %s", seed.c_str());
}

// The corpus in groups of files that were made alike (in the generator's
// order, which its names keep), each group in one folder beside the valid
// launchers, so that a failure names its group and kes-inspect's report in
// the message names the file. Each file's own judgement, in one process, is
// HostileCorpus.PlatformCrashes's; here the real programs run beside them.
constexpr std::size_t kGroupSize = 40;
// The last group: every seventh file, all held open exclusively while the
// programs run. Unreadable, none of them may count.
constexpr int kHeldGroup = -1;

int groupCount() {
    return static_cast<int>((corpusExpectations().size() + kGroupSize - 1) / kGroupSize);
}

class HostileGroup : public ::testing::TestWithParam<int> {};

TEST_P(HostileGroup, BesideValidLaunchers) {
    const std::map<std::wstring, CorpusFile> files = corpusExpectations();
    ASSERT_FALSE(files.empty());
    HostileFolder folder(freshScratchDir());
    const bool held = GetParam() == kHeldGroup;
    Expectation expected;
    std::vector<UniqueHandle> locks;
    std::string names;
    std::size_t i = 0;
    for (const auto& [name, file] : files) {
        const std::size_t index = i++;
        if (held ? index % 7 != 0 : index / kGroupSize != static_cast<std::size_t>(GetParam())) {
            continue;
        }
        const std::wstring placed = folder.dir + L"\\" + name;
        copyFileOrFail(corpusDir() + L"\\" + name, placed);
        names += " " + narrow(name);
        if (held) {
            locks.push_back(makeUniqueFileHandle(
                CreateFileW(placed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
            ASSERT_TRUE(locks.back()) << GetLastError();
        } else {
            expected.add(name, file);
        }
    }
    const std::string label = "group of" + names;
    folder.checkStartProgram(label, expected);
    folder.checkSelfUpdate(label, expected);
}

INSTANTIATE_TEST_SUITE_P(HostileCorpus, HostileGroup, ::testing::Range(kHeldGroup, groupCount()),
                         [](const ::testing::TestParamInfo<int>& row) {
                             if (row.param == kHeldGroup) {
                                 return std::string("EverySeventhHeldOpen");
                             }
                             const int first = row.param * int{kGroupSize};
                             const int last = static_cast<int>(corpusExpectations().size()) - 1;
                             char name[32];
                             std::snprintf(name, sizeof name, "Files%03dTo%03d", first,
                                           first + int{kGroupSize} - 1 < last ? first + int{kGroupSize} - 1 : last);
                             return std::string(name);
                         });

TEST(HostileCorpus, WholeCorpusAtOnce) {
    HostileFolder folder(freshScratchDir());
    Expectation expected;
    for (const auto& [name, file] : corpusExpectations()) {
        copyFileOrFail(corpusDir() + L"\\" + name, folder.dir + L"\\" + name);
        expected.add(name, file);
    }
    folder.checkStartProgram("whole corpus", expected);
    folder.checkSelfUpdate("whole corpus", expected);
}

// A whole, newer launcher that another process holds open does not count
// while it is held: exclusively, it cannot be read at all; for writing, as a
// downloader holds it, the layout check shuts the writer out and so passes
// it over, whatever the version library could read of it. The start and the
// hand-over go to the newest launcher that no one holds.
struct HeldCase {
    const char* name;
    DWORD access;
    DWORD sharing;
};

void PrintTo(const HeldCase& row, std::ostream* os) { *os << row.name; }

class NewerLauncherHeldOpen : public ::testing::TestWithParam<HeldCase> {};

TEST_P(NewerLauncherHeldOpen, IsPassedOver) {
    HostileFolder folder(freshScratchDir());
    const std::wstring held = folder.dir + L"\\L20.exe";
    copyFileOrFail(builtExe(L"fx_family_2_0_0_0"), held);
    const UniqueHandle holder = makeUniqueFileHandle(
        CreateFileW(held.c_str(), GetParam().access, GetParam().sharing, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder) << GetLastError();
    folder.checkStartProgram("held L20.exe", Expectation{});
    folder.checkSelfUpdate("held L20.exe", Expectation{});
    const std::string json = inspectFolder(folder.dir).json;
    const std::size_t line = json.find("\"name\": \"L20.exe\"");
    ASSERT_NE(line, std::string::npos) << json;
    EXPECT_NE(json.substr(line, json.find('\n', line) - line).find("\"verdict\": \"unreadable\""), std::string::npos)
        << json;
}

INSTANTIATE_TEST_SUITE_P(
    HostileCorpus, NewerLauncherHeldOpen,
    ::testing::Values(HeldCase{"Exclusively", GENERIC_READ, 0},
                      HeldCase{"ForWritingWithReadersLetIn", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE}),
    RowName());

// 1,000 launchers of the family and 1,000 other executables: the newest
// launcher still wins, and the routine counts every sibling of the family.
TEST(ManyCandidates, ThousandLaunchersAndThousandOthers) {
    HostileFolder folder(freshScratchDir());
    const std::wstring family = builtExe(L"fx_family_1_0_0_0");
    const std::wstring others[] = {builtExe(L"fx_other_family"), builtExe(L"fx_no_version")};
    for (int i = 0; i < 1000; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\Family%04d.exe", i);
        ASSERT_TRUE(CreateHardLinkW((folder.dir + name).c_str(), family.c_str(), nullptr)) << GetLastError();
        swprintf(name, 32, L"\\Other%04d.exe", i);
        ASSERT_TRUE(CreateHardLinkW((folder.dir + name).c_str(), others[i % 2].c_str(), nullptr)) << GetLastError();
    }
    Expectation expected;
    expected.minCount = expected.maxCount = 1002;  // the thousand, L10.exe and L12.exe
    folder.checkStartProgram("2000 candidates", expected);
    folder.checkSelfUpdate("2000 candidates", expected);
}

}  // namespace
