#include "imagebuilder/PartitionSink.h"

#include <algorithm>

namespace tamsin::imagebuilder::detail {

std::optional<std::uint64_t> RedirectingSink::diskSector(std::uint64_t logicalSector) const
{
    const auto found = redirects_.find(static_cast<std::uint32_t>(logicalSector / kBlockSectors));
    if (logicalSector / kBlockSectors > 0xFFFFFFFFu || found == redirects_.end())
        return partitionStart_ + hotfixLength_ + logicalSector;
    const std::uint32_t k = logicalSector % kBlockSectors;
    if ((found->second.badBits >> k) & 1u)
        return std::nullopt;
    return partitionStart_ + std::uint64_t{found->second.spare} * kBlockSectors + k;
}

void RedirectingSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    std::uint64_t count = bytes.size() / kSectorBytes;
    std::size_t done = 0;
    while (count > 0) {
        const std::uint64_t block = sector / kBlockSectors;
        const auto redirected = redirects_.lower_bound(static_cast<std::uint32_t>(std::min<std::uint64_t>(block, 0xFFFFFFFFu)));
        std::uint64_t run = 0;
        if (redirected != redirects_.end() && redirected->first == block) {
            // One sector at a time within a redirected block.
            run = 1;
            if (const auto target = diskSector(sector))
                disk_.writeSectors(*target, bytes.subspan(done, kSectorBytes));
        } else {
            // Up to the next redirected block, in one write.
            const std::uint64_t end = redirected == redirects_.end()
                ? sector + count
                : std::min(sector + count, std::uint64_t{redirected->first} * kBlockSectors);
            run = end - sector;
            disk_.writeSectors(partitionStart_ + hotfixLength_ + sector,
                               bytes.subspan(done, static_cast<std::size_t>(run) * kSectorBytes));
        }
        sector += run;
        count -= run;
        done += static_cast<std::size_t>(run) * kSectorBytes;
    }
}

void RedirectingSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    if (redirects_.empty()) {
        disk_.writeBytes((partitionStart_ + hotfixLength_) * kSectorBytes + byteOffset, bytes);
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t within = byteOffset % kSectorBytes;
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, kSectorBytes - within);
        if (const auto target = diskSector(byteOffset / kSectorBytes))
            disk_.writeBytes(*target * kSectorBytes + within, bytes.subspan(done, chunk));
        done += chunk;
        byteOffset += chunk;
    }
}

void MirrorSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    for (SectorSink* member : members_)
        member->writeSectors(sector, bytes);
}

void MirrorSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    for (SectorSink* member : members_)
        member->writeBytes(byteOffset, bytes);
}

bool MirrorSink::wantsData() const
{
    return std::any_of(members_.begin(), members_.end(), [](const SectorSink* member) { return member->wantsData(); });
}

void OffsetSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    inner_.writeSectors(sector - base_, bytes);
}

void OffsetSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    inner_.writeBytes(byteOffset - base_ * kSectorBytes, bytes);
}

const SegmentTarget* SegmentSink::find(std::uint64_t sector) const
{
    auto after = std::upper_bound(segments_.begin(), segments_.end(), sector,
                                  [](std::uint64_t s, const SegmentTarget& target) { return s < target.firstSector; });
    if (after == segments_.begin())
        return nullptr;
    const SegmentTarget& segment = *std::prev(after);
    return sector < segment.firstSector + segment.sectors ? &segment : nullptr;
}

void SegmentSink::writeSectors(std::uint64_t sector, std::span<const std::uint8_t> bytes)
{
    std::uint64_t count = bytes.size() / kSectorBytes;
    std::size_t done = 0;
    while (count > 0) {
        const SegmentTarget* segment = find(sector);
        std::uint64_t run = 1;
        if (segment) {
            run = std::min(count, segment->firstSector + segment->sectors - sector);
            segment->sink->writeSectors(segment->root + (sector - segment->firstSector),
                                        bytes.subspan(done, static_cast<std::size_t>(run) * kSectorBytes));
        }
        sector += run;
        count -= run;
        done += static_cast<std::size_t>(run) * kSectorBytes;
    }
}

void SegmentSink::writeBytes(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint64_t sector = byteOffset / kSectorBytes;
        const std::size_t within = byteOffset % kSectorBytes;
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, kSectorBytes - within);
        if (const SegmentTarget* segment = find(sector))
            segment->sink->writeBytes((segment->root + (sector - segment->firstSector)) * kSectorBytes + within,
                                      bytes.subspan(done, chunk));
        done += chunk;
        byteOffset += chunk;
    }
}

bool SegmentSink::wantsData() const
{
    return std::any_of(segments_.begin(), segments_.end(),
                       [](const SegmentTarget& segment) { return segment.sink->wantsData(); });
}

} // namespace tamsin::imagebuilder::detail
