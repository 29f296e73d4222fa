#include "search/FileFilters.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

TEST(FileFilters, AddChecksLengthBlankAndDuplicates)
{
    FileFilters filters;
    EXPECT_EQ(filters.add(std::string(20, 'A')), FilterAddResult::TooLong);
    EXPECT_EQ(filters.add(""), FilterAddResult::Blank);
    EXPECT_EQ(filters.count(), 0u);
    EXPECT_EQ(filters.add(std::string(19, 'A')), FilterAddResult::Added);
    EXPECT_EQ(filters.add("   "), FilterAddResult::Added);  // blanks are not empty
    EXPECT_EQ(filters.add("*.TXT"), FilterAddResult::Added);
    EXPECT_EQ(filters.add("*.TXT"), FilterAddResult::Duplicate);
    EXPECT_EQ(filters.add("*.txt"), FilterAddResult::Added);  // duplicates are case-sensitive
    EXPECT_EQ(filters.list(), (std::vector<std::string>{"*.txt", "*.TXT", "   ", std::string(19, 'A')}));  // newest on top

    EXPECT_TRUE(filters.remove(1));
    EXPECT_FALSE(filters.remove(3));
    EXPECT_EQ(filters.list(), (std::vector<std::string>{"*.txt", "   ", std::string(19, 'A')}));
    filters.clear();
    EXPECT_EQ(filters.count(), 0u);
}

TEST(FileFilters, TableHoldsNinetyNine)
{
    FileFilters filters;
    for (int k = 1; k <= 98; ++k)
        ASSERT_EQ(filters.add("F" + std::to_string(k)), FilterAddResult::Added);
    EXPECT_EQ(filters.add(std::string(30, 'X')), FilterAddResult::TooLong);
    EXPECT_EQ(filters.add("F99"), FilterAddResult::Added);
    EXPECT_EQ(filters.add("F100"), FilterAddResult::TooMany);
    EXPECT_EQ(filters.add(std::string(30, 'X')), FilterAddResult::TooMany);  // a full table is checked first
    EXPECT_EQ(filters.add("F1"), FilterAddResult::TooMany);
    EXPECT_EQ(filters.count(), 99u);
    EXPECT_EQ(filters.at(0), "F99");
}

TEST(FileFilters, PassesMatchesUpperCasedNamesAgainstAnyFilter)
{
    FileFilters filters;
    EXPECT_TRUE(filters.passes("anything.bin"));  // no filters: everything passes
    filters.add("*.DOC");
    filters.add("REPORT");
    EXPECT_TRUE(filters.passes("REPORT.TXT"));  // no wildcard: substring
    EXPECT_TRUE(filters.passes("A.DOC"));
    EXPECT_TRUE(filters.passes("a.doc"));
    EXPECT_FALSE(filters.passes("B.TXT"));

    FileFilters upper;
    upper.add("*.TXT");
    FileFilters both = upper;
    both.add("*.txt");
    for (const char* name : {"readme.txt", "NOTES.TXT", "A.DOC", "TXT"})
        EXPECT_EQ(upper.passes(name), both.passes(name)) << name;

    filters.remove(0);  // REPORT
    EXPECT_FALSE(filters.passes("REPORT.TXT"));
    EXPECT_TRUE(filters.passes("A.DOC"));
    filters.clear();
    EXPECT_TRUE(filters.passes("B.TXT"));
}

} // namespace
} // namespace tamsin
