#include "volumes/VolumeTableReader.h"

#include "disk/SectorReader.h"
#include "volumes/VolumeTableFormat.h"

#include <array>

namespace tamsin {
namespace {

using SectorBuffer = std::array<std::uint8_t, kSectorSize>;

// One sector; false when it could not be read, so stale bytes never match.
bool readOne(const SectorReader& reader, std::uint64_t sector, SectorBuffer& buffer)
{
    buffer.fill(0);
    return reader.readSectors(sector, 1, buffer) == 0;
}

} // namespace

VolumeTableStatus readVolumeTables(const SectorReader& reader, VolumeTable& table)
{
    table.clear();
    SectorBuffer mbr;
    if (!readOne(reader, 0, mbr) || !hasBootSignature(mbr))
        return VolumeTableStatus::NoPartitionTable;
    for (int i = 0; i < 4; ++i) {
        const PartitionEntry entry = partitionEntry(mbr, i);
        if (entry.type == kNetWarePartitionType)
            readPartitionVolumeTable(reader, entry.startSector, table);
    }
    return table.volumeCount() == 0 ? VolumeTableStatus::NoVolumeFound : VolumeTableStatus::VolumesFound;
}

std::uint32_t readPartitionVolumeTable(const SectorReader& reader, std::uint32_t partitionStart, VolumeTable& table)
{
    const std::uint64_t p = partitionStart;
    SectorBuffer sector;

    // The hot-fix header sits at one of four probe positions; the table area
    // is computed from the partition start whichever one matched.
    bool found = false;
    for (std::uint64_t i = 1; i <= 4 && !found; ++i)
        found = readOne(reader, p + 32 * i, sector) && isHotfixHeader(sector);
    if (!found)
        return 0;
    const std::uint64_t area = p + 32 + hotfixAreaLength(sector);

    // Four copies of the table, 32 sectors apart; the first valid one is used.
    std::uint32_t count = 0;
    for (std::uint64_t j = 0; j < 4 && count == 0; ++j)
        count = readOne(reader, area + 32 * j, sector) ? volumeTableEntryCount(sector) : 0;
    if (count == 0)
        return 0;

    // Segments lie end to end from the data area, whichever copy was read.
    const std::uint64_t dataArea = area + 128;
    std::uint64_t offset = 0;
    std::uint32_t appended = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const VolumeTableEntry e = volumeTableEntry(sector, k);
        const std::uint64_t start = dataArea + offset;
        offset += e.sizeSectors;
        if (e.blockCount == 0)
            continue;
        if (!table.append(volumeFromEntry(e, start)))
            break;
        ++appended;
    }
    return appended;
}

} // namespace tamsin
