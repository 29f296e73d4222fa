#include "mount/FatEntryReader.h"

#include "mount/MountedVolume.h"

#include <vector>

namespace tamsin {

FatEntry FatEntryReader::entryOf(const BlockList& fatList, std::uint32_t block, const BlockList* otherCopy)
{
    const FatEntryLocation at =
        locateFatEntry(fatList, block, 0, volume_.sectorsPerBlock, otherCopy);
    if (!haveSector_ || at.sector != sector_) {
        std::vector<std::uint32_t> unreadable;
        reader_.read(at.sector, 1, buffer_, &unreadable);
        const BlockList* other = otherCopy ? otherCopy
            : &fatList == &volume_.chosenFatList && !volume_.otherFatList.empty() ? &volume_.otherFatList
                                                                                  : nullptr;
        const std::uint32_t position = block / kFatEntriesPerSector / volume_.sectorsPerBlock;
        sectorLost_ = !unreadable.empty();
        if (sectorLost_ && other && position < other->blockCount()) {
            const FatEntryLocation there = locateFatEntry(*other, block, 0, volume_.sectorsPerBlock);
            std::array<std::uint8_t, kSectorSize> copy{};
            if (there.sector != at.sector && reader_.read(there.sector, 1, copy) == 0) {
                buffer_ = copy;
                sectorLost_ = false;
            }
        }
        sector_ = at.sector;
        haveSector_ = true;
    }
    if (sectorLost_)
        ++lostEntries_;
    return fatEntryAt(buffer_, at.slot);
}

} // namespace tamsin
