#include <gtest/gtest.h>

#include <ostream>
#include <windows.h>
#include <shellapi.h>

#include <random>

#include "common/command_line.h"
#include "common/process_start.h"
#include "support/test_support.h"

using namespace kes;
using namespace kes::test;

namespace {

// Rows in the notation Q = double quote, B = backslash, _ = blank.
std::wstring decode(const char* notation) {
    std::wstring text;
    for (const char* p = notation; *p != '\0'; ++p) {
        text.push_back(*p == 'Q' ? L'"' : *p == 'B' ? L'\\' : *p == '_' ? L' ' : static_cast<wchar_t>(*p));
    }
    return text;
}

struct QuoteCase {
    const char* name;
    const char* argument;
    const char* quoted;
};

void PrintTo(const QuoteCase& row, std::ostream* os) { *os << row.name; }

class QuoteTable : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTable, Quotes) {
    EXPECT_EQ(quoteCommandLineArg(decode(GetParam().argument)), decode(GetParam().quoted));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, QuoteTable,
    ::testing::Values(
        // Every argument is quoted, even an empty one or one without blanks.
        QuoteCase{"Empty", "", "QQ"}, QuoteCase{"Plain", "abc", "QabcQ"}, QuoteCase{"Blank", "a_b", "Qa_bQ"},
        // n backslashes before a quote become 2n+1, then the quote.
        QuoteCase{"Quote", "aQb", "QaBQbQ"}, QuoteCase{"OneBackslashQuote", "aBQb", "QaBBBQbQ"},
        QuoteCase{"TwoBackslashesQuote", "aBBQb", "QaBBBBBQbQ"}, QuoteCase{"OnlyQuote", "Q", "QBQQ"},
        QuoteCase{"BackslashQuote", "BQ", "QBBBQQ"}, QuoteCase{"TwoQuotes", "QQ", "QBQBQQ"},
        // Backslashes before anything else stay single...
        QuoteCase{"InnerBackslash", "aBb", "QaBbQ"}, QuoteCase{"UncPath", "BBsrvBshare", "QBBsrvBshareQ"},
        // ...and are doubled before the closing quote.
        QuoteCase{"TrailingBackslash", "aB", "QaBBQ"}, QuoteCase{"TwoTrailing", "aBB", "QaBBBBQ"},
        QuoteCase{"FolderPath", "c:BgamesB", "Qc:BgamesBBQ"}),
    RowName());

// A start is tried again only after ERROR_INTERNAL_ERROR, and at most twice.
TEST(ProcessStart, TriesAgainOnlyAfterTheInternalErrorAndTwiceAtMost) {
    const struct {
        DWORD error;
        int failedTries;
        bool again;
    } rows[] = {{ERROR_INTERNAL_ERROR, 1, true},      {ERROR_INTERNAL_ERROR, 2, true},
                {ERROR_INTERNAL_ERROR, 3, false},     {ERROR_FILE_NOT_FOUND, 1, false},
                {ERROR_BAD_EXE_FORMAT, 1, false},     {ERROR_FILENAME_EXCED_RANGE, 1, false},
                {ERROR_NOT_ENOUGH_MEMORY, 1, false}};
    for (const auto& row : rows) {
        EXPECT_EQ(tryStartAgain(row.error, row.failedTries), row.again) << row.error << " after " << row.failedTries;
    }
}

TEST(CommandLine, NonAsciiAndTabsPassThroughUnchanged) {
    EXPECT_EQ(quoteCommandLineArg(L"\x00E9\t\xD83D\xDE00"), L"\"\x00E9\t\xD83D\xDE00\"");
}

// The real splitter must give every argument back. Arguments are drawn with a
// fixed seed from the characters that matter to the rules.
TEST(CommandLine, RoundTripThroughCommandLineToArgvW) {
    const wchar_t alphabet[] = {L'a', L'Z', L' ', L'\t', L'"', L'\\', L'\\', L'"', 0xD83D, L'\x00E9'};
    std::mt19937 random(20261208u);
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_int_distribution<int> length(0, 12);

    int checked = 0;
    for (int line = 0; line < 1000; ++line) {
        std::vector<std::wstring> args;
        std::wstring commandLine = quoteCommandLineArg(L"C:\\Games\\L.exe");
        for (int i = 0; i < 12; ++i) {
            std::wstring arg;
            for (int n = length(random); n > 0; --n) {
                const wchar_t unit = alphabet[pick(random)];
                arg.push_back(unit);
                if (unit == 0xD83D) {
                    arg.push_back(static_cast<wchar_t>(0xDE00));  // keep pairs whole
                }
            }
            commandLine += L" " + quoteCommandLineArg(arg);
            args.push_back(arg);
        }
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(argc, 13) << narrow(commandLine);
        EXPECT_STREQ(argv[0], L"C:\\Games\\L.exe");
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(std::wstring(argv[i + 1]), args[static_cast<std::size_t>(i)]) << narrow(commandLine);
            ++checked;
        }
        LocalFree(argv);
    }
    EXPECT_EQ(checked, 12000);
}

}  // namespace
