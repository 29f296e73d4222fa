#include "imagebuilder/PartitionHeaders.h"

#include "common/LittleEndian.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <span>

namespace tamsin::imagebuilder {

namespace {

constexpr std::size_t kTableGroupBytes = 16;

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

} // namespace

SectorBytes encodeHotfixSector(const HotfixFields& fields)
{
    SectorBytes sector{};
    const std::span<std::uint8_t> bytes(sector);
    std::copy(kHotfixSignature.begin(), kHotfixSignature.end(), sector.begin());
    writeU32(bytes, kHeaderIdOffset, fields.partitionId);
    writeU32(bytes, kHotfixFlagsOffset, fields.flags);
    writeU32(bytes, kHeaderGeometryOffset, kHeaderGeometry);
    writeU32(bytes, kHotfixDataSectorsOffset, fields.dataSectors);
    writeU32(bytes, kHotfixLengthOffset, fields.hotfixLength);
    const std::size_t groups = std::min<std::size_t>(fields.tableSectors.size(), kMaxHotfixGroups);
    for (std::size_t g = 0; g < groups; ++g)
        for (std::size_t t = 0; t < 4; ++t)
            writeU32(bytes, kHotfixTablesOffset + kTableGroupBytes * g + 4 * t, fields.tableSectors[g][t]);
    return sector;
}

SectorBytes encodeMirrorSector(const MirrorFields& fields)
{
    SectorBytes sector{};
    const std::span<std::uint8_t> bytes(sector);
    std::copy(kMirrorSignature.begin(), kMirrorSignature.end(), sector.begin());
    writeU32(bytes, kHeaderIdOffset, fields.partitionId);
    writeU32(bytes, kMirrorFlagsOffset, fields.flags);
    writeU32(bytes, kHeaderGeometryOffset, kHeaderGeometry);
    writeU32(bytes, kMirrorStatusOffset, fields.status);
    writeU32(bytes, kMirrorDataSectorsOffset, fields.dataSectors);
    writeU32(bytes, kMirrorGroupIdOffset, fields.groupId);
    const std::size_t members = std::min<std::size_t>(fields.members.size(), kMaxMirrorMembers);
    for (std::size_t j = 0; j < members; ++j)
        writeU32(bytes, kMirrorMembersOffset + 4 * j, fields.members[j]);
    return sector;
}

SectorBytes encodeDamagedHeader(std::string_view signature, std::uint32_t seed)
{
    SectorBytes sector{};
    std::copy(signature.begin(), signature.end(), sector.begin());
    sector[signature.size() - 1] = '#';
    // A fixed linear congruential sequence: garbage, but the same on every run.
    std::uint32_t state = seed * 2246822519u + 0x7F4A7C15u;
    for (std::size_t i = signature.size(); i < sector.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        sector[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return sector;
}

SectorBytes markedSector(std::string_view tag, std::uint32_t value)
{
    SectorBytes sector{};
    char unit[17];
    std::snprintf(unit, sizeof unit, "%-8.8s%08X", std::string(tag).c_str(), value);
    for (std::size_t at = 0; at < sector.size(); at += 16)
        std::copy_n(unit, 16, sector.begin() + static_cast<std::ptrdiff_t>(at));
    return sector;
}

namespace detail {

std::vector<std::array<std::uint32_t, 4>> HotfixTables::tableSectors() const
{
    std::vector<std::array<std::uint32_t, 4>> sectors;
    for (const auto& blocksOfGroup : tableBlocks) {
        std::array<std::uint32_t, 4> group{};
        for (int t = 0; t < 4; ++t)
            group[t] = blocksOfGroup[t] * kBlockSectors;
        sectors.push_back(group);
    }
    return sectors;
}

std::vector<std::uint8_t> HotfixTables::encodeTable(std::uint32_t group, int table) const
{
    // Tables 0 and 2 are redirection copies 1 and 2, 1 and 3 bad-bits copies.
    const std::vector<std::uint32_t>& entries = (table % 2 == 0 ? redirection : badBits)[table / 2];
    std::vector<std::uint8_t> bytes(std::size_t{kHotfixGroupBlocks} * 4);
    for (std::uint32_t e = 0; e < kHotfixGroupBlocks; ++e)
        writeU32(bytes, std::size_t{e} * 4, entries[std::size_t{group} * kHotfixGroupBlocks + e]);
    return bytes;
}

std::optional<std::string> checkHeaderHotfixLength(std::uint32_t hotfixLength)
{
    if (hotfixLength % kBlockSectors != 0)
        return "with headers the hot-fix length must be a multiple of 8, not " + number(hotfixLength);
    if (hotfixLength < kMinHeaderHotfixLength)
        return "with headers the hot-fix length must be at least " + number(kMinHeaderHotfixLength)
            + " sectors to hold the tables, not " + number(hotfixLength);
    const std::uint32_t blocks = hotfixLength / kBlockSectors;
    const std::uint32_t groups = (blocks + kHotfixGroupBlocks - 1) / kHotfixGroupBlocks;
    if (groups > kMaxHotfixGroups)
        return "a hot-fix area of " + number(blocks) + " blocks needs " + number(groups)
            + " table groups, the header holds at most " + number(kMaxHotfixGroups);
    return std::nullopt;
}

Result<HotfixTables> planHotfixTables(const PartitionHeaders& headers, std::uint32_t hotfixLength,
                                      std::uint32_t dataSectors, const std::string& where)
{
    if (auto error = checkHeaderHotfixLength(hotfixLength))
        return Error{where + ": " + *error};
    HotfixTables tables;
    tables.blocks = hotfixLength / kBlockSectors;
    tables.groups = (tables.blocks + kHotfixGroupBlocks - 1) / kHotfixGroupBlocks;

    const std::size_t entries = std::size_t{tables.groups} * kHotfixGroupBlocks;
    // Entries past the last hot-fix block stay 0: a reader looks only below `blocks`.
    std::vector<bool> reserved(tables.blocks, false);
    for (std::uint32_t i = 0; i < kReservedHotfixBlocks; ++i)
        reserved[i] = true;
    for (std::uint32_t g = 0; g < tables.groups; ++g) {
        std::array<std::uint32_t, 4> blocksOfGroup{};
        for (int t = 0; t < 4; ++t) {
            blocksOfGroup[t] = kHotfixTableBlocks[t] + kHotfixTableGroupStride * g;
            reserved[blocksOfGroup[t]] = true; // below `blocks`: checked by the group count above
        }
        tables.tableBlocks.push_back(blocksOfGroup);
    }
    for (std::size_t k = 0; k < headers.retiredSpares.size(); ++k) {
        const std::uint32_t spare = headers.retiredSpares[k];
        if (spare >= tables.blocks)
            return Error{where + ": retiredSpares[" + number(k) + "]: hot-fix block " + number(spare)
                         + " is past the " + number(tables.blocks) + " blocks of the hot-fix area"};
        reserved[spare] = true;
    }

    std::vector<bool> taken = reserved;
    const std::uint32_t logicalBlocks = dataSectors / kBlockSectors;
    std::set<std::uint32_t> logicalSeen;
    for (std::size_t k = 0; k < headers.redirects.size(); ++k) {
        const HotfixRedirect& redirect = headers.redirects[k];
        const std::string at = where + ": redirects[" + number(k) + "]";
        if (redirect.logicalBlock >= logicalBlocks)
            return Error{at + ": logical block " + number(redirect.logicalBlock) + " is past the data area's "
                         + number(logicalBlocks) + " blocks"};
        if (!logicalSeen.insert(redirect.logicalBlock).second)
            return Error{at + ": logical block " + number(redirect.logicalBlock) + " is redirected twice"};
        if (!redirect.inCopy1 && !redirect.inCopy2)
            return Error{at + ": a redirect must be recorded in at least one table copy"};
        if (!redirect.spare)
            continue;
        const std::uint32_t spare = *redirect.spare;
        if (spare >= tables.blocks)
            return Error{at + ": spare " + number(spare) + " is past the " + number(tables.blocks)
                         + " blocks of the hot-fix area"};
        if (reserved[spare])
            return Error{at + ": spare " + number(spare) + " is a reserved block"};
        if (taken[spare])
            return Error{at + ": spare " + number(spare) + " is used twice"};
        taken[spare] = true;
    }
    std::uint32_t cursor = 0;
    for (std::size_t k = 0; k < headers.redirects.size(); ++k) {
        const HotfixRedirect& redirect = headers.redirects[k];
        std::uint32_t spare = 0;
        if (redirect.spare) {
            spare = *redirect.spare;
        } else {
            while (cursor < tables.blocks && taken[cursor])
                ++cursor;
            if (cursor == tables.blocks)
                return Error{where + ": redirects[" + number(k) + "]: no free spare block left"};
            spare = cursor;
            taken[spare] = true;
        }
        tables.byLogicalBlock[redirect.logicalBlock] = {spare, redirect.badBits, redirect.inCopy1, redirect.inCopy2};
    }

    for (int copy = 0; copy < 2; ++copy) {
        tables.redirection[copy].assign(entries, 0);
        tables.badBits[copy].assign(entries, 0);
        for (std::uint32_t i = 0; i < tables.blocks; ++i)
            if (reserved[i]) {
                tables.redirection[copy][i] = kRedirectionReserved;
                tables.badBits[copy][i] = kRedirectionReserved;
            }
        for (const auto& [logicalBlock, redirect] : tables.byLogicalBlock)
            if (copy == 0 ? redirect.inCopy1 : redirect.inCopy2) {
                tables.redirection[copy][redirect.spare] = logicalBlock * kBlockSectors;
                tables.badBits[copy][redirect.spare] = redirect.badBits;
            }
    }
    for (std::size_t k = 0; k < headers.tablePatches.size(); ++k) {
        const HotfixTablePatch& patch = headers.tablePatches[k];
        const std::string at = where + ": tablePatches[" + number(k) + "]";
        if (patch.copy != 1 && patch.copy != 2)
            return Error{at + ": copy " + std::to_string(patch.copy) + " is not 1 or 2"};
        if (patch.index >= entries)
            return Error{at + ": entry " + number(patch.index) + " is past the tables' " + number(entries)
                         + " entries"};
        (patch.badBits ? tables.badBits : tables.redirection)[patch.copy - 1][patch.index] = patch.value;
    }
    for (std::uint32_t i = 0; i < tables.blocks; ++i) {
        tables.reservedBlocks += reserved[i] ? 1 : 0;
        tables.freeSpares += tables.redirection[0][i] == 0 && tables.redirection[1][i] == 0 ? 1 : 0;
    }
    return tables;
}

} // namespace detail
} // namespace tamsin::imagebuilder
