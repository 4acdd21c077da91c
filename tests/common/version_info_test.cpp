#include <gtest/gtest.h>

#include <ostream>

#include "common/pe_layout.h"
#include "common/version_info.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

LauncherVersionInfo readFixture(const wchar_t* name) {
    return readLauncherVersionInfo(narrow(builtExe(name)));
}

TEST(PackVersion, OrdersPartByPart) {
    EXPECT_EQ(packVersion(1, 2, 3, 4), 0x0001000200030004ull);
    EXPECT_EQ(packVersion(65535, 65535, 65535, 65535), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(packVersion(0, 0, 0, 0), 0ull);
    EXPECT_GT(packVersion(10, 0, 0, 0), packVersion(2, 0, 0, 0));
    EXPECT_GT(packVersion(1, 2, 0, 0), packVersion(1, 1, 65535, 65535));
    EXPECT_GT(packVersion(0, 0, 0, 1), packVersion(0, 0, 0, 0));
}

// The layout check's verdict on the file, then what the version reader makes
// of it when asked all the same.
struct VersionCase {
    const wchar_t* name;  // the built file
    LayoutVerdict layout;
    bool valid;
    std::uint16_t major, minor, build, revision;
    std::string launcherId;
};

void PrintTo(const VersionCase& row, std::ostream* os) { *os << kes::test::narrow(row.name); }

class VersionReader : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionReader, ReadsFixture) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(checkExecutableLayout(narrow(builtExe(c.name))).verdict, c.layout);
    const LauncherVersionInfo info = readFixture(c.name);
    EXPECT_EQ(info.valid, c.valid);
    EXPECT_EQ(info.major, c.major);
    EXPECT_EQ(info.minor, c.minor);
    EXPECT_EQ(info.build, c.build);
    EXPECT_EQ(info.revision, c.revision);
    EXPECT_EQ(info.packed, packVersion(c.major, c.minor, c.build, c.revision));
    EXPECT_EQ(info.launcherId, c.launcherId);
}

// The tests keep their own copy of the family identifier, as a check of the
// one the build defines.
const std::string kFamily = "4F1A7C2E-6D5B-4E8A-9C51-7D2E6B0A8F13";
constexpr LayoutVerdict kSound = LayoutVerdict::Readable;

INSTANTIATE_TEST_SUITE_P(
    VersionInfo, VersionReader,
    ::testing::Values(
        // File versions, packed part by part.
        VersionCase{L"fx_family_1_2_3_4", kSound, true, 1, 2, 3, 4, kFamily},
        VersionCase{L"fx_family_0_0_0_0", kSound, true, 0, 0, 0, 0, kFamily},
        VersionCase{L"fx_family_65535_65535_65535_65535", kSound, true, 65535, 65535, 65535, 65535, kFamily},
        VersionCase{L"fx_family_1_1_65535_65535", kSound, true, 1, 1, 65535, 65535, kFamily},
        // One terminating NUL is dropped, whether it is stored or not; a second stays.
        VersionCase{L"fx_id_no_nul", kSound, true, 3, 0, 0, 0, kFamily},
        VersionCase{L"fx_id_two_nuls", kSound, true, 3, 0, 0, 0, kFamily + std::string(1, '\0')},
        // Only the 040904E4 table is read; a missing key leaves a valid record with no id.
        VersionCase{L"fx_id_codepage_04b0", kSound, true, 3, 0, 0, 0, ""},
        VersionCase{L"fx_id_absent", kSound, true, 3, 0, 0, 0, ""},
        // Values come back as UTF-8, byte for byte as stored.
        VersionCase{L"fx_id_lowercase", kSound, true, 3, 0, 0, 0, "4f1a7c2e-6d5b-4e8a-9c51-7d2e6b0a8f13"},
        VersionCase{L"fx_id_nonascii", kSound, true, 3, 0, 0, 0,
                    "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9-\xE3\x83\xA9\xE3\x83\xB3\xE3\x83\x81\xE3\x83\xA3"
                    "\xE3\x83\xBC-\xF0\x9F\x98\x80"},
        // No resource, or a fixed record below 52 bytes: invalid and all zero.
        VersionCase{L"fx_no_version", kSound, false, 0, 0, 0, 0, ""},
        VersionCase{L"fx_fixed_short", kSound, false, 0, 0, 0, 0, ""},
        // A launcher built for debugging, its debug sections last.
        VersionCase{L"fx_family_2_0_0_0_debug", kSound, true, 2, 0, 0, 0, kFamily},
        // Not an image at all: the platform, asked all the same, finds nothing.
        VersionCase{L"corpus\\000_empty", LayoutVerdict::NotAnImage, false, 0, 0, 0, 0, ""},
        // Damaged headers: rejected; the platform finds nothing either.
        VersionCase{L"corpus\\015_sections_absurd", LayoutVerdict::Damaged, false, 0, 0, 0, 0, ""},
        // Cut one byte short of its image: its resources are whole and read
        // as 2.0.0.0, so only the layout check keeps it from being chosen.
        VersionCase{L"corpus\\420_newer_stripped_one_byte_short", LayoutVerdict::CutShort, true, 2, 0, 0, 0,
                    kFamily},
        // A 32-bit launcher's resource entry points outside its section: its
        // optional header is read in its own form, not the 64-bit one.
        VersionCase{L"corpus\\574_x86_rsrc_entry_offset_outside", LayoutVerdict::Damaged, false, 0, 0, 0, 0, ""},
        // Forty language directories, each far from the last: more reads
        // than the check makes, though the platform finds an intact block.
        VersionCase{L"corpus\\440_crafted_scattered_40_directories", LayoutVerdict::OverBudget, true, 2, 0, 0, 0,
                    kFamily},
        // A hundred languages beside 200 string tables, every directory before
        // every data entry, as old linkers lay them out: a real program's
        // size, within the budget.
        VersionCase{L"corpus\\644_crafted_200_string_tables_100_languages", kSound, true, 2, 0, 0, 0, kFamily},
        // Ten at each level, all leading to the same directories and an intact
        // block: each directory is looked at once, well within the budget.
        VersionCase{L"corpus\\438_crafted_fanout_10_repeats_intact", kSound, true, 2, 0, 0, 0, kFamily},
        // Built for ARM64: whole and readable, and of the family; whether this
        // computer runs it is the selection's question.
        VersionCase{L"corpus\\441_crafted_machine_arm64", kSound, true, 2, 0, 0, 0, kFamily}),
    RowName());

TEST(VersionInfo, MissingFileOrNonProgramGivesAllZeroRecord) {
    const std::wstring dir = freshScratchDir();
    writeFileOrFail(dir + L"\\text.exe", "not a program at all");
    EXPECT_EQ(checkExecutableLayout(narrow(dir + L"\\missing.exe")).verdict, LayoutVerdict::Unreadable);
    for (const std::wstring& path : {dir + L"\\missing.exe", dir + L"\\text.exe", std::wstring()}) {
        const LauncherVersionInfo info = readLauncherVersionInfo(narrow(path));
        EXPECT_FALSE(info.valid);
        EXPECT_EQ(info.packed, 0u);
        EXPECT_EQ(info.major + info.minor + info.build + info.revision, 0);
        EXPECT_TRUE(info.launcherId.empty());
    }
}

TEST(VersionInfo, NonAsciiPathIsRead) {
    const std::wstring dir = freshScratchDir(L"J\x00E9u \x4E2D\xD83D\xDE00");
    const std::wstring copy = dir + L"\\L\x00E4uncher.exe";
    copyFileOrFail(builtExe(L"fx_family_2_0_0_0"), copy);
    const LauncherVersionInfo info = readLauncherVersionInfo(narrow(copy));
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.packed, packVersion(2, 0, 0, 0));
    EXPECT_EQ(info.launcherId, kFamily);
}

// The identifier of this fixture claims 30000 units, far more than the whole
// resource. The reader must stay inside the buffer it was given: whatever it
// returns is bounded by the resource's size and is not the family identifier.
TEST(VersionInfo, LyingStringLengthIsClampedToTheBuffer) {
    const std::string path = narrow(builtExe(L"fx_id_length_lies"));
    const DWORD size = GetFileVersionInfoSizeW(widen(path).c_str(), nullptr);
    ASSERT_GT(size, 0u);
    const LauncherVersionInfo info = readLauncherVersionInfo(path);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.packed, packVersion(3, 0, 0, 0));
    EXPECT_NE(info.launcherId, kFamily);
    // UTF-8 of n units is at most 3n bytes; n is at most half the buffer.
    EXPECT_LE(info.launcherId.size(), size / 2 * 3);
    EXPECT_EQ(info.launcherId.substr(0, kFamily.size()), kFamily);
}

}  // namespace
