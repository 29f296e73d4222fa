#include "Images.h"

#include "imagebuilder/Demo.h"

#include <algorithm>
#include <stdexcept>

namespace tamsin::test {
namespace {

imagebuilder::Node* findNode(std::vector<imagebuilder::Node>& nodes, const std::string& name)
{
    for (imagebuilder::Node& node : nodes) {
        if (node.name == name)
            return &node;
        if (imagebuilder::Node* found = findNode(node.children, name))
            return found;
    }
    return nullptr;
}

} // namespace

std::vector<std::string> holdingFolders(const imagebuilder::VolumeManifest& volume,
                                        const imagebuilder::ManifestEntry& entry)
{
    std::vector<std::string> names;
    for (std::uint32_t parent = entry.parentId; parent != 0;) {
        const auto folder = std::find_if(volume.entries.begin(), volume.entries.end(),
                                         [&](const auto& e) { return e.folder && e.ownId == parent; });
        if (folder == volume.entries.end())
            throw std::runtime_error("no folder " + std::to_string(parent));
        names.insert(names.begin(), folder->name);
        parent = folder->parentId;
    }
    return names;
}

imagebuilder::VolumeContents& sysContents(imagebuilder::DiskSpec& diskSpec)
{
    return *diskSpec.partitions.at(1).netware->segments.at(0).contents;
}

imagebuilder::DiskSpec demoWithNode(const std::string& name, const std::function<void(imagebuilder::Node&)>& change)
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    imagebuilder::Node* node = findNode(sysContents(diskSpec).nodes, name);
    if (!node)
        throw std::runtime_error("no node " + name);
    change(*node);
    return diskSpec;
}

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
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    diskSpec.bootSignature = false;
    diskSpec.raw.push_back({0, 446, std::vector<std::uint8_t>(64, 0)});
    return diskSpec;
}

imagebuilder::DiskSpec demoWithFatMismatch()
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    sysContents(diskSpec).fatCopy2Patches.push_back({demoSys().blockCount - 1, 0, {0x01}});
    return diskSpec;
}

imagebuilder::DiskSpec demoWithDetMismatch(const std::string& name)
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    const imagebuilder::ManifestEntry* entry = demoSys().find(name);
    if (!entry)
        throw std::runtime_error("no entry " + name);
    sysContents(diskSpec).detCopy2Patches.push_back({entry->position, 108, {0x01}});
    return diskSpec;
}

imagebuilder::DiskSpec diskWithoutNetWare()
{
    imagebuilder::DiskSpec diskSpec;
    diskSpec.totalSectors = 8192;
    imagebuilder::PartitionSpec fat;
    fat.slot = 0;
    fat.type = 0x0C;
    fat.startSector = 2048;
    fat.sizeSectors = 4096;
    diskSpec.partitions.push_back(fat);
    return diskSpec;
}

imagebuilder::DiskSetSpec spannedDataSet()
{
    using namespace imagebuilder;
    auto netwarePartition = [] {
        PartitionSpec partition;
        partition.slot = 0;
        partition.startSector = 2048;
        partition.sizeSectors = 8000;
        partition.netware.emplace();
        return partition;
    };
    DiskSetSpec set;
    DiskSpec& first = set.disks.emplace_back();
    first.partitions = {netwarePartition()};
    SegmentSpec sys;
    sys.name = "SYS";
    sys.contents.emplace();
    sys.contents->nodes = {textFileNode("AUTOEXEC.NCF", "load nothing\r\n")};
    first.partitions[0].netware->segments = {sys};
    set.disks.emplace_back().partitions = {netwarePartition()};

    SpannedVolumeSpec data;
    data.name = "DATA";
    data.sectorsPerBlock = 16;
    data.contents.emplace();
    Node report = fileNode("REPORT.DOC", 3000);
    report.nameSpaceRecords.push_back({.name = "Quarterly Report.doc"});
    report.dateTime = packDateTime(1998, 3, 7, 13, 5, 42);
    report.modifiedDateTime = packDateTime(1999, 1, 2, 8, 30, 0);
    Node lost = fileNode("LOST.TXT", 300);
    lost.parentId = 999;
    data.contents->nodes = {fileNode("BIG.BIN", 13 * 8192 - 100), report, folderNode("DOCS"), lost};
    for (std::size_t disk : {0, 1}) {
        SpannedSegmentSpec segment;
        segment.disk = disk;
        segment.slot = 0;
        segment.sizeSectors = disk == 0 ? 256 : 512;
        data.segments.push_back(segment);
    }
    set.volumes = {data};
    return set;
}

} // namespace tamsin::test
