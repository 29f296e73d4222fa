#include "disk/DiskInfo.h"

#include "disk/Sector.h"

#include <algorithm>
#include <limits>

namespace tamsin {

std::string diskItemText(std::size_t index)
{
    return "Storage Device" + std::to_string(index);
}

std::string capacityText(const DiskInfo& disk)
{
    return std::to_string(disk.totalSectors / 2048) + " MB ( Approx )";
}

std::vector<std::pair<std::string, std::string>> diskGeometryRows(const DiskInfo& disk)
{
    return {
        {"Model", disk.model},
        {"Capacity", capacityText(disk)},
        {"Cylinders", std::to_string(disk.cylinders)},
        {"Head", std::to_string(disk.heads)},
        {"Sectors Per Track", std::to_string(disk.sectorsPerTrack)},
    };
}

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
