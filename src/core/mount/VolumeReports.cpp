#include "mount/VolumeReports.h"

#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"

namespace tamsin {

std::vector<std::pair<std::string, std::string>> driveInformationRows(const MountedVolume& volume)
{
    return {
        {"Start Sector         :", std::to_string(volume.startSector)},
        {"Directories           :", std::to_string(volume.folderCount())},
        {"Files                     :", std::to_string(volume.fileCount())},
        {"SPC                     :", std::to_string(volume.sectorsPerBlock)},
        {"First FAT              :", std::to_string(volume.firstFatBlock)},
        {"Second FAT        :", std::to_string(volume.secondFatBlock)},
        {"First DET             :", std::to_string(volume.firstDetBlock)},
        {"Second  DET      :", std::to_string(volume.secondDetBlock)},
    };
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

PropertiesReport propertiesFor(const MountedVolume& volume, const ContentsRow& row)
{
    PropertiesReport report;
    report.name = row.name;
    report.creationDate = row.date;
    report.modificationDate = row.time;
    if (!row.isFolder) {
        report.size = std::to_string(std::stoull(row.size) / 1024 + 1) + " KB";
        return report;
    }
    const SubtreeCounts counts = countSubtree(volume, row.key);
    report.contains = std::to_string(counts.files) + " File(s) and "
        + std::to_string(counts.folders > 0 ? counts.folders - 1 : 0) + " Folder(s)";
    const std::uint64_t megabytes = counts.bytes / 1024 / 1024;
    report.size = (megabytes == 0 ? std::string("Less than 1") : std::to_string(megabytes)) + " MB";
    return report;
}

} // namespace tamsin
