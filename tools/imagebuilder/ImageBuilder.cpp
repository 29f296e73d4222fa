#include "imagebuilder/ImageBuilder.h"

#include "common/LittleEndian.h"

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

std::optional<std::string> checkSegment(const SegmentSpec& segment, const std::string& where)
{
    if (segment.name.size() > kMaxEntryNameChars)
        return where + ": name \"" + segment.name + "\" is longer than " + std::to_string(kMaxEntryNameChars)
            + " characters";
    if (segment.blockCount && segment.sectorsPerBlock)
        return where + ": give either blockCount or sectorsPerBlock, not both";
    if (segment.sectorsPerBlock && *segment.sectorsPerBlock == 0)
        return where + ": sectorsPerBlock must not be 0";
    return std::nullopt;
}

std::optional<std::string> checkSegments(const std::vector<SegmentSpec>& segments, const std::string& where)
{
    if (segments.size() > static_cast<std::size_t>(kMaxVolumeEntries))
        return where + ": " + std::to_string(segments.size()) + " volume entries, a table holds at most "
            + std::to_string(kMaxVolumeEntries);
    for (std::size_t k = 0; k < segments.size(); ++k)
        if (auto error = checkSegment(segments[k], where + "." + indexed("volumes", k)))
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

Result<PartitionLayout> planPartition(const PartitionSpec& partition, int slot, std::uint64_t totalSectors,
                                      const std::string& where)
{
    PartitionLayout layout;
    layout.slot = slot;
    layout.type = partition.type;
    layout.startSector = partition.startSector;
    layout.sizeSectors = partition.sizeSectors;
    const std::uint64_t end = std::uint64_t{partition.startSector} + partition.sizeSectors;
    if (end > totalSectors)
        return Error{where + ": ends at sector " + std::to_string(end) + ", past the disk's "
                     + std::to_string(totalSectors) + " sectors"};
    if (!partition.netware)
        return layout;

    const NetWareLayout& netware = *partition.netware;
    if (netware.hotfixProbe < 0 || netware.hotfixProbe > kMaxHotfixProbe)
        return Error{where + ": hot-fix probe " + std::to_string(netware.hotfixProbe) + " is not 0..4"};
    if (netware.hotfixLength < kMinHotfixLength)
        return Error{where + ": hot-fix length " + std::to_string(netware.hotfixLength) + " is below the minimum of "
                     + std::to_string(kMinHotfixLength) + " sectors"};
    if (auto error = checkSegments(netware.segments, where))
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
    for (const SegmentSpec& segment : netware.segments) {
        layout.segments.push_back({segment.name, segmentsEnd, segment.sizeSectors, blockCountOf(segment),
                                   sectorsPerBlockOf(segment)});
        segmentsEnd += segment.sizeSectors;
    }
    if (segmentsEnd > end)
        return Error{where + ": the volume area ends at sector " + std::to_string(segmentsEnd)
                     + ", past the partition's end at " + std::to_string(end)};
    return layout;
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

void applyRaw(std::map<std::uint64_t, SectorBytes>& sectors, const RawWrite& raw)
{
    std::uint64_t position = raw.sector * kSectorBytes + raw.offset;
    std::size_t done = 0;
    while (done < raw.bytes.size()) {
        const std::size_t within = position % kSectorBytes;
        const std::size_t chunk = std::min(raw.bytes.size() - done, kSectorBytes - within);
        SectorBytes& sector = sectors[position / kSectorBytes];
        std::copy_n(raw.bytes.begin() + static_cast<std::ptrdiff_t>(done), chunk, sector.begin() + within);
        done += chunk;
        position += chunk;
    }
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

bool writeAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool isZero(const SectorBytes& sector)
{
    return std::all_of(sector.begin(), sector.end(), [](std::uint8_t byte) { return byte == 0; });
}

} // namespace

const PartitionLayout* BuiltLayout::inSlot(int slot) const
{
    for (const PartitionLayout& partition : partitions)
        if (partition.slot == slot)
            return &partition;
    return nullptr;
}

Result<BuiltLayout> planImage(const DiskSpec& spec)
{
    if (spec.totalSectors == 0)
        return Error{"the disk must have at least one sector"};
    if (spec.totalSectors > kMaxTotalSectors)
        return Error{"the disk size of " + std::to_string(spec.totalSectors) + " sectors is beyond what is supported"};

    Result<std::vector<int>> slots = assignSlots(spec.partitions);
    if (!slots)
        return Error{slots.error()};

    BuiltLayout layout;
    layout.totalSectors = spec.totalSectors;
    for (std::size_t i = 0; i < spec.partitions.size(); ++i) {
        Result<PartitionLayout> partition =
            planPartition(spec.partitions[i], (*slots)[i], spec.totalSectors, indexed("partitions", i));
        if (!partition)
            return Error{partition.error()};
        layout.partitions.push_back(std::move(*partition));
    }

    for (std::size_t i = 0; i < spec.volumeTables.size(); ++i) {
        const VolumeTableSpec& table = spec.volumeTables[i];
        const std::string where = indexed("volumeTables", i);
        if (table.sector >= spec.totalSectors)
            return Error{where + ": sector " + std::to_string(table.sector) + " is past the end of the disk"};
        if (auto error = checkSegments(table.segments, where))
            return Error{*error};
    }
    for (std::size_t i = 0; i < spec.detMarkers.size(); ++i)
        if (spec.detMarkers[i] >= spec.totalSectors)
            return Error{indexed("detMarkers", i) + ": sector " + std::to_string(spec.detMarkers[i])
                         + " is past the end of the disk"};
    for (std::size_t i = 0; i < spec.raw.size(); ++i) {
        const RawWrite& raw = spec.raw[i];
        const bool fits = raw.sector < spec.totalSectors
            && raw.sector * kSectorBytes + raw.offset + raw.bytes.size() <= spec.totalSectors * kSectorBytes;
        if (!fits)
            return Error{indexed("raw", i) + ": " + std::to_string(raw.bytes.size()) + " bytes at sector "
                         + std::to_string(raw.sector) + " offset " + std::to_string(raw.offset)
                         + " run past the end of the disk"};
    }
    return layout;
}

Result<RenderedImage> renderImage(const DiskSpec& spec)
{
    Result<BuiltLayout> planned = planImage(spec);
    if (!planned)
        return Error{planned.error()};

    RenderedImage image;
    image.layout = std::move(*planned);
    auto& sectors = image.sectors;

    if (spec.bootSignature || !spec.partitions.empty()) {
        SectorBytes& mbr = sectors[0];
        for (const PartitionLayout& partition : image.layout.partitions)
            writeMbrEntry(mbr, partition);
        if (spec.bootSignature) {
            mbr[510] = 0x55;
            mbr[511] = 0xAA;
        }
    }

    for (std::size_t i = 0; i < spec.partitions.size(); ++i) {
        if (!spec.partitions[i].netware)
            continue;
        const NetWareLayout& netware = *spec.partitions[i].netware;
        const PartitionLayout& layout = image.layout.partitions[i];
        if (layout.hotfixHeaderSector)
            sectors[*layout.hotfixHeaderSector] = encodeHotfixHeader(netware.hotfixLength);
        const SectorBytes table = encodeVolumeTable(netware.segments, netware.entryCountOverride);
        for (int copy = 0; copy < kTableCopies; ++copy) {
            const std::uint64_t sector = layout.tableCopySectors[copy];
            switch (netware.tableCopies[copy]) {
            case TableCopy::Intact:
                sectors[sector] = table;
                break;
            case TableCopy::Damaged:
                sectors[sector] = encodeDamagedVolumeTable(static_cast<std::uint32_t>(copy));
                break;
            case TableCopy::Missing:
                break;
            }
        }
    }

    for (const VolumeTableSpec& table : spec.volumeTables)
        sectors[table.sector] = encodeVolumeTable(table.segments, table.entryCountOverride);
    for (std::uint64_t sector : spec.detMarkers)
        std::copy(kDetMarker.begin(), kDetMarker.end(), sectors[sector].begin());
    for (const RawWrite& raw : spec.raw)
        applyRaw(sectors, raw);
    return image;
}

Result<BuiltLayout> writeImage(const DiskSpec& spec, const std::filesystem::path& path)
{
    Result<RenderedImage> image = renderImage(spec);
    if (!image)
        return Error{image.error()};

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Error{systemError("cannot create", path)};
    FileCloser closer(fd);
    if (::ftruncate(fd, static_cast<off_t>(spec.totalSectors * kSectorBytes)) != 0)
        return Error{systemError("cannot size", path)};

    // Runs of consecutive data sectors go out in one write; zero sectors are
    // skipped so the file stays sparse.
    std::vector<std::uint8_t> run;
    std::uint64_t runStart = 0;
    auto flush = [&]() {
        const bool ok = run.empty() || writeAll(fd, run.data(), run.size(), runStart * kSectorBytes);
        run.clear();
        return ok;
    };
    for (const auto& [sector, bytes] : image->sectors) {
        if (isZero(bytes))
            continue;
        if (!run.empty() && sector != runStart + run.size() / kSectorBytes && !flush())
            return Error{systemError("cannot write", path)};
        if (run.empty())
            runStart = sector;
        run.insert(run.end(), bytes.begin(), bytes.end());
    }
    if (!flush())
        return Error{systemError("cannot write", path)};
    if (closer.close() != 0)
        return Error{systemError("cannot close", path)};
    return std::move(image->layout);
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
        writeU32(entry, kEntryFirstFat, segment.firstFatBlock);
        writeU32(entry, kEntrySecondFat, segment.secondFatBlock);
        writeU32(entry, kEntryFirstDet, segment.firstDetBlock);
        writeU32(entry, kEntrySecondDet, segment.secondDetBlock);
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

void addVolumeTable(DiskSpec& spec, std::uint64_t sector, std::vector<SegmentSpec> segments,
                    std::optional<std::uint32_t> entryCountOverride)
{
    spec.volumeTables.push_back({sector, entryCountOverride, std::move(segments)});
}

void addDetMarker(DiskSpec& spec, std::uint64_t sector)
{
    spec.detMarkers.push_back(sector);
}

void addRawBytes(DiskSpec& spec, std::uint64_t sector, std::vector<std::uint8_t> bytes, std::uint32_t offset)
{
    spec.raw.push_back({sector, offset, std::move(bytes)});
}

void addRawFill(DiskSpec& spec, std::uint64_t sector, std::uint8_t value, std::size_t count, std::uint32_t offset)
{
    spec.raw.push_back({sector, offset, std::vector<std::uint8_t>(count, value)});
}

} // namespace tamsin::imagebuilder
