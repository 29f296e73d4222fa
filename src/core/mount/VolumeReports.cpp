#include "mount/VolumeReports.h"

#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"
#include "volumes/VolumeLayout.h"

#include <algorithm>
#include <set>
#include <utility>

namespace tamsin {

std::vector<DriveRow> driveInformation(const MountedVolume& volume)
{
    return {
        {DriveLabel::StartSector, std::to_string(volume.startSector)},
        {DriveLabel::Directories, std::to_string(volume.folderCount())},
        {DriveLabel::Files, std::to_string(volume.fileCount())},
        {DriveLabel::SectorsPerBlock, std::to_string(volume.sectorsPerBlock)},
        {DriveLabel::FirstFat, std::to_string(volume.firstFatBlock)},
        {DriveLabel::SecondFat, std::to_string(volume.secondFatBlock)},
        {DriveLabel::FirstDet, std::to_string(volume.firstDetBlock)},
        {DriveLabel::SecondDet, std::to_string(volume.secondDetBlock)},
    };
}

LayoutReport layoutReport(const MountedVolume& volume, const SectorReader& reader)
{
    const VolumeReader io(volume, reader);
    const VolumeLayout& layout = io.layout();
    LayoutReport report;
    report.segmentCount = layout.segmentCount();
    report.complete = layout.complete();
    report.missingSegments = layout.missingSegments();
    std::set<const LogicalPartition*> seen;
    for (const VolumeSegment& segment : layout.segments()) {
        report.segments.push_back({segment.index, segment.partition->primary().diskPath, segment.startSector(),
                                   segment.sizeSectors, segment.firstBlock});
        if (!seen.insert(segment.partition.get()).second)
            continue;
        report.dataSectors += segment.partition->dataSectors();
        for (const PartitionMember& m : segment.partition->members()) {
            PartitionReport p;
            p.disk = m.diskPath;
            p.slot = m.slot;
            p.partitionStart = m.partitionStart;
            p.headersUsable = m.headersUsable;
            p.dataSectors = m.dataSectors;
            p.redirectedBlocks = m.hotfix ? m.hotfix->usedEntries() : 0;
            p.freeSpares = m.hotfix ? m.hotfix->freeSpares() : 0;
            p.unreadableHotfixEntries = m.hotfix ? m.hotfix->unreadableEntries() : 0;
            p.partitionId = m.partitionId;
            p.mirrorGroupId = m.mirrorGroupId;
            p.mirrored = segment.partition->mirrored();
            p.inSync = m.inSync;
            report.redirectedBlocks += p.redirectedBlocks;
            report.freeSpares += p.freeSpares;
            report.unreadableHotfixEntries += p.unreadableHotfixEntries;
            report.partitions.push_back(std::move(p));
        }
    }
    return report;
}

std::vector<std::string> volumeNameSpaces(const MountedVolume& volume)
{
    std::vector<std::string> names;
    for (std::uint8_t code : volume.root.nameSpaces)
        if (const std::string name = nameSpaceName(code); !name.empty()
            && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    if (names.empty())
        names.push_back("DOS");
    return names;
}

SubtreeCounts countSubtree(const MountedVolume& volume, std::uint32_t treeItem)
{
    SubtreeCounts counts;
    if (!volume.tree.contains(treeItem))
        return counts;
    std::vector<std::uint32_t> pending{treeItem};
    while (!pending.empty()) {
        const std::uint32_t item = pending.back();
        pending.pop_back();
        ++counts.folders;
        if (const TreeNode* folder = volume.folderForItem(item)) {
            for (std::uint32_t position : volume.index.childFiles(folder->ownId)) {
                ++counts.files;
                counts.bytes += volume.files[position].size;
            }
        }
        const auto& children = volume.tree.item(item).children;
        pending.insert(pending.end(), children.begin(), children.end());
    }
    return counts;
}

} // namespace tamsin
