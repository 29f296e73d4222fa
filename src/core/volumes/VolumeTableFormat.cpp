#include "volumes/VolumeTableFormat.h"

#include "common/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace tamsin {

bool hasBootSignature(std::span<const std::uint8_t> sector)
{
    return sector[510] == 0x55 && sector[511] == 0xAA;
}

PartitionEntry partitionEntry(std::span<const std::uint8_t> sector, int index)
{
    const std::size_t base = 446 + 16 * static_cast<std::size_t>(index);
    return {sector[base + 4], readU32(sector, base + 8), readU32(sector, base + 12)};
}

bool isHotfixHeader(std::span<const std::uint8_t> sector)
{
    return std::memcmp(sector.data(), "HOTFIX00", 8) == 0;
}

std::uint32_t hotfixAreaLength(std::span<const std::uint8_t> sector)
{
    return readU32(sector, 24);
}

std::uint32_t volumeTableEntryCount(std::span<const std::uint8_t> sector)
{
    if (std::memcmp(sector.data(), kVolumeTableSignature, sizeof kVolumeTableSignature - 1) != 0)
        return 0;
    const std::uint32_t count = readU32(sector, 16);
    return count >= 1 && count <= kMaxVolumeTableEntries ? count : 0;
}

VolumeTableEntry volumeTableEntry(std::span<const std::uint8_t> sector, std::uint32_t index)
{
    auto entry = sector.subspan(kVolumeTableEntriesOffset + kVolumeTableEntrySize * index, kVolumeTableEntrySize);
    VolumeTableEntry e;
    e.nameLength = entry[0];
    const std::size_t n = std::min<std::size_t>(e.nameLength, kMaxEntryNameLength);
    e.name.assign(reinterpret_cast<const char*>(entry.data() + 1), n);
    e.sizeSectors = readU32(entry, 28);
    e.blockCount = readU32(entry, 32);
    e.firstFatBlock = readU32(entry, 40);
    e.secondFatBlock = readU32(entry, 44);
    e.firstDetBlock = readU32(entry, 48);
    e.secondDetBlock = readU32(entry, 52);
    std::copy_n(entry.begin(), e.nameField.size(), e.nameField.begin());
    e.lastSegment = readU32(entry, 16);
    e.clusterCode = entry[20];
    e.segmentCount = entry[21];
    e.segmentIndex = entry[22];
    e.volumeRoot = readU32(entry, 24);
    e.firstVolumeBlock = readU32(entry, 36);
    return e;
}

VolumeInfo volumeFromEntry(const VolumeTableEntry& entry, std::uint64_t startSector)
{
    VolumeInfo v;
    v.name = entry.name;
    v.firstFatBlock = entry.firstFatBlock;
    v.secondFatBlock = entry.secondFatBlock;
    v.firstDetBlock = entry.firstDetBlock;
    v.secondDetBlock = entry.secondDetBlock;
    v.sizeSectors = entry.sizeSectors;
    v.startSector = startSector;
    v.blockCount = entry.blockCount;
    v.sectorsPerBlock = entry.sectorsPerBlock();
    return v;
}

} // namespace tamsin
