#include "mount/FolderPaths.h"

#include "mount/MountedVolume.h"

#include <algorithm>

namespace tamsin {

std::vector<const TreeNode*> folderChain(const MountedVolume& volume, std::uint32_t treeItem)
{
    std::vector<const TreeNode*> chain;
    while (treeItem != FolderTree::kRootItem && volume.tree.contains(treeItem)) {
        chain.push_back(volume.folderForItem(treeItem));
        treeItem = volume.tree.item(treeItem).parent;
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

std::uint32_t parentItemOf(const MountedVolume& volume, const TreeNode& node)
{
    if (node.parentId == 0)
        return FolderTree::kRootItem;
    const std::int64_t folder = volume.index.folderWithOwnId(node.parentId);
    return folder < 0 ? FolderTree::kRootItem : volume.folders[static_cast<std::size_t>(folder)].treeItem;
}

std::optional<std::uint32_t> findFolderItem(const MountedVolume& volume, const std::vector<std::string>& names,
                                            const std::function<bool(const std::string& raw, const std::string& name)>& sameName)
{
    if (volume.tree.empty())
        return names.empty() ? std::optional<std::uint32_t>(FolderTree::kRootItem) : std::nullopt;
    std::uint32_t item = FolderTree::kRootItem;
    for (const auto& name : names) {
        const auto& children = volume.tree.item(item).children;
        auto match = std::find_if(children.begin(), children.end(), [&](std::uint32_t child) {
            return sameName(volume.folderForItem(child)->name, name);
        });
        if (match == children.end())
            return std::nullopt;
        item = *match;
    }
    return item;
}

} // namespace tamsin
