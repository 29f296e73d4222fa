#include "mount/DirectoryIndex.h"

#include <numeric>

namespace tamsin {

template <typename ParentOf>
void DirectoryIndex::group(Grouping& grouping, std::uint32_t count, ParentOf parentOf)
{
    // One pass counts each parent id's nodes, a second places every node in
    // its group's range in list order: linear, and no sort buffer. Nodes are
    // taken a run of equal parent ids at a time, the usual case as a
    // folder's entries lie together, so a group is looked up once per run.
    grouping.ranges.clear();
    grouping.positions.resize(count);
    auto runEnd = [&](std::uint32_t start) {
        const std::uint32_t id = parentOf(start);
        std::uint32_t end = start + 1;
        while (end < count && parentOf(end) == id)
            ++end;
        return end;
    };
    for (std::uint32_t i = 0, end; i < count; i = end) {
        end = runEnd(i);
        grouping.ranges[parentOf(i)].second += end - i;
    }
    std::uint32_t start = 0;
    for (auto& [id, group] : grouping.ranges) {
        group.first = start;
        start += group.second;
        group.second = 0;  // counts again as the range fills
    }
    for (std::uint32_t i = 0, end; i < count; i = end) {
        end = runEnd(i);
        Range& group = grouping.ranges[parentOf(i)];
        std::iota(grouping.positions.begin() + group.first + group.second,
                  grouping.positions.begin() + group.first + group.second + (end - i), i);
        group.second += end - i;
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
    group(folderChildren_, static_cast<std::uint32_t>(folders.size()),
          [&](std::uint32_t i) { return folders[i].parentId; });
    group(fileChildren_, static_cast<std::uint32_t>(files.size()), [&](std::uint32_t i) { return files[i].parentId; });
    indexOwnIds(folders);
}

void DirectoryIndex::rebuild(const std::vector<TreeNode>& folders, std::span<const std::uint32_t> folderParents,
                             std::span<const std::uint32_t> fileParents)
{
    group(folderChildren_, static_cast<std::uint32_t>(folderParents.size()),
          [&](std::uint32_t i) { return folderParents[i]; });
    group(fileChildren_, static_cast<std::uint32_t>(fileParents.size()), [&](std::uint32_t i) { return fileParents[i]; });
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
