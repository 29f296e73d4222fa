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
    // The same from the lists' parent ids gathered already (folderParents[i]
    // is folders[i].parentId, likewise for files), so the file list, by far
    // the larger, is not read again.
    void rebuild(const std::vector<TreeNode>& folders, std::span<const std::uint32_t> folderParents,
                 std::span<const std::uint32_t> fileParents);
    void clear();

    // Positions in folders / files of the nodes whose parentId is id, in list order.
    std::span<const std::uint32_t> childFolders(std::uint32_t id) const { return children(folderChildren_, id); }
    std::span<const std::uint32_t> childFiles(std::uint32_t id) const { return children(fileChildren_, id); }

    // Position of the first folder whose ownId is id, or -1.
    std::int64_t folderWithOwnId(std::uint32_t id) const;

private:
    // Node positions grouped by parent id, list order within a group, with
    // each group's range (start, count) in positions.
    using Range = std::pair<std::uint32_t, std::uint32_t>;
    struct Grouping {
        std::vector<std::uint32_t> positions;
        std::unordered_map<std::uint32_t, Range> ranges;
    };
    template <typename ParentOf>
    static void group(Grouping& grouping, std::uint32_t count, ParentOf parentOf);
    void indexOwnIds(const std::vector<TreeNode>& folders);
    static std::span<const std::uint32_t> children(const Grouping& grouping, std::uint32_t id);

    Grouping folderChildren_;
    Grouping fileChildren_;
    std::unordered_map<std::uint32_t, std::uint32_t> folderByOwnId_;
};

} // namespace tamsin
