#pragma once
// Lookups over the flat node lists: children of a folder id and folders by
// their own id, each answered without scanning the lists.

#include "mount/TreeNode.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tamsin {

// The parent ids of a node list in list order, as runs of equal ids: a
// folder's entries mostly lie together, so a million nodes make a few
// thousand runs.
class ParentRuns {
public:
    struct Run {
        std::uint32_t parentId;
        std::uint32_t start;  // list position of the run's first node
        std::uint32_t count;
    };

    // The next node's parent id.
    void add(std::uint32_t parentId)
    {
        if (!runs_.empty() && runs_.back().parentId == parentId)
            ++runs_.back().count;
        else
            runs_.push_back({parentId, size_, 1});
        ++size_;
    }
    std::span<const Run> runs() const { return runs_; }
    std::uint32_t size() const { return size_; }

private:
    std::vector<Run> runs_;
    std::uint32_t size_ = 0;
};

class DirectoryIndex {
public:
    // Indexes the lists as they stand; rebuild after they change.
    void rebuild(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files);
    // The same from the lists' parent ids gathered already, so the file
    // list, by far the larger, is not read again.
    void rebuild(const std::vector<TreeNode>& folders, const ParentRuns& folderParents, const ParentRuns& fileParents);
    void clear();

    // Positions in folders / files of the nodes whose parentId is id, in list order.
    std::span<const std::uint32_t> childFolders(std::uint32_t id) const { return children(folderChildren_, id); }
    std::span<const std::uint32_t> childFiles(std::uint32_t id) const { return children(fileChildren_, id); }

    // Position of the first folder whose ownId is id, or -1.
    std::int64_t folderWithOwnId(std::uint32_t id) const;

private:
    // Ids to values by open addressing: no allocation per entry, sized once
    // for the entries expected.
    class IdTable {
    public:
        void reset(std::size_t expected);
        // The value of id, set to value first when id is new.
        std::uint32_t insert(std::uint32_t id, std::uint32_t value);
        // The value of id, or kAbsent.
        std::uint32_t find(std::uint32_t id) const;
        static constexpr std::uint32_t kAbsent = 0xFFFFFFFF;  // never a value: values are list positions

    private:
        struct Slot {
            std::uint32_t id;
            std::uint32_t value;  // kAbsent: the slot is free
        };
        std::size_t slotOf(std::uint32_t id) const { return (id * std::uint64_t{0x9E3779B97F4A7C15}) >> shift_; }
        std::vector<Slot> slots_;
        unsigned shift_ = 64;
    };

    // Node positions grouped by parent id, list order within a group, with
    // each group's range (start, count) in positions.
    using Range = std::pair<std::uint32_t, std::uint32_t>;
    struct Grouping {
        // Every element is written before it is read: no zero-filling first.
        std::unique_ptr<std::uint32_t[]> positions;
        std::vector<Range> ranges;  // by group, in order of first appearance
        IdTable groups;             // parent id to its range
    };
    static void group(Grouping& grouping, const ParentRuns& parents);
    void indexOwnIds(const std::vector<TreeNode>& folders);
    static std::span<const std::uint32_t> children(const Grouping& grouping, std::uint32_t id);

    Grouping folderChildren_;
    Grouping fileChildren_;
    IdTable folderByOwnId_;
};

} // namespace tamsin
