#include "mount/DirectoryIndex.h"

#include <numeric>

namespace tamsin {

void DirectoryIndex::IdTable::reset(std::size_t expected)
{
    // At least twice the entries, so probes stay short and a free slot always exists.
    unsigned bits = 3;
    while ((std::size_t{1} << bits) < 2 * expected)
        ++bits;
    slots_.assign(std::size_t{1} << bits, Slot{0, kAbsent});
    shift_ = 64 - bits;
}

std::uint32_t DirectoryIndex::IdTable::insert(std::uint32_t id, std::uint32_t value)
{
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slotOf(id);; at = (at + 1) & mask) {
        Slot& slot = slots_[at];
        if (slot.value == kAbsent) {
            slot = {id, value};
            return value;
        }
        if (slot.id == id)
            return slot.value;
    }
}

std::uint32_t DirectoryIndex::IdTable::find(std::uint32_t id) const
{
    if (slots_.empty())
        return kAbsent;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = slotOf(id);; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.value == kAbsent || slot.id == id)
            return slot.value;
    }
}

void DirectoryIndex::group(Grouping& grouping, const ParentRuns& parents)
{
    // One pass counts each parent id's nodes, a second places every node in
    // its group's range in list order: linear, no sort buffer, and a group
    // looked up once per run of equal ids.
    grouping.ranges.clear();
    grouping.groups.reset(parents.runs().size());  // at most one group per run
    grouping.positions = std::make_unique_for_overwrite<std::uint32_t[]>(parents.size());
    for (const ParentRuns::Run& run : parents.runs()) {
        const auto fresh = static_cast<std::uint32_t>(grouping.ranges.size());
        const std::uint32_t group = grouping.groups.insert(run.parentId, fresh);
        if (group == fresh)
            grouping.ranges.emplace_back(0, 0);
        grouping.ranges[group].second += run.count;
    }
    std::uint32_t start = 0;
    for (Range& range : grouping.ranges) {
        range.first = start;
        start += range.second;
        range.second = 0;  // counts again as the range fills
    }
    for (const ParentRuns::Run& run : parents.runs()) {
        Range& range = grouping.ranges[grouping.groups.find(run.parentId)];
        std::uint32_t* at = grouping.positions.get() + range.first + range.second;
        std::iota(at, at + run.count, run.start);
        range.second += run.count;
    }
}

std::span<const std::uint32_t> DirectoryIndex::children(const Grouping& grouping, std::uint32_t id)
{
    const std::uint32_t group = grouping.groups.find(id);
    if (group == IdTable::kAbsent)
        return {};
    const Range& range = grouping.ranges[group];
    return {grouping.positions.get() + range.first, range.second};
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
    folderByOwnId_.reset(folders.size());
    for (std::uint32_t i = 0; i < folders.size(); ++i)
        folderByOwnId_.insert(folders[i].ownId, i);  // keeps the first of equal ids
}

void DirectoryIndex::clear()
{
    folderChildren_ = {};
    fileChildren_ = {};
    folderByOwnId_ = {};
}

std::int64_t DirectoryIndex::folderWithOwnId(std::uint32_t id) const
{
    const std::uint32_t position = folderByOwnId_.find(id);
    return position == IdTable::kAbsent ? std::int64_t{-1} : std::int64_t{position};
}

} // namespace tamsin
