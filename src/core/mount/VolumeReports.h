#pragma once
// The values of the Drive Information and File/Folder Properties reports.

#include <cstdint>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;
struct TableReadDamage;
struct ContentsRow;

// What a row of Drive Information tells.
enum class DriveLabel {
    StartSector,
    Directories,
    Files,
    SectorsPerBlock,
    FirstFat,
    SecondFat,
    FirstDet,
    SecondDet,
    Segments,                 // found of all, and which are missing
    Segment,                  // one per segment found: disk, start, size and first block
    DataArea,                 // sectors of the data areas holding the volume
    RedirectedBlocks,
    FreeSpareBlocks,
    UnreadableHotfixEntries,
    MirrorMember,             // one per member of a mirrored partition: disk, partition, in sync or not
    UnreadableFatSectors,     // per copy
    UnreadableDetSectors,     // per copy
    LostDirectorySectors,     // unreadable in both copies
};

struct DriveRow {
    DriveLabel label;
    std::string value;
    std::uint32_t segment = 0;  // Segment: the segment's number, from 1
};

// The volume's own rows: start sector, counts and the tables' first blocks.
std::vector<DriveRow> driveInformation(const MountedVolume& volume);

// Where the volume lies, beyond its first segment: every segment found, and
// the partitions (mirror members included) that hold them.
struct SegmentReport {
    std::uint32_t index = 0;
    std::string disk;
    std::uint64_t startSector = 0;
    std::uint64_t sizeSectors = 0;
    std::uint32_t firstVolumeBlock = 0;
};
struct PartitionReport {
    std::string disk;
    int slot = -1;                    // MBR slot; -1 for a volume found by a search
    std::uint64_t partitionStart = 0;
    bool headersUsable = false;       // hot-fix tables read and honoured
    std::uint32_t dataSectors = 0;
    std::uint32_t redirectedBlocks = 0;
    std::uint32_t freeSpares = 0;
    std::uint32_t unreadableHotfixEntries = 0;  // in neither table copy: redirects unknown
    std::uint32_t partitionId = 0;
    std::uint32_t mirrorGroupId = 0;
    bool mirrored = false;
    bool inSync = true;
};
struct LayoutReport {
    std::vector<SegmentReport> segments;  // in segment order
    std::uint32_t segmentCount = 1;
    bool complete = true;
    std::vector<std::uint32_t> missingSegments;  // indexes (from 0) of the segments not found
    std::vector<PartitionReport> partitions;
    std::uint32_t redirectedBlocks = 0;   // over every partition holding the volume
    std::uint32_t freeSpares = 0;
    std::uint32_t unreadableHotfixEntries = 0;
    std::uint64_t dataSectors = 0;        // data areas of the logical partitions holding it
};
// reader is the disk a volume without a layout lies on.
LayoutReport layoutReport(const MountedVolume& volume, const SectorReader& reader);

// The volume's name spaces from its root record ("DOS", "LONG", ...);
// ["DOS"] when the root record was not read.
std::vector<std::string> volumeNameSpaces(const MountedVolume& volume);

// Counts of a folder's subtree as the tree shows it (deleted entries,
// placeholders and filtered-out files included).
struct SubtreeCounts {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t folders = 0;  // the folder itself included
};
SubtreeCounts countSubtree(const MountedVolume& volume, std::uint32_t treeItem);

} // namespace tamsin
