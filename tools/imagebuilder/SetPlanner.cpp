// Plans a set of disks: partitions and their volume tables, spanned volumes
// and data-area sizes; GroupPlanner.cpp adds mirror groups, headers and what
// the reader cannot read. Everything is checked before anything is written.

#include "imagebuilder/SetPlan.h"

#include <algorithm>
#include <numeric>

namespace tamsin::imagebuilder::detail {

namespace {

// Keeps byte offsets (sector * 512) far from overflow.
constexpr std::uint64_t kMaxTotalSectors = std::uint64_t{1} << 40;

[[noreturn]] void fail(std::string message)
{
    throwPlanFailure(std::move(message));
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

void checkSegment(const SegmentSpec& segment, const std::string& where, bool contentsAllowed)
{
    if (segment.contents && !contentsAllowed)
        fail(where + ": contents are only written for volumes inside a partition");
    if (segment.name.size() > kMaxEntryNameChars)
        fail(where + ": name \"" + segment.name + "\" is longer than " + std::to_string(kMaxEntryNameChars)
             + " characters");
    if (segment.writesNetwareFields() && segment.name.size() > kMaxRealNameChars)
        fail(where + ": name \"" + segment.name + "\" is longer than the " + std::to_string(kMaxRealNameChars)
             + " characters an entry with segment fields holds");
    if (segment.blockCount && segment.sectorsPerBlock)
        fail(where + ": give either blockCount or sectorsPerBlock, not both");
    if (segment.sectorsPerBlock && *segment.sectorsPerBlock == 0)
        fail(where + ": sectorsPerBlock must not be 0");
}

void checkSegments(const std::vector<SegmentSpec>& segments, const std::string& where, bool contentsAllowed)
{
    if (segments.size() > static_cast<std::size_t>(kMaxVolumeEntries))
        fail(where + ": " + std::to_string(segments.size()) + " volume entries, a table holds at most "
             + std::to_string(kMaxVolumeEntries));
    for (std::size_t k = 0; k < segments.size(); ++k)
        checkSegment(segments[k], where + "." + indexed("volumes", k), contentsAllowed);
}

// Explicit slots first, then each partition without one takes the lowest free slot.
std::vector<int> assignSlots(const std::vector<PartitionSpec>& partitions, const std::string& prefix)
{
    if (partitions.size() > static_cast<std::size_t>(kPartitionSlots))
        fail(prefix + std::to_string(partitions.size()) + " partitions given, the MBR holds at most "
             + std::to_string(kPartitionSlots));
    std::array<bool, kPartitionSlots> used{};
    std::vector<int> slots(partitions.size(), -1);
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        const int slot = partitions[i].slot;
        if (slot == -1)
            continue;
        if (slot < 0 || slot >= kPartitionSlots)
            fail(prefix + indexed("partitions", i) + ": slot " + std::to_string(slot) + " is not 0..3");
        if (used[slot])
            fail(prefix + indexed("partitions", i) + ": slot " + std::to_string(slot) + " is already taken");
        used[slot] = true;
        slots[i] = slot;
    }
    for (int& slot : slots) {
        if (slot != -1)
            continue;
        slot = static_cast<int>(std::find(used.begin(), used.end(), false) - used.begin());
        used[slot] = true;
    }
    return slots;
}

// The fields of a segment that its volume table entry is written from.
SegmentSpec tableEntryOf(const SegmentSpec& segment)
{
    SegmentSpec entry;
    entry.name = segment.name;
    entry.nameLengthOverride = segment.nameLengthOverride;
    entry.sizeSectors = segment.sizeSectors;
    entry.blockCount = segment.blockCount;
    entry.sectorsPerBlock = segment.sectorsPerBlock;
    entry.firstFatBlock = segment.firstFatBlock;
    entry.secondFatBlock = segment.secondFatBlock;
    entry.firstDetBlock = segment.firstDetBlock;
    entry.secondDetBlock = segment.secondDetBlock;
    entry.netwareFields = segment.writesNetwareFields();
    entry.volumeRoot = segment.volumeRoot;
    return entry;
}

std::uint32_t checkedU32(std::uint64_t value, const std::string& what)
{
    if (value > 0xFFFFFFFFu)
        fail(what + " " + number(value) + " does not fit into 32 bits");
    return static_cast<std::uint32_t>(value);
}

void checkEnd(const PartitionPlan& partition, std::uint64_t totalSectors)
{
    const std::uint64_t end = std::uint64_t{partition.layout.startSector} + partition.layout.sizeSectors;
    if (end > totalSectors)
        fail(partition.where + ": ends at sector " + number(end) + ", past the disk's " + number(totalSectors)
             + " sectors");
}

// The partition's own part: layout, its own segments and their writers.
PartitionPlan planPartition(const PartitionSpec& described, std::size_t disk, int slot, std::uint64_t totalSectors,
                            const std::string& where)
{
    PartitionPlan planned;
    planned.described = &described;
    planned.where = where;
    PartitionLayout& layout = planned.layout;
    layout.slot = slot;
    layout.disk = disk;
    layout.type = described.type;
    layout.startSector = described.startSector;
    layout.sizeSectors = described.sizeSectors;
    planned.sizedToFit = described.netware && described.sizeSectors == 0;
    if (!planned.sizedToFit)
        checkEnd(planned, totalSectors);
    if (!described.netware)
        return planned;

    const NetWareLayout& netware = *described.netware;
    planned.headers = netware.headers ? &*netware.headers : nullptr;
    if (netware.hotfixProbe < 0 || netware.hotfixProbe > kMaxHotfixProbe)
        fail(where + ": hot-fix probe " + std::to_string(netware.hotfixProbe) + " is not 0..4");
    if (netware.hotfixLength < kMinHotfixLength)
        fail(where + ": hot-fix length " + number(netware.hotfixLength) + " is below the minimum of "
             + number(kMinHotfixLength) + " sectors");
    checkSegments(netware.segments, where, true);
    if (planned.headers)
        if (auto error = checkHeaderHotfixLength(netware.hotfixLength))
            fail(where + ": " + *error);
    if (planned.headers && planned.headers->mirrorOf) {
        const bool copiesIntact = std::all_of(netware.tableCopies.begin(), netware.tableCopies.end(),
                                              [](TableCopy copy) { return copy == TableCopy::Intact; });
        if (!netware.segments.empty() || netware.entryCountOverride || !copiesIntact)
            fail(where + ": a mirror member takes its volume table and volumes from the partition it mirrors");
    }

    const std::uint64_t start = described.startSector;
    layout.netware = true;
    layout.hotfixLength = netware.hotfixLength;
    if (planned.headers)
        layout.hotfixHeaderSector = hotfixHeaderSector(start, 1);
    else if (netware.hotfixProbe != 0)
        layout.hotfixHeaderSector = hotfixHeaderSector(start, netware.hotfixProbe);
    layout.tableArea = tableAreaSector(start, netware.hotfixLength);
    layout.dataArea = dataAreaSector(start, netware.hotfixLength);
    for (int copy = 0; copy < kTableCopies; ++copy)
        layout.tableCopySectors[copy] = tableCopySector(start, netware.hotfixLength, copy);

    // Today's placement: end to end from logical sector 160 in table order.
    std::uint64_t endToEnd = kFirstSegmentSector;
    for (std::size_t k = 0; k < netware.segments.size(); ++k) {
        const SegmentSpec& segment = netware.segments[k];
        const std::string segmentWhere = where + "." + indexed("volumes", k);
        SegmentSpec fields = tableEntryOf(segment);
        std::unique_ptr<VolumeWriter> writer;
        if (segment.contents) {
            auto contents = VolumeWriter::plan(segment, segmentWhere + ".contents");
            if (!contents)
                fail(contents.error());
            writer = std::move(*contents);
            if (segment.sizeSectors == 0)
                fields.sectorsPerBlock = writer->sectorsPerBlock();
            fields.sizeSectors = writer->sizeSectors();
            const auto blocks = writer->tableBlocks();
            fields.firstFatBlock = blocks[0];
            fields.secondFatBlock = blocks[1];
            fields.firstDetBlock = blocks[2];
            fields.secondDetBlock = blocks[3];
        }
        EntryPlan entry;
        entry.ownSegment = static_cast<int>(k);
        entry.entry.netwareFields = fields.netwareFields;
        if (segment.contents)
            entry.entry.noiseSeed = segment.contents->noiseSeed;
        const std::uint64_t root = segment.volumeRoot.value_or(endToEnd);
        entry.entry.volumeRoot = checkedU32(root, segmentWhere + ": VolumeRoot");
        if (root < kFirstSegmentSector)
            fail(segmentWhere + ": VolumeRoot " + number(root) + " lies in the volume table blocks below logical sector "
                 + number(kFirstSegmentSector));
        entry.entry.volumeBlocks = blockCountOf(fields);
        if (entry.entry.netwareFields) {
            if (!blockSizeCode(sectorsPerBlockOf(fields)))
                fail(segmentWhere + ": an entry with segment fields needs 8, 16, 32, 64 or 128 sectors per block, not "
                     + number(sectorsPerBlockOf(fields)));
            if (root % kBlockSectors != 0)
                fail(segmentWhere + ": VolumeRoot " + number(root)
                     + " is not a multiple of 8 (give volumeRoot, or sizes of whole 4K blocks before it)");
        }
        endToEnd += fields.sizeSectors;
        planned.dataEnd = std::max(planned.dataEnd, checkedU32(root + fields.sizeSectors, segmentWhere + ": segment end"));
        entry.entry.fields = std::move(fields);
        planned.table.push_back(std::move(entry));
        planned.writers.push_back(std::move(writer));
    }
    return planned;
}

void planSpanned(SetPlan& plan, const std::vector<SpannedVolumeSpec>& volumes, std::size_t v)
{
    const SpannedVolumeSpec& described = volumes[v];
    auto spanned = std::make_unique<SpannedPlan>();
    spanned->described = &described;
    spanned->where = indexed("volumes", v);
    const std::string& where = spanned->where;
    if (described.name.size() > kMaxRealNameChars)
        fail(where + ": name \"" + described.name + "\" is longer than " + number(kMaxRealNameChars) + " characters");
    if (!blockSizeCode(described.sectorsPerBlock))
        fail(where + ": sectorsPerBlock must be 8, 16, 32, 64 or 128, not " + number(described.sectorsPerBlock));
    if (described.segments.empty() || described.segments.size() > 255)
        fail(where + ": a volume has 1 to 255 segments, not " + number(described.segments.size()));

    std::uint64_t sectors = 0;
    for (std::size_t i = 0; i < described.segments.size(); ++i) {
        const SpannedSegmentSpec& segment = described.segments[i];
        const std::string at = where + "." + indexed("segments", i);
        if (segment.disk >= plan.disks.size())
            fail(at + ": disk " + number(segment.disk) + " is not in the set of " + number(plan.disks.size()));
        PartitionPlan* partition = plan.disks[segment.disk].inSlot(segment.slot);
        if (!partition || !partition->layout.netware)
            fail(at + ": " + refText({segment.disk, segment.slot}) + " holds no NetWare partition");
        if (partition->headers && partition->headers->mirrorOf)
            fail(at + ": " + refText({segment.disk, segment.slot})
                 + " is a mirror member; name the partition it mirrors");
        if (segment.sizeSectors == 0 || segment.sizeSectors % described.sectorsPerBlock != 0)
            fail(at + ": the size must be a positive multiple of " + number(described.sectorsPerBlock) + " sectors, not "
                 + number(segment.sizeSectors));
        const std::uint64_t root =
            segment.volumeRoot.value_or((std::uint64_t{partition->dataEnd} + kBlockSectors - 1) / kBlockSectors
                                        * kBlockSectors);
        if (root % kBlockSectors != 0)
            fail(at + ": VolumeRoot " + number(root) + " is not a multiple of 8");
        if (root < kFirstSegmentSector)
            fail(at + ": VolumeRoot " + number(root) + " lies in the volume table blocks below logical sector "
                 + number(kFirstSegmentSector));
        SpannedSegmentPlan placed;
        placed.partition = partition;
        placed.root = checkedU32(root, at + ": VolumeRoot");
        placed.sizeSectors = segment.sizeSectors;
        placed.firstBlock = checkedU32(sectors / described.sectorsPerBlock, at + ": first block");
        placed.entry = segment.entry;
        partition->dataEnd = std::max(partition->dataEnd, checkedU32(root + segment.sizeSectors, at + ": segment end"));
        sectors += segment.sizeSectors;
        spanned->segments.push_back(placed);
    }
    spanned->blockCount = checkedU32(sectors / described.sectorsPerBlock, where + ": volume blocks");

    SegmentSpec& whole = spanned->whole;
    whole.name = described.name;
    whole.sizeSectors = checkedU32(sectors, where + ": volume size");
    whole.sectorsPerBlock = described.sectorsPerBlock;
    whole.firstFatBlock = described.firstFatBlock;
    whole.secondFatBlock = described.secondFatBlock;
    whole.firstDetBlock = described.firstDetBlock;
    whole.secondDetBlock = described.secondDetBlock;
    whole.contents = described.contents;
    std::array<std::uint32_t, 4> tableBlocks = {whole.firstFatBlock.value_or(1), whole.secondFatBlock.value_or(2),
                                                whole.firstDetBlock.value_or(3), whole.secondDetBlock.value_or(4)};
    if (whole.contents) {
        auto writer = VolumeWriter::plan(whole, where + ".contents");
        if (!writer)
            fail(writer.error());
        spanned->writer = std::move(*writer);
        tableBlocks = spanned->writer->tableBlocks();
    }

    for (std::size_t i = 0; i < spanned->segments.size(); ++i) {
        const SpannedSegmentPlan& placed = spanned->segments[i];
        if (!placed.entry)
            continue;
        EntryPlan entry;
        entry.spanned = static_cast<int>(v);
        entry.entry.fields.name = described.name;
        entry.entry.fields.sizeSectors = placed.sizeSectors;
        entry.entry.fields.sectorsPerBlock = described.sectorsPerBlock;
        entry.entry.fields.firstFatBlock = tableBlocks[0];
        entry.entry.fields.secondFatBlock = tableBlocks[1];
        entry.entry.fields.firstDetBlock = tableBlocks[2];
        entry.entry.fields.secondDetBlock = tableBlocks[3];
        entry.entry.fields.netwareFields = true;
        entry.entry.netwareFields = true;
        entry.entry.segmentIndex = static_cast<std::uint8_t>(i);
        entry.entry.segmentCount = static_cast<std::uint8_t>(spanned->segments.size());
        entry.entry.volumeRoot = placed.root;
        entry.entry.volumeBlocks = spanned->blockCount;
        entry.entry.firstVolumeBlock = placed.firstBlock;
        if (described.contents)
            entry.entry.noiseSeed = described.contents->noiseSeed;

        std::vector<EntryPlan>& table = placed.partition->table;
        std::size_t position = table.size();
        if (const auto& tableIndex = described.segments[i].tableIndex) {
            if (*tableIndex > table.size())
                fail(where + "." + indexed("segments", i) + ": table index " + number(*tableIndex)
                     + " is past the " + number(table.size()) + " entries placed in the table so far");
            position = *tableIndex;
        } else {
            for (std::size_t k = 0; k < table.size(); ++k)
                if (table[k].entry.volumeRoot > placed.root) {
                    position = k;
                    break;
                }
        }
        table.insert(table.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
    }
    plan.spanned.push_back(std::move(spanned));
}

// Table size, overlaps, and entries without a VolumeRoot field where the
// reader places them.
void checkTable(const PartitionPlan& partition)
{
    const std::vector<EntryPlan>& table = partition.table;
    if (table.size() > static_cast<std::size_t>(kMaxVolumeEntries))
        fail(partition.where + ": " + number(table.size()) + " volume entries, a table holds at most "
             + number(kMaxVolumeEntries));
    std::uint64_t endToEnd = kFirstSegmentSector;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const VolumeTableEntry& entry = table[k].entry;
        if (!entry.netwareFields && entry.volumeRoot != endToEnd)
            fail(partition.where + ": volume table entry " + number(k) + " (" + entry.fields.name
                 + ") has no VolumeRoot field, so the reader places it at logical sector " + number(endToEnd)
                 + " after the entries before it, but it lies at " + number(entry.volumeRoot)
                 + "; give it netwareFields");
        endToEnd += entry.fields.sizeSectors;
    }
}

// No two segments of a partition share a sector; spanned segments without
// an entry count too.
void checkExtents(const SetPlan& plan)
{
    struct Extent {
        std::uint64_t root, end;
        std::string name;
    };
    std::map<const PartitionPlan*, std::vector<Extent>> byPartition;
    for (const DiskPlan& disk : plan.disks)
        for (const PartitionPlan& partition : disk.partitions)
            for (const EntryPlan& entry : partition.table)
                if (entry.spanned < 0 && entry.entry.fields.sizeSectors > 0)
                    byPartition[&partition].push_back(
                        {entry.entry.volumeRoot,
                         std::uint64_t{entry.entry.volumeRoot} + entry.entry.fields.sizeSectors, entry.entry.fields.name});
    for (std::size_t v = 0; v < plan.spanned.size(); ++v)
        for (std::size_t i = 0; i < plan.spanned[v]->segments.size(); ++i) {
            const SpannedSegmentPlan& segment = plan.spanned[v]->segments[i];
            byPartition[segment.partition].push_back(
                {segment.root, std::uint64_t{segment.root} + segment.sizeSectors,
                 plan.spanned[v]->described->name + " segment " + number(i)});
        }
    for (auto& [partition, extents] : byPartition) {
        std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.root < b.root; });
        for (std::size_t k = 1; k < extents.size(); ++k)
            if (extents[k].root < extents[k - 1].end)
                fail(partition->where + ": " + extents[k - 1].name + " (logical sectors " + number(extents[k - 1].root)
                     + ".." + number(extents[k - 1].end - 1) + ") and " + extents[k].name + " (from "
                     + number(extents[k].root) + ") overlap");
    }
}

// Sizes of a partition that is not a mirror member: data area and, when
// sized to fit, the partition.
void sizePartition(PartitionPlan& partition, std::uint64_t totalSectors)
{
    PartitionLayout& layout = partition.layout;
    const std::uint64_t start = layout.startSector;
    const std::uint32_t hotfix = layout.hotfixLength;
    const PartitionHeaders* headers = partition.headers;
    if (partition.sizedToFit) {
        std::uint64_t data = partition.dataEnd;
        if (headers && headers->dataSectors) {
            if (*headers->dataSectors < partition.dataEnd)
                fail(partition.where + ": the data area of " + number(*headers->dataSectors)
                     + " sectors ends before the volumes, which reach logical sector " + number(partition.dataEnd));
            data = *headers->dataSectors;
        }
        if (std::uint64_t{hotfix} + data > 0xFFFFFFFFu)
            fail(partition.where + ": the volumes need more than 2^32 sectors");
        layout.sizeSectors = static_cast<std::uint32_t>(hotfix + data);
        checkEnd(partition, totalSectors);
    }
    const std::uint64_t segmentsEnd = start + hotfix + partition.dataEnd;
    const std::uint64_t end = start + layout.sizeSectors;
    if (segmentsEnd > end)
        fail(partition.where + ": the volume area ends at sector " + number(segmentsEnd) + ", past the partition's end at "
             + number(end));
    partition.dataSectors = layout.sizeSectors - hotfix;
    if (headers && headers->dataSectors) {
        if (*headers->dataSectors < partition.dataEnd)
            fail(partition.where + ": the data area of " + number(*headers->dataSectors)
                 + " sectors ends before the volumes, which reach logical sector " + number(partition.dataEnd));
        partition.dataSectors = *headers->dataSectors;
        if (std::uint64_t{hotfix} + partition.dataSectors > layout.sizeSectors)
            fail(partition.where + ": the hot-fix area (" + number(hotfix) + ") and the data area ("
                 + number(partition.dataSectors) + ") do not fit into the partition's " + number(layout.sizeSectors)
                 + " sectors");
    }
}

void sizeMember(PartitionPlan& member, const PartitionPlan& primary, std::uint64_t totalSectors)
{
    const std::uint32_t data = primary.dataSectors;
    if (member.headers->dataSectors && *member.headers->dataSectors != data)
        fail(member.where + ": a mirror member's data area has the size of the partition it mirrors, " + number(data)
             + " sectors, not " + number(*member.headers->dataSectors));
    const std::uint64_t needed = std::uint64_t{member.layout.hotfixLength} + data;
    if (member.sizedToFit) {
        if (needed > 0xFFFFFFFFu)
            fail(member.where + ": the partition needs more than 2^32 sectors");
        member.layout.sizeSectors = static_cast<std::uint32_t>(needed);
        checkEnd(member, totalSectors);
    } else if (needed > member.layout.sizeSectors) {
        fail(member.where + ": the hot-fix area (" + number(member.layout.hotfixLength) + ") and the mirrored data area ("
             + number(data) + ") do not fit into the partition's " + number(member.layout.sizeSectors) + " sectors");
    }
    member.dataSectors = data;
}

// The sector after the last one the description writes, for a disk sized to fit.
std::uint64_t fittingSize(const DiskSpec& disk, const std::vector<PartitionPlan>& partitions)
{
    std::uint64_t end = disk.bootSignature || !disk.partitions.empty() ? 1 : 0;
    for (const PartitionPlan& partition : partitions)
        end = std::max(end, std::uint64_t{partition.layout.startSector} + partition.layout.sizeSectors);
    for (const VolumeTableSpec& table : disk.volumeTables)
        end = std::max(end, table.sector + 1);
    for (std::uint64_t sector : disk.detMarkers)
        end = std::max(end, sector + 1);
    for (const RawWrite& raw : disk.raw)
        end = std::max(end,
                       (raw.sector * kSectorBytes + raw.offset + raw.bytes.size() + kSectorBytes - 1) / kSectorBytes);
    return end;
}

void checkDiskWrites(const DiskPlan& disk)
{
    const DiskSpec& described = *disk.described;
    const std::uint64_t total = disk.layout.totalSectors;
    const std::string& prefix = disk.prefix;
    for (std::size_t i = 0; i < described.volumeTables.size(); ++i) {
        const VolumeTableSpec& table = described.volumeTables[i];
        const std::string where = prefix + indexed("volumeTables", i);
        if (table.sector >= total)
            fail(where + ": sector " + number(table.sector) + " is past the end of the disk");
        checkSegments(table.segments, where, false);
        for (std::size_t k = 0; k < table.segments.size(); ++k)
            if (table.segments[k].writesNetwareFields() && !blockSizeCode(sectorsPerBlockOf(table.segments[k])))
                fail(where + "." + indexed("volumes", k)
                     + ": an entry with segment fields needs 8, 16, 32, 64 or 128 sectors per block");
    }
    for (std::size_t i = 0; i < described.detMarkers.size(); ++i)
        if (described.detMarkers[i] >= total)
            fail(prefix + indexed("detMarkers", i) + ": sector " + number(described.detMarkers[i])
                 + " is past the end of the disk");
    for (std::size_t i = 0; i < described.raw.size(); ++i) {
        const RawWrite& raw = described.raw[i];
        const bool fits = raw.sector < total && raw.sector * kSectorBytes + raw.offset + raw.bytes.size() <= total * kSectorBytes;
        if (!fits)
            fail(prefix + indexed("raw", i) + ": " + number(raw.bytes.size()) + " bytes at sector " + number(raw.sector)
                 + " offset " + number(raw.offset) + " run past the end of the disk");
    }
}

} // namespace

PartitionPlan* DiskPlan::inSlot(int slot)
{
    for (PartitionPlan& partition : partitions)
        if (partition.layout.slot == slot)
            return &partition;
    return nullptr;
}

Result<std::unique_ptr<SetPlan>> planSet(const std::vector<const DiskSpec*>& disks,
                                         const std::vector<SpannedVolumeSpec>& volumes, bool namedDisks)
{
    auto plan = std::make_unique<SetPlan>();
    try {
        plan->disks.resize(disks.size());
        for (std::size_t d = 0; d < disks.size(); ++d) {
            const DiskSpec& described = *disks[d];
            DiskPlan& disk = plan->disks[d];
            disk.described = &described;
            disk.prefix = namedDisks ? indexed("disks", d) + "." : "";
            disk.layout.disk = d;
            if (described.totalSectors > kMaxTotalSectors)
                fail(disk.prefix + "the disk size of " + number(described.totalSectors)
                     + " sectors is beyond what is supported");
            const std::uint64_t totalSectors = described.totalSectors == 0 ? kMaxTotalSectors : described.totalSectors;
            const std::vector<int> slots = assignSlots(described.partitions, disk.prefix);
            for (std::size_t i = 0; i < described.partitions.size(); ++i)
                disk.partitions.push_back(planPartition(described.partitions[i], d, slots[i], totalSectors,
                                                        disk.prefix + indexed("partitions", i)));
        }
        for (std::size_t v = 0; v < volumes.size(); ++v)
            planSpanned(*plan, volumes, v);
        for (DiskPlan& disk : plan->disks)
            for (PartitionPlan& partition : disk.partitions)
                checkTable(partition);
        checkExtents(*plan);

        formGroups(*plan);
        for (DiskPlan& disk : plan->disks) {
            const std::uint64_t totalSectors = disk.described->totalSectors == 0 ? kMaxTotalSectors : disk.described->totalSectors;
            for (PartitionPlan& partition : disk.partitions)
                if (partition.layout.netware && partition.group >= 0
                    && plan->groups[static_cast<std::size_t>(partition.group)].primary == &partition)
                    sizePartition(partition, totalSectors);
        }
        for (GroupPlan& group : plan->groups)
            for (PartitionPlan* member : group.members)
                if (member != group.primary) {
                    const DiskSpec& described = *plan->disks[member->layout.disk].described;
                    sizeMember(*member, *group.primary, described.totalSectors == 0 ? kMaxTotalSectors : described.totalSectors);
                }
        for (DiskPlan& disk : plan->disks) {
            disk.layout.totalSectors =
                disk.described->totalSectors == 0 ? fittingSize(*disk.described, disk.partitions) : disk.described->totalSectors;
            if (disk.layout.totalSectors == 0)
                fail(disk.prefix + "the disk must have at least one sector");
            checkDiskWrites(disk);
        }
        planHeaders(*plan);
        planReadView(*plan);
        if (plan->anyUnreadable)
            checkTablesReadable(*plan);
    } catch (const PlanFailure& failure) {
        return Error{failure.message};
    }
    return plan;
}

} // namespace tamsin::imagebuilder::detail
