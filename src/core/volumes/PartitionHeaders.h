#pragma once
// The hot-fix and mirror headers at the start of a NetWare partition, and the
// test that decides whether a partition's redirection tables can be trusted.
//
// Partition layout: sectors 0..H-1 are the hot-fix area (headers, the
// redirection and bad-bits tables, spare 4K blocks); the data area follows
// at sector H and holds T sectors. Header copies: HOTFIX00 at partition
// sectors 32, 64, 96, 128, each followed by its MIRROR00 sector.

#include <array>
#include <cstdint>
#include <span>

namespace tamsin {

inline constexpr std::uint32_t kHotfixHeaderStride = 32;
inline constexpr int kHotfixHeaderCopies = 4;
inline constexpr std::uint32_t kSectorsPer4kBlock = 8;
inline constexpr std::uint32_t kHotfixGroups = 30;
inline constexpr std::uint32_t kBlocksPerHotfixGroup = 1024;
inline constexpr std::uint32_t kMaxMirrorMembers = 8;

// Where one group's tables lie, as partition sectors.
struct HotfixTablePointers {
    std::uint32_t redirection1 = 0;
    std::uint32_t badBits1 = 0;
    std::uint32_t redirection2 = 0;
    std::uint32_t badBits2 = 0;
};

struct HotfixHeader {
    std::uint32_t partitionId = 0;
    std::uint32_t dataSectors = 0;   // T: the data area's size
    std::uint32_t hotfixSectors = 0; // H: the hot-fix area's size; the data area starts here
    std::array<HotfixTablePointers, kHotfixGroups> tables{};

    // Hot-fix blocks (4K blocks of the hot-fix area) and the groups of 1024 in use.
    std::uint32_t hotfixBlocks() const { return hotfixSectors / kSectorsPer4kBlock; }
    std::uint32_t groupsInUse() const;
};

struct MirrorHeader {
    std::uint32_t partitionId = 0;
    std::uint32_t flags = 0;
    std::uint32_t status = 0;  // bit j: the member listed at j is out of sync
    std::uint32_t totalSectors = 0;
    std::uint32_t groupId = 0;
    std::array<std::uint32_t, kMaxMirrorMembers> members{};  // ends at the first 0

    std::uint32_t memberCount() const;
    // Index of partitionId in the member list, or -1.
    int memberIndex(std::uint32_t partitionId) const;
    bool lists(std::uint32_t partitionId) const { return memberIndex(partitionId) >= 0; }
    bool outOfSync(int index) const { return index >= 0 && index < 8 && (status & (1u << index)) != 0; }
};

// The sector starts with "HOTFIX00" / "MIRROR00".
bool hasHotfixStamp(std::span<const std::uint8_t> sector);
bool hasMirrorStamp(std::span<const std::uint8_t> sector);

HotfixHeader decodeHotfixHeader(std::span<const std::uint8_t> sector);
MirrorHeader decodeMirrorHeader(std::span<const std::uint8_t> sector);

// Whether the headers describe a partition of partitionSectors sectors whose
// redirection can be honoured: the data area fits inside the partition and
// every table of the groups in use lies inside the hot-fix area.
bool headersUsable(const HotfixHeader& hotfix, std::uint64_t partitionSectors);

} // namespace tamsin
