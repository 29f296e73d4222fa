#include "disk/HelperDisk.h"

#include "disk/FileDevice.h"
#include "disk/HelperLibraries.h"
#include "disk/Sector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tamsin {

HelperChs helperChs(std::uint64_t firstSector)
{
    const auto lba = static_cast<std::uint32_t>(firstSector);
    return {lba / (16 * 63), (lba / 63) % 16, lba % 63 + 1};
}

std::string helperDiskName(std::uint32_t diskNumber)
{
    char text[16];
    std::snprintf(text, sizeof text, "disk 0x%02X", diskNumber);
    return text;
}

DiskTable listHelperDisks(const HelperLibraries& libraries)
{
    DiskTable table;
    table.accessMode = AccessMode::Helper;
    const std::uint16_t count = std::min(libraries.findHardDisks(), kMaxHelperDisks);
    for (std::uint16_t n = 0; n < count; ++n) {
        DiskInfo disk;
        disk.helperDisk = kFirstHelperDisk + n;
        disk.int13Extensions = libraries.checkInt13Extension(disk.helperDisk);
        const HelperGeometry geometry = libraries.driveGeometry(disk.helperDisk);
        disk.cylinders = geometry.cylinders;
        disk.heads = geometry.heads;
        disk.sectorsPerTrack = geometry.sectorsPerTrack;
        // The cylinder product of a disk past 2 TiB does not fit 32 bits.
        setSize(disk, std::uint64_t{geometry.heads} * geometry.sectorsPerTrack * geometry.cylinders * kSectorSize);
        disk.model = kModelUnknown;
        disk.path = helperDiskName(disk.helperDisk);
        table.entries.push_back(std::move(disk));
    }
    table.diskCount = count;
    return table;
}

std::uint64_t helperReachableSectors(const DiskInfo& disk)
{
    return std::min(disk.sizeBytes / kSectorSize, kHelperAddressableSectors);
}

HelperDevice::HelperDevice(const HelperLibraries& libraries, const DiskInfo& disk) :
    libraries_(libraries), diskNumber_(disk.helperDisk), int13Extensions_(disk.int13Extensions),
    sizeBytes_(helperReachableSectors(disk) * kSectorSize), name_(helperDiskName(disk.helperDisk))
{
}

std::unique_ptr<HelperDevice> HelperDevice::open(const HelperLibraries& libraries, const DiskInfo& disk,
                                                 OpenError* error)
{
    const char* why = !libraries.loaded()       ? "the helper libraries are not loaded"
                    : disk.helperDisk < kFirstHelperDisk ? "not a disk of the helper libraries"
                                                         : nullptr;
    if (why) {
        if (error)
            *error = OpenError{0, (disk.path.empty() ? std::string("disk") : disk.path) + ": " + why};
        return nullptr;
    }
    return std::make_unique<HelperDevice>(libraries, disk);
}

void HelperDevice::readSectors(std::uint32_t firstSector, std::uint32_t count, std::uint8_t* buffer) const
{
    const HelperChs chs = helperChs(firstSector);
    libraries_.readDisk(diskNumber_, chs.cylinder, chs.head, chs.sector, count, buffer, firstSector, int13Extensions_);
}

DeviceRead HelperDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    DeviceRead result;
    result.ok = true;
    if (byteOffset >= sizeBytes_ || buffer.empty())
        return result;
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), sizeBytes_ - byteOffset));
    // sizeBytes_ is at most 2^32 sectors, so sector numbers fit 32 bits.
    const auto first = static_cast<std::uint32_t>(byteOffset / kSectorSize);
    const auto last = static_cast<std::uint32_t>((byteOffset + length - 1) / kSectorSize);
    const std::uint32_t count = last - first + 1;
    if (byteOffset % kSectorSize == 0 && length % kSectorSize == 0) {
        readSectors(first, count, buffer.data());
    } else {
        std::vector<std::uint8_t> whole(std::size_t{count} * kSectorSize);
        readSectors(first, count, whole.data());
        std::memcpy(buffer.data(), whole.data() + byteOffset % kSectorSize, length);
    }
    result.bytes = length;
    return result;
}

} // namespace tamsin
