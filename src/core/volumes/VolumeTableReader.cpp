#include "volumes/VolumeTableReader.h"

#include "disk/SectorReader.h"
#include "volumes/PartitionScan.h"
#include "volumes/VolumeLayout.h"
#include "volumes/VolumeTableFormat.h"

#include <array>
#include <map>
#include <tuple>

namespace tamsin {
namespace {

// The four table copies are logical blocks 4, 8, 12 and 16 of the data area;
// segments of the simple kind lie end to end from logical block 20.
constexpr std::uint64_t kTableCopyStride = 32;
constexpr std::uint64_t kFirstSegmentSector = 160;

// One entry of a table, placed.
struct PlacedEntry {
    std::shared_ptr<const LogicalPartition> partition;
    VolumeTableEntry entry;
    std::uint64_t logicalStart = 0;
    std::uint32_t sectorsPerBlock = 0;
    std::uint32_t segmentCount = 1;
    std::uint32_t segmentIndex = 0;
    std::uint32_t firstVolumeBlock = 0;
    std::size_t volume = 0;  // the volume instance it joined
};

// The fields that must all agree for entries to be segments of one volume.
using VolumeKey = std::tuple<std::array<std::uint8_t, 16>, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                             std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;

VolumeKey keyOf(const PlacedEntry& p)
{
    const VolumeTableEntry& e = p.entry;
    return {e.nameField, e.lastSegment, p.segmentCount, p.sectorsPerBlock, e.blockCount,
            e.firstFatBlock, e.secondFatBlock, e.firstDetBlock, e.secondDetBlock};
}

struct VolumeInstance {
    VolumeKey key;
    std::map<std::uint32_t, std::size_t> slots;  // segment index -> entry
};

std::uint64_t segmentBlocks(const PlacedEntry& p)
{
    return p.entry.sizeSectors / p.sectorsPerBlock;
}

// Whether p may fill its slot of the instance: the slot is free and the
// neighbours present end and start where p does.
bool fits(const VolumeInstance& v, const std::vector<PlacedEntry>& placed, const PlacedEntry& p)
{
    if (v.slots.contains(p.segmentIndex))
        return false;
    if (p.segmentIndex > 0) {
        if (const auto it = v.slots.find(p.segmentIndex - 1); it != v.slots.end()) {
            const PlacedEntry& prev = placed[it->second];
            if (prev.firstVolumeBlock + segmentBlocks(prev) != p.firstVolumeBlock)
                return false;
        }
    }
    if (const auto it = v.slots.find(p.segmentIndex + 1); it != v.slots.end())
        if (p.firstVolumeBlock + segmentBlocks(p) != placed[it->second].firstVolumeBlock)
            return false;
    return true;
}

// Reads one logical partition's table and places its entries.
void placeEntries(const std::shared_ptr<const LogicalPartition>& partition, std::vector<PlacedEntry>& placed)
{
    std::array<std::uint8_t, kSectorSize> sector{};
    std::uint32_t count = 0;
    for (std::uint64_t j = 1; j <= 4 && count == 0; ++j)
        count = partition->read(kTableCopyStride * j, 1, sector) == 0 ? volumeTableEntryCount(sector) : 0;
    if (count == 0)
        return;

    const std::uint64_t room = partition->dataSectors();
    std::uint64_t offset = 0;  // end-to-end placement, whichever copy was read
    for (std::uint32_t k = 0; k < count; ++k) {
        PlacedEntry p;
        p.partition = partition;
        p.entry = volumeTableEntry(sector, k);
        const std::uint64_t endToEnd = kFirstSegmentSector + offset;
        offset += p.entry.sizeSectors;
        if (p.entry.blockCount == 0)
            continue;
        p.logicalStart = endToEnd;
        p.sectorsPerBlock = p.entry.sectorsPerBlock();
        if (p.entry.hasSegmentFields()) {
            const std::uint64_t root = p.entry.volumeRoot;
            if (root != 0 && root % 8 == 0 && root + p.entry.sizeSectors <= room)
                p.logicalStart = root;
            // A segment index the count does not cover makes the entry a volume of its own.
            if (p.entry.segmentCount != 0 && p.entry.segmentIndex < p.entry.segmentCount) {
                p.segmentCount = p.entry.segmentCount;
                p.segmentIndex = p.entry.segmentIndex;
                p.firstVolumeBlock = p.entry.firstVolumeBlock;
            }
        }
        placed.push_back(std::move(p));
    }
}

} // namespace

VolumeTableStatus readVolumeTables(std::span<const SectorReader* const> disks, VolumeTable& table)
{
    table.clear();
    const PartitionScan scan = scanNetWarePartitions(disks);
    std::vector<PlacedEntry> placed;
    for (const auto& partition : scan.partitions)
        placeEntries(partition, placed);

    // Entries with segment fields join the first volume whose key they share
    // and whose slot they can fill; the others are volumes of one segment.
    std::vector<VolumeInstance> instances;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        PlacedEntry& p = placed[i];
        std::size_t chosen = instances.size();
        if (p.entry.hasSegmentFields()) {
            const VolumeKey key = keyOf(p);
            for (std::size_t v = 0; v < instances.size() && chosen == instances.size(); ++v)
                if (instances[v].key == key && fits(instances[v], placed, p))
                    chosen = v;
        }
        if (chosen == instances.size())
            instances.push_back({keyOf(p), {}});
        instances[chosen].slots[p.segmentIndex] = i;
        p.volume = chosen;
    }

    std::vector<std::shared_ptr<const VolumeLayout>> layouts;
    for (const VolumeInstance& v : instances) {
        const PlacedEntry& any = placed[v.slots.begin()->second];
        std::vector<VolumeSegment> segments;
        for (const auto& [index, i] : v.slots) {
            const PlacedEntry& p = placed[i];
            VolumeSegment s;
            s.partition = p.partition;
            s.index = index;
            s.logicalStart = p.logicalStart;
            s.firstBlock = p.firstVolumeBlock;
            // A volume of the simple kind reads every block from its start.
            s.blocks = p.entry.hasSegmentFields() ? segmentBlocks(p) : kUnboundedBlocks;
            s.sizeSectors = p.entry.sizeSectors;
            segments.push_back(std::move(s));
        }
        layouts.push_back(std::make_shared<VolumeLayout>(any.sectorsPerBlock, any.segmentCount, std::move(segments)));
    }

    for (const PlacedEntry& p : placed) {
        VolumeInfo record = volumeFromEntry(p.entry, p.partition->homeSector(p.logicalStart));
        const PartitionMember& listed = p.partition->primary();
        record.diskPath = listed.diskPath;
        record.diskIndex = listed.diskIndex;
        record.segment = p.segmentIndex;
        record.segmentCount = p.segmentCount;
        record.volumeBlocks = p.entry.blockCount;
        record.firstVolumeBlock = p.firstVolumeBlock;
        if (p.partition->mirrored())
            for (const PartitionMember& m : p.partition->members())
                record.mirrors.push_back(m.diskPath);
        record.layout = layouts[p.volume];
        if (!table.append(std::move(record)))
            break;
    }

    if (table.volumeCount() > 0)
        return VolumeTableStatus::VolumesFound;
    return !scan.hasPartitionTable.empty() && !scan.hasPartitionTable.front() ? VolumeTableStatus::NoPartitionTable
                                                                                : VolumeTableStatus::NoVolumeFound;
}

VolumeTableStatus readVolumeTables(const SectorReader& reader, VolumeTable& table)
{
    const SectorReader* disks[] = {&reader};
    return readVolumeTables(disks, table);
}

} // namespace tamsin
