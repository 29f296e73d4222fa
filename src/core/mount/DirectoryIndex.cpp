#include "mount/DirectoryIndex.h"

#include <numeric>

namespace tamsin {

void DirectoryIndex::group(Grouping& grouping, const ParentRuns& parents)
{
    // One pass counts each parent id's nodes, a second places every node in
    // its group's range in list order: linear, no sort buffer, and a group
    // looked up once per run of equal ids.
    grouping.ranges.clear();
    grouping.ranges.reserve(parents.runs().size());  // at most one group per run
    grouping.positions = std::make_unique_for_overwrite<std::uint32_t[]>(parents.size());
    for (const ParentRuns::Run& run : parents.runs())
        grouping.ranges[run.parentId].second += run.count;
    std::uint32_t start = 0;
    for (auto& [id, group] : grouping.ranges) {
        group.first = start;
        start += group.second;
        group.second = 0;  // counts again as the range fills
    }
    for (const ParentRuns::Run& run : parents.runs()) {
        Range& group = grouping.ranges[run.parentId];
        std::uint32_t* at = grouping.positions.get() + group.first + group.second;
        std::iota(at, at + run.count, run.start);
        group.second += run.count;
    }
}

std::span<const std::uint32_t> DirectoryIndex::children(const Grouping& grouping, std::uint32_t id)
{
    auto it = grouping.ranges.find(id);
    if (it == grouping.ranges.end())
        return {};
    return {grouping.positions.get() + it->second.first, it->second.second};
}

void DirectoryIndex::rebuild(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files)
{
    ParentRuns folderParents, fileParents;
    for (const TreeNode& folder : folders)
        folderParents.add(folder.parentId);
    for (const TreeNode& file : files)
        fileParents.add(file.parentId);
    rebuild(folders, folderParents, fileParents);
}

void DirectoryIndex::rebuild(const std::vector<TreeNode>& folders, const ParentRuns& folderParents,
                             const ParentRuns& fileParents)
{
    group(folderChildren_, folderParents);
    group(fileChildren_, fileParents);
    indexOwnIds(folders);
}

void DirectoryIndex::indexOwnIds(const std::vector<TreeNode>& folders)
{
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
