// disk2.dll: the geometry of the image disks.

#include "ImageDisks.h"

#define TAMSIN_HELPER_EXPORT extern "C" __attribute__((visibility("default")))

using namespace tamsin::helper;

// diskNumber's low byte names the disk (0x80 the first). An unknown disk has
// 0 cylinders.
TAMSIN_HELPER_EXPORT std::uint32_t get_drive_geometry32(std::uint32_t diskNumber, std::uint32_t* cylinders,
                                                        std::uint32_t* heads, std::uint32_t* sectorsPerTrack)
{
    const std::uint32_t number = diskNumber & 0xFF;
    const std::size_t index = number >= kFirstDisk ? number - kFirstDisk : imageCount();
    if (cylinders)
        *cylinders = imageCylinders(index);
    if (heads)
        *heads = kHeads;
    if (sectorsPerTrack)
        *sectorsPerTrack = kSectorsPerTrack;
    return 0;
}
