#pragma once
// The disks of access mode F: listed and read through the helper libraries.

#include "disk/Device.h"
#include "disk/DiskInfo.h"

#include <memory>
#include <string>

namespace tamsin {

class HelperLibraries;
struct OpenError;

// Disk numbers go from 0x80 to 0xFF; a larger count from the library is cut there.
inline constexpr std::uint32_t kFirstHelperDisk = 0x80;
inline constexpr std::uint16_t kMaxHelperDisks = 128;

// The cylinder/head/sector address handed to ReadDisk32 beside the LBA:
// derived from the low 32 bits of the first sector for 16 heads and 63
// sectors per track, sectors counted from 1.
struct HelperChs {
    std::uint32_t cylinder = 0;
    std::uint32_t head = 0;
    std::uint32_t sector = 0;
};
HelperChs helperChs(std::uint64_t firstSector);

// "disk 0x80": what a helper disk is called where an image shows its path.
std::string helperDiskName(std::uint32_t diskNumber);

// The disks the libraries report, model "Unknown", size the cylinder product;
// the table's access mode is Helper.
DiskTable listHelperDisks(const HelperLibraries& libraries);

// ReadDisk32 takes a 32-bit LBA: sectors from 2^32 on (past 2 TiB) cannot be
// asked for.
inline constexpr std::uint64_t kHelperAddressableSectors = std::uint64_t{1} << 32;
// The sectors of a listed helper disk that its reads reach.
std::uint64_t helperReachableSectors(const DiskInfo& disk);

// One helper disk as a device. Reads are handed to ReadDisk32 in one call
// and always count as delivered: the library reports no status.
class HelperDevice final : public Device {
public:
    HelperDevice(const HelperLibraries& libraries, const DiskInfo& disk);

    // Opens disk (one listed by listHelperDisks) on the loaded libraries.
    // Null with error set when they are not loaded or disk is no helper disk.
    static std::unique_ptr<HelperDevice> open(const HelperLibraries& libraries, const DiskInfo& disk,
                                              OpenError* error = nullptr);

    // Bytes past the disk's size, or past the reachable sectors, are not
    // delivered (unreadable); a range that does not
    // start or end on a sector boundary is read through whole sectors.
    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    std::uint64_t sizeBytes() const override { return sizeBytes_; }
    const std::string& path() const override { return name_; }

private:
    void readSectors(std::uint32_t firstSector, std::uint32_t count, std::uint8_t* buffer) const;

    const HelperLibraries& libraries_;
    std::uint32_t diskNumber_;
    std::uint32_t int13Extensions_;
    std::uint64_t sizeBytes_;
    std::string name_;
};

} // namespace tamsin
