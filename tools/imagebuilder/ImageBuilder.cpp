#include "imagebuilder/ImageBuilder.h"

#include "common/LittleEndian.h"
#include "imagebuilder/SectorSink.h"
#include "imagebuilder/VolumeWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/types.h>
#include <unistd.h>

namespace tamsin::imagebuilder {

namespace {

// Keeps byte offsets (sector * 512) far from overflow.
constexpr std::uint64_t kMaxTotalSectors = std::uint64_t{1} << 40;

std::string indexed(const std::string& list, std::size_t index)
{
    return list + "[" + std::to_string(index) + "]";
}

std::optional<std::string> checkSegment(const SegmentSpec& segment, const std::string& where, bool contentsAllowed)
{
    if (segment.contents && !contentsAllowed)
        return where + ": contents are only written for volumes inside a partition";
    if (segment.name.size() > kMaxEntryNameChars)
        return where + ": name \"" + segment.name + "\" is longer than " + std::to_string(kMaxEntryNameChars)
            + " characters";
    if (segment.blockCount && segment.sectorsPerBlock)
        return where + ": give either blockCount or sectorsPerBlock, not both";
    if (segment.sectorsPerBlock && *segment.sectorsPerBlock == 0)
        return where + ": sectorsPerBlock must not be 0";
    return std::nullopt;
}

std::optional<std::string> checkSegments(const std::vector<SegmentSpec>& segments, const std::string& where,
                                         bool contentsAllowed)
{
    if (segments.size() > static_cast<std::size_t>(kMaxVolumeEntries))
        return where + ": " + std::to_string(segments.size()) + " volume entries, a table holds at most "
            + std::to_string(kMaxVolumeEntries);
    for (std::size_t k = 0; k < segments.size(); ++k)
        if (auto error = checkSegment(segments[k], where + "." + indexed("volumes", k), contentsAllowed))
            return error;
    return std::nullopt;
}

// Explicit slots first, then each partition without one takes the lowest free slot.
Result<std::vector<int>> assignSlots(const std::vector<PartitionSpec>& partitions)
{
    if (partitions.size() > static_cast<std::size_t>(kPartitionSlots))
        return Error{std::to_string(partitions.size()) + " partitions given, the MBR holds at most "
                     + std::to_string(kPartitionSlots)};
    std::array<bool, kPartitionSlots> used{};
    std::vector<int> slots(partitions.size(), -1);
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        const int slot = partitions[i].slot;
        if (slot == -1)
            continue;
        if (slot < 0 || slot >= kPartitionSlots)
            return Error{indexed("partitions", i) + ": slot " + std::to_string(slot) + " is not 0..3"};
        if (used[slot])
            return Error{indexed("partitions", i) + ": slot " + std::to_string(slot) + " is already taken"};
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
    return entry;
}

// One partition as planned: its layout, the entries of its volume table as
// resolved, and a writer for each segment with contents (null otherwise).
struct PlannedPartition {
    PartitionLayout layout;
    std::vector<SegmentSpec> tableEntries;
    std::vector<std::unique_ptr<detail::VolumeWriter>> writers;
};

Result<PlannedPartition> planPartition(const PartitionSpec& partition, int slot, std::uint64_t totalSectors,
                                       const std::string& where)
{
    PlannedPartition planned;
    PartitionLayout& layout = planned.layout;
    layout.slot = slot;
    layout.type = partition.type;
    layout.startSector = partition.startSector;
    layout.sizeSectors = partition.sizeSectors;
    auto checkEnd = [&]() -> std::optional<std::string> {
        const std::uint64_t end = std::uint64_t{layout.startSector} + layout.sizeSectors;
        if (end > totalSectors)
            return where + ": ends at sector " + std::to_string(end) + ", past the disk's "
                + std::to_string(totalSectors) + " sectors";
        return std::nullopt;
    };
    if (!partition.netware) {
        if (auto error = checkEnd())
            return Error{*error};
        return planned;
    }
    const bool sizedToFit = partition.sizeSectors == 0;
    if (!sizedToFit)
        if (auto error = checkEnd())
            return Error{*error};

    const NetWareLayout& netware = *partition.netware;
    if (netware.hotfixProbe < 0 || netware.hotfixProbe > kMaxHotfixProbe)
        return Error{where + ": hot-fix probe " + std::to_string(netware.hotfixProbe) + " is not 0..4"};
    if (netware.hotfixLength < kMinHotfixLength)
        return Error{where + ": hot-fix length " + std::to_string(netware.hotfixLength) + " is below the minimum of "
                     + std::to_string(kMinHotfixLength) + " sectors"};
    if (auto error = checkSegments(netware.segments, where, true))
        return Error{*error};

    const std::uint64_t start = partition.startSector;
    layout.netware = true;
    if (netware.hotfixProbe != 0)
        layout.hotfixHeaderSector = hotfixHeaderSector(start, netware.hotfixProbe);
    layout.tableArea = tableAreaSector(start, netware.hotfixLength);
    layout.dataArea = dataAreaSector(start, netware.hotfixLength);
    for (int copy = 0; copy < kTableCopies; ++copy)
        layout.tableCopySectors[copy] = tableCopySector(start, netware.hotfixLength, copy);

    std::uint64_t segmentsEnd = layout.dataArea;
    for (std::size_t k = 0; k < netware.segments.size(); ++k) {
        const SegmentSpec& segment = netware.segments[k];
        SegmentSpec entry = tableEntryOf(segment);
        std::unique_ptr<detail::VolumeWriter> writer;
        if (segment.contents) {
            auto contents = detail::VolumeWriter::plan(segment, where + "." + indexed("volumes", k) + ".contents");
            if (!contents)
                return Error{contents.error()};
            writer = std::move(*contents);
            if (segment.sizeSectors == 0)
                entry.sectorsPerBlock = writer->sectorsPerBlock();
            entry.sizeSectors = writer->sizeSectors();
            const auto blocks = writer->tableBlocks();
            entry.firstFatBlock = blocks[0];
            entry.secondFatBlock = blocks[1];
            entry.firstDetBlock = blocks[2];
            entry.secondDetBlock = blocks[3];
        }
        SegmentLayout segmentLayout;
        segmentLayout.name = entry.name;
        segmentLayout.startSector = segmentsEnd;
        segmentLayout.sizeSectors = entry.sizeSectors;
        segmentLayout.blockCount = blockCountOf(entry);
        segmentLayout.sectorsPerBlock = sectorsPerBlockOf(entry);
        segmentLayout.firstFatBlock = entry.firstFatBlock.value_or(1);
        segmentLayout.secondFatBlock = entry.secondFatBlock.value_or(2);
        segmentLayout.firstDetBlock = entry.firstDetBlock.value_or(3);
        segmentLayout.secondDetBlock = entry.secondDetBlock.value_or(4);
        layout.segments.push_back(std::move(segmentLayout));
        segmentsEnd += entry.sizeSectors;
        planned.tableEntries.push_back(std::move(entry));
        planned.writers.push_back(std::move(writer));
    }
    if (sizedToFit) {
        if (segmentsEnd - start > 0xFFFFFFFFu)
            return Error{where + ": the volumes need more than 2^32 sectors"};
        layout.sizeSectors = static_cast<std::uint32_t>(segmentsEnd - start);
        if (auto error = checkEnd())
            return Error{*error};
    }
    const std::uint64_t end = start + layout.sizeSectors;
    if (segmentsEnd > end)
        return Error{where + ": the volume area ends at sector " + std::to_string(segmentsEnd)
                     + ", past the partition's end at " + std::to_string(end)};
    return planned;
}

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

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    ~FileCloser()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // Closes now so that a failing close can be reported.
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string systemError(const std::string& what, const std::filesystem::path& path)
{
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// A planned image: its layout and what each partition needs for writing.
struct ImagePlan {
    BuiltLayout layout;
    std::vector<PlannedPartition> partitions; // in description order
};

// The sector after the last one the description writes, for a disk sized to fit.
std::uint64_t fittingSize(const DiskSpec& disk, const BuiltLayout& layout)
{
    std::uint64_t end = disk.bootSignature || !disk.partitions.empty() ? 1 : 0;
    for (const PartitionLayout& partition : layout.partitions)
        end = std::max(end, std::uint64_t{partition.startSector} + partition.sizeSectors);
    for (const VolumeTableSpec& table : disk.volumeTables)
        end = std::max(end, table.sector + 1);
    for (std::uint64_t sector : disk.detMarkers)
        end = std::max(end, sector + 1);
    for (const RawWrite& raw : disk.raw)
        end = std::max(end,
                       (raw.sector * kSectorBytes + raw.offset + raw.bytes.size() + kSectorBytes - 1) / kSectorBytes);
    return end;
}

Result<ImagePlan> makePlan(const DiskSpec& disk)
{
    if (disk.totalSectors > kMaxTotalSectors)
        return Error{"the disk size of " + std::to_string(disk.totalSectors) + " sectors is beyond what is supported"};
    const bool sizedToFit = disk.totalSectors == 0;
    const std::uint64_t totalSectors = sizedToFit ? kMaxTotalSectors : disk.totalSectors;

    Result<std::vector<int>> slots = assignSlots(disk.partitions);
    if (!slots)
        return Error{slots.error()};

    ImagePlan plan;
    BuiltLayout& layout = plan.layout;
    for (std::size_t i = 0; i < disk.partitions.size(); ++i) {
        Result<PlannedPartition> partition =
            planPartition(disk.partitions[i], (*slots)[i], totalSectors, indexed("partitions", i));
        if (!partition)
            return Error{partition.error()};
        layout.partitions.push_back(partition->layout);
        plan.partitions.push_back(std::move(*partition));
    }
    layout.totalSectors = sizedToFit ? fittingSize(disk, layout) : disk.totalSectors;
    if (layout.totalSectors == 0)
        return Error{"the disk must have at least one sector"};

    for (std::size_t i = 0; i < disk.volumeTables.size(); ++i) {
        const VolumeTableSpec& table = disk.volumeTables[i];
        const std::string where = indexed("volumeTables", i);
        if (table.sector >= layout.totalSectors)
            return Error{where + ": sector " + std::to_string(table.sector) + " is past the end of the disk"};
        if (auto error = checkSegments(table.segments, where, false))
            return Error{*error};
    }
    for (std::size_t i = 0; i < disk.detMarkers.size(); ++i)
        if (disk.detMarkers[i] >= layout.totalSectors)
            return Error{indexed("detMarkers", i) + ": sector " + std::to_string(disk.detMarkers[i])
                         + " is past the end of the disk"};
    for (std::size_t i = 0; i < disk.raw.size(); ++i) {
        const RawWrite& raw = disk.raw[i];
        const bool fits = raw.sector < layout.totalSectors
            && raw.sector * kSectorBytes + raw.offset + raw.bytes.size() <= layout.totalSectors * kSectorBytes;
        if (!fits)
            return Error{indexed("raw", i) + ": " + std::to_string(raw.bytes.size()) + " bytes at sector "
                         + std::to_string(raw.sector) + " offset " + std::to_string(raw.offset)
                         + " run past the end of the disk"};
    }
    return plan;
}

// Writes everything in the documented order, later structures over earlier
// ones, and fills in the manifests of the segments with contents.
void emit(const DiskSpec& disk, ImagePlan& plan, detail::SectorSink& sink)
{
    BuiltLayout& layout = plan.layout;
    if (disk.bootSignature || !disk.partitions.empty()) {
        SectorBytes mbr{};
        for (const PartitionLayout& partition : layout.partitions)
            writeMbrEntry(mbr, partition);
        if (disk.bootSignature) {
            mbr[510] = 0x55;
            mbr[511] = 0xAA;
        }
        sink.writeSectors(0, mbr);
    }

    for (std::size_t i = 0; i < disk.partitions.size(); ++i) {
        if (!disk.partitions[i].netware)
            continue;
        const NetWareLayout& netware = *disk.partitions[i].netware;
        PartitionLayout& partition = layout.partitions[i];
        const PlannedPartition& planned = plan.partitions[i];
        if (partition.hotfixHeaderSector)
            sink.writeSectors(*partition.hotfixHeaderSector, encodeHotfixHeader(netware.hotfixLength));
        const SectorBytes table = encodeVolumeTable(planned.tableEntries, netware.entryCountOverride);
        for (int copy = 0; copy < kTableCopies; ++copy) {
            const std::uint64_t sector = partition.tableCopySectors[copy];
            switch (netware.tableCopies[copy]) {
            case TableCopy::Intact:
                sink.writeSectors(sector, table);
                break;
            case TableCopy::Damaged:
                sink.writeSectors(sector, encodeDamagedVolumeTable(static_cast<std::uint32_t>(copy)));
                break;
            case TableCopy::Missing:
                break;
            }
        }
        for (std::size_t k = 0; k < planned.writers.size(); ++k)
            if (planned.writers[k])
                partition.segments[k].manifest = planned.writers[k]->write(partition.segments[k].startSector, sink);
    }

    for (const VolumeTableSpec& table : disk.volumeTables)
        sink.writeSectors(table.sector, encodeVolumeTable(table.segments, table.entryCountOverride));
    for (std::uint64_t sector : disk.detMarkers)
        sink.writeBytes(sector * kSectorBytes, kDetMarker);
    for (const RawWrite& raw : disk.raw)
        sink.writeBytes(raw.sector * kSectorBytes + raw.offset, raw.bytes);
}

} // namespace

const PartitionLayout* BuiltLayout::inSlot(int slot) const
{
    for (const PartitionLayout& partition : partitions)
        if (partition.slot == slot)
            return &partition;
    return nullptr;
}

const VolumeManifest* BuiltLayout::volume(std::string_view name) const
{
    for (const PartitionLayout& partition : partitions)
        for (const SegmentLayout& segment : partition.segments)
            if (segment.manifest && segment.name == name)
                return segment.manifest.get();
    return nullptr;
}

Result<BuiltLayout> planImage(const DiskSpec& disk)
{
    Result<ImagePlan> plan = makePlan(disk);
    if (!plan)
        return Error{plan.error()};
    detail::NullSink sink;
    emit(disk, *plan, sink);
    return std::move(plan->layout);
}

Result<RenderedImage> renderImage(const DiskSpec& disk)
{
    Result<ImagePlan> plan = makePlan(disk);
    if (!plan)
        return Error{plan.error()};
    RenderedImage image;
    detail::MapSink sink(image.sectors);
    emit(disk, *plan, sink);
    image.layout = std::move(plan->layout);
    return image;
}

Result<BuiltLayout> writeImage(const DiskSpec& disk, const std::filesystem::path& path)
{
    Result<ImagePlan> plan = makePlan(disk);
    if (!plan)
        return Error{plan.error()};

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Error{systemError("cannot create", path)};
    FileCloser closer(fd);
    if (::ftruncate(fd, static_cast<off_t>(plan->layout.totalSectors * kSectorBytes)) != 0)
        return Error{systemError("cannot size", path)};
    detail::FileSink sink(fd);
    emit(disk, *plan, sink);
    if (!sink.finish())
        return Error{systemError("cannot write", path)};
    if (closer.close() != 0)
        return Error{systemError("cannot close", path)};
    return std::move(plan->layout);
}

SectorBytes encodeVolumeTable(const std::vector<SegmentSpec>& segments, std::optional<std::uint32_t> entryCountOverride)
{
    SectorBytes sector{};
    const std::span<std::uint8_t> bytes(sector);
    std::copy(kVolumeTableSignature.begin(), kVolumeTableSignature.end(), sector.begin());
    writeU32(bytes, kEntryCountOffset, entryCountOverride.value_or(static_cast<std::uint32_t>(segments.size())));

    const std::size_t entries = std::min(segments.size(), static_cast<std::size_t>(kMaxVolumeEntries));
    for (std::size_t k = 0; k < entries; ++k) {
        const SegmentSpec& segment = segments[k];
        const std::span<std::uint8_t> entry = bytes.subspan(kEntriesOffset + kEntrySize * k, kEntrySize);
        const std::size_t nameChars = std::min(segment.name.size(), kMaxEntryNameChars);
        entry[kEntryNameLength] = segment.nameLengthOverride.value_or(static_cast<std::uint8_t>(nameChars));
        std::copy_n(segment.name.begin(), nameChars, entry.begin() + kEntryName);
        writeU32(entry, kEntrySegmentSectors, segment.sizeSectors);
        writeU32(entry, kEntryBlockCount, blockCountOf(segment));
        writeU32(entry, kEntryFirstFat, segment.firstFatBlock.value_or(1));
        writeU32(entry, kEntrySecondFat, segment.secondFatBlock.value_or(2));
        writeU32(entry, kEntryFirstDet, segment.firstDetBlock.value_or(3));
        writeU32(entry, kEntrySecondDet, segment.secondDetBlock.value_or(4));
    }
    return sector;
}

SectorBytes encodeDamagedVolumeTable(std::uint32_t seed)
{
    SectorBytes sector{};
    std::copy(kVolumeTableSignature.begin(), kVolumeTableSignature.end(), sector.begin());
    sector[kVolumeTableSignature.size() - 1] = '#';
    // A fixed linear congruential sequence: garbage, but the same on every run.
    std::uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    for (std::size_t i = kVolumeTableSignature.size(); i < sector.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        sector[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return sector;
}

SectorBytes encodeHotfixHeader(std::uint32_t hotfixLength)
{
    SectorBytes sector{};
    std::copy(kHotfixSignature.begin(), kHotfixSignature.end(), sector.begin());
    writeU32(sector, kHotfixLengthOffset, hotfixLength);
    return sector;
}

void addVolumeTable(DiskSpec& disk, std::uint64_t sector, std::vector<SegmentSpec> segments,
                    std::optional<std::uint32_t> entryCountOverride)
{
    disk.volumeTables.push_back({sector, entryCountOverride, std::move(segments)});
}

void addDetMarker(DiskSpec& disk, std::uint64_t sector)
{
    disk.detMarkers.push_back(sector);
}

void addRawBytes(DiskSpec& disk, std::uint64_t sector, std::vector<std::uint8_t> bytes, std::uint32_t offset)
{
    disk.raw.push_back({sector, offset, std::move(bytes)});
}

void addRawFill(DiskSpec& disk, std::uint64_t sector, std::uint8_t value, std::size_t count, std::uint32_t offset)
{
    disk.raw.push_back({sector, offset, std::vector<std::uint8_t>(count, value)});
}

DiskSpec singleVolumeDisk(std::string name, std::uint32_t sectorsPerBlock, VolumeContents contents)
{
    DiskSpec disk;
    PartitionSpec partition;
    partition.startSector = 2048;
    partition.netware.emplace();
    SegmentSpec segment;
    segment.name = std::move(name);
    segment.sectorsPerBlock = sectorsPerBlock;
    segment.contents = std::move(contents);
    partition.netware->segments.push_back(std::move(segment));
    disk.partitions.push_back(std::move(partition));
    return disk;
}

} // namespace tamsin::imagebuilder
