#include "recovery/CompressedFiles.h"

#include "common/LittleEndian.h"
#include "disk/SectorReader.h"
#include "mount/FatEntryReader.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"
#include "recovery/FileChain.h"

namespace tamsin {

std::vector<CompressedFileInfo> compressedFiles(const MountedVolume& volume, const SectorReader& reader)
{
    std::vector<CompressedFileInfo> found;
    FatEntryReader fat(volume, reader);
    SuballocationChains chains(volume, reader);
    const VolumeReader io(volume, reader);
    for (std::uint32_t i = 0; i < volume.files.size(); ++i) {
        const TreeNode& file = volume.files[i];
        if (!file.isCompressed())
            continue;
        CompressedFileInfo info;
        info.position = i;
        info.size = file.size;
        std::optional<std::uint64_t> sector;
        if (firstBlockHoldsData(volume, file.firstBlock))
            sector = isFragmentReference(file.firstBlock) ? fragmentStartSector(volume, fat, file.firstBlock, &chains)
                                                          : volume.blockStart(file.firstBlock);
        std::uint8_t header[kSectorSize];
        if (sector && io.read(*sector, 1, header) == 0) {
            info.headerReadable = true;
            info.checkSize = readU32(header, 4);
            info.storedLength = readU32(header, 8);
        }
        found.push_back(info);
    }
    return found;
}

} // namespace tamsin
