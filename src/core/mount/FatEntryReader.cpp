#include "mount/FatEntryReader.h"

#include "mount/MountedVolume.h"

namespace tamsin {

FatEntry FatEntryReader::entryOf(const BlockList& fatList, std::uint32_t block, const BlockList* otherCopy)
{
    const FatEntryLocation at =
        locateFatEntry(fatList, block, 0, volume_.sectorsPerBlock, otherCopy);
    if (!haveSector_ || at.sector != sector_) {
        reader_.read(at.sector, 1, buffer_);
        sector_ = at.sector;
        haveSector_ = true;
    }
    return fatEntryAt(buffer_, at.slot);
}

} // namespace tamsin
