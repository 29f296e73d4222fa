#pragma once
// A partition's hot-fix redirection: which logical 4K blocks of the data area
// were moved to spare blocks of the hot-fix area, and which sectors of those
// spares hold no valid data.

#include "volumes/PartitionHeaders.h"

#include <cstdint>
#include <unordered_map>

namespace tamsin {

class SectorReader;

struct Redirect {
    std::uint32_t spare = 0;    // hot-fix block index: partition sectors 8*spare .. 8*spare+7
    std::uint8_t badBits = 0;   // bit k: sector k of the spare is lost
};

class HotfixMap {
public:
    // Loads both copies of the redirection and bad-bits tables of every group
    // in use. Where the copies disagree, an in-use entry is preferred when its
    // spare block reads, else copy 1's entry; an unreadable table sector
    // yields to the other copy.
    static HotfixMap load(const SectorReader& disk, std::uint64_t partitionStart, const HotfixHeader& header);

    // The redirect of logical 4K block L, or null.
    const Redirect* find(std::uint32_t logicalBlock) const
    {
        const auto it = redirects_.find(logicalBlock);
        return it == redirects_.end() ? nullptr : &it->second;
    }
    bool empty() const { return redirects_.empty(); }

    std::uint32_t usedEntries() const { return used_; }   // entries that redirect a block
    std::uint32_t freeSpares() const { return free_; }    // entries still free for use
    // Entries unreadable in both table copies: whether they redirect a block,
    // and which, is unknown, so such a block reads from its home place.
    std::uint32_t unreadableEntries() const { return unreadable_; }

    // Records a redirect as a table would (tests and the loader).
    void add(std::uint32_t logicalBlock, Redirect redirect);

private:
    std::unordered_map<std::uint32_t, Redirect> redirects_;
    std::uint32_t used_ = 0;
    std::uint32_t free_ = 0;
    std::uint32_t unreadable_ = 0;
};

} // namespace tamsin
