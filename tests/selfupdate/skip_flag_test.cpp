#include <gtest/gtest.h>

#include "skip_flag.h"

namespace {

using Args = std::vector<std::string>;
const std::string kFlag = "--no-self-update-scan";

TEST(StripSkipFlag, Table) {
    struct Row {
        const char* name;
        Args input;
        Args expected;
    };
    const Row rows[] = {
        {"empty", {}, {}},
        {"no flag", {"-x", "-y"}, {"-x", "-y"}},
        {"flags between", {"-x", kFlag, "-y", kFlag, "-z"}, {"-x", "-y", "-z"}},
        {"only flags", {kFlag, kFlag, kFlag}, {}},
        // Element 0 is an element like any other.
        {"first element", {kFlag, "-x"}, {"-x"}},
        // Only the exact 21 bytes match.
        {"near misses",
         {"--No-Self-Update-Scan", kFlag + " ", kFlag + "=1", "-" + kFlag, std::string(kFlag.c_str(), 20),
          kFlag + std::string(1, '\0')},
         {"--No-Self-Update-Scan", kFlag + " ", kFlag + "=1", "-" + kFlag, std::string(kFlag.c_str(), 20),
          kFlag + std::string(1, '\0')}},
    };
    for (const Row& row : rows) {
        Args args = row.input;
        kes::stripSkipFlag(args);
        EXPECT_EQ(args, row.expected) << row.name;
    }
}

TEST(StripSkipFlag, KeepsStorageAndLeavesTheFrontUntouched) {
    Args args = {"front", kFlag, "a", kFlag, "b"};
    args.reserve(16);
    const std::string* storage = args.data();
    const char* frontText = args[0].data();
    kes::stripSkipFlag(args);
    EXPECT_EQ(args, (Args{"front", "a", "b"}));
    EXPECT_EQ(args.data(), storage);
    EXPECT_EQ(args[0].data(), frontText);
    EXPECT_GE(args.capacity(), 16u);
}

}  // namespace
