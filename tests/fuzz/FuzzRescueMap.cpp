// The rescue-map parser: the input is the map of a 1 MiB image.

#include "disk/RescueMap.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint64_t kImageBytes = 1u << 20;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string error;
    const auto map = tamsin::RescueMap::parse(in, kImageBytes, error);
    if (map) {
        map->unreadableSectors();
        for (std::uint64_t sector = 0; sector < kImageBytes / 512; sector += 97) {
            map->unreadable(sector);
            bool bad = false;
            map->uniformRun(sector, 200, bad);
        }
    }
    return 0;
}
