#pragma once
// The description of a disk image holding NetWare traditional volumes, and
// the sector arithmetic that places its structures.
//
// Layout written for a NetWare partition starting at sector P:
//   P + 32*probe           hot-fix header ("HOTFIX00", u32 hot-fix length H at 24)
//   A = P + 32 + H         volume table area: four copies at A, A+32, A+64, A+96
//   D = A + 128            data area: the segments end to end in table order
// The table area does not depend on which probe holds the hot-fix header.
//
// The data area ("logical partition") starts at P + H: logical sector s is
// partition sector H + s, so the table copies are logical sectors 32, 64, 96
// and 128 (the first sectors of logical 4K blocks 4, 8, 12, 16) and segments
// start at logical sector 160. With full headers (NetWareLayout::headers) the
// hot-fix area also holds the HOTFIX and MIRROR sector copies and the
// redirection tables, and a logical 4K block may live in a spare block of the
// hot-fix area instead.

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

// Full partition headers: the HOTFIX sector copies at partition sectors 32,
// 64, 96, 128 and the MIRROR sector copies right after each.
inline constexpr std::string_view kMirrorSignature = "MIRROR00";
inline constexpr int kHeaderCopies = 4;
inline constexpr std::size_t kHeaderIdOffset = 8;            // both: PartitionID
inline constexpr std::size_t kHotfixFlagsOffset = 12;
inline constexpr std::size_t kHeaderGeometryOffset = 16;     // both
inline constexpr std::size_t kHotfixDataSectorsOffset = 20;  // data-area size T
inline constexpr std::size_t kHotfixTablesOffset = 28;       // 30 groups of four u32 partition sectors
inline constexpr std::size_t kMirrorFlagsOffset = 12;
inline constexpr std::size_t kMirrorStatusOffset = 20;
inline constexpr std::size_t kMirrorDataSectorsOffset = 24;
inline constexpr std::size_t kMirrorGroupIdOffset = 28;
inline constexpr std::size_t kMirrorMembersOffset = 32;
inline constexpr int kMaxMirrorMembers = 8;
inline constexpr std::uint32_t kDefaultHotfixFlags = 0x00010000;
inline constexpr std::uint32_t kHeaderGeometry = 0x0703F808;  // 8 sectors per block, mask, shift 3, mask 7
inline constexpr std::uint32_t kMirrorInSyncFlags = 0x01860000;
inline constexpr std::uint32_t kMirrorOutOfSyncFlags = 0x01850000;
inline constexpr std::uint32_t kMirrorStatusBase = 0x00010000;

// Hot-fix redirection: 4K blocks of 8 sectors; one table block of 1024 u32
// entries per group of 1024 hot-fix blocks.
inline constexpr std::uint32_t kBlockSectors = 8;
inline constexpr std::uint32_t kHotfixGroupBlocks = 1024;
inline constexpr std::uint32_t kMaxHotfixGroups = 30;
inline constexpr std::uint32_t kReservedHotfixBlocks = 20; // blocks 0..19: boot sectors and header copies
inline constexpr std::uint32_t kRedirectionReserved = 0xFFFFFFFF;
// Group g's tables: redirection copy 1, bad bits copy 1, redirection copy 2,
// bad bits copy 2 at these hot-fix blocks plus 32 * g.
inline constexpr std::array<std::uint32_t, 4> kHotfixTableBlocks = {20, 28, 36, 44};
inline constexpr std::uint32_t kHotfixTableGroupStride = 32;
// With full headers the hot-fix area must hold group 0's tables.
inline constexpr std::uint32_t kMinHeaderHotfixLength = (44 + 1) * kBlockSectors;

// Logical sectors of the data area.
inline constexpr std::uint32_t kFirstSegmentSector = 160;
inline constexpr std::uint32_t kTableCopyLogicalSector = 32; // copy c at 32 * (c + 1)

// Real volume table entry fields (a segment with netwareFields).
inline constexpr std::size_t kMaxRealNameChars = 15;         // Pascal name in bytes 0..15
inline constexpr std::size_t kEntryLastSegment = 16;
inline constexpr std::size_t kEntryBlockCode = 20;           // sectors per block = 1 << code
inline constexpr std::size_t kEntrySegmentCount = 21;
inline constexpr std::size_t kEntrySegmentIndex = 22;
inline constexpr std::size_t kEntryVolumeRoot = 24;
inline constexpr std::size_t kEntryFirstBlock = 36;

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
    // Write the entry with the real segment fields: last segment 0 at 16,
    // block-size code at 20 (sectorsPerBlock must be 8, 16, 32, 64 or 128),
    // segment count 1 at 21, index 0 at 22, VolumeRoot at 24, first block 0
    // at 36. The name then has at most 15 characters.
    bool netwareFields = false;
    // Logical sector of the data area where the segment starts (a multiple
    // of 8); implies netwareFields. Default: where the segment lands end to
    // end, 160 plus the sizes of the partition's segments before it.
    std::optional<std::uint32_t> volumeRoot;

    bool writesNetwareFields() const { return netwareFields || volumeRoot.has_value(); }
};

// How one copy of the volume table is written.
enum class TableCopy {
    Intact,  // the table as described
    Damaged, // signature with one byte changed, rest of the sector garbage
    Missing, // nothing written, the sector stays zero
};

// How one copy of a HOTFIX or MIRROR sector is written.
enum class HeaderCopy {
    Intact,
    Damaged, // the stamp with its last byte changed, the rest garbage
    Missing, // nothing written, the sector stays zero
};

// A partition of a description: its disk (index in DiskSetSpec::disks, 0 for
// a single disk) and MBR slot.
struct PartitionRef {
    std::size_t disk = 0;
    int slot = 0;
    bool operator==(const PartitionRef&) const = default;
};

// One redirected logical 4K block: its true contents go to a spare block of
// the hot-fix area, recognisable stale bytes stay at its home.
struct HotfixRedirect {
    std::uint32_t logicalBlock = 0;     // 4K block of the data area
    std::optional<std::uint32_t> spare; // hot-fix block; default: the first free one
    // Bit k: sector k of the spare holds no valid data (garbage is written
    // there instead of the block's sector k).
    std::uint8_t badBits = 0;
    // Which redirection table copies record it; the other copy shows the
    // spare as free (its bad-bits entry 0).
    bool inCopy1 = true;
    bool inCopy2 = true;
};

// A value written over one entry of one copy of a hot-fix table, after
// everything else: copies that disagree beyond what redirects express.
struct HotfixTablePatch {
    int copy = 2;         // 1 or 2
    bool badBits = false; // false: the redirection table
    std::uint32_t index = 0; // hot-fix block
    std::uint32_t value = 0;
};

// The full HOTFIX/MIRROR headers and hot-fix tables of a NetWare partition.
// Without them the partition has only the single hot-fix header of
// NetWareLayout::hotfixProbe.
struct PartitionHeaders {
    // Default: 0x50490000 + 256 * disk + slot + 1, distinct per partition.
    std::optional<std::uint32_t> partitionId;
    // Default: the partition's own default id with 0x4749 ("GI") in the top
    // half, or the group id of the partition it mirrors.
    std::optional<std::uint32_t> mirrorGroupId;
    // Written instead of the group's partition ids (at most 8). The builder's
    // own notion of the group (mirrorOf) stays as it is.
    std::optional<std::vector<std::uint32_t>> members;
    // This partition is a mirror member of that partition (which must have
    // headers and not be a member itself): same group id, both member lists
    // naming every member, the same data area contents written through this
    // partition's own hot-fix area and redirects. A member holds no volumes
    // of its own.
    std::optional<PartitionRef> mirrorOf;
    // Flagged out of sync: its bit is set in every member's MirrorStatus and
    // its own MirrorFlags are 0x01850000.
    bool outOfSync = false;
    std::optional<std::uint32_t> mirrorFlags;  // written instead
    std::optional<std::uint32_t> mirrorStatus; // written instead
    // Data-area size T. Default: partition size - hot-fix length, or what the
    // volumes need when the partition is sized to fit; a mirror member takes
    // the size of the partition it mirrors.
    std::optional<std::uint32_t> dataSectors;
    std::array<HeaderCopy, kHeaderCopies> hotfixCopies = {HeaderCopy::Intact, HeaderCopy::Intact,
                                                          HeaderCopy::Intact, HeaderCopy::Intact};
    std::array<HeaderCopy, kHeaderCopies> mirrorCopies = {HeaderCopy::Intact, HeaderCopy::Intact,
                                                          HeaderCopy::Intact, HeaderCopy::Intact};
    std::vector<HotfixRedirect> redirects;
    std::vector<std::uint32_t> retiredSpares; // hot-fix blocks marked 0xFFFFFFFF
    std::vector<HotfixTablePatch> tablePatches;
    // Logical sectors overwritten with garbage on this partition only, after
    // everything else (through its redirection). Only where the reader does
    // not read this partition: on a mirror member it does not read from.
    std::vector<std::uint32_t> damagedSectors;
};

struct NetWareLayout {
    int hotfixProbe = 1; // 1..4; 0 writes no hot-fix header; ignored with headers
    std::uint32_t hotfixLength = kDefaultHotfixLength;
    std::array<TableCopy, kTableCopies> tableCopies = {TableCopy::Intact, TableCopy::Intact, TableCopy::Intact,
                                                       TableCopy::Intact};
    std::optional<std::uint32_t> entryCountOverride; // written instead of segments.size(); entries stay as given
    std::vector<SegmentSpec> segments;                // at most 8
    // Full headers, hot-fix tables and redirection; absent: as above.
    std::optional<PartitionHeaders> headers;
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

// One segment of a volume spread over several places.
struct SpannedSegmentSpec {
    std::size_t disk = 0; // index in DiskSetSpec::disks
    int slot = 0;         // the NetWare partition's MBR slot
    // Logical sector of the data area (a multiple of 8). Default: after
    // everything placed in the partition so far, rounded up to 8.
    std::optional<std::uint32_t> volumeRoot;
    std::uint32_t sizeSectors = 0; // a multiple of sectorsPerBlock
    // Position of the entry in the partition's volume table. Default: before
    // the first entry with a larger VolumeRoot, else last.
    std::optional<std::size_t> tableIndex;
    // False: no table entry (the segment is missing for the reader, its data
    // is still written).
    bool entry = true;
};

// A volume described once and stored in several segments: segment i holds
// volume blocks first[i] .. first[i] + sizeSectors[i] / spb - 1, with
// first[i] the blocks of the segments before it. Every segment's entry
// carries the real fields (count, index, VolumeRoot, total and first block).
struct SpannedVolumeSpec {
    std::string name;                  // at most 15 characters
    std::uint32_t sectorsPerBlock = kDefaultSectorsPerBlock; // 8, 16, 32, 64 or 128
    std::optional<std::uint32_t> firstFatBlock; // as for SegmentSpec
    std::optional<std::uint32_t> secondFatBlock;
    std::optional<std::uint32_t> firstDetBlock;
    std::optional<std::uint32_t> secondDetBlock;
    std::optional<VolumeContents> contents; // written as one volume over all segments
    std::vector<SpannedSegmentSpec> segments; // in segment order
};

// Several disks written together: mirrors and spanned volumes may cross them.
// Disk d is written to the d-th output.
struct DiskSetSpec {
    std::vector<DiskSpec> disks;
    std::vector<SpannedVolumeSpec> volumes;
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

// The block-size code of the real entry fields (3 for 8 sectors per block ..
// 7 for 128), or nothing for another block size.
std::optional<std::uint8_t> blockSizeCode(std::uint32_t sectorsPerBlock);

// Default ids of the partition in `slot` of disk `disk`.
constexpr std::uint32_t defaultPartitionId(std::size_t disk, int slot)
{
    return 0x50490000u + static_cast<std::uint32_t>(disk) * 256u + static_cast<std::uint32_t>(slot) + 1u;
}
constexpr std::uint32_t defaultMirrorGroupId(std::size_t disk, int slot)
{
    return 0x47490000u + static_cast<std::uint32_t>(disk) * 256u + static_cast<std::uint32_t>(slot) + 1u;
}

} // namespace tamsin::imagebuilder
