#include "volumes/HotfixMap.h"

#include "common/LittleEndian.h"
#include "disk/SectorReader.h"

#include <array>
#include <vector>

namespace tamsin {
namespace {

constexpr std::uint32_t kFreeEntry = 0;
constexpr std::uint32_t kReservedEntry = 0xFFFFFFFF;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / 4;

// One 4K table block and which of its sectors could not be read.
struct TableBlock {
    std::array<std::uint8_t, kSectorsPer4kBlock * kSectorSize> bytes{};
    std::array<bool, kSectorsPer4kBlock> readable{};

    void load(const SectorReader& disk, std::uint64_t sector)
    {
        std::vector<std::uint32_t> bad;
        disk.readSectorsZeroFilled(sector, kSectorsPer4kBlock, bytes, &bad);
        readable.fill(true);
        for (std::uint32_t i : bad)
            readable[i] = false;
    }
    bool entryReadable(std::uint32_t e) const { return readable[e / kEntriesPerSector]; }
    std::uint32_t entry(std::uint32_t e) const { return readU32(bytes, 4 * std::size_t{e}); }
};

bool inUse(std::uint32_t value)
{
    return value != kFreeEntry && value != kReservedEntry;
}

} // namespace

void HotfixMap::add(std::uint32_t logicalBlock, Redirect redirect)
{
    // Several entries may name one block; the lowest spare wins unless a
    // later one lost no sectors and the earlier did.
    auto [it, inserted] = redirects_.try_emplace(logicalBlock, redirect);
    if (!inserted && it->second.badBits != 0 && redirect.badBits == 0)
        it->second = redirect;
}

HotfixMap HotfixMap::load(const SectorReader& disk, std::uint64_t partitionStart, const HotfixHeader& header)
{
    HotfixMap map;
    const std::uint32_t blocks = header.hotfixBlocks();
    TableBlock redirection1, redirection2, badBits1, badBits2;
    for (std::uint32_t g = 0; g < header.groupsInUse(); ++g) {
        const HotfixTablePointers& t = header.tables[g];
        redirection1.load(disk, partitionStart + t.redirection1);
        redirection2.load(disk, partitionStart + t.redirection2);
        badBits1.load(disk, partitionStart + t.badBits1);
        badBits2.load(disk, partitionStart + t.badBits2);

        for (std::uint32_t e = 0; e < kBlocksPerHotfixGroup; ++e) {
            const std::uint32_t spare = g * kBlocksPerHotfixGroup + e;
            if (spare >= blocks)
                break;
            const bool ok1 = redirection1.entryReadable(e);
            const bool ok2 = redirection2.entryReadable(e);
            if (!ok1 && !ok2) {
                ++map.unreadable_;
                continue;
            }
            const std::uint32_t v1 = redirection1.entry(e);
            const std::uint32_t v2 = redirection2.entry(e);
            bool useFirst = ok1 || !ok2;
            if (ok1 && ok2 && v1 != v2) {
                // Prefer the in-use entry whose spare block reads.
                const std::uint32_t candidate = inUse(v1) ? v1 : v2;
                const bool candidateFirst = inUse(v1);
                if (inUse(candidate)) {
                    std::array<std::uint8_t, kSectorsPer4kBlock * kSectorSize> probe{};
                    const bool reads = disk.readSectorsZeroFilled(partitionStart + std::uint64_t{spare} * kSectorsPer4kBlock,
                                                                  kSectorsPer4kBlock, probe) == 0;
                    useFirst = reads ? candidateFirst : !candidateFirst;
                }
            }
            const std::uint32_t value = useFirst ? v1 : v2;
            if (value == kFreeEntry) {
                ++map.free_;
                continue;
            }
            if (!inUse(value))
                continue;
            ++map.used_;
            if (value % kSectorsPer4kBlock != 0)
                continue;  // not a logical block number; nothing can be redirected by it
            const TableBlock& bits = useFirst ? badBits1 : badBits2;
            const TableBlock& otherBits = useFirst ? badBits2 : badBits1;
            const std::uint32_t mask = bits.entryReadable(e) ? bits.entry(e) : otherBits.entry(e);
            map.add(value / kSectorsPer4kBlock, {spare, static_cast<std::uint8_t>(mask == kReservedEntry ? 0 : mask)});
        }
    }
    return map;
}

} // namespace tamsin
