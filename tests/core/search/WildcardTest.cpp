#include "search/Wildcard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace tamsin {
namespace {

struct MatchCase {
    const char* name;
    const char* pattern;
    int expected;
};

void expectTable(std::initializer_list<MatchCase> cases)
{
    for (const MatchCase& c : cases)
        EXPECT_EQ(matchWildcard(c.name, c.pattern), c.expected) << c.name << " / " << c.pattern;
}

TEST(MatchWildcard, ShortcutsBeforeTheWalk)
{
    expectTable({
        {"README.TXT", "*", 1},
        {"README", "*.*", 0},
        {"README.TXT", "*.*", 1},
        {"MYDOC.TXT", "DOC", 1},  // no wildcard: found anywhere in the name
        {"DO", "DOC", 0},
        {"AB", "???", 0},  // no star and longer than the name
        {"", "*", 0},
        {"A", "", 0},
        {"README.TXT", "readme.txt", 0},  // bytes as given; callers upper-case
    });
}

TEST(MatchWildcard, StarPatterns)
{
    expectTable({
        {"README.TXT", "*.TXT", 1},
        {".TXT", "*.TXT", 1},
        {"README.TXT.BAK", "*.TXT", 0},
        {"REPORT.TXT", "R*.TXT", 1},
        {"R.TXT", "R*.TXT", 1},
        {"A", "*A", 0},
        {"BA", "*A", 1},
        {"ABC", "A*", 1},
        {"ABC", "*?", 1},
        {"ABCDE", "A*C*E", 1},
        {"ACE", "A*C*E", 0},  // a star followed by more pattern takes at least one character
        {"AB", "A*B", 0},
        {"DATA2005.DB", "DATA*.DB", 1},
        {"ADATA.DB", "DATA*.DB", 0},
        {"BA", "*A**", 1},  // trailing stars count as one
        {"ABCDEF", "A*?*F", 1},  // wildcards up to a last literal: only the last character counts
        {"ABCDEG", "A*?*F", 0},
        {"XYBA", "*B*A", 1},
        {"AYBX", "*B*A", 0},
    });
}

TEST(MatchWildcard, QuestionMarkPatterns)
{
    expectTable({
        {"ABCD", "A?C", 1},  // without a star only the start of the name must match
        {"ABXC", "A?C", 0},
        {"FILE1.DAT", "FILE?.DAT", 1},
        {"FILE12.DAT", "FILE?.DAT", 0},
        {"FILE1.DATA", "FILE?.DAT", 1},
        {"XAB", "*A?", 1},  // a final "?" stands for the name's last character
        {"XBB", "*A?", 0},
        {"ABC", "?", 1},
        {"A", "A?", 0},
    });
}

TEST(UpperCased, OnlyAsciiLettersChange)
{
    EXPECT_EQ(upperCased("readMe.txt_09"), "README.TXT_09");
    EXPECT_EQ(upperCased("\x82t\xE9"), "\x82T\xE9");  // code page bytes stay as they are
    EXPECT_EQ(upperCased(""), "");
}

// Copies s into a heap block of exactly its size, so a read past the end
// is an error under AddressSanitizer.
std::unique_ptr<char[]> exactCopy(const std::string& s)
{
    auto block = std::make_unique<char[]>(s.size());
    std::memcpy(block.get(), s.data(), s.size());
    return block;
}

TEST(MatchWildcard, NeverReadsPastEitherString)
{
    const std::string alphabet = "AB.*?";
    std::mt19937 random(20240601);
    auto randomText = [&](std::size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 50000; ++round) {
        const std::string name = randomText(8);
        const std::string pattern = randomText(8);
        const auto nameBlock = exactCopy(name);
        const auto patternBlock = exactCopy(pattern);
        const int result = matchWildcard({nameBlock.get(), name.size()}, {patternBlock.get(), pattern.size()});
        ASSERT_TRUE(result == 0 || result == 1);

        // The same strings followed by pattern characters in one buffer must
        // give the same result: what lies after either string is never read.
        const std::string junk = randomText(6) + "*?AB.";
        const std::string joined = name + junk + pattern + junk;
        const std::string_view view(joined);
        ASSERT_EQ(matchWildcard(view.substr(0, name.size()), view.substr(name.size() + junk.size(), pattern.size())),
                  result)
            << name << " / " << pattern;
    }
}

} // namespace
} // namespace tamsin
