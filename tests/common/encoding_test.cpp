#include <gtest/gtest.h>

#include <ostream>

#include <windows.h>

#include <string>

#include "common/encoding.h"
#include "support/test_support.h"

using kes::utf8ToWide;
using kes::utf8ToWideStrict;
using kes::wideToUtf8;

namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
    return std::string(list.begin(), list.end());
}

struct Utf8Case {
    const char* name;
    std::string input;
    std::wstring lenient;  // utf8ToWide
    std::wstring strict;   // utf8ToWideStrict
};

void PrintTo(const Utf8Case& row, std::ostream* os) { *os << row.name; }

class Utf8ToWideTable : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToWideTable, LenientAndStrict) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(utf8ToWide(c.input), c.lenient);
    EXPECT_EQ(utf8ToWideStrict(c.input), c.strict);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, Utf8ToWideTable,
    ::testing::Values(
        // Empty input: both give empty.
        Utf8Case{"Empty", "", L"", L""},
        // A NUL byte ends the lenient input; the strict one converts it as a NUL unit.
        Utf8Case{"NulInside", std::string("abc\0def", 7), L"abc", std::wstring(L"abc\0def", 7)},
        Utf8Case{"NulFirst", std::string("\0x", 2), L"", std::wstring(L"\0x", 2)},
        // Ill-formed UTF-8: U+FFFD from the lenient conversion, nothing from the strict one.
        Utf8Case{"StrayByte", bytes({0x61, 0xFF, 0x62}), L"a\xFFFD" L"b", L""},
        // Well-formed text in any script, and outside the basic plane as a pair.
        Utf8Case{"Latin", bytes({0xC3, 0xA9}), L"\x00E9", L"\x00E9"},
        Utf8Case{"Cjk", bytes({0xE4, 0xB8, 0xAD}), L"\x4E2D", L"\x4E2D"},
        Utf8Case{"AstralPair", bytes({0xF0, 0x9F, 0x98, 0x80}), L"\xD83D\xDE00", L"\xD83D\xDE00"}),
    kes::test::RowName());

// Overlong forms, encoded surrogates and cut sequences: how many U+FFFD one
// bad run yields is the platform's choice, so only these are fixed: the lenient
// conversion keeps the good bytes and marks the bad ones, the strict one fails.
// Ill-formed lenient results are only constrained to hold U+FFFD where the
// bad bytes were and to keep the good ones around them.
TEST(Conversions, LenientReplacesIllFormedRunsAndKeepsTheRest) {
    for (const std::string& input : {bytes({0x61, 0xC0, 0xAF, 0x62}), bytes({0x61, 0xED, 0xA0, 0x80, 0x62}),
                                     bytes({0x61, 0xE2, 0x80})}) {
        const std::wstring out = utf8ToWide(input);
        ASSERT_GE(out.size(), 2u);
        EXPECT_EQ(out.front(), L'a');
        EXPECT_NE(out.find(L'\xFFFD'), std::wstring::npos);
        EXPECT_EQ(utf8ToWideStrict(input), L"");
    }
}

TEST(Conversions, WideToUtf8RoundTripsAndReplacesLoneSurrogates) {
    const wchar_t pair[] = {0xD83D, 0xDE00};
    EXPECT_EQ(wideToUtf8(pair, 2), bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(utf8ToWideStrict(wideToUtf8(pair, 2)), std::wstring(pair, 2));

    const wchar_t high[] = {0xD800};
    EXPECT_EQ(wideToUtf8(high, 1), bytes({0xEF, 0xBF, 0xBD}));
    EXPECT_EQ(utf8ToWide(wideToUtf8(high, 1)), L"\xFFFD");
    const wchar_t low[] = {L'x', 0xDC00, L'y'};
    EXPECT_EQ(wideToUtf8(low, 3), bytes({'x', 0xEF, 0xBF, 0xBD, 'y'}));

    const wchar_t e[] = {0x00E9};
    EXPECT_EQ(wideToUtf8(e, 1), bytes({0xC3, 0xA9}));
}

TEST(Conversions, WideToUtf8ConvertsExactlyCountUnits) {
    const wchar_t withNul[] = L"ab";  // three units with the terminating NUL
    EXPECT_EQ(wideToUtf8(withNul, 3), std::string("ab\0", 3));
    EXPECT_EQ(wideToUtf8(withNul, 2), "ab");
    EXPECT_EQ(wideToUtf8(withNul, 1), "a");
    const wchar_t inner[] = {L'a', 0, L'b'};
    EXPECT_EQ(wideToUtf8(inner, 3), std::string("a\0b", 3));
}

TEST(Conversions, WideToUtf8NullOrZeroCountIsEmptyWithoutCallingThePlatform) {
    // Sentinel: an untouched last-error shows that no converter ran.
    SetLastError(0xDEADBEEF);
    EXPECT_EQ(wideToUtf8(nullptr, 5), "");
    EXPECT_EQ(wideToUtf8(L"abc", 0), "");
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
}

}  // namespace
