#include "mount/VolumeReader.h"

#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"
#include "volumes/VolumeLayout.h"

namespace tamsin {

VolumeReader::VolumeReader(const MountedVolume& volume, const SectorReader& reader) :
    layout_(volume.layout ? volume.layout
                          : VolumeLayout::plain(LogicalPartition::plain(reader, volume.startSector,
                                                                        reader.device() ? reader.device()->path() : ""),
                                                0,
                                                volume.sectorsPerBlock, volume.sizeSectors))
{
}

std::uint32_t VolumeReader::read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                                 std::vector<std::uint32_t>* unreadable) const
{
    return layout_->read(first, count, buffer, unreadable);
}

std::uint64_t VolumeReader::diskSector(std::uint64_t volumeSector) const
{
    return layout_->diskSector(volumeSector);
}

DiskPlace VolumeReader::diskPlace(std::uint64_t volumeSector) const
{
    return layout_->diskPlace(volumeSector);
}

} // namespace tamsin
