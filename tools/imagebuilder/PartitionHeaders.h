#pragma once
// The sectors of a NetWare partition's hot-fix area: HOTFIX and MIRROR
// header copies, the redirection and bad-bits tables, and the recognisable
// garbage left where a reader must not look (a redirected block's home, the
// bad sectors of a spare, sectors damaged on one mirror member).

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/Result.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::imagebuilder {

using SectorBytes = std::array<std::uint8_t, kSectorBytes>;

struct HotfixFields {
    std::uint32_t partitionId = 0;
    std::uint32_t flags = kDefaultHotfixFlags;
    std::uint32_t dataSectors = 0;  // T
    std::uint32_t hotfixLength = 0; // H
    // Per group in use: partition sectors of redirection copy 1, bad bits
    // copy 1, redirection copy 2, bad bits copy 2. At most 30 groups.
    std::vector<std::array<std::uint32_t, 4>> tableSectors;
};

struct MirrorFields {
    std::uint32_t partitionId = 0;
    std::uint32_t flags = kMirrorInSyncFlags;
    std::uint32_t status = kMirrorStatusBase;
    std::uint32_t dataSectors = 0;
    std::uint32_t groupId = 0;
    std::vector<std::uint32_t> members; // at most 8; the rest of the list is 0
};

SectorBytes encodeHotfixSector(const HotfixFields& fields);
SectorBytes encodeMirrorSector(const MirrorFields& fields);
// A header copy that fails the stamp check: the stamp with its last byte
// changed, then garbage (so a reader that ignores the stamp reads nonsense).
SectorBytes encodeDamagedHeader(std::string_view signature, std::uint32_t seed);

// Recognisable filler: 32 units of 16 bytes, an 8-byte tag ("STALE", "BADSPARE",
// "DAMAGED") padded with spaces, then `value` as 8 hex digits.
SectorBytes markedSector(std::string_view tag, std::uint32_t value);
// What stays at the home of redirected logical sector s.
inline SectorBytes staleSector(std::uint32_t logicalSector) { return markedSector("STALE", logicalSector); }
// What a bad sector of a spare holds: the spare's partition sector.
inline SectorBytes badSpareSector(std::uint32_t partitionSector) { return markedSector("BADSPARE", partitionSector); }
// What a damaged logical sector holds on the member it is damaged on.
inline SectorBytes damagedSector(std::uint32_t logicalSector) { return markedSector("DAMAGED", logicalSector); }

namespace detail {

struct Redirection {
    std::uint32_t spare = 0;
    std::uint8_t badBits = 0;
    bool inCopy1 = true;
    bool inCopy2 = true;
};

// The hot-fix tables of one partition, both copies, with patches applied.
struct HotfixTables {
    std::uint32_t blocks = 0; // hot-fix blocks: H / 8
    std::uint32_t groups = 0; // ceil(blocks / 1024)
    std::vector<std::array<std::uint32_t, 4>> tableBlocks; // per group, the four table blocks
    std::array<std::vector<std::uint32_t>, 2> redirection; // copy 1, copy 2: groups * 1024 entries
    std::array<std::vector<std::uint32_t>, 2> badBits;
    std::map<std::uint32_t, Redirection> byLogicalBlock; // the redirects as written
    std::uint32_t reservedBlocks = 0;
    std::uint32_t freeSpares = 0; // entries that are 0 in both copies, below `blocks`

    std::vector<std::array<std::uint32_t, 4>> tableSectors() const;
    // The 4096 bytes of table `table` (0..3 as in tableBlocks) of group g.
    std::vector<std::uint8_t> encodeTable(std::uint32_t group, int table) const;
};

// With full headers the hot-fix length must be a multiple of 8, hold group
// 0's tables and need at most 30 table groups; an error message or nothing.
std::optional<std::string> checkHeaderHotfixLength(std::uint32_t hotfixLength);

// Validates the hot-fix length and the redirect knobs and lays out the tables.
// Errors start with `where`.
Result<HotfixTables> planHotfixTables(const PartitionHeaders& headers, std::uint32_t hotfixLength,
                                      std::uint32_t dataSectors, const std::string& where);

} // namespace detail
} // namespace tamsin::imagebuilder
