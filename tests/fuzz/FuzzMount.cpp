// The mount of a builder-made volume whose FAT and DET copies the input
// overwrites, from the first FAT block on.

#include "FuzzSupport.h"

#include "disk/SectorReader.h"
#include "mount/Mount.h"
#include "mount/MountedVolume.h"
#include "volumes/VolumeInfo.h"
#include "volumes/VolumeTableReader.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

// Input beyond this is cut: the base volume's tables fit well inside.
constexpr std::size_t kMaxOverlay = 96 * 1024;

struct Base {
    tamsin::SectorReader reader;
    tamsin::fuzz::OverlayDevice* device = nullptr;
    tamsin::VolumeTable table;
    Base()
    {
        const auto& image = tamsin::fuzz::mountBaseImage();
        auto owned = std::make_unique<tamsin::fuzz::OverlayDevice>(image.sectors, image.layout.totalSectors);
        device = owned.get();
        reader.attach(std::move(owned));
        if (tamsin::readVolumeTables(reader, table) != tamsin::VolumeTableStatus::VolumesFound)
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tamsin;
    static Base base;
    base.device->setOverlay(fuzz::mountOverlayOffset(), std::span<const std::uint8_t>(data, std::min(size, kMaxOverlay)));
    MountedVolume volume;
    volume.selectVolume(base.table[0], 0);
    fuzz::FirstCopyObserver observer;
    mountVolume(volume, base.reader, observer);
    return 0;
}
