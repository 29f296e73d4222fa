#include "imagebuilder/Demo.h"

namespace tamsin::imagebuilder {

namespace {

constexpr std::uint32_t kSectorsPerMiB = 2048;

SegmentSpec demoVolume(std::string name, std::uint32_t sizeMiB)
{
    SegmentSpec segment;
    segment.name = std::move(name);
    segment.sizeSectors = sizeMiB * kSectorsPerMiB;
    segment.sectorsPerBlock = 8;
    return segment;
}

} // namespace

DiskSpec demoDiskSpec()
{
    DiskSpec disk;
    disk.totalSectors = 256 * kSectorsPerMiB;

    PartitionSpec fat;
    fat.slot = 0;
    fat.type = 0x0C;
    fat.startSector = 2048;
    fat.sizeSectors = 32 * kSectorsPerMiB;
    disk.partitions.push_back(fat);

    PartitionSpec netware;
    netware.slot = 1;
    netware.type = kNetWarePartitionType;
    netware.startSector = fat.startSector + fat.sizeSectors;
    netware.sizeSectors = static_cast<std::uint32_t>(disk.totalSectors) - netware.startSector;
    NetWareLayout layout;
    layout.hotfixProbe = 1;
    layout.segments.push_back(demoVolume("SYS", 48));
    layout.segments.push_back(demoVolume("VOL1", 96));
    netware.netware = layout;
    disk.partitions.push_back(netware);
    return disk;
}

} // namespace tamsin::imagebuilder
