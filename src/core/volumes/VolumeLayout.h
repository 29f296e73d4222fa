#pragma once
// Where a volume's blocks lie: its segments, each a run of blocks on a
// logical partition. Turns volume sectors (block * sectorsPerBlock + offset)
// into reads of the partitions; blocks of a segment that was not found read
// as unreadable zeros.

#include "volumes/LogicalPartition.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamsin {

class SectorReader;

// Where a volume sector lies: the disk its reads are served from and the
// absolute sector there, before redirection. No disk in a missing segment.
struct DiskPlace {
    const SectorReader* disk = nullptr;
    std::uint64_t sector = 0;
};

inline constexpr std::uint64_t kUnboundedBlocks = std::numeric_limits<std::uint64_t>::max();

struct VolumeSegment {
    std::shared_ptr<const LogicalPartition> partition;
    std::uint32_t index = 0;         // segment index in the volume table
    std::uint64_t logicalStart = 0;  // logical sector of the segment's first block
    std::uint32_t firstBlock = 0;    // first volume block the segment holds
    std::uint64_t blocks = 0;        // blocks it holds; kUnboundedBlocks: all blocks from firstBlock on
    std::uint64_t sizeSectors = 0;   // as the table entry gives it

    // Absolute sector on its disk where the segment's data starts.
    std::uint64_t startSector() const { return partition->homeSector(logicalStart); }
    bool holds(std::uint64_t block) const { return block >= firstBlock && block - firstBlock < blocks; }
};

class VolumeLayout {
public:
    VolumeLayout(std::uint32_t sectorsPerBlock, std::uint32_t segmentCount, std::vector<VolumeSegment> segments);

    // One segment over every block from startSector on: a volume found by a
    // search or read from a table entry of the simple kind.
    static std::shared_ptr<VolumeLayout> plain(std::shared_ptr<const LogicalPartition> partition,
                                               std::uint64_t logicalStart, std::uint32_t sectorsPerBlock,
                                               std::uint64_t sizeSectors = 0);

    // Reads count sectors from volume sector first. Sectors that cannot be
    // read (bad, lost, or in a missing segment) are zeros; returns how many
    // and appends their indexes within the run to unreadable when given.
    std::uint32_t read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                       std::vector<std::uint32_t>* unreadable = nullptr) const;

    // The absolute disk sector (before redirection) of a volume sector; 0
    // when its segment is missing.
    std::uint64_t diskSector(std::uint64_t volumeSector) const { return diskPlace(volumeSector).sector; }
    DiskPlace diskPlace(std::uint64_t volumeSector) const;

    std::uint32_t sectorsPerBlock() const { return sectorsPerBlock_; }
    std::uint32_t segmentCount() const { return segmentCount_; }
    // The segments found, in segment order.
    const std::vector<VolumeSegment>& segments() const { return segments_; }
    bool complete() const { return segments_.size() >= segmentCount_; }
    // Indexes (0-based) of the segments not found.
    std::vector<std::uint32_t> missingSegments() const;

private:
    const VolumeSegment* segmentOf(std::uint64_t block) const;

    std::uint32_t sectorsPerBlock_;
    std::uint32_t segmentCount_;
    std::vector<VolumeSegment> segments_;
};

} // namespace tamsin
