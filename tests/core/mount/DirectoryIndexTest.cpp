#include "mount/DirectoryIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

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

// Many ids, repeated and extreme ones among them, against a plain map: every
// group and every first own id is found, and ids never added are not.
TEST(DirectoryIndex, ManyIdsAnswerLikeAPlainMap)
{
    std::mt19937 random(7);
    auto anyId = [&] {
        const std::uint32_t kind = random() % 8;
        return kind == 0 ? 0u : kind == 1 ? 0xFFFFFFFFu : kind == 2 ? random() % 64 : static_cast<std::uint32_t>(random());
    };
    std::vector<TreeNode> folders(5000), files(40000);
    std::map<std::uint32_t, std::uint32_t> firstFolder;
    std::map<std::uint32_t, std::vector<std::uint32_t>> filesOf;
    for (std::uint32_t i = 0; i < folders.size(); ++i) {
        folders[i].ownId = anyId();
        folders[i].parentId = anyId();
        firstFolder.emplace(folders[i].ownId, i);
    }
    for (std::uint32_t i = 0; i < files.size(); ++i) {
        files[i].parentId = i % 5 ? files[i - 1].parentId : anyId();  // runs of equal parents
        filesOf[files[i].parentId].push_back(i);
    }
    DirectoryIndex index;
    index.rebuild(folders, files);
    for (const auto& [id, position] : firstFolder)
        ASSERT_EQ(index.folderWithOwnId(id), position) << id;
    for (const auto& [id, positions] : filesOf)
        ASSERT_EQ(list(index.childFiles(id)), positions) << id;
    for (int k = 0; k < 1000; ++k) {
        const std::uint32_t id = anyId();
        EXPECT_EQ(index.folderWithOwnId(id) < 0, !firstFolder.contains(id));
        EXPECT_EQ(index.childFiles(id).empty(), !filesOf.contains(id));
    }
}

} // namespace
} // namespace tamsin
