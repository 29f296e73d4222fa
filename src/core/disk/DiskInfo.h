#pragma once
// One listed disk and the table of listed disks.

#include "disk/DiskFormat.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

inline constexpr const char* kModelUsb = "USB Device";
inline constexpr const char* kModelNoMedia = "Media missing or not inserted";
inline constexpr const char* kModelUnknown = "Unknown";

// How disks are listed and read. Native: block devices and image files with
// positioned reads. Helper ('F'): through the helper libraries Disk32.dll and
// disk2.dll (see HelperLibraries.h).
enum class AccessMode : char { Native = 'N', Helper = 'F' };

struct DiskInfo {
    std::uint32_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    // The device's true size in 512-byte sectors, capped to 32 bits; not a
    // cylinder product, so the last partial cylinder stays reachable.
    std::uint32_t totalSectors = 0;
    std::string model;
    std::uint32_t int13Extensions = 0;  // helper-library access only: handed back with every read
    std::uint32_t helperDisk = 0;       // helper-library access only: the disk's number, 0x80 + index

    std::string path;             // device node or image file the entry was probed with
    std::uint64_t sizeBytes = 0;  // full size, not capped
    bool isImage = false;
    DiskFormat format = DiskFormat::Raw;  // of an image; devices are raw
    bool mediaPresent = true;
    // A rescue map the user gave for the image; empty: the map beside the
    // image, if any, is used.
    std::string rescueMap;
};

// Disks with media come first, indexes 0 .. diskCount-1, in a stable order;
// entries without media follow and get no index of their own.
struct DiskTable {
    std::vector<DiskInfo> entries;
    std::uint16_t diskCount = 0;
    std::uint16_t selectedDisk = 0;
    AccessMode accessMode = AccessMode::Native;  // how the disks were listed and are to be read

    // The disk with index n, or null when n names no counted disk.
    const DiskInfo* disk(std::size_t n) const { return n < diskCount ? &entries[n] : nullptr; }
};

// Synthetic geometry for a device that reports none: 255 heads, 63 sectors
// per track, cylinders from the size.
void setSyntheticGeometry(DiskInfo& disk);

// Sets sizeBytes and totalSectors (capped) from a byte size.
void setSize(DiskInfo& disk, std::uint64_t sizeBytes);

} // namespace tamsin
