// Stand-ins for the helper libraries. Built once per missing entry point
// (STANDIN_NO_READ, STANDIN_NO_INT13, STANDIN_NO_FIND, STANDIN_NO_GEOMETRY)
// to check the loader's messages, and in full to record what the engine
// hands to ReadDisk32.

#include <cstdint>
#include <cstring>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

// Each ReadDisk32 call: disk, cylinder, head, sector, count, lba, int13Extensions.
// Data of C linkage, exported for the test to read.
extern "C" {
__attribute__((visibility("default"))) std::uint32_t standInReads[64][7] = {};
__attribute__((visibility("default"))) std::uint32_t standInReadCount = 0;
}

#ifndef STANDIN_NO_FIND
STANDIN_EXPORT std::uint32_t find_hard_disk32(std::uint16_t* count)
{
    *count = static_cast<std::uint16_t>(*count + 2);  // the caller's 0 plus two disks
    return 0;
}
#endif

#ifndef STANDIN_NO_INT13
STANDIN_EXPORT std::uint32_t CheckInt13Extension32(std::uint32_t diskNumber)
{
    return 0x1300 + diskNumber;
}
#endif

#ifndef STANDIN_NO_GEOMETRY
// Disk 0x80: 2 cylinders, 0x81: 3 cylinders, of 16 heads and 63 sectors.
STANDIN_EXPORT std::uint32_t get_drive_geometry32(std::uint32_t diskNumber, std::uint32_t* cylinders,
                                                  std::uint32_t* heads, std::uint32_t* sectorsPerTrack)
{
    *cylinders = diskNumber - 0x7E;
    *heads = 16;
    *sectorsPerTrack = 63;
    return 0;
}
#endif

#ifndef STANDIN_NO_READ
// Writes only the run's first sector, filled with the low byte of its LBA,
// and leaves the rest of the buffer as it was.
STANDIN_EXPORT std::uint32_t ReadDisk32(std::uint32_t diskNumber, std::uint32_t cylinder, std::uint32_t head,
                                        std::uint32_t sector, std::uint32_t count, void* buffer, std::uint32_t lba,
                                        std::uint32_t int13Extensions)
{
    if (standInReadCount < 64) {
        const std::uint32_t call[7] = {diskNumber, cylinder, head, sector, count, lba, int13Extensions};
        std::memcpy(standInReads[standInReadCount++], call, sizeof call);
    }
    std::memset(buffer, static_cast<int>(lba & 0xFF), 512);
    return 0;
}
#endif
