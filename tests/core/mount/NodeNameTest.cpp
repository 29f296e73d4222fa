#include "mount/NodeName.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tamsin {
namespace {

// Names either side of the 15 bytes held in place, up to the longest a node has.
const std::vector<std::string> kNames = {"A", "FILENAME.EXT", std::string(15, 'x'), std::string(16, 'y'),
                                         "Quarterly report 2024.docx", std::string(255, 'z')};

TEST(NodeName, KeepsEveryLengthThroughCopiesMovesAndAssignment)
{
    for (const std::string& text : kNames) {
        NodeName name(text);
        EXPECT_EQ(name.size(), text.size());
        EXPECT_EQ(name, text);
        EXPECT_EQ(name.str(), text);

        NodeName copy(name);
        NodeName moved(std::move(name));
        EXPECT_EQ(copy, text);
        EXPECT_EQ(moved, text);
        EXPECT_TRUE(name.empty());  // a moved-from name is empty

        NodeName assigned = "other";
        assigned = copy;
        EXPECT_EQ(assigned, text);
        assigned = std::move(copy);
        EXPECT_EQ(assigned, text);
        assigned = static_cast<const NodeName&>(assigned);  // self-assignment keeps the name
        EXPECT_EQ(assigned, text);
        // A piece of the name itself: the new bytes are taken before the old go.
        assigned = assigned.view().substr(1);
        EXPECT_EQ(assigned, text.substr(1));
    }
}

TEST(NodeName, ComparesAndJoinsLikeItsText)
{
    const NodeName a("ALPHA.TXT"), b(std::string(40, 'b'));
    EXPECT_TRUE(a == "ALPHA.TXT");
    EXPECT_TRUE(std::string("ALPHA.TXT") == a);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_EQ("/" + a, "/ALPHA.TXT");
    EXPECT_EQ(a + "/", "ALPHA.TXT/");
    const std::string converted = a;
    EXPECT_EQ(converted, "ALPHA.TXT");
    EXPECT_EQ(sizeof(NodeName), 16u);
}

TEST(NodeName, PaddedAssignmentKeepsOnlyTheNamesBytes)
{
    // A name inside a larger record: the bytes after it are read but not kept.
    const std::string record = "ABCDEFGHIJKLMNO\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF";
    for (std::size_t size = 0; size <= NodeName::kInlineCapacity; ++size) {
        NodeName name(std::string(100, 'q'));  // an owned name is released first
        name.assignPadded(record.data(), size);
        EXPECT_EQ(name, record.substr(0, size)) << size;
        EXPECT_EQ(name.size(), size);
        EXPECT_EQ(NodeName(name), NodeName(record.substr(0, size)));
    }
}

TEST(NameStore, BorrowedNamesStayWholeAcrossBlocksAndCopiesOutliveTheStore)
{
    std::vector<NodeName> names;
    std::vector<NodeName> copies;
    {
        NameStore store;
        // About 12 MiB of names: several blocks.
        for (int i = 0; i < 60'000; ++i) {
            names.push_back(store.store(std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i)));
            if (i % 1000 == 0)
                copies.push_back(names.back());
        }
        names.push_back(store.store("SHORT.TXT"));  // held in place, not in the store
        for (int i = 0; i < 60'000; ++i)
            ASSERT_EQ(names[i], std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i)) << i;
        NodeName moved = std::move(names[0]);
        EXPECT_EQ(moved.size(), 201u);
    }
    // The store is gone: copies own their bytes, a short name never borrowed.
    for (std::size_t k = 0; k < copies.size(); ++k)
        EXPECT_EQ(copies[k], std::string(200, static_cast<char>('a' + k * 1000 % 26)) + std::to_string(k * 1000));
    EXPECT_EQ(names.back(), "SHORT.TXT");
}

} // namespace
} // namespace tamsin
