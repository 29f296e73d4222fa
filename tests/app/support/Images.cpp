#include "Images.h"

#include "imagebuilder/Demo.h"

#include <stdexcept>

namespace tamsin::test {
namespace {

imagebuilder::VolumeContents& sysContents(imagebuilder::DiskSpec& spec)
{
    return *spec.partitions.at(1).netware->segments.at(0).contents;
}

} // namespace

const imagebuilder::VolumeManifest& demoSys()
{
    static const imagebuilder::BuiltLayout layout = [] {
        auto planned = imagebuilder::planImage(imagebuilder::demoDiskSpec());
        if (!planned.ok())
            throw std::runtime_error(planned.error());
        return *planned;
    }();
    return *layout.volume("SYS");
}

imagebuilder::DiskSpec demoWithoutPartitionTable()
{
    imagebuilder::DiskSpec spec = imagebuilder::demoDiskSpec();
    spec.bootSignature = false;
    spec.raw.push_back({0, 446, std::vector<std::uint8_t>(64, 0)});
    return spec;
}

imagebuilder::DiskSpec demoWithFatMismatch()
{
    imagebuilder::DiskSpec spec = imagebuilder::demoDiskSpec();
    sysContents(spec).fatCopy2Patches.push_back({demoSys().blockCount - 1, 0, {0x01}});
    return spec;
}

imagebuilder::DiskSpec demoWithDetMismatch(const std::string& name)
{
    imagebuilder::DiskSpec spec = imagebuilder::demoDiskSpec();
    const imagebuilder::ManifestEntry* entry = demoSys().find(name);
    if (!entry)
        throw std::runtime_error("no entry " + name);
    sysContents(spec).detCopy2Patches.push_back({entry->position, 108, {0x01}});
    return spec;
}

imagebuilder::DiskSpec diskWithoutNetWare()
{
    imagebuilder::DiskSpec spec;
    spec.totalSectors = 8192;
    imagebuilder::PartitionSpec fat;
    fat.slot = 0;
    fat.type = 0x0C;
    fat.startSector = 2048;
    fat.sizeSectors = 4096;
    spec.partitions.push_back(fat);
    return spec;
}

} // namespace tamsin::test
