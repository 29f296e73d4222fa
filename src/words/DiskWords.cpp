#include "DiskWords.h"

namespace tamsin::words {

std::string diskItemText(std::size_t index)
{
    return "Storage Device" + std::to_string(index);
}

std::string capacityText(const DiskInfo& disk)
{
    return std::to_string(disk.totalSectors / 2048) + " MB ( Approx )";
}

std::vector<std::pair<std::string, std::string>> diskGeometryRows(const DiskInfo& disk)
{
    return {
        {"Model", disk.model},
        {"Capacity", capacityText(disk)},
        {"Cylinders", std::to_string(disk.cylinders)},
        {"Head", std::to_string(disk.heads)},
        {"Sectors Per Track", std::to_string(disk.sectorsPerTrack)},
    };
}

std::string missingSegmentsText(const std::vector<std::uint32_t>& missing, std::uint32_t segmentCount)
{
    std::string text;
    for (std::uint32_t index : missing) {
        if (!text.empty())
            text += ", ";
        text += "segment " + std::to_string(index + 1) + " of " + std::to_string(segmentCount) + " missing";
    }
    return text;
}

std::string missingSegmentsText(const VolumeLayout& layout)
{
    return missingSegmentsText(layout.missingSegments(), layout.segmentCount());
}

} // namespace tamsin::words
