#include "mount/DirectoryIndex.h"

#include <algorithm>
#include <numeric>

namespace tamsin {

void DirectoryIndex::group(Grouping& grouping, const std::vector<TreeNode>& nodes)
{
    grouping.positions.resize(nodes.size());
    std::iota(grouping.positions.begin(), grouping.positions.end(), 0u);
    std::stable_sort(grouping.positions.begin(), grouping.positions.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return nodes[a].parentId < nodes[b].parentId; });
    grouping.ranges.clear();
    for (std::uint32_t i = 0; i < grouping.positions.size();) {
        const std::uint32_t id = nodes[grouping.positions[i]].parentId;
        std::uint32_t j = i;
        while (j < grouping.positions.size() && nodes[grouping.positions[j]].parentId == id)
            ++j;
        grouping.ranges.emplace(id, std::make_pair(i, j - i));
        i = j;
    }
}

std::span<const std::uint32_t> DirectoryIndex::children(const Grouping& grouping, std::uint32_t id)
{
    auto it = grouping.ranges.find(id);
    if (it == grouping.ranges.end())
        return {};
    return std::span<const std::uint32_t>(grouping.positions).subspan(it->second.first, it->second.second);
}

void DirectoryIndex::rebuild(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files)
{
    group(folderChildren_, folders);
    group(fileChildren_, files);
    folderByOwnId_.clear();
    folderByOwnId_.reserve(folders.size());
    for (std::uint32_t i = 0; i < folders.size(); ++i)
        folderByOwnId_.emplace(folders[i].ownId, i);  // keeps the first of equal ids
}

void DirectoryIndex::clear()
{
    folderChildren_ = {};
    fileChildren_ = {};
    folderByOwnId_ = {};
}

std::int64_t DirectoryIndex::folderWithOwnId(std::uint32_t id) const
{
    auto it = folderByOwnId_.find(id);
    return it == folderByOwnId_.end() ? std::int64_t{-1} : std::int64_t{it->second};
}

} // namespace tamsin
