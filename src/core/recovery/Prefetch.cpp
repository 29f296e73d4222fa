#include "recovery/Prefetch.h"

#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"
#include "recovery/Extraction.h"
#include "recovery/FileChain.h"

#include <algorithm>

namespace tamsin {

void PrefetchRuns::add(DiskPlace place, std::uint64_t sectors)
{
    if (!place.disk || place.sector == 0 || sectors == 0)
        return;  // a missing segment, or nothing
    if (end_ > 0 && place.disk == disk_ && place.sector == end_ && end_ + sectors - start_ <= UINT32_MAX) {
        end_ += sectors;
        return;
    }
    flush();
    disk_ = place.disk;
    start_ = place.sector;
    end_ = place.sector + sectors;
}

void PrefetchRuns::flush()
{
    if (end_ > 0 && disk_)
        disk_->prefetch(start_, static_cast<std::uint32_t>(end_ - start_));
    disk_ = nullptr;
    start_ = end_ = 0;
}

std::size_t prefetchBlocks(const MountedVolume& volume, const VolumeReader& io, const std::vector<std::uint32_t>& values,
                           std::size_t from, std::size_t to)
{
    PrefetchRuns runs;
    std::size_t i = from;
    for (; i < std::min(to, values.size()); ++i) {
        const std::uint32_t value = values[i];
        if ((value & kTopBit) != 0 || (value == 0 && i > 0))
            break;
        runs.add(io.diskPlace(volume.blockStart(value)), volume.sectorsPerBlock);
    }
    return i;
}

FirstBlockPrefetch::FirstBlockPrefetch(const MountedVolume& volume, const SectorReader& reader, RunRules rules,
                                       const RecoveryRunState& run, const std::vector<PlannedFile>& files,
                                       SuballocationChains& chains) :
    volume_(volume), io_(volume, reader), rules_(rules), run_(run), files_(files), chains_(chains)
{
}

void FirstBlockPrefetch::before(std::size_t i)
{
    if (next_ > i + kAheadFiles / 2 || next_ >= files_.size() || run_.recoveryAborted || volume_.sectorsPerBlock == 0)
        return;
    const std::size_t to = std::min(files_.size(), i + kAheadFiles);
    const std::uint64_t blockBytes = std::uint64_t{volume_.sectorsPerBlock} * kSectorSize;
    for (std::size_t k = std::max(next_, i); k < to; ++k) {
        const TreeNode& node = volume_.files[files_[k].position];
        if (node.size == 0 || (node.size > blockBytes && isFragmentReference(node.firstBlock))
            || !firstBlockHoldsData(volume_, node.firstBlock) || !rules_.takesFile(node.deletedMarker))
            continue;
        const std::uint64_t sectors = (std::min<std::uint64_t>(node.size, blockBytes) + kSectorSize - 1) / kSectorSize;
        if (isFragmentReference(node.firstBlock))
            addFragment(decodeFragmentReference(node.firstBlock), sectors);
        else
            add(volume_.blockStart(node.firstBlock), sectors);
    }
    runs_.flush();
    next_ = to;
}

void FirstBlockPrefetch::addFragment(const FragmentReference& fragment, std::uint64_t sectors)
{
    const std::uint32_t spb = volume_.sectorsPerBlock;
    const std::uint64_t p = fragment.startSector() / spb;
    const std::uint64_t offset = fragment.startSector() % spb;
    const FileChain* chain = chains_.chain(fragment.sizeClass, p + 2);
    if (!chain)
        return;
    sectors = std::min<std::uint64_t>(sectors, fragment.sizeClass);
    for (std::uint64_t position = p; position <= p + 1 && sectors > 0 && chainHasBlockAt(*chain, position); ++position) {
        const std::uint64_t from = position == p ? offset : 0;
        const std::uint64_t count = std::min<std::uint64_t>(sectors, spb - from);
        add(volume_.blockStart(chain->values[position]) + from, count);
        sectors -= count;
    }
}

void FirstBlockPrefetch::add(std::uint64_t volumeSector, std::uint64_t sectors)
{
    runs_.add(io_.diskPlace(volumeSector), sectors);
}

} // namespace tamsin
