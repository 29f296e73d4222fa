// The volume search over a small arbitrary disk: the input is the disk, and
// every sector of it is scanned.

#include "FuzzSupport.h"

#include "disk/SectorReader.h"
#include "volumes/VolumeInfo.h"
#include "volumes/VolumeSearch.h"

#include <algorithm>
#include <atomic>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tamsin;
    size = std::min(size, fuzz::kMaxDiskBytes);
    SectorReader reader;
    reader.attach(std::make_unique<fuzz::MemoryDevice>(std::span<const std::uint8_t>(data, size)));
    VolumeTable table;
    std::atomic<bool> stop{false};
    VolumeSearchObserver observer;
    const std::uint32_t sectors = static_cast<std::uint32_t>((size + 511) / 512);
    // The run length comes from the input too, so short and long runs are both tried.
    const std::uint32_t runLength = size > 0 ? 1 + data[0] % 100 : 60;
    searchVolumes(reader, table, SearchRange{0, sectors + 1}, runLength, stop, observer);
    return 0;
}
