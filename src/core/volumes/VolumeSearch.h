#pragma once
// Finds NetWare volumes whose partition table or volume-table location is
// lost, by scanning a range of sectors for volume tables and accepting each
// entry whose first directory block lies where the entry says.

#include "volumes/VolumeInfo.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace tamsin {

class SectorReader;

struct SearchRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

enum class RangeProblem {
    None,
    BadStart,          // the start is not an unsigned decimal number of 32 bits
    BadEnd,            // the end is not
    EndNotAfterStart,  // the end is not past the start
};

struct RangeCheck {
    bool ok = false;
    RangeProblem problem = RangeProblem::None;  // why the range was refused
    SearchRange range;
};

// Reads the two fields as unsigned decimal numbers, start first.
RangeCheck checkSearchRange(const std::string& startText, const std::string& endText);

class VolumeSearchObserver {
public:
    virtual ~VolumeSearchObserver() = default;
    // Once per run, before it is read: the cursor ("Current Sector"), the
    // sectors scanned so far and the range's size, and the percentage.
    virtual void searchProgress(std::uint64_t /*cursor*/, std::uint64_t /*scanned*/, std::uint64_t /*total*/,
                                int /*percent*/) {}
    // A volume was appended to the table; count is the table's size now.
    virtual void volumeFound(const VolumeInfo& /*volume*/, std::uint32_t /*count*/) {}
};

struct SearchOutcome {
    bool stopped = false;    // a stop request ended the scan before the end of the range
    bool tableFull = false;  // more volumes were found than the table holds; the rest were dropped
};

// First sector whose bytes 0..2 are FD FF FF among base - 32*i + firstDetBlock *
// sectorsPerBlock (the product in 32 bits), i = 0..3; returns base - 32*i for
// it, or 0.
std::uint64_t probeDataArea(const SectorReader& reader, std::uint64_t base, std::uint32_t firstDetBlock,
                            std::uint32_t sectorsPerBlock);

// Empties table and scans range in runs of runLength sectors (1..100),
// appending each accepted volume. stopRequested is cleared at the start and
// polled before each run, every 128 sectors of a read and before every sector
// of a read retried sector by sector.
SearchOutcome searchVolumes(const SectorReader& reader, VolumeTable& table, SearchRange range, std::uint32_t runLength,
                            std::atomic<bool>& stopRequested, VolumeSearchObserver& observer);

} // namespace tamsin
