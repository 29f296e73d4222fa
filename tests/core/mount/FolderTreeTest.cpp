#include "mount/FolderPaths.h"
#include "mount/MountedVolume.h"

#include <gtest/gtest.h>

#include <set>

namespace tamsin {
namespace {

TreeNode folder(std::string name, std::uint32_t own, std::uint32_t parent, std::uint32_t deleted = 0)
{
    TreeNode n;
    n.attributes = kFolderAttribute;
    n.name = std::move(name);
    n.ownId = own;
    n.parentId = parent;
    n.deletedMarker = deleted;
    return n;
}

std::vector<std::string> childNames(const MountedVolume& v, std::uint32_t item)
{
    std::vector<std::string> names;
    for (std::uint32_t child : v.tree.item(item).children)
        names.push_back(v.folderForItem(child)->name);
    return names;
}

TEST(FolderTree, SiblingsSortByNameAndItemNumbersFollowListOrder)
{
    MountedVolume v;
    v.addFolderNode(folder("zeta", 1, 0));
    v.addFolderNode(folder("Alpha", 2, 0));
    v.addFolderNode(folder("beta", 3, 0));
    v.addFolderNode(folder("child", 4, 1));
    v.addFolderNode(folder("OLD", 5, 1, 1));  // deleted folders are inserted like any other
    v.addFolderNode(folder("inside-old", 6, 5));
    v.addFolderNode(folder("\xC9T\xC9", 7, 0));  // bytes above 0x7F order after ASCII letters
    v.rebuildIndexAndTree();

    EXPECT_EQ(childNames(v, FolderTree::kRootItem), (std::vector<std::string>{"Alpha", "beta", "zeta", "\xC9T\xC9"}));
    // Pre-order in list order: zeta, its children, then Alpha, beta.
    EXPECT_EQ(v.folders[0].treeItem, 1u);
    EXPECT_EQ(v.folders[3].treeItem, 2u);
    EXPECT_EQ(v.folders[4].treeItem, 3u);
    EXPECT_EQ(v.folders[5].treeItem, 4u);
    EXPECT_EQ(v.folders[1].treeItem, 5u);
    EXPECT_EQ(childNames(v, v.folders[4].treeItem), (std::vector<std::string>{"inside-old"}));

    const auto chain = folderChain(v, v.folders[5].treeItem);
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(chain[0]->name, "zeta");
    EXPECT_EQ(chain[2]->name, "inside-old");
    auto found = findFolderItem(v, {"zeta", "OLD", "inside-old"},
                                [](const std::string& raw, const std::string& name) { return raw == name; });
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, v.folders[5].treeItem);
    EXPECT_FALSE(findFolderItem(v, {"zeta", "nope"}, [](auto& a, auto& b) { return a == b; }));
}

TEST(FolderTree, EveryFolderIsInsertedOnceWhateverItsIds)
{
    MountedVolume v;
    v.addFolderNode(folder("root-child", 1, 0));
    v.addFolderNode(folder("self", 7, 7));          // its own parent
    v.addFolderNode(folder("cycle-a", 10, 11));     // 10 and 11 name each other
    v.addFolderNode(folder("cycle-b", 11, 10));
    v.addFolderNode(folder("under-b", 12, 11));
    v.addFolderNode(folder("claims-zero", 0, 1));   // its children would be the root's
    v.addFolderNode(folder("later-root", 20, 0));
    v.addFolderNode(folder("dup-id", 1, 0));        // a second folder with id 1
    v.rebuildIndexAndTree();

    std::set<std::uint32_t> items;
    for (const auto& f : v.folders) {
        EXPECT_NE(f.treeItem, 0u) << f.name;
        items.insert(f.treeItem);
    }
    EXPECT_EQ(items.size(), v.folders.size());
    EXPECT_EQ(v.tree.size(), v.folders.size() + 1);

    // later-root stays under the root, not under the folder claiming id 0.
    EXPECT_EQ(v.tree.item(v.folders[6].treeItem).parent, FolderTree::kRootItem);
    EXPECT_EQ(v.tree.item(v.folders[5].treeItem).parent, v.folders[0].treeItem);
    // Unreachable folders come in under the root with their subtrees.
    EXPECT_EQ(v.tree.item(v.folders[1].treeItem).parent, FolderTree::kRootItem);
    EXPECT_EQ(v.tree.item(v.folders[2].treeItem).parent, FolderTree::kRootItem);
    EXPECT_EQ(v.tree.item(v.folders[3].treeItem).parent, v.folders[2].treeItem);
    EXPECT_EQ(v.tree.item(v.folders[4].treeItem).parent, v.folders[3].treeItem);
}

TEST(FolderTree, EmptyVolumeAndDeepChainsBuild)
{
    MountedVolume empty;
    empty.rebuildIndexAndTree();
    EXPECT_EQ(empty.tree.size(), 1u);
    EXPECT_TRUE(empty.tree.item(FolderTree::kRootItem).children.empty());

    MountedVolume deep;
    constexpr std::uint32_t kDepth = 200000;  // deeper than any recursion would survive
    for (std::uint32_t i = 1; i <= kDepth; ++i)
        deep.addFolderNode(folder("d", i, i - 1));
    deep.rebuildIndexAndTree();
    EXPECT_EQ(deep.tree.size(), kDepth + 1);
    EXPECT_EQ(folderChain(deep, deep.folders.back().treeItem).size(), kDepth);
}

} // namespace
} // namespace tamsin
