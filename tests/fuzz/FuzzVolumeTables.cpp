// Partition table and volume tables over an arbitrary disk: the input is the
// disk, from sector 0 on.

#include "FuzzSupport.h"

#include "disk/SectorReader.h"
#include "volumes/VolumeInfo.h"
#include "volumes/VolumeTableReader.h"

#include <algorithm>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tamsin;
    SectorReader reader;
    reader.attach(std::make_unique<fuzz::MemoryDevice>(
        std::span<const std::uint8_t>(data, std::min(size, fuzz::kMaxDiskBytes))));
    VolumeTable table;
    readVolumeTables(reader, table);
    for (const auto& volume : table.records()) {
        volumeEndSector(volume);
        volumeProperties(volume);
    }
    return 0;
}
