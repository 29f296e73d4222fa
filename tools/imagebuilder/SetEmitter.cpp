// Writes a planned set of disks through one sink per disk, in the documented
// order (later writes over earlier ones), and fills in the manifests, the
// segment layouts and the table rows.

#include "imagebuilder/SetPlan.h"

#include "common/LittleEndian.h"
#include "imagebuilder/PartitionSink.h"
#include "imagebuilder/SectorSink.h"

#include <algorithm>
#include <span>

namespace tamsin::imagebuilder::detail {

namespace {

void writeMbrEntry(SectorBytes& mbr, const PartitionLayout& partition)
{
    const std::span<std::uint8_t> entry(mbr.data() + kPartitionEntryOffset + kPartitionEntrySize * partition.slot,
                                        kPartitionEntrySize);
    // CHS fields hold the "beyond CHS range" value; readers use the LBA fields.
    const std::array<std::uint8_t, 3> chsBeyondRange = {0xFE, 0xFF, 0xFF};
    entry[0] = 0x00;
    std::copy(chsBeyondRange.begin(), chsBeyondRange.end(), entry.begin() + 1);
    entry[4] = partition.type;
    std::copy(chsBeyondRange.begin(), chsBeyondRange.end(), entry.begin() + 5);
    writeU32(entry, 8, partition.startSector);
    writeU32(entry, 12, partition.sizeSectors);
}

// The table a partition shows: its own, or that of the partition it mirrors.
const PartitionPlan& tableHolder(const SetPlan& plan, const PartitionPlan& partition)
{
    return *plan.groups[static_cast<std::size_t>(partition.group)].primary;
}

// HOTFIX and MIRROR copies, both copies of the hot-fix tables, and the
// garbage at redirected homes and bad spare sectors.
void writeHeaders(const PartitionPlan& partition, SectorSink& disk)
{
    const HeaderLayout& layout = *partition.layout.headers;
    const PartitionHeaders& described = *partition.headers;
    const HotfixTables& tables = *partition.hotfix;
    const std::uint64_t start = partition.layout.startSector;
    HotfixFields hotfix;
    hotfix.partitionId = layout.partitionId;
    hotfix.dataSectors = layout.dataSectors;
    hotfix.hotfixLength = partition.layout.hotfixLength;
    hotfix.tableSectors = layout.tableSectors;
    MirrorFields mirror;
    mirror.partitionId = layout.partitionId;
    mirror.flags = layout.mirrorFlags;
    mirror.status = layout.mirrorStatus;
    mirror.dataSectors = layout.dataSectors;
    mirror.groupId = layout.mirrorGroupId;
    mirror.members = layout.members;
    const SectorBytes hotfixSector = encodeHotfixSector(hotfix);
    const SectorBytes mirrorSector = encodeMirrorSector(mirror);
    for (int c = 0; c < kHeaderCopies; ++c) {
        const std::uint64_t sector = layout.hotfixSectors[c];
        const auto seed = static_cast<std::uint32_t>(c + 4 * partition.layout.slot);
        if (described.hotfixCopies[c] == HeaderCopy::Intact)
            disk.writeSectors(sector, hotfixSector);
        else if (described.hotfixCopies[c] == HeaderCopy::Damaged)
            disk.writeSectors(sector, encodeDamagedHeader(kHotfixSignature, seed));
        if (described.mirrorCopies[c] == HeaderCopy::Intact)
            disk.writeSectors(sector + 1, mirrorSector);
        else if (described.mirrorCopies[c] == HeaderCopy::Damaged)
            disk.writeSectors(sector + 1, encodeDamagedHeader(kMirrorSignature, seed + 100));
    }
    for (std::uint32_t g = 0; g < tables.groups; ++g)
        for (int t = 0; t < 4; ++t)
            disk.writeSectors(start + std::uint64_t{tables.tableBlocks[g][t]} * kBlockSectors, tables.encodeTable(g, t));
    for (const auto& [logicalBlock, redirect] : tables.byLogicalBlock)
        for (std::uint32_t k = 0; k < kBlockSectors; ++k) {
            const std::uint32_t logical = logicalBlock * kBlockSectors + k;
            disk.writeSectors(partition.home(logical), staleSector(logical));
            if ((redirect.badBits >> k) & 1u) {
                const std::uint64_t spareSector = std::uint64_t{redirect.spare} * kBlockSectors + k;
                disk.writeSectors(start + spareSector, badSpareSector(static_cast<std::uint32_t>(spareSector)));
            }
        }
}

std::vector<VolumeTableEntry> entriesOf(const PartitionPlan& partition)
{
    std::vector<VolumeTableEntry> entries;
    for (const EntryPlan& entry : partition.table)
        entries.push_back(entry.entry);
    return entries;
}

std::vector<SegmentSource> spannedSources(const SetPlan& plan, const SpannedPlan& spanned)
{
    std::vector<SegmentSource> sources;
    for (const SpannedSegmentPlan& segment : spanned.segments)
        sources.push_back({&plan.groups[static_cast<std::size_t>(segment.partition->group)], segment.root,
                           segment.firstBlock, segment.sizeSectors, segment.entry});
    return sources;
}

std::uint32_t writtenBlockCount(const VolumeTableEntry& entry)
{
    return entry.netwareFields ? entry.volumeBlocks : blockCountOf(entry.fields);
}

// Every NetWare partition's segments in table order, at its own home sectors.
void layOutSegments(SetPlan& plan)
{
    for (DiskPlan& disk : plan.disks)
        for (PartitionPlan& partition : disk.partitions) {
            if (!partition.layout.netware)
                continue;
            for (const EntryPlan& planned : tableHolder(plan, partition).table) {
                const VolumeTableEntry& entry = planned.entry;
                SegmentLayout& segment = partition.layout.segments.emplace_back();
                segment.name = entry.fields.name;
                segment.startSector = partition.home(entry.volumeRoot);
                segment.sizeSectors = entry.fields.sizeSectors;
                segment.blockCount = writtenBlockCount(entry);
                segment.sectorsPerBlock = sectorsPerBlockOf(entry.fields);
                segment.firstFatBlock = entry.fields.firstFatBlock.value_or(1);
                segment.secondFatBlock = entry.fields.secondFatBlock.value_or(2);
                segment.firstDetBlock = entry.fields.firstDetBlock.value_or(3);
                segment.secondDetBlock = entry.fields.secondDetBlock.value_or(4);
                segment.volumeRoot = entry.volumeRoot;
                segment.netwareFields = entry.netwareFields;
                segment.segmentIndex = entry.segmentIndex;
                segment.segmentCount = entry.segmentCount;
                segment.firstVolumeBlock = entry.firstVolumeBlock;
                segment.spannedVolume = planned.spanned;
            }
        }
}

// The rows a reader lists: per disk in slot order, a mirror group's table
// once from the member it reads, when a table copy reads.
void layOutRows(SetPlan& plan)
{
    for (DiskPlan& disk : plan.disks) {
        std::vector<const PartitionPlan*> bySlot;
        for (const PartitionPlan& partition : disk.partitions)
            if (partition.layout.netware)
                bySlot.push_back(&partition);
        std::sort(bySlot.begin(), bySlot.end(),
                  [](const PartitionPlan* a, const PartitionPlan* b) { return a->layout.slot < b->layout.slot; });
        for (const PartitionPlan* partition : bySlot) {
            const GroupPlan& group = plan.groups[static_cast<std::size_t>(partition->group)];
            if (&group.reader() != partition)
                continue;
            const PartitionPlan& holder = *group.primary;
            const NetWareLayout& netware = *holder.described->netware;
            bool tableReads = false;
            for (int c = 0; c < kTableCopies; ++c)
                tableReads = tableReads
                    || (netware.tableCopies[c] == TableCopy::Intact
                        && !group.unreadable.contains(kTableCopyLogicalSector * static_cast<std::uint32_t>(c + 1)));
            if (!tableReads)
                continue;
            const std::size_t count = std::min<std::size_t>(
                {holder.table.size(), netware.entryCountOverride.value_or(static_cast<std::uint32_t>(holder.table.size())),
                 static_cast<std::size_t>(kMaxVolumeEntries)});
            for (std::size_t k = 0; k < count; ++k) {
                const VolumeTableEntry& entry = holder.table[k].entry;
                TableRow& row = disk.layout.rows.emplace_back();
                row.disk = partition->layout.disk;
                row.partitionSlot = partition->layout.slot;
                row.entry = k;
                row.name = entry.fields.name;
                row.startSector = partition->home(entry.volumeRoot);
                row.sizeSectors = entry.fields.sizeSectors;
                row.volumeRoot = entry.volumeRoot;
                row.netwareFields = entry.netwareFields;
                row.segmentIndex = entry.segmentIndex;
                row.segmentCount = entry.segmentCount;
                row.volumeBlocks = writtenBlockCount(entry);
                row.firstVolumeBlock = entry.firstVolumeBlock;
                if (entry.netwareFields) {
                    row.sectorsPerBlock = sectorsPerBlockOf(entry.fields);
                } else {
                    const std::uint32_t blocks = blockCountOf(entry.fields);
                    row.sectorsPerBlock = blocks == 0 ? 0 : entry.fields.sizeSectors / blocks;
                }
            }
        }
    }
}

// A manifest just made by a volume writer; nothing else holds it yet.
VolumeManifest& editable(const std::shared_ptr<const VolumeManifest>& manifest)
{
    return *std::const_pointer_cast<VolumeManifest>(manifest);
}

} // namespace

void emitSet(SetPlan& plan, const std::vector<SectorSink*>& sinks)
{
    layOutSegments(plan);

    // Each NetWare partition's data area, and each group's (its members together).
    std::map<const PartitionPlan*, std::unique_ptr<RedirectingSink>> partitionSinks;
    for (DiskPlan& disk : plan.disks)
        for (PartitionPlan& partition : disk.partitions)
            if (partition.layout.netware)
                partitionSinks[&partition] = std::make_unique<RedirectingSink>(
                    *sinks[partition.layout.disk], partition.layout.startSector, partition.layout.hotfixLength,
                    partition.redirects());
    std::vector<std::unique_ptr<SectorSink>> mirrorSinks;
    std::vector<SectorSink*> groupSinks;
    for (const GroupPlan& group : plan.groups) {
        if (group.members.size() == 1) {
            groupSinks.push_back(partitionSinks.at(group.members.front()).get());
            continue;
        }
        std::vector<SectorSink*> members;
        for (const PartitionPlan* member : group.members)
            members.push_back(partitionSinks.at(member).get());
        mirrorSinks.push_back(std::make_unique<MirrorSink>(std::move(members)));
        groupSinks.push_back(mirrorSinks.back().get());
    }

    for (std::size_t d = 0; d < plan.disks.size(); ++d) {
        DiskPlan& disk = plan.disks[d];
        SectorSink& sink = *sinks[d];
        if (disk.described->bootSignature || !disk.described->partitions.empty()) {
            SectorBytes mbr{};
            for (const PartitionPlan& partition : disk.partitions)
                writeMbrEntry(mbr, partition.layout);
            if (disk.described->bootSignature) {
                mbr[510] = 0x55;
                mbr[511] = 0xAA;
            }
            sink.writeSectors(0, mbr);
        }
        for (PartitionPlan& partition : disk.partitions) {
            if (!partition.layout.netware)
                continue;
            if (partition.headers)
                writeHeaders(partition, sink);
            else if (partition.layout.hotfixHeaderSector)
                sink.writeSectors(*partition.layout.hotfixHeaderSector, encodeHotfixHeader(partition.layout.hotfixLength));
            const GroupPlan& group = plan.groupOf(partition);
            if (group.primary != &partition)
                continue;
            SectorSink& data = *groupSinks[static_cast<std::size_t>(partition.group)];
            const NetWareLayout& netware = *partition.described->netware;
            const SectorBytes table = encodeVolumeTableEntries(entriesOf(partition), netware.entryCountOverride);
            for (int copy = 0; copy < kTableCopies; ++copy) {
                const std::uint64_t sector = kTableCopyLogicalSector * static_cast<std::uint64_t>(copy + 1);
                if (netware.tableCopies[copy] == TableCopy::Intact)
                    data.writeSectors(sector, table);
                else if (netware.tableCopies[copy] == TableCopy::Damaged)
                    data.writeSectors(sector, encodeDamagedVolumeTable(static_cast<std::uint32_t>(copy)));
            }
            // Volumes are written at the home sectors of the member the reader
            // reads, so that their manifests name those.
            const PartitionPlan& reader = group.reader();
            OffsetSink atHome(data, reader.home(0));
            for (std::size_t k = 0; k < partition.table.size(); ++k) {
                const EntryPlan& entry = partition.table[k];
                if (entry.ownSegment < 0 || !partition.writers[static_cast<std::size_t>(entry.ownSegment)])
                    continue;
                auto manifest = partition.writers[static_cast<std::size_t>(entry.ownSegment)]->write(
                    reader.home(entry.entry.volumeRoot), atHome);
                finishManifest(editable(manifest),
                               {{&group, entry.entry.volumeRoot, 0, entry.entry.fields.sizeSectors, true}}, false);
                partition.layout.segments[k].manifest = std::move(manifest);
            }
        }
    }

    for (const auto& spanned : plan.spanned) {
        const std::vector<SegmentSource> sources = spannedSources(plan, *spanned);
        SpannedVolumeLayout& layout = spanned->layout;
        layout.name = spanned->described->name;
        layout.sectorsPerBlock = spanned->described->sectorsPerBlock;
        layout.blockCount = spanned->blockCount;
        layout.segments = manifestSegments(sources);
        if (!spanned->writer)
            continue;
        std::vector<SegmentTarget> targets;
        for (const SpannedSegmentPlan& segment : spanned->segments)
            targets.push_back({std::uint64_t{segment.firstBlock} * layout.sectorsPerBlock, segment.sizeSectors,
                               groupSinks[static_cast<std::size_t>(segment.partition->group)], segment.root});
        SegmentSink volume(std::move(targets));
        auto manifest = spanned->writer->write(0, volume);
        finishManifest(editable(manifest), sources, true);
        layout.manifest = std::move(manifest);
    }

    for (DiskPlan& disk : plan.disks)
        for (PartitionPlan& partition : disk.partitions)
            if (partition.headers)
                for (std::uint32_t logical : partition.headers->damagedSectors)
                    partitionSinks.at(&partition)->writeSectors(logical, damagedSector(logical));

    for (std::size_t d = 0; d < plan.disks.size(); ++d) {
        const DiskSpec& described = *plan.disks[d].described;
        SectorSink& sink = *sinks[d];
        for (const VolumeTableSpec& table : described.volumeTables)
            sink.writeSectors(table.sector, encodeVolumeTable(table.segments, table.entryCountOverride));
        for (std::uint64_t sector : described.detMarkers)
            sink.writeBytes(sector * kSectorBytes, kDetMarker);
        for (const RawWrite& raw : described.raw)
            sink.writeBytes(raw.sector * kSectorBytes + raw.offset, raw.bytes);
    }
    layOutRows(plan);
}

DiskSetLayout takeLayout(SetPlan& plan)
{
    DiskSetLayout layout;
    for (DiskPlan& disk : plan.disks) {
        BuiltLayout& built = layout.disks.emplace_back(std::move(disk.layout));
        for (PartitionPlan& partition : disk.partitions)
            built.partitions.push_back(std::move(partition.layout));
    }
    for (const auto& spanned : plan.spanned)
        layout.spanned.push_back(std::move(spanned->layout));
    return layout;
}

} // namespace tamsin::imagebuilder::detail
