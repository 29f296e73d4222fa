#pragma once
// The description of a disk image holding NetWare traditional volumes, and
// the sector arithmetic that places its structures.
//
// Layout written for a NetWare partition starting at sector P:
//   P + 32*probe           hot-fix header ("HOTFIX00", u32 hot-fix length H at 24)
//   A = P + 32 + H         volume table area: four copies at A, A+32, A+64, A+96
//   D = A + 128            data area: the segments end to end in table order
// The table area does not depend on which probe holds the hot-fix header.

#include "imagebuilder/VolumeContents.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::imagebuilder {

inline constexpr std::uint32_t kSectorBytes = 512;

// Master boot record.
inline constexpr std::size_t kPartitionEntryOffset = 446;
inline constexpr std::size_t kPartitionEntrySize = 16;
inline constexpr int kPartitionSlots = 4;
inline constexpr std::uint8_t kNetWarePartitionType = 0x65;

// Hot-fix header.
inline constexpr std::string_view kHotfixSignature = "HOTFIX00";
inline constexpr std::size_t kHotfixLengthOffset = 24;
inline constexpr std::uint64_t kHotfixProbeStride = 32;
inline constexpr int kMaxHotfixProbe = 4;
// Below this the table area would reach back over the hot-fix probe positions.
inline constexpr std::uint32_t kMinHotfixLength = 128;
inline constexpr std::uint32_t kDefaultHotfixLength = 1024;

// Volume table sector.
inline constexpr std::string_view kVolumeTableSignature = "NetWare Volumes";
inline constexpr std::size_t kEntryCountOffset = 16;
inline constexpr std::size_t kEntriesOffset = 32;
inline constexpr std::size_t kEntrySize = 60;
inline constexpr int kMaxVolumeEntries = 8;
inline constexpr int kTableCopies = 4;
inline constexpr std::uint64_t kTableCopyStride = 32;
inline constexpr std::uint64_t kTableAreaSectors = 128;

// Volume table entry fields, relative to the entry.
inline constexpr std::size_t kEntryNameLength = 0;
inline constexpr std::size_t kEntryName = 1;
inline constexpr std::size_t kMaxEntryNameChars = 27; // bytes 1..27; the size field starts at 28
inline constexpr std::size_t kEntrySegmentSectors = 28;
inline constexpr std::size_t kEntryBlockCount = 32;
inline constexpr std::size_t kEntryFirstFat = 40;
inline constexpr std::size_t kEntrySecondFat = 44;
inline constexpr std::size_t kEntryFirstDet = 48;
inline constexpr std::size_t kEntrySecondDet = 52;

// The marker a DET block starts with.
inline constexpr std::array<std::uint8_t, 3> kDetMarker = {0xFD, 0xFF, 0xFF};

inline constexpr std::uint32_t kDefaultSectorsPerBlock = 8;

// One volume segment: one entry of the volume table, the sectors it covers
// and optionally its contents.
struct SegmentSpec {
    std::string name;                              // at most 27 characters
    std::optional<std::uint8_t> nameLengthOverride; // written as the length byte instead of name.size()
    // With contents, 0 sizes the segment to fit them.
    std::uint32_t sizeSectors = 0;
    // Give at most one of these; the other follows from sizeSectors. With
    // neither, sectorsPerBlock is kDefaultSectorsPerBlock. An explicit
    // blockCount of 0 is written as it is.
    std::optional<std::uint32_t> blockCount;
    std::optional<std::uint32_t> sectorsPerBlock;
    // The table blocks written into the entry. Without contents they default
    // to 1, 2, 3 and 4. With contents the chains start at the given blocks,
    // and the defaults are the first blocks the chains were allocated.
    std::optional<std::uint32_t> firstFatBlock;
    std::optional<std::uint32_t> secondFatBlock;
    std::optional<std::uint32_t> firstDetBlock;
    std::optional<std::uint32_t> secondDetBlock;
    // FAT, DET and file data; absent: only the volume table entry is written.
    // Only segments inside a partition can have contents.
    std::optional<VolumeContents> contents;
};

// How one copy of the volume table is written.
enum class TableCopy {
    Intact,  // the table as described
    Damaged, // signature with one byte changed, rest of the sector garbage
    Missing, // nothing written, the sector stays zero
};

struct NetWareLayout {
    int hotfixProbe = 1; // 1..4; 0 writes no hot-fix header
    std::uint32_t hotfixLength = kDefaultHotfixLength;
    std::array<TableCopy, kTableCopies> tableCopies = {TableCopy::Intact, TableCopy::Intact, TableCopy::Intact,
                                                       TableCopy::Intact};
    std::optional<std::uint32_t> entryCountOverride; // written instead of segments.size(); entries stay as given
    std::vector<SegmentSpec> segments;                // at most 8
};

struct PartitionSpec {
    int slot = -1; // 0..3, or -1 for the lowest slot no other partition claims
    std::uint8_t type = kNetWarePartitionType;
    std::uint32_t startSector = 0;
    std::uint32_t sizeSectors = 0; // with NetWare structures, 0 ends the partition after its last segment
    // The NetWare structures to write inside; absent leaves the partition zero
    // (the normal case for other types, or an empty NetWare partition).
    std::optional<NetWareLayout> netware;
};

// A volume table sector on its own at any sector, outside any partition's
// layout (e.g. for volume search without a partition table).
struct VolumeTableSpec {
    std::uint64_t sector = 0;
    std::optional<std::uint32_t> entryCountOverride;
    std::vector<SegmentSpec> segments;
};

// Bytes written at a byte offset from the start of a sector; may run over
// into the following sectors.
struct RawWrite {
    std::uint64_t sector = 0;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The whole image. Structures are written in this order, later ones over
// earlier ones: MBR, partitions, volumeTables, detMarkers, raw.
struct DiskSpec {
    std::uint64_t totalSectors = 0; // 0: up to the end of the last partition, table or write
    bool bootSignature = true; // 0x55 0xAA at the end of sector 0
    std::vector<PartitionSpec> partitions; // at most 4
    std::vector<VolumeTableSpec> volumeTables;
    std::vector<std::uint64_t> detMarkers; // sectors that start with FD FF FF
    std::vector<RawWrite> raw;
};

// Sector arithmetic, shared with tests that compute expected positions.

constexpr std::uint64_t hotfixHeaderSector(std::uint64_t partitionStart, int probe)
{
    return partitionStart + kHotfixProbeStride * static_cast<std::uint64_t>(probe);
}

constexpr std::uint64_t tableAreaSector(std::uint64_t partitionStart, std::uint32_t hotfixLength)
{
    return partitionStart + kHotfixProbeStride + hotfixLength;
}

constexpr std::uint64_t tableCopySector(std::uint64_t partitionStart, std::uint32_t hotfixLength, int copy)
{
    return tableAreaSector(partitionStart, hotfixLength) + kTableCopyStride * static_cast<std::uint64_t>(copy);
}

constexpr std::uint64_t dataAreaSector(std::uint64_t partitionStart, std::uint32_t hotfixLength)
{
    return tableAreaSector(partitionStart, hotfixLength) + kTableAreaSectors;
}

// First sector of each segment of a NetWare partition, in table order, from
// the sizes as given (planImage resolves segments sized to fit their contents).
std::vector<std::uint64_t> segmentStartSectors(std::uint64_t partitionStart, const NetWareLayout& layout);

// The block count written into a segment's entry.
std::uint32_t blockCountOf(const SegmentSpec& segment);

// Sectors per block as given or derived; 0 when the block count is 0.
std::uint32_t sectorsPerBlockOf(const SegmentSpec& segment);

} // namespace tamsin::imagebuilder
