#pragma once
// Turns a DiskSpec into sectors and writes them as a sparse raw image.
//
//   planImage    validates the description and reports where everything lies,
//                volume contents included (their manifests)
//   renderImage  also produces the bytes of every sector that holds data
//   writeImage   streams the image to a file
//
// planImages, renderImages and writeImages do the same for several disks
// written together (mirrors and volumes spanning partitions or disks).
//
// Errors come back as a message naming the offending part of the description.

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/Manifest.h"
#include "imagebuilder/PartitionHeaders.h"
#include "imagebuilder/Result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::imagebuilder {

using SectorBytes = std::array<std::uint8_t, kSectorBytes>;

// One entry of a partition's volume table and the segment it describes.
struct SegmentLayout {
    std::string name;
    std::uint64_t startSector = 0; // home disk sector: P + H + volumeRoot
    std::uint32_t sizeSectors = 0; // as resolved when sized to fit the contents
    std::uint32_t blockCount = 0;
    std::uint32_t sectorsPerBlock = 0; // 0 when the block count is 0
    // As written into the volume table entry.
    std::uint32_t firstFatBlock = 0;
    std::uint32_t secondFatBlock = 0;
    std::uint32_t firstDetBlock = 0;
    std::uint32_t secondDetBlock = 0;
    // What the contents hold; null for a segment without contents (and for
    // the segments of spanned volumes and mirror members: see
    // DiskSetLayout::spanned and the partition mirrored). Shared so that
    // copying a layout stays cheap for large volumes.
    std::shared_ptr<const VolumeManifest> manifest;
    std::uint32_t volumeRoot = 0; // logical sector of the data area where the segment starts
    bool netwareFields = false;   // the entry carries the real segment fields
    std::uint8_t segmentIndex = 0;
    std::uint8_t segmentCount = 1;
    std::uint32_t firstVolumeBlock = 0;
    int spannedVolume = -1; // index in DiskSetSpec::volumes, or -1
};

// A used entry of the hot-fix redirection table (the truth: where the
// block's data was written).
struct RedirectedBlock {
    std::uint32_t logicalBlock = 0;
    std::uint32_t spare = 0;
    std::uint8_t badBits = 0;
    bool inCopy1 = true;
    bool inCopy2 = true;
};

// A partition's full headers and what the reader makes of them.
struct HeaderLayout {
    std::uint32_t partitionId = 0;
    std::uint32_t mirrorGroupId = 0;
    std::vector<std::uint32_t> members; // as written
    std::uint32_t mirrorFlags = 0;
    std::uint32_t mirrorStatus = 0;
    std::uint32_t dataSectors = 0;  // T
    std::uint32_t hotfixBlocks = 0; // H / 8
    std::array<std::uint64_t, kHeaderCopies> hotfixSectors{}; // absolute; MIRROR copies follow each
    // Per group in use: partition sectors of redirection copy 1, bad bits
    // copy 1, redirection copy 2, bad bits copy 2.
    std::vector<std::array<std::uint32_t, 4>> tableSectors;
    // The copy the reader takes (first with both stamps intact); none: the
    // headers are not used and the partition reads without redirection.
    std::optional<int> validCopy;
    std::vector<RedirectedBlock> redirectedBlocks; // by logical block
    std::uint32_t freeSpares = 0;     // entries 0 in both table copies
    std::uint32_t reservedBlocks = 0; // 0xFFFFFFFF: blocks 0..19, table blocks, retired spares
    std::optional<PartitionRef> mirrorOf;
    // The builder's mirror group, this partition included, in disk and slot
    // order: the members hold the same data area.
    std::vector<PartitionRef> group;
    bool outOfSync = false; // flagged in a member's MirrorStatus (see the group planner)
    bool readFrom = false;  // the member the reader reads the group from
    // Logical sectors of the group that no in-sync member delivers.
    std::vector<std::uint32_t> unreadableSectors;
};

// One entry of a volume table as a correct reader lists it.
struct TableRow {
    std::size_t disk = 0;
    int partitionSlot = 0;
    std::size_t entry = 0; // position in the table
    std::string name;
    std::uint64_t startSector = 0; // home disk sector of the segment: P + H + volumeRoot
    std::uint32_t sizeSectors = 0;
    std::uint32_t volumeRoot = 0;
    bool netwareFields = false;
    std::uint8_t segmentIndex = 0;
    std::uint8_t segmentCount = 1;
    std::uint32_t volumeBlocks = 0; // entry @32
    std::uint32_t firstVolumeBlock = 0;
    // 1 << code for real entries; size / blocks (0 without blocks) otherwise.
    std::uint32_t sectorsPerBlock = 0;
};

// Where one partition's structures lie. The NetWare fields are only
// meaningful when netware is true.
struct PartitionLayout {
    int slot = 0; // the MBR slot the partition was given
    std::size_t disk = 0; // index of the disk in the set
    std::uint8_t type = 0;
    std::uint32_t startSector = 0;
    std::uint32_t sizeSectors = 0;
    bool netware = false;
    std::optional<std::uint64_t> hotfixHeaderSector; // absent when no header is written
    std::uint64_t tableArea = 0;
    std::uint64_t dataArea = 0;
    std::array<std::uint64_t, kTableCopies> tableCopySectors{};
    std::vector<SegmentLayout> segments; // in table order
    std::uint32_t hotfixLength = 0;      // H
    std::optional<HeaderLayout> headers; // with full headers

    // The disk sector holding home disk sector `sector` of the data area,
    // after hot-fix redirection; nothing for a bad sector of a spare.
    std::optional<std::uint64_t> physicalSector(std::uint64_t sector) const;
};

struct BuiltLayout {
    std::uint64_t totalSectors = 0;
    std::vector<PartitionLayout> partitions; // in description order, not slot order
    std::size_t disk = 0;
    // The volume table entries a correct reader lists, in slot and table
    // order; a mirror group's entries once, from the member it reads.
    std::vector<TableRow> rows;

    // The partition in MBR slot `slot`, or nullptr.
    const PartitionLayout* inSlot(int slot) const;
    // The manifest of the first segment named `name` that has contents, or nullptr.
    const VolumeManifest* volume(std::string_view name) const;
};

struct RenderedImage {
    BuiltLayout layout;
    std::map<std::uint64_t, SectorBytes> sectors; // every other sector is zero
};

Result<BuiltLayout> planImage(const DiskSpec& disk);
Result<RenderedImage> renderImage(const DiskSpec& disk);

// Creates or truncates `path`, sizes it to the whole disk and writes only the
// sectors that hold non-zero data, so the file stays sparse. Volume contents
// are streamed: memory stays proportional to the number of entries, not to
// the image size.
Result<BuiltLayout> writeImage(const DiskSpec& disk, const std::filesystem::path& path);

// A spanned volume as written.
struct SpannedVolumeLayout {
    std::string name;
    std::uint32_t sectorsPerBlock = 0;
    std::uint32_t blockCount = 0;
    std::vector<ManifestSegment> segments; // every segment, present or not
    std::shared_ptr<const VolumeManifest> manifest; // null without contents
};

struct DiskSetLayout {
    std::vector<BuiltLayout> disks;
    std::vector<SpannedVolumeLayout> spanned; // as DiskSetSpec::volumes

    // Every disk's rows in disk order.
    std::vector<TableRow> rows() const;
    const PartitionLayout* partition(PartitionRef ref) const;
    // The first volume named `name` with contents (the disks' own first), or nullptr.
    const VolumeManifest* volume(std::string_view name) const;
};

struct RenderedImages {
    DiskSetLayout layout;
    std::vector<std::map<std::uint64_t, SectorBytes>> sectors; // per disk
};

// Errors name the disk ("disks[1].partitions[0]: ...") unless the set has
// one disk and no spanned volumes.
Result<DiskSetLayout> planImages(const DiskSetSpec& set);
Result<RenderedImages> renderImages(const DiskSetSpec& set);
// One path per disk; every file is created before anything is written.
Result<DiskSetLayout> writeImages(const DiskSetSpec& set, const std::vector<std::filesystem::path>& paths);

// The bytes of a volume table whose entries may carry the real segment
// fields; encodeVolumeTable is this for segments without placement.
struct VolumeTableEntry {
    SegmentSpec fields; // name, nameLengthOverride, sizeSectors, blocks, FAT/DET blocks
    bool netwareFields = false;
    std::uint8_t segmentIndex = 0;
    std::uint8_t segmentCount = 1;
    std::uint32_t volumeRoot = 0;
    std::uint32_t volumeBlocks = 0; // @32 with netwareFields
    std::uint32_t firstVolumeBlock = 0;
    std::optional<std::uint64_t> noiseSeed; // the volume's: its unused fields get noise
};
SectorBytes encodeVolumeTableEntries(const std::vector<VolumeTableEntry>& entries,
                                     std::optional<std::uint32_t> entryCountOverride = std::nullopt);

// The bytes of one volume table sector. Entries beyond the eighth and name
// characters beyond the 27th are dropped; planImage rejects such input.
// Contents are ignored: table blocks not given are written as 1, 2, 3, 4.
SectorBytes encodeVolumeTable(const std::vector<SegmentSpec>& segments,
                              std::optional<std::uint32_t> entryCountOverride = std::nullopt);

// A volume table copy that fails the signature check: the signature with its
// last byte changed, then garbage. `seed` varies the garbage.
SectorBytes encodeDamagedVolumeTable(std::uint32_t seed);

SectorBytes encodeHotfixHeader(std::uint32_t hotfixLength);

// Shorthands that add to a disk description.
void addVolumeTable(DiskSpec& disk, std::uint64_t sector, std::vector<SegmentSpec> segments,
                    std::optional<std::uint32_t> entryCountOverride = std::nullopt);
void addDetMarker(DiskSpec& disk, std::uint64_t sector);
void addRawBytes(DiskSpec& disk, std::uint64_t sector, std::vector<std::uint8_t> bytes, std::uint32_t offset = 0);
void addRawFill(DiskSpec& disk, std::uint64_t sector, std::uint8_t value, std::size_t count, std::uint32_t offset = 0);

// A disk sized to fit one NetWare partition at sector 2048 holding one
// volume with the given contents.
DiskSpec singleVolumeDisk(std::string name, std::uint32_t sectorsPerBlock, VolumeContents contents);

} // namespace tamsin::imagebuilder
