#include "mount/DirectoryIndex.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

std::vector<std::uint32_t> list(std::span<const std::uint32_t> positions)
{
    return {positions.begin(), positions.end()};
}

TEST(DirectoryIndex, ChildrenKeepListOrderWhateverOrderTheParentsComeIn)
{
    std::vector<TreeNode> folders(3), files(8);
    const std::uint32_t folderIds[] = {7, 5, 7};
    const std::uint32_t fileParents[] = {5, 7, 5, 5, 9, 7, 5, 0xFFFFFFFF};
    ParentRuns folderParents, fileParentRuns;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        folders[i].ownId = folderIds[i];
        folders[i].parentId = i == 0 ? 0 : 7;
        folderParents.add(folders[i].parentId);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].parentId = fileParents[i];
        fileParentRuns.add(fileParents[i]);
    }
    EXPECT_EQ(fileParentRuns.runs().size(), 7u);  // 5 5 at 2..3 is one run

    DirectoryIndex fromLists, fromParents;
    fromLists.rebuild(folders, files);
    fromParents.rebuild(folders, folderParents, fileParentRuns);
    for (const DirectoryIndex* index : {&fromLists, &fromParents}) {
        EXPECT_EQ(list(index->childFiles(5)), (std::vector<std::uint32_t>{0, 2, 3, 6}));
        EXPECT_EQ(list(index->childFiles(7)), (std::vector<std::uint32_t>{1, 5}));
        EXPECT_EQ(list(index->childFiles(9)), (std::vector<std::uint32_t>{4}));
        EXPECT_EQ(list(index->childFiles(0xFFFFFFFF)), (std::vector<std::uint32_t>{7}));
        EXPECT_TRUE(index->childFiles(6).empty());
        EXPECT_EQ(list(index->childFolders(7)), (std::vector<std::uint32_t>{1, 2}));
        EXPECT_EQ(index->folderWithOwnId(7), 0);  // the first of equal ids
        EXPECT_EQ(index->folderWithOwnId(4), -1);
    }

    // Rebuilt over changed lists, nothing of the last build remains.
    files.resize(2);
    fromLists.rebuild(folders, files);
    EXPECT_EQ(list(fromLists.childFiles(5)), (std::vector<std::uint32_t>{0}));
    EXPECT_TRUE(fromLists.childFiles(9).empty());
}

} // namespace
} // namespace tamsin
