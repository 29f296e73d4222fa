#pragma once
// Plans and writes the contents of one volume segment: block allocation, the
// FAT and DET copies, suballocation chains and file data.

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/Manifest.h"
#include "imagebuilder/Result.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace tamsin::imagebuilder::detail {

class SectorSink;

class VolumeWriter {
public:
    // Plans segment.contents, which must be present. The segment (and its
    // nodes) must outlive the writer. Errors start with `where`.
    static Result<std::unique_ptr<VolumeWriter>> plan(const SegmentSpec& segment, const std::string& where);

    ~VolumeWriter();
    VolumeWriter(const VolumeWriter&) = delete;
    VolumeWriter& operator=(const VolumeWriter&) = delete;

    // The segment as planned: a size of 0 is resolved to the size that fits.
    std::uint32_t sizeSectors() const;
    std::uint32_t blockCount() const;
    std::uint32_t sectorsPerBlock() const;
    // FAT copy 1, FAT copy 2, DET copy 1, DET copy 2 as written into the
    // volume table entry.
    std::array<std::uint32_t, 4> tableBlocks() const;

    // Writes the contents of the segment starting at startSector (file data
    // only when the sink wants it) and describes what was written.
    std::shared_ptr<const VolumeManifest> write(std::uint64_t startSector, SectorSink& sink) const;

private:
    struct Plan;
    explicit VolumeWriter(std::unique_ptr<Plan> plan);
    std::unique_ptr<Plan> plan_;
};

} // namespace tamsin::imagebuilder::detail
