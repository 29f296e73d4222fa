#pragma once
// Paths through the folder tree: from a tree item up to the root, and from
// a list of names down from the root.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;
struct TreeNode;

// The folders from the root down to the folder of treeItem (empty for the root).
std::vector<const TreeNode*> folderChain(const MountedVolume& volume, std::uint32_t treeItem);

// The tree item of the folder that lists node (a file or a folder) as a
// child: the first folder whose ownId is the node's parentId; the root for
// parent id 0 or a parent that no folder owns.
std::uint32_t parentItemOf(const MountedVolume& volume, const TreeNode& node);

// Follows names down from the root; each name is compared with the child
// folder names by sameName, and the first match in tree order is taken.
std::optional<std::uint32_t> findFolderItem(const MountedVolume& volume, const std::vector<std::string>& names,
                                            const std::function<bool(const std::string& raw, const std::string& name)>& sameName);

} // namespace tamsin
