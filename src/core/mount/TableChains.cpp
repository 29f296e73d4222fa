#include "mount/TableChains.h"

#include "disk/SectorReader.h"
#include "mount/FatEntryReader.h"
#include "mount/MountedVolume.h"

namespace tamsin {

std::uint32_t readFatChain(MountedVolume& volume, const SectorReader& reader, int copy, const BlockList* otherCopy)
{
    BlockList& list = volume.fatList(copy);
    list.clear();
    std::uint32_t current = copy == 1 ? volume.firstFatBlock : volume.secondFatBlock;
    appendBlock(list, current, 0);
    FatEntryReader entries(volume, reader);
    // A revisited block carries a smaller position than expected, so the
    // sequence test ends every loop.
    for (std::uint32_t expected = 0;; ++expected) {
        const FatEntry entry = entries.entryOf(list, current, otherCopy);
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
