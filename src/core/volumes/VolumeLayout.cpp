#include "volumes/VolumeLayout.h"

#include "disk/Sector.h"

#include <algorithm>
#include <cstring>

namespace tamsin {

VolumeLayout::VolumeLayout(std::uint32_t sectorsPerBlock, std::uint32_t segmentCount, std::vector<VolumeSegment> segments) :
    sectorsPerBlock_(sectorsPerBlock), segmentCount_(std::max<std::uint32_t>(segmentCount, 1)), segments_(std::move(segments))
{
    std::sort(segments_.begin(), segments_.end(),
              [](const VolumeSegment& a, const VolumeSegment& b) { return a.index < b.index; });
}

std::shared_ptr<VolumeLayout> VolumeLayout::plain(std::shared_ptr<const LogicalPartition> partition,
                                                  std::uint64_t logicalStart, std::uint32_t sectorsPerBlock,
                                                  std::uint64_t sizeSectors)
{
    VolumeSegment segment;
    segment.partition = std::move(partition);
    segment.logicalStart = logicalStart;
    segment.blocks = kUnboundedBlocks;
    segment.sizeSectors = sizeSectors;
    return std::make_shared<VolumeLayout>(sectorsPerBlock, 1, std::vector<VolumeSegment>{std::move(segment)});
}

const VolumeSegment* VolumeLayout::segmentOf(std::uint64_t block) const
{
    // Volumes have a handful of segments: a linear scan is the fastest lookup.
    for (const VolumeSegment& segment : segments_)
        if (segment.holds(block))
            return &segment;
    return nullptr;
}

std::uint32_t VolumeLayout::read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                                 std::vector<std::uint32_t>* unreadable) const
{
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, buffer.size() / kSectorSize));
    const std::uint64_t spb = sectorsPerBlock_ == 0 ? 1 : sectorsPerBlock_;
    std::uint32_t failed = 0;
    std::vector<std::uint32_t> pieceBad;
    std::uint32_t pos = 0;
    while (pos < count) {
        const std::uint64_t sector = first + pos;
        const std::uint64_t block = sector / spb;
        const VolumeSegment* segment = segmentOf(block);
        // The piece ends where the segment (or the gap without one) ends.
        std::uint64_t pieceEnd = first + count;
        if (segment) {
            if (segment->blocks != kUnboundedBlocks)
                pieceEnd = std::min(pieceEnd, (segment->firstBlock + segment->blocks) * spb);
        } else {
            for (const VolumeSegment& other : segments_)
                if (other.firstBlock > block)
                    pieceEnd = std::min(pieceEnd, std::uint64_t{other.firstBlock} * spb);
        }
        const auto run = static_cast<std::uint32_t>(pieceEnd - sector);
        auto piece = buffer.subspan(std::size_t{pos} * kSectorSize, std::size_t{run} * kSectorSize);
        if (segment) {
            pieceBad.clear();
            const std::uint64_t logical = segment->logicalStart + (sector - std::uint64_t{segment->firstBlock} * spb);
            failed += segment->partition->read(logical, run, piece, &pieceBad);
            if (unreadable)
                for (std::uint32_t i : pieceBad)
                    unreadable->push_back(pos + i);
        } else {
            std::memset(piece.data(), 0, piece.size());
            failed += run;
            if (unreadable)
                for (std::uint32_t i = 0; i < run; ++i)
                    unreadable->push_back(pos + i);
        }
        pos += run;
    }
    return failed;
}

DiskPlace VolumeLayout::diskPlace(std::uint64_t volumeSector) const
{
    const std::uint64_t spb = sectorsPerBlock_ == 0 ? 1 : sectorsPerBlock_;
    const VolumeSegment* segment = segmentOf(volumeSector / spb);
    if (!segment)
        return {};
    const std::uint64_t logical = segment->logicalStart + (volumeSector - std::uint64_t{segment->firstBlock} * spb);
    return {segment->partition->primary().disk, segment->partition->homeSector(logical)};
}

std::vector<std::uint32_t> VolumeLayout::missingSegments() const
{
    std::vector<std::uint32_t> missing;
    for (std::uint32_t i = 0; i < segmentCount_; ++i)
        if (std::none_of(segments_.begin(), segments_.end(), [&](const VolumeSegment& s) { return s.index == i; }))
            missing.push_back(i);
    return missing;
}

} // namespace tamsin
