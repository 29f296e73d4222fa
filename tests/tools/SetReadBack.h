#pragma once
// Reads volume sectors back from the images of a disk set the way a reader
// does: volume sector -> segment -> home sector -> hot-fix redirection of the
// partition the segment is read from -> pread from that disk's image.

#include "ImageFile.h"

#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace tamsin::imagebuilder::testing {

class SetReadBack {
public:
    SetReadBack(const DiskSetLayout& layout, std::vector<const ImageFile*> images)
        : layout_(layout), images_(std::move(images))
    {
    }

    // Disk and sector a volume sector is read from; nothing for a sector no
    // segment holds or a bad sector of a spare.
    std::optional<std::pair<std::size_t, std::uint64_t>> locate(const VolumeManifest& volume,
                                                                std::uint64_t volumeSector) const
    {
        const ManifestSegment* segment = volume.segmentOf(static_cast<std::uint32_t>(volumeSector / volume.sectorsPerBlock));
        if (!segment || !segment->present)
            return std::nullopt;
        const std::uint64_t home =
            segment->startSector + volumeSector - std::uint64_t{segment->firstVolumeBlock} * volume.sectorsPerBlock;
        const PartitionLayout* partition = layout_.partition({segment->disk, segment->partitionSlot});
        if (!partition)
            return std::nullopt;
        const auto physical = partition->physicalSector(home);
        if (!physical)
            return std::nullopt;
        return std::pair{segment->disk, *physical};
    }

    SectorBytes volumeSector(const VolumeManifest& volume, std::uint64_t volumeSector) const
    {
        const auto at = locate(volume, volumeSector);
        return at ? images_.at(at->first)->sector(at->second) : SectorBytes{};
    }

    // A file's chain blocks as read, cut to its length (zeros where the
    // reader finds nothing).
    std::vector<std::uint8_t> chainData(const VolumeManifest& volume, const ManifestEntry& entry) const
    {
        std::vector<std::uint8_t> data;
        for (std::uint32_t block : entry.dataBlocks)
            for (std::uint32_t o = 0; o < volume.sectorsPerBlock; ++o) {
                const SectorBytes sector = volumeSector(volume, std::uint64_t{block} * volume.sectorsPerBlock + o);
                data.insert(data.end(), sector.begin(), sector.end());
            }
        data.resize(std::min<std::size_t>(data.size(), entry.content.length));
        return data;
    }

private:
    const DiskSetLayout& layout_;
    std::vector<const ImageFile*> images_;
};

} // namespace tamsin::imagebuilder::testing
