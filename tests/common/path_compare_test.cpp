#include <gtest/gtest.h>

#include "common/path_compare.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

// Runs a body with a chosen current directory and puts the old one back.
template <typename Body>
void withCurrentDirectory(const std::wstring& dir, Body body) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    body();
    SetCurrentDirectoryW(previous);
}

TEST(NormalizePath, WorkedExamples) {
    struct Row {
        const wchar_t* input;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {L"C:/Games/Demo/Launcher.EXE", L"c:\\games\\demo\\launcher.exe"},
        {L"C:\\Games\\.\\Sub\\..\\Launcher.exe", L"c:\\games\\launcher.exe"},
        {L"C:\\GAMES\\\x00C4rger.exe", L"c:\\games\\\x00E4rger.exe"},
        {L"C:\\\x0394\x0399\x0391/\x0416.exe", L"c:\\\x03B4\x03B9\x03B1\\\x0436.exe"},
        {L"C:\\Games", L"c:\\games"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(normalizePathForCompare(row.input), row.expected) << narrow(row.input);
    }
}

TEST(NormalizePath, EmptyInputMakesNoPlatformCall) {
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(normalizePathForCompare(L""), L"");
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
}

TEST(NormalizePath, RelativePathIsResolvedAgainstTheCurrentDirectory) {
    withCurrentDirectory(L"C:\\windows", [] {
        EXPECT_EQ(normalizePathForCompare(L"Launcher.exe"), L"c:\\windows\\launcher.exe");
        EXPECT_EQ(normalizePathForCompare(L"Sub/../L.EXE"), L"c:\\windows\\l.exe");
    });
}

TEST(NormalizePath, EnvironmentReferencesAreExpandedFirst) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"KES_TEST_ROOT", L"C:\\Kes/Root"));
    withCurrentDirectory(L"C:\\windows", [] {
        EXPECT_EQ(normalizePathForCompare(L"%KES_TEST_ROOT%\\..\\A.exe"), L"c:\\kes\\a.exe");
        // An undefined reference keeps its percent signs and is a relative name.
        EXPECT_EQ(normalizePathForCompare(L"%KES_UNDEFINED_VAR%\\A.exe"),
                  L"c:\\windows\\%kes_undefined_var%\\a.exe");
    });
    wchar_t systemRoot[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH), 0u);
    std::wstring expected = normalizePathForCompare(std::wstring(systemRoot) + L"\\explorer.exe");
    EXPECT_EQ(normalizePathForCompare(L"%SystemRoot%\\Explorer.EXE"), expected);
    EXPECT_EQ(expected.find(L'%'), std::wstring::npos);
    SetEnvironmentVariableW(L"KES_TEST_ROOT", nullptr);
}

TEST(NormalizePath, NulUnitEndsTheInput) {
    const std::wstring withNul(L"C:\\A\0\\B", 7);
    EXPECT_EQ(normalizePathForCompare(withNul), L"c:\\a");
}

TEST(NormalizePath, OverLimitInputsGiveEmpty) {
    // Expanded text of 32766 units fits; 32767 and more does not.
    const std::wstring fits = L"C:\\" + std::wstring(32763, L'a');
    ASSERT_EQ(fits.size(), 32766u);
    EXPECT_EQ(normalizePathForCompare(fits).size(), 32766u);
    // (Wine cuts such an input short and reports success; the result must
    // still be empty, as on Windows.)
    EXPECT_EQ(normalizePathForCompare(fits + L"a").size(), 0u);
    EXPECT_EQ(normalizePathForCompare(fits + std::wstring(40000, L'b')).size(), 0u);
    // A NUL unit ends the input before the limit: the text before it counts.
    EXPECT_EQ(normalizePathForCompare(L"C:\\x" + std::wstring(1, L'\0') + std::wstring(40000, L'b')), L"c:\\x");

    // A short text that expands past the limit.
    ASSERT_TRUE(SetEnvironmentVariableW(L"KES_TEST_LONG", std::wstring(20000, L'x').c_str()));
    EXPECT_EQ(normalizePathForCompare(L"C:\\%KES_TEST_LONG%%KES_TEST_LONG%").size(), 0u);
    SetEnvironmentVariableW(L"KES_TEST_LONG", nullptr);

    // A relative text that fits, but whose full path would exceed 32767 units.
    withCurrentDirectory(L"C:\\windows", [] {
        EXPECT_EQ(normalizePathForCompare(std::wstring(32766, L'r')).size(), 0u);
    });
}

TEST(PathsEqualIgnoreCase, Table) {
    struct Row {
        const char* a;
        const char* b;
        bool equal;
    };
    const Row rows[] = {
        {"C:\\Games\\Launcher.exe", "c:\\GAMES\\launcher.EXE", true},
        {"C:\\Games\\Launcher.exe", "C:/Games/Launcher.exe", false},
        {"", "", true},
        {"Launcher.exe", "C:\\Games\\Launcher.exe", false},
        {"C:\\Games\\.\\Launcher.exe", "C:\\Games\\Launcher.exe", false},
        {"C:\\Spi\xC3\x84l\\a.exe", "c:\\spi\xC3\xA4l\\A.EXE", true},
        {"C:\\a.exe", "C:\\a.exe ", false},
        // Both sides are read up to their first NUL byte.
        {"C:\\a.exe", "C:\\A.EXE\0tail", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(pathsEqualIgnoreCase(row.a, row.b), row.equal) << row.a << " vs " << row.b;
    }
    EXPECT_TRUE(pathsEqualIgnoreCase("C:\\a.exe", std::string("C:\\A.EXE\0tail", 14)));
}

}  // namespace
