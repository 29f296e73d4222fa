#include "imagebuilder/ImageBuilder.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Noise.h"
#include "imagebuilder/SectorSink.h"
#include "imagebuilder/SetPlan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/types.h>
#include <unistd.h>

namespace tamsin::imagebuilder {

namespace {

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
    int fd() const { return fd_; }
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

std::vector<const DiskSpec*> pointersTo(const std::vector<DiskSpec>& disks)
{
    std::vector<const DiskSpec*> pointers;
    for (const DiskSpec& disk : disks)
        pointers.push_back(&disk);
    return pointers;
}

bool namedDisks(const DiskSetSpec& set)
{
    return set.disks.size() != 1 || !set.volumes.empty();
}

Result<DiskSetLayout> planDisks(const std::vector<const DiskSpec*>& disks, const std::vector<SpannedVolumeSpec>& volumes,
                                bool named)
{
    auto plan = detail::planSet(disks, volumes, named);
    if (!plan)
        return Error{plan.error()};
    std::vector<detail::NullSink> sinks(disks.size());
    std::vector<detail::SectorSink*> pointers;
    for (detail::NullSink& sink : sinks)
        pointers.push_back(&sink);
    detail::emitSet(**plan, pointers);
    return detail::takeLayout(**plan);
}

Result<RenderedImages> renderDisks(const std::vector<const DiskSpec*>& disks,
                                   const std::vector<SpannedVolumeSpec>& volumes, bool named)
{
    auto plan = detail::planSet(disks, volumes, named);
    if (!plan)
        return Error{plan.error()};
    RenderedImages images;
    images.sectors.resize(disks.size());
    std::vector<std::unique_ptr<detail::MapSink>> sinks;
    std::vector<detail::SectorSink*> pointers;
    for (auto& sectors : images.sectors) {
        sinks.push_back(std::make_unique<detail::MapSink>(sectors));
        pointers.push_back(sinks.back().get());
    }
    detail::emitSet(**plan, pointers);
    images.layout = detail::takeLayout(**plan);
    return images;
}

Result<DiskSetLayout> writeDisks(const std::vector<const DiskSpec*>& disks,
                                 const std::vector<SpannedVolumeSpec>& volumes, bool named,
                                 const std::vector<std::filesystem::path>& paths)
{
    if (paths.size() != disks.size())
        return Error{std::to_string(disks.size()) + " disk(s) described but " + std::to_string(paths.size())
                     + " output file(s) given"};
    auto plan = detail::planSet(disks, volumes, named);
    if (!plan)
        return Error{plan.error()};

    std::vector<std::unique_ptr<FileCloser>> files;
    for (std::size_t d = 0; d < disks.size(); ++d) {
        const int fd = ::open(paths[d].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return Error{systemError("cannot create", paths[d])};
        files.push_back(std::make_unique<FileCloser>(fd));
        const std::uint64_t size = (*plan)->disks[d].layout.totalSectors * kSectorBytes;
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
            return Error{systemError("cannot size", paths[d])};
    }
    std::vector<std::unique_ptr<detail::FileSink>> sinks;
    std::vector<detail::SectorSink*> pointers;
    for (const auto& file : files) {
        sinks.push_back(std::make_unique<detail::FileSink>(file->fd()));
        pointers.push_back(sinks.back().get());
    }
    detail::emitSet(**plan, pointers);
    for (std::size_t d = 0; d < disks.size(); ++d) {
        if (!sinks[d]->finish())
            return Error{systemError("cannot write", paths[d])};
        if (files[d]->close() != 0)
            return Error{systemError("cannot close", paths[d])};
    }
    return detail::takeLayout(**plan);
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

std::optional<std::uint64_t> PartitionLayout::physicalSector(std::uint64_t sector) const
{
    const std::uint64_t dataStart = std::uint64_t{startSector} + hotfixLength;
    if (!netware || !headers || sector < dataStart)
        return sector;
    const std::uint64_t logical = sector - dataStart;
    const auto& blocks = headers->redirectedBlocks;
    const auto found = std::find_if(blocks.begin(), blocks.end(), [&](const RedirectedBlock& block) {
        return block.logicalBlock == logical / kBlockSectors;
    });
    if (found == blocks.end())
        return sector;
    const std::uint32_t k = logical % kBlockSectors;
    if ((found->badBits >> k) & 1u)
        return std::nullopt;
    return std::uint64_t{startSector} + std::uint64_t{found->spare} * kBlockSectors + k;
}

std::vector<TableRow> DiskSetLayout::rows() const
{
    std::vector<TableRow> all;
    for (const BuiltLayout& disk : disks)
        all.insert(all.end(), disk.rows.begin(), disk.rows.end());
    return all;
}

const PartitionLayout* DiskSetLayout::partition(PartitionRef ref) const
{
    return ref.disk < disks.size() ? disks[ref.disk].inSlot(ref.slot) : nullptr;
}

const VolumeManifest* DiskSetLayout::volume(std::string_view name) const
{
    for (const BuiltLayout& disk : disks)
        if (const VolumeManifest* manifest = disk.volume(name))
            return manifest;
    for (const SpannedVolumeLayout& spanned : this->spanned)
        if (spanned.manifest && spanned.name == name)
            return spanned.manifest.get();
    return nullptr;
}

Result<BuiltLayout> planImage(const DiskSpec& disk)
{
    Result<DiskSetLayout> layout = planDisks({&disk}, {}, false);
    if (!layout)
        return Error{layout.error()};
    return std::move(layout->disks.front());
}

Result<RenderedImage> renderImage(const DiskSpec& disk)
{
    Result<RenderedImages> images = renderDisks({&disk}, {}, false);
    if (!images)
        return Error{images.error()};
    return RenderedImage{std::move(images->layout.disks.front()), std::move(images->sectors.front())};
}

Result<BuiltLayout> writeImage(const DiskSpec& disk, const std::filesystem::path& path)
{
    Result<DiskSetLayout> layout = writeDisks({&disk}, {}, false, {path});
    if (!layout)
        return Error{layout.error()};
    return std::move(layout->disks.front());
}

Result<DiskSetLayout> planImages(const DiskSetSpec& set)
{
    return planDisks(pointersTo(set.disks), set.volumes, namedDisks(set));
}

Result<RenderedImages> renderImages(const DiskSetSpec& set)
{
    return renderDisks(pointersTo(set.disks), set.volumes, namedDisks(set));
}

Result<DiskSetLayout> writeImages(const DiskSetSpec& set, const std::vector<std::filesystem::path>& paths)
{
    return writeDisks(pointersTo(set.disks), set.volumes, namedDisks(set), paths);
}

SectorBytes encodeVolumeTable(const std::vector<SegmentSpec>& segments, std::optional<std::uint32_t> entryCountOverride)
{
    std::vector<VolumeTableEntry> entries;
    std::uint64_t endToEnd = kFirstSegmentSector;
    for (const SegmentSpec& segment : segments) {
        VolumeTableEntry& entry = entries.emplace_back();
        entry.fields = segment;
        entry.fields.contents.reset();
        entry.netwareFields = segment.writesNetwareFields();
        entry.volumeRoot = static_cast<std::uint32_t>(segment.volumeRoot.value_or(endToEnd));
        entry.volumeBlocks = blockCountOf(segment);
        endToEnd += segment.sizeSectors;
    }
    return encodeVolumeTableEntries(entries, entryCountOverride);
}

SectorBytes encodeVolumeTableEntries(const std::vector<VolumeTableEntry>& entries,
                                     std::optional<std::uint32_t> entryCountOverride)
{
    SectorBytes sector{};
    const std::span<std::uint8_t> bytes(sector);
    std::copy(kVolumeTableSignature.begin(), kVolumeTableSignature.end(), sector.begin());
    writeU32(bytes, kEntryCountOffset, entryCountOverride.value_or(static_cast<std::uint32_t>(entries.size())));

    const std::size_t count = std::min(entries.size(), static_cast<std::size_t>(kMaxVolumeEntries));
    for (std::size_t k = 0; k < count; ++k) {
        const VolumeTableEntry& item = entries[k];
        const SegmentSpec& segment = item.fields;
        const std::span<std::uint8_t> entry = bytes.subspan(kEntriesOffset + kEntrySize * k, kEntrySize);
        const std::size_t maxName = item.netwareFields ? kMaxRealNameChars : kMaxEntryNameChars;
        const std::size_t nameChars = std::min(segment.name.size(), maxName);
        entry[kEntryNameLength] = segment.nameLengthOverride.value_or(static_cast<std::uint8_t>(nameChars));
        std::copy_n(segment.name.begin(), nameChars, entry.begin() + kEntryName);
        writeU32(entry, kEntrySegmentSectors, segment.sizeSectors);
        if (item.netwareFields) {
            writeU32(entry, kEntryLastSegment, item.segmentCount == 0 ? 0u : item.segmentCount - 1u);
            entry[kEntryBlockCode] = blockSizeCode(sectorsPerBlockOf(segment)).value_or(0);
            entry[kEntrySegmentCount] = item.segmentCount;
            entry[kEntrySegmentIndex] = item.segmentIndex;
            writeU32(entry, kEntryVolumeRoot, item.volumeRoot);
            writeU32(entry, kEntryBlockCount, item.volumeBlocks);
            writeU32(entry, kEntryFirstBlock, item.firstVolumeBlock);
        } else {
            writeU32(entry, kEntryBlockCount, blockCountOf(segment));
        }
        writeU32(entry, kEntryFirstFat, segment.firstFatBlock.value_or(1));
        writeU32(entry, kEntrySecondFat, segment.secondFatBlock.value_or(2));
        writeU32(entry, kEntryFirstDet, segment.firstDetBlock.value_or(3));
        writeU32(entry, kEntrySecondDet, segment.secondDetBlock.value_or(4));
        if (item.noiseSeed) {
            // Bytes neither layout of the entry uses.
            const Noise noise(*item.noiseSeed);
            if (!item.netwareFields)
                noise.fill(entry, Noise::Domain::VolumeTable, k, kEntryFirstBlock, kEntryFirstFat);
            noise.fill(entry, Noise::Domain::VolumeTable, k, kEntrySecondDet + 4, kEntrySize);
        }
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
