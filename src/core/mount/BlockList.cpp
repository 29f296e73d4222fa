#include "mount/BlockList.h"

#include "common/LittleEndian.h"

#include <algorithm>

namespace tamsin {

FatEntry fatEntryAt(std::span<const std::uint8_t> sector, std::uint32_t slot)
{
    const std::size_t offset = std::size_t{slot} * kFatEntrySize;
    return {readU32(sector, offset), readU32(sector, offset + 4)};
}

void appendBlock(BlockList& list, std::uint32_t block, std::uint32_t sequence)
{
    list.nodes.push_back({sequence, block});
}

FatEntryLocation locateFatEntry(const BlockList& fatList, std::uint32_t n, std::uint64_t startSector,
                                std::uint32_t sectorsPerBlock, const BlockList* otherCopy)
{
    const std::uint32_t s = n / kFatEntriesPerSector;
    const std::uint32_t p = s / sectorsPerBlock;
    const std::uint32_t o = s % sectorsPerBlock;
    const std::uint32_t blocks = std::max<std::uint32_t>(fatList.blockCount(), 1);
    const bool useOther = p >= blocks && otherCopy && p < otherCopy->blockCount();
    const BlockNode& node = useOther ? otherCopy->nodes[p] : fatList.nodes[std::min(p, blocks - 1)];
    return {startSector + std::uint64_t{node.block} * sectorsPerBlock + o, n % kFatEntriesPerSector};
}

} // namespace tamsin
