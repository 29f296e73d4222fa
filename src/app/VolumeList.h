#pragma once
// What the volume step lists: one entry per volume, a volume of several
// segments once with its segments beneath it, and the status-panel rows of
// a picked volume or segment. Plain logic over the volume table.

#include "StatusPanelState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsin {
class VolumeTable;
struct VolumeInfo;
} // namespace tamsin

namespace tamsin::app {

// A segment below a volume's item: the record holding it, or none when the
// segment was not found.
struct SegmentEntry {
    std::uint32_t index = 0;  // 0-based segment index
    bool found = false;
    std::uint32_t position = 0;  // the record's position in the volume table, when found
};

struct VolumeEntry {
    std::uint32_t position = 0;  // the record picked for the volume: its lowest segment found
    bool spanned = false;        // more than one segment: listed with its segments
    std::vector<SegmentEntry> segments;  // every segment in order, spanned volumes only
};

// The volume table's records as listed, in table order of each volume's
// first record. Records sharing a layout of several segments form one entry.
std::vector<VolumeEntry> volumeEntries(const VolumeTable& table);

// The positions of the records of the volume record position belongs to,
// in segment order; just position for a volume of one segment.
std::vector<std::uint32_t> volumeRecords(const VolumeTable& table, std::uint32_t position);

// The suffix after a volume's name in its item: " (incomplete)" when
// segments are missing, else empty.
std::string volumeItemSuffix(const VolumeInfo& record);

// "Segment 1 of 2: /images/a.img, sector 3232" or "Segment 2 of 3: missing".
std::string segmentItemText(const VolumeTable& table, const VolumeInfo& anyRecord, const SegmentEntry& segment);

// The status-panel rows of a whole volume of several segments: type, start
// of its first segment, end of its last, size of the whole volume, then
// "Segments" with how many were found and on which disks.
LabelledRows spannedVolumeRows(const VolumeTable& table, std::uint32_t position);

// The rows of one segment record: its own start, end and size, then which
// segment it is and where it lies. A record of a one-segment volume gets
// the four volume rows alone.
LabelledRows segmentRows(const VolumeInfo& record);

} // namespace tamsin::app
