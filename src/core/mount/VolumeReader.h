#pragma once
// Reads a mounted volume by volume sector (block * sectorsPerBlock + offset)
// through its layout, so that the mount and recovery never learn where a
// block lies: which segment, partition, mirror member or spare block.

#include "volumes/VolumeLayout.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;

class VolumeReader {
public:
    // Uses the volume's layout; a volume without one lies from its start
    // sector on reader's disk.
    VolumeReader(const MountedVolume& volume, const SectorReader& reader);

    // Fills buffer with count sectors from volume sector first. Sectors that
    // cannot be read are zeros; returns how many, appending their indexes
    // within the run to unreadable when given.
    std::uint32_t read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                       std::vector<std::uint32_t>* unreadable = nullptr) const;

    // The absolute disk sector a volume sector lies at (0 in a missing segment).
    std::uint64_t diskSector(std::uint64_t volumeSector) const;
    // The disk and sector a volume sector lies at: where its reads, and so
    // hints of reads to come, go.
    DiskPlace diskPlace(std::uint64_t volumeSector) const;

    const VolumeLayout& layout() const { return *layout_; }

private:
    std::shared_ptr<const VolumeLayout> layout_;
};

} // namespace tamsin
