#include <gtest/gtest.h>

#include <algorithm>

#include "common/sibling_executables.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

std::vector<std::string> sorted(std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return list;
}

TEST(ParentDirectory, Table) {
    struct Row {
        const char* path;
        const char* parent;
    };
    const Row rows[] = {
        {"Launcher.exe", "."},
        {"", "."},
        {"C:/Games/Launcher.exe", "C:/Games"},
        {"C:\\Games\\", "C:\\Games"},
        {"C:\\x.exe", "C:"},
        {"C:\\Games/Sub\\L.exe", "C:\\Games/Sub"},
        {"\\L.exe", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parentDirectory(row.path), row.parent) << row.path;
    }
}

TEST(SiblingExecutables, ListsFilesOnlyWithTheirAttributesIgnored) {
    const std::wstring dir = freshScratchDir();
    const std::string folder = narrow(dir);
    writeFileOrFail(dir + L"\\a.exe", "x");
    writeFileOrFail(dir + L"\\hidden.exe", "x");
    writeFileOrFail(dir + L"\\readonly.exe", "x");
    writeFileOrFail(dir + L"\\system.exe", "x");
    writeFileOrFail(dir + L"\\notes.txt", "x");
    writeFileOrFail(dir + L"\\a.exe.bak", "x");
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\old.exe").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW((dir + L"\\hidden.exe").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW((dir + L"\\readonly.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW((dir + L"\\system.exe").c_str(), FILE_ATTRIBUTE_SYSTEM));

    const std::vector<std::string> expected = {folder + "\\a.exe", folder + "\\hidden.exe",
                                               folder + "\\readonly.exe", folder + "\\system.exe"};
    EXPECT_EQ(sorted(listSiblingExecutables(folder)), expected);
}

TEST(SiblingExecutables, NonAsciiNamesComeBackAsUtf8) {
    const std::wstring dir = freshScratchDir(L"Spi\x00EBl \x4E2D\xD83D\xDE00");
    writeFileOrFail(dir + L"\\L\x00E4uncher.exe", "x");
    const std::string folder = narrow(dir);
    EXPECT_EQ(listSiblingExecutables(folder), std::vector<std::string>{folder + "\\L\xC3\xA4uncher.exe"});
}

TEST(SiblingExecutables, TrailingSeparatorIsNotTrimmed) {
    const std::wstring dir = freshScratchDir();
    writeFileOrFail(dir + L"\\a.exe", "x");
    const std::string folder = narrow(dir) + "\\";
    // The pattern holds two separators in a row and so does every listed path.
    EXPECT_EQ(listSiblingExecutables(folder), std::vector<std::string>{folder + "\\a.exe"});
}

TEST(SiblingExecutables, MissingOrEmptyFolderGivesEmptyList) {
    const std::wstring dir = freshScratchDir();
    EXPECT_TRUE(listSiblingExecutables(narrow(dir)).empty());
    EXPECT_TRUE(listSiblingExecutables(narrow(dir) + "\\does-not-exist").empty());
}

TEST(SiblingExecutables, EmptyFolderSearchesTheRootOfTheCurrentDrive) {
    // Put an executable at the root of a drive and make that drive current.
    const std::wstring dir = freshScratchDir();
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    const std::wstring drive = dir.substr(0, 2);
    const std::wstring marker = drive + L"\\kes-root-marker.exe";
    writeFileOrFail(marker, "x");
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    const std::vector<std::string> listed = listSiblingExecutables("");
    SetCurrentDirectoryW(previous);
    DeleteFileW(marker.c_str());

    EXPECT_NE(std::find(listed.begin(), listed.end(), "\\kes-root-marker.exe"), listed.end());
    for (const std::string& path : listed) {
        EXPECT_EQ(path.substr(0, 1), "\\") << path;
    }
}

// The 259/260-character self path cases run from a shell test
// (self_path_checks.py): Wine's CreateProcessW refuses an application path of
// MAX_PATH or more, so the probe is started from the Unix side instead.

}  // namespace
