#pragma once
// The folder tree of a mounted volume: every folder once, under its parent,
// siblings in alphabetical order. Item numbers are the folders' treeItem keys.

#include "mount/TreeNode.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace tamsin {

class DirectoryIndex;

class FolderTree {
public:
    static constexpr std::uint32_t kRootItem = 0;  // the volume itself
    static constexpr std::uint32_t kNoFolder = 0xFFFFFFFF;

    struct Item {
        std::uint32_t folder = kNoFolder;  // position in the folders list; kNoFolder for the root
        std::uint32_t parent = kRootItem;
        std::vector<std::uint32_t> children;  // item numbers, sorted by folder name
    };

    void clear() { items_.clear(); }
    bool empty() const { return items_.empty(); }
    // Items including the root; valid item numbers are 0 .. size()-1.
    std::uint32_t size() const { return static_cast<std::uint32_t>(items_.size()); }
    const Item& item(std::uint32_t number) const { return items_[number]; }
    bool contains(std::uint32_t number) const { return number < items_.size(); }

    // Inserts the folders whose parentId is 0 under the root, recursively, in
    // list order (which sets each folder's treeItem), then sorts siblings by
    // name. A folder is entered once only, so id cycles and self-parents end.
    // Folders still outside the tree afterwards (their ids form a cycle apart
    // from the root) are inserted under the root with their subtrees.
    // progress receives 0..99 as folders are inserted.
    void build(std::vector<TreeNode>& folders, const DirectoryIndex& index,
               const std::function<void(int)>& progress = {});

private:
    std::vector<Item> items_;
};

} // namespace tamsin
