#include "volumes/PartitionHeaders.h"

#include "common/LittleEndian.h"

#include <cstring>

namespace tamsin {

std::uint32_t HotfixHeader::groupsInUse() const
{
    const std::uint32_t groups = (hotfixBlocks() + kBlocksPerHotfixGroup - 1) / kBlocksPerHotfixGroup;
    return groups < kHotfixGroups ? groups : kHotfixGroups;
}

std::uint32_t MirrorHeader::memberCount() const
{
    std::uint32_t n = 0;
    while (n < kMaxMirrorMembers && members[n] != 0)
        ++n;
    return n;
}

int MirrorHeader::memberIndex(std::uint32_t id) const
{
    for (std::uint32_t i = 0; i < memberCount(); ++i)
        if (members[i] == id)
            return static_cast<int>(i);
    return -1;
}

bool hasHotfixStamp(std::span<const std::uint8_t> sector)
{
    return std::memcmp(sector.data(), "HOTFIX00", 8) == 0;
}

bool hasMirrorStamp(std::span<const std::uint8_t> sector)
{
    return std::memcmp(sector.data(), "MIRROR00", 8) == 0;
}

HotfixHeader decodeHotfixHeader(std::span<const std::uint8_t> sector)
{
    HotfixHeader h;
    h.partitionId = readU32(sector, 8);
    h.dataSectors = readU32(sector, 20);
    h.hotfixSectors = readU32(sector, 24);
    for (std::uint32_t g = 0; g < kHotfixGroups; ++g) {
        const std::size_t at = 28 + 16 * std::size_t{g};
        h.tables[g] = {readU32(sector, at), readU32(sector, at + 4), readU32(sector, at + 8), readU32(sector, at + 12)};
    }
    return h;
}

MirrorHeader decodeMirrorHeader(std::span<const std::uint8_t> sector)
{
    MirrorHeader m;
    m.partitionId = readU32(sector, 8);
    m.flags = readU32(sector, 12);
    m.status = readU32(sector, 20);
    m.totalSectors = readU32(sector, 24);
    m.groupId = readU32(sector, 28);
    for (std::uint32_t i = 0; i < kMaxMirrorMembers; ++i)
        m.members[i] = readU32(sector, 32 + 4 * std::size_t{i});
    return m;
}

bool headersUsable(const HotfixHeader& hotfix, std::uint64_t partitionSectors)
{
    const std::uint64_t h = hotfix.hotfixSectors;
    if (h == 0 || std::uint64_t{hotfix.dataSectors} + h > partitionSectors)
        return false;
    // Each table is one 4K block inside the hot-fix area.
    auto inside = [&](std::uint32_t sector) { return sector != 0 && std::uint64_t{sector} + kSectorsPer4kBlock <= h; };
    for (std::uint32_t g = 0; g < hotfix.groupsInUse(); ++g) {
        const HotfixTablePointers& t = hotfix.tables[g];
        if (!inside(t.redirection1) || !inside(t.badBits1) || !inside(t.redirection2) || !inside(t.badBits2))
            return false;
    }
    return true;
}

} // namespace tamsin
