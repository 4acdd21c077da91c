#include <gtest/gtest.h>

#include "common/app_identity.h"
#include "common/path_compare.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

const std::wstring kPrefix = L"Kestrelwood.Launcher.Install";

TEST(AppIdentity, WorkedExamples) {
    EXPECT_EQ(makeAppUserModelId(L""), kPrefix + L"cbf29ce484222325");
    EXPECT_EQ(makeAppUserModelId(L"C:\\Games"), kPrefix + L"fd7cd9928aa7c6ef");
    EXPECT_EQ(makeAppUserModelId(L"c:\\games"), kPrefix + L"fd7cd9928aa7c6ef");
    EXPECT_EQ(makeAppUserModelId(L"C:/games"), kPrefix + L"fd7cd9928aa7c6ef");
}

// Known answer computed independently: FNV-1a 64 over the UTF-16 units of
// c:\<U+4E2D>\<U+1F600> (the last as its two surrogate units, in order).
TEST(AppIdentity, HashesWholeUtf16UnitsIncludingSurrogatePairs) {
    const std::wstring folder = L"C:\\\x4E2D\\\xD83D\xDE00";
    ASSERT_EQ(normalizePathForCompare(folder), L"c:\\\x4E2D\\\xD83D\xDE00");
    EXPECT_EQ(makeAppUserModelId(folder), kPrefix + L"4e4eb98d2bfc80c0");
}

TEST(AppIdentity, SpellingsOfOneFolderShareOneIdentity) {
    const std::wstring id = makeAppUserModelId(L"C:\\Games\\Kestrelwood");
    for (const wchar_t* spelling : {L"c:\\games\\kestrelwood", L"C:/Games/Kestrelwood", L"C:\\GAMES\\.\\KESTRELWOOD",
                                    L"C:\\Games\\Other\\..\\Kestrelwood", L"C:/games\\kestrelwood"}) {
        EXPECT_EQ(makeAppUserModelId(spelling), id) << narrow(spelling);
    }
    EXPECT_NE(makeAppUserModelId(L"C:\\Games\\Kestrelwood2"), id);
    EXPECT_NE(makeAppUserModelId(L"D:\\Games\\Kestrelwood"), id);
}

TEST(AppIdentity, AlwaysFortyFourCharactersOfLettersDigitsAndDots) {
    for (const std::wstring& folder : {std::wstring(), std::wstring(L"C:\\A B\\\x00C9t\xD83D\xDE00"),
                                       std::wstring(40000, L'x'), std::wstring(L"relative\\dir")}) {
        const std::wstring id = makeAppUserModelId(folder);
        ASSERT_EQ(id.size(), 44u);
        EXPECT_EQ(id.substr(0, 28), kPrefix);
        for (wchar_t c : id.substr(28)) {
            EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')) << narrow(id);
        }
    }
    // A folder that cannot be normalised shares the identity of the empty one.
    EXPECT_EQ(makeAppUserModelId(std::wstring(40000, L'x')), kPrefix + L"cbf29ce484222325");
}

}  // namespace
