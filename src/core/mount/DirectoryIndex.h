#pragma once
// Lookups over the flat node lists: children of a folder id and folders by
// their own id, each answered without scanning the lists.

#include "mount/TreeNode.h"

#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace tamsin {

class DirectoryIndex {
public:
    // Indexes the lists as they stand; rebuild after they change.
    void rebuild(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files);
    void clear();

    // Positions in folders / files of the nodes whose parentId is id, in list order.
    std::span<const std::uint32_t> childFolders(std::uint32_t id) const { return children(folderChildren_, id); }
    std::span<const std::uint32_t> childFiles(std::uint32_t id) const { return children(fileChildren_, id); }

    // Position of the first folder whose ownId is id, or -1.
    std::int64_t folderWithOwnId(std::uint32_t id) const;

private:
    // Node positions grouped by parent id (stable), with each group's range.
    struct Grouping {
        std::vector<std::uint32_t> positions;
        std::unordered_map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> ranges;
    };
    static void group(Grouping& grouping, const std::vector<TreeNode>& nodes);
    static std::span<const std::uint32_t> children(const Grouping& grouping, std::uint32_t id);

    Grouping folderChildren_;
    Grouping fileChildren_;
    std::unordered_map<std::uint32_t, std::uint32_t> folderByOwnId_;
};

} // namespace tamsin
