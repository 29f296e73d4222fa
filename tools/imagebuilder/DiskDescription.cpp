#include "imagebuilder/DiskDescription.h"

namespace tamsin::imagebuilder {

std::vector<std::uint64_t> segmentStartSectors(std::uint64_t partitionStart, const NetWareLayout& layout)
{
    std::vector<std::uint64_t> starts;
    starts.reserve(layout.segments.size());
    std::uint64_t next = dataAreaSector(partitionStart, layout.hotfixLength);
    for (const SegmentSpec& segment : layout.segments) {
        starts.push_back(next);
        next += segment.sizeSectors;
    }
    return starts;
}

std::uint32_t blockCountOf(const SegmentSpec& segment)
{
    if (segment.blockCount)
        return *segment.blockCount;
    const std::uint32_t sectorsPerBlock = segment.sectorsPerBlock.value_or(kDefaultSectorsPerBlock);
    return sectorsPerBlock == 0 ? 0 : segment.sizeSectors / sectorsPerBlock;
}

std::uint32_t sectorsPerBlockOf(const SegmentSpec& segment)
{
    const std::uint32_t blocks = blockCountOf(segment);
    if (blocks == 0)
        return 0;
    if (segment.sectorsPerBlock)
        return *segment.sectorsPerBlock;
    return segment.blockCount ? segment.sizeSectors / blocks : kDefaultSectorsPerBlock;
}

std::optional<std::uint8_t> blockSizeCode(std::uint32_t sectorsPerBlock)
{
    for (std::uint8_t code = 3; code <= 7; ++code)
        if (sectorsPerBlock == (1u << code))
            return code;
    return std::nullopt;
}

} // namespace tamsin::imagebuilder
