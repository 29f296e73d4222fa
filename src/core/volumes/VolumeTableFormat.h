#pragma once
// Decoding of the NetWare partition structures: the partition table, the
// hot-fix header and the "NetWare Volumes" table sector.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "volumes/VolumeInfo.h"

namespace tamsin {

inline constexpr std::uint8_t kNetWarePartitionType = 0x65;
inline constexpr std::uint32_t kMaxVolumeTableEntries = 8;
inline constexpr std::uint32_t kVolumeTableEntrySize = 60;
inline constexpr std::uint32_t kVolumeTableEntriesOffset = 32;
// The first bytes of a volume table sector.
inline constexpr char kVolumeTableSignature[] = "NetWare Volumes";
// The name may run up to the size field at offset 28.
inline constexpr std::uint32_t kMaxEntryNameLength = 27;

struct PartitionEntry {
    std::uint8_t type = 0;
    std::uint32_t startSector = 0;
    std::uint32_t sizeSectors = 0;
};

struct VolumeTableEntry {
    std::string name;  // raw bytes, clamped to kMaxEntryNameLength
    std::uint8_t nameLength = 0;  // the length byte as stored
    std::uint32_t sizeSectors = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t firstFatBlock = 0;
    std::uint32_t secondFatBlock = 0;
    std::uint32_t firstDetBlock = 0;
    std::uint32_t secondDetBlock = 0;
    // Segment fields of multi-segment volumes. Tables of the simple kind
    // hold other bytes here; they count only when clusterCode is 3..7.
    std::array<std::uint8_t, 16> nameField{};  // the 16 bytes of the Pascal name as stored
    std::uint32_t lastSegment = 0;      // @16: segment count - 1
    std::uint8_t clusterCode = 0;       // @20: 3..7 = 4..64 KiB blocks
    std::uint8_t segmentCount = 0;      // @21
    std::uint8_t segmentIndex = 0;      // @22
    std::uint32_t volumeRoot = 0;       // @24: logical sector where the segment starts
    std::uint32_t firstVolumeBlock = 0; // @36

    // Whether the segment fields are meaningful.
    bool hasSegmentFields() const { return clusterCode >= 3 && clusterCode <= 7; }
    // Sectors per block: from the cluster-size code when the entry has segment
    // fields (a segment's block count is the whole volume's, so dividing would
    // be wrong), else size / blocks. The block count must not be 0.
    std::uint32_t sectorsPerBlock() const
    {
        return hasSegmentFields() ? 1u << clusterCode : sizeSectors / blockCount;
    }
};

// Sector 0 carries the 55 AA boot signature.
bool hasBootSignature(std::span<const std::uint8_t> sector);

// Partition entry 0..3 of sector 0.
PartitionEntry partitionEntry(std::span<const std::uint8_t> sector, int index);

// The sector starts with "HOTFIX00".
bool isHotfixHeader(std::span<const std::uint8_t> sector);
// The hot-fix area length in sectors, from a hot-fix header.
std::uint32_t hotfixAreaLength(std::span<const std::uint8_t> sector);

// Number of entries (1..8) when the sector is a volume table, else 0.
std::uint32_t volumeTableEntryCount(std::span<const std::uint8_t> sector);

// Entry index (0..7) of a volume table sector.
VolumeTableEntry volumeTableEntry(std::span<const std::uint8_t> sector, std::uint32_t index);

// The record of a volume-table entry whose segment starts at startSector
// (block count not 0). Sectors per block come from the block-size code when
// the entry has segment fields, else from size / blocks.
VolumeInfo volumeFromEntry(const VolumeTableEntry& entry, std::uint64_t startSector);

} // namespace tamsin
