// Disk32.dll: lists the image disks and reads them by LBA.

#include "ImageDisks.h"

#define TAMSIN_HELPER_EXPORT extern "C" __attribute__((visibility("default")))

using namespace tamsin::helper;

// Sets *count to the number of disks.
TAMSIN_HELPER_EXPORT std::uint32_t find_hard_disk32(std::uint16_t* count)
{
    if (count)
        *count = static_cast<std::uint16_t>(imageCount());
    return 0;
}

// Every image disk takes LBA reads: 1.
TAMSIN_HELPER_EXPORT std::uint32_t CheckInt13Extension32(std::uint32_t diskNumber)
{
    return diskNumber >= kFirstDisk && diskNumber - kFirstDisk < imageCount() ? 1 : 0;
}

// Reads count sectors at lba; the CHS address and the extension flag are
// not needed for an image. Returns 0.
TAMSIN_HELPER_EXPORT std::uint32_t ReadDisk32(std::uint32_t diskNumber, std::uint32_t /*cylinder*/,
                                              std::uint32_t /*head*/, std::uint32_t /*sector*/, std::uint32_t count,
                                              void* buffer, std::uint32_t lba, std::uint32_t /*int13Extensions*/)
{
    if (!buffer)
        return 1;
    readImage(diskNumber >= kFirstDisk ? diskNumber - kFirstDisk : imageCount(), lba, count, buffer);
    return 0;
}
