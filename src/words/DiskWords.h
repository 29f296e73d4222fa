#pragma once
// How both front ends name a disk and show its geometry and a volume's
// missing segments.

#include "disk/DiskInfo.h"
#include "volumes/VolumeLayout.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tamsin::words {

// "Storage Device" immediately followed by the index.
std::string diskItemText(std::size_t index);

// totalSectors / 2048 followed by " MB ( Approx )".
std::string capacityText(const DiskInfo& disk);

// The label/value rows of the geometry panel: Model, Capacity, Cylinders,
// Head, Sectors Per Track.
std::vector<std::pair<std::string, std::string>> diskGeometryRows(const DiskInfo& disk);

// "segment 2 of 3 missing" (1-based), one phrase per missing segment joined
// with ", "; empty for a complete volume.
std::string missingSegmentsText(const VolumeLayout& layout);
std::string missingSegmentsText(const std::vector<std::uint32_t>& missing, std::uint32_t segmentCount);

} // namespace tamsin::words
