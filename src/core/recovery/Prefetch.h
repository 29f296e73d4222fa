#pragma once
// Read-ahead hints of a recovery run. Each hint goes to the disk the volume
// sector lies on (VolumeLayout's diskPlace), as its read will; a hint never
// changes what is read.

#include "mount/VolumeReader.h"
#include "recovery/RecoverySettings.h"
#include "recovery/RunPlan.h"
#include "volumes/VolumeLayout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;
class SuballocationChains;
struct FragmentReference;
struct RecoveryRunState;

// Gathers prefetch hints: runs of sectors that follow each other on one disk
// go to that disk as one request, when a run breaks or on flush(). Each hint
// goes to the disk the volume sector lies on, as its read will.
class PrefetchRuns {
public:
    PrefetchRuns() = default;
    ~PrefetchRuns() { flush(); }
    PrefetchRuns(const PrefetchRuns&) = delete;
    PrefetchRuns& operator=(const PrefetchRuns&) = delete;

    void add(DiskPlace place, std::uint64_t sectors);
    void flush();

private:
    const SectorReader* disk_ = nullptr;
    std::uint64_t start_ = 0;
    std::uint64_t end_ = 0;  // 0: no run gathered
};

// Tells the disk that the blocks named by values[from, to) will be read soon,
// consecutive ones as one request, up to the first value that names no
// block. Returns the index after the last value it went through.
std::size_t prefetchBlocks(const MountedVolume& volume, const VolumeReader& io, const std::vector<std::uint32_t>& values,
                           std::size_t from, std::size_t to);

// Asks the disk for the first data of the files ahead of the copy, a batch
// at a time: of each file's first block, the sectors its size takes (the
// whole block for larger files, whose later blocks the copy asks for itself);
// of a suballocated file, its fragment. Read one after another, each small
// file waited for the disk in turn; asked for together, the reads are queued
// at once and the system serves them in disk order. Nothing beyond what the
// copy is about to read is asked for, so a failing disk is not read more:
// not the rest of a block, not files the deleted-files rule leaves out,
// nothing after a stop.
class FirstBlockPrefetch {
public:
    // Files asked for ahead of the copy; a new batch goes out when half are copied.
    static constexpr std::size_t kAheadFiles = 256;

    FirstBlockPrefetch(const MountedVolume& volume, const SectorReader& reader, RunRules rules,
                       const RecoveryRunState& run, const std::vector<PlannedFile>& files, SuballocationChains& chains);

    // Before file i is copied.
    void before(std::size_t i);

private:
    // The fragment's sectors, from its place in its block on and into the
    // next block of its chain, no more than its size class holds.
    void addFragment(const FragmentReference& fragment, std::uint64_t sectors);
    void add(std::uint64_t volumeSector, std::uint64_t sectors);

    const MountedVolume& volume_;
    VolumeReader io_;
    const RunRules rules_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    SuballocationChains& chains_;
    PrefetchRuns runs_;
    std::size_t next_ = 0;  // files before it were asked for
};

} // namespace tamsin
