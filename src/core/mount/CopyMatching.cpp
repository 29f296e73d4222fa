#include "mount/CopyMatching.h"

#include "disk/SectorReader.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"

#include <algorithm>
#include <array>

namespace tamsin {

bool compareCopies(const MountedVolume& volume, const SectorReader& reader, const BlockList& first,
                   const BlockList& second, MountObserver& observer, std::array<std::uint32_t, 2>* unreadable)
{
    const std::uint32_t spb = volume.sectorsPerBlock;
    const std::uint64_t total = std::max<std::uint64_t>(std::uint64_t{first.length()} * spb, 1);
    std::uint64_t done = 0;
    int lastPercent = -1;
    std::array<std::uint8_t, kSectorSize> a{};
    std::array<std::uint8_t, kSectorSize> b{};
    const VolumeReader io(volume, reader);

    const std::uint32_t positions = std::min(first.length(), second.length());
    for (std::uint32_t k = 0; k < positions; ++k) {
        for (std::uint32_t i = 0; i < spb; ++i) {
            if (volume.stopRequested.load())
                return false;
            const bool endA = first.isEndMarker(k);
            const bool endB = second.isEndMarker(k);
            if (endA && endB)
                break;  // both chains end here: equal, nothing to read
            if (endA != endB)
                return false;
            const bool readA = io.read(volume.blockStart(first.nodes[k].block) + i, 1, a) == 0;
            const bool readB = io.read(volume.blockStart(second.nodes[k].block) + i, 1, b) == 0;
            ++done;
            if (unreadable) {
                (*unreadable)[0] += readA ? 0 : 1;
                (*unreadable)[1] += readB ? 0 : 1;
            }
            const int percent = static_cast<int>(done * 100 / total);
            if (percent != lastPercent)
                observer.mountProgress(lastPercent = percent);
            // A sector one copy cannot read is taken from the other one: the
            // copies differ only where both were read.
            if (readA && readB && a != b)
                return false;
        }
    }
    return first.length() == second.length();
}

} // namespace tamsin
