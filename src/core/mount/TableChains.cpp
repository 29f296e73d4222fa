#include "mount/TableChains.h"

#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"

#include <array>

namespace tamsin {
namespace {

// Reads FAT entries one sector at a time, keeping only the last sector read:
// chains mostly step within one FAT sector.
class FatEntryReader {
public:
    FatEntryReader(const MountedVolume& volume, const SectorReader& reader) : volume_(volume), reader_(reader) {}

    FatEntry entryOf(const BlockList& fatList, std::uint32_t block)
    {
        const FatEntryLocation at = locateFatEntry(fatList, block, volume_.startSector, volume_.sectorsPerBlock);
        if (!haveSector_ || at.sector != sector_) {
            reader_.readSectorsZeroFilled(at.sector, 1, buffer_);
            sector_ = at.sector;
            haveSector_ = true;
        }
        return fatEntryAt(buffer_, at.slot);
    }

private:
    const MountedVolume& volume_;
    const SectorReader& reader_;
    std::array<std::uint8_t, kSectorSize> buffer_{};
    std::uint64_t sector_ = 0;
    bool haveSector_ = false;
};

} // namespace

std::uint32_t readFatChain(MountedVolume& volume, const SectorReader& reader, int copy)
{
    BlockList& list = volume.fatList(copy);
    list.clear();
    std::uint32_t current = copy == 1 ? volume.firstFatBlock : volume.secondFatBlock;
    appendBlock(list, current, 0);
    FatEntryReader entries(volume, reader);
    // A revisited block carries a smaller position than expected, so the
    // sequence test ends every loop.
    for (std::uint32_t expected = 0;; ++expected) {
        const FatEntry entry = entries.entryOf(list, current);
        if (entry.sequence != expected)
            break;
        appendBlock(list, entry.next, entry.sequence);
        if (entry.next == kChainEnd) {
            list.endedNormally = true;
            break;
        }
        current = entry.next;
    }
    return list.length();
}

std::uint32_t readDetChain(MountedVolume& volume, const SectorReader& reader, int copy)
{
    BlockList& list = volume.detList(copy);
    list.clear();
    std::uint32_t current = copy == 1 ? volume.firstDetBlock : volume.secondDetBlock;
    appendBlock(list, current, 0);
    if (volume.chosenFatList.empty())
        return 0;
    FatEntryReader entries(volume, reader);
    for (std::uint32_t expected = 0;; ++expected) {
        const FatEntry entry = entries.entryOf(volume.chosenFatList, current);
        if (entry.sequence != expected)
            break;
        appendBlock(list, entry.next, entry.sequence);
        if (entry.next == 0 || entry.next >= 0x80000000u) {
            list.endedNormally = true;
            break;
        }
        current = entry.next;
    }
    return list.length() - 1;
}

} // namespace tamsin
