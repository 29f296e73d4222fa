#pragma once
// Table chains as lists of blocks, and the FAT entries that link them.

#include <cstdint>
#include <span>
#include <vector>

namespace tamsin {

inline constexpr std::uint32_t kFatEntriesPerSector = 64;
inline constexpr std::uint32_t kFatEntrySize = 8;
inline constexpr std::uint32_t kChainEnd = 0xFFFFFFFF;

// One on-disk FAT entry: the block's position in its chain and the next block.
struct FatEntry {
    std::uint32_t sequence = 0;
    std::uint32_t next = 0;
};

// The FAT entry at slot (0..63) of a FAT sector.
FatEntry fatEntryAt(std::span<const std::uint8_t> sector, std::uint32_t slot);

struct BlockNode {
    std::uint32_t sequence = 0;  // position number from the FAT entry that led here; 0 for the first node
    std::uint32_t block = 0;
};

// A chain's blocks in order. When the chain ended normally the last node is
// the end marker (the value that ended it), not a block.
struct BlockList {
    std::vector<BlockNode> nodes;
    bool endedNormally = false;

    std::uint32_t length() const { return static_cast<std::uint32_t>(nodes.size()); }
    bool empty() const { return nodes.empty(); }
    // Nodes that name real blocks: all but the end marker.
    std::uint32_t blockCount() const { return length() - (endedNormally && !nodes.empty() ? 1 : 0); }
    bool isEndMarker(std::uint32_t position) const { return endedNormally && position + 1 == length(); }
    void clear()
    {
        nodes.clear();
        nodes.shrink_to_fit();
        endedNormally = false;
    }
};

void appendBlock(BlockList& list, std::uint32_t block, std::uint32_t sequence);

// Where a block's FAT entry lies: a sector (counted from startSector) and a slot in it.
struct FatEntryLocation {
    std::uint64_t sector = 0;
    std::uint32_t slot = 0;
};

// Locates the FAT entry of block n through the FAT copy's block list. An entry
// beyond the listed FAT blocks is looked for in the other copy's list when
// that one lists its FAT block (both copies hold the same table), else in the
// last listed block (never in an end marker). fatList must hold a block.
FatEntryLocation locateFatEntry(const BlockList& fatList, std::uint32_t n, std::uint64_t startSector,
                                std::uint32_t sectorsPerBlock, const BlockList* otherCopy = nullptr);

} // namespace tamsin
