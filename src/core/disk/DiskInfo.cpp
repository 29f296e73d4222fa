#include "disk/DiskInfo.h"

#include "disk/Sector.h"

#include <algorithm>
#include <limits>

namespace tamsin {

void setSize(DiskInfo& disk, std::uint64_t sizeBytes)
{
    disk.sizeBytes = sizeBytes;
    disk.totalSectors = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(sizeBytes / kSectorSize, std::numeric_limits<std::uint32_t>::max()));
}

void setSyntheticGeometry(DiskInfo& disk)
{
    disk.heads = 255;
    disk.sectorsPerTrack = 63;
    disk.cylinders = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(disk.sizeBytes / kSectorSize / (255 * 63), std::numeric_limits<std::uint32_t>::max()));
}

} // namespace tamsin
