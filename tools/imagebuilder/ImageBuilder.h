#pragma once
// Turns a DiskSpec into sectors and writes them as a sparse raw image.
//
//   planImage    validates the description and reports where everything lies,
//                volume contents included (their manifests)
//   renderImage  also produces the bytes of every sector that holds data
//   writeImage   streams the image to a file
//
// Errors come back as a message naming the offending part of the description.

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/Manifest.h"
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

struct SegmentLayout {
    std::string name;
    std::uint64_t startSector = 0;
    std::uint32_t sizeSectors = 0; // as resolved when sized to fit the contents
    std::uint32_t blockCount = 0;
    std::uint32_t sectorsPerBlock = 0; // 0 when the block count is 0
    // As written into the volume table entry.
    std::uint32_t firstFatBlock = 0;
    std::uint32_t secondFatBlock = 0;
    std::uint32_t firstDetBlock = 0;
    std::uint32_t secondDetBlock = 0;
    // What the contents hold; null for a segment without contents. Shared so
    // that copying a layout stays cheap for large volumes.
    std::shared_ptr<const VolumeManifest> manifest;
};

// Where one partition's structures lie. The NetWare fields are only
// meaningful when netware is true.
struct PartitionLayout {
    int slot = 0; // the MBR slot the partition was given
    std::uint8_t type = 0;
    std::uint32_t startSector = 0;
    std::uint32_t sizeSectors = 0;
    bool netware = false;
    std::optional<std::uint64_t> hotfixHeaderSector; // absent when no header is written
    std::uint64_t tableArea = 0;
    std::uint64_t dataArea = 0;
    std::array<std::uint64_t, kTableCopies> tableCopySectors{};
    std::vector<SegmentLayout> segments;
};

struct BuiltLayout {
    std::uint64_t totalSectors = 0;
    std::vector<PartitionLayout> partitions; // in description order, not slot order

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
