#include "mount/MountedVolume.h"


namespace tamsin {

void MountedVolume::selectVolume(const VolumeInfo& volume, std::uint16_t position)
{
    releaseMount();
    volumeIndex = position;
    volumeName = volume.name;
    firstFatBlock = volume.firstFatBlock;
    secondFatBlock = volume.secondFatBlock;
    firstDetBlock = volume.firstDetBlock;
    secondDetBlock = volume.secondDetBlock;
    sizeSectors = volume.sizeSectors;
    startSector = volume.startSector;
    blockCount = volume.blockCount;
    sectorsPerBlock = volume.sectorsPerBlock;
    layout = volume.layout;
}

VolumeInfo MountedVolume::volumeInfo() const
{
    VolumeInfo volume;
    volume.name = volumeName;
    volume.firstFatBlock = firstFatBlock;
    volume.secondFatBlock = secondFatBlock;
    volume.firstDetBlock = firstDetBlock;
    volume.secondDetBlock = secondDetBlock;
    volume.sizeSectors = sizeSectors;
    volume.startSector = startSector;
    volume.blockCount = blockCount;
    volume.sectorsPerBlock = sectorsPerBlock;
    volume.layout = layout;
    return volume;
}

std::string_view MountedVolume::dosName(const TreeNode& node) const
{
    const bool folder = !folders.empty() && &node >= folders.data() && &node < folders.data() + folders.size();
    const bool file = !files.empty() && &node >= files.data() && &node < files.data() + files.size();
    if (folder || file) {
        const auto position = static_cast<std::uint32_t>(&node - (folder ? folders.data() : files.data()));
        if (const std::string* name = dosNames.find(dosNameKey(folder, position)))
            return *name;
    }
    return node.name;
}

bool MountedVolume::adoptLayout(const VolumeTable& table)
{
    for (const VolumeInfo& row : table.records()) {
        if (row.layout && row.name == volumeName && row.startSector == startSector
            && row.sectorsPerBlock == sectorsPerBlock && row.firstFatBlock == firstFatBlock
            && row.secondFatBlock == secondFatBlock && row.firstDetBlock == firstDetBlock
            && row.secondDetBlock == secondDetBlock) {
            layout = row.layout;
            return true;
        }
    }
    return false;
}

void MountedVolume::releaseMount()
{
    for (auto& list : fatLists)
        list.clear();
    for (auto& list : detLists)
        list.clear();
    chosenFatList.clear();
    otherFatList.clear();
    chosenDetList.clear();
    otherDetList.clear();
    chosenFatCopy = 0;
    chosenDetCopy = 0;
    detBlockCount = 0;
    tableDamage = {};
    suballocationRoots.fill(0);
    root = {};
    dosNames.clear();
    // Assigned fresh lists: `= {}` would pick the initializer-list
    // assignment, which empties a vector but keeps its memory.
    folders = std::vector<TreeNode>();
    files = std::vector<TreeNode>();
    names.clear();
    index.clear();
    tree = FolderTree();
}

TreeNode& MountedVolume::addFolderNode(TreeNode node)
{
    return folders.emplace_back(std::move(node));
}

TreeNode& MountedVolume::addFileNode(TreeNode node)
{
    return files.emplace_back(std::move(node));
}

void MountedVolume::rebuildIndexAndTree(const std::function<void(int)>& progress)
{
    index.rebuild(folders, files);
    tree.build(folders, index, progress);
}

void MountedVolume::rebuildIndexAndTree(const ParentRuns& folderParents, const ParentRuns& fileParents)
{
    index.rebuild(folders, folderParents, fileParents);
    tree.build(folders, index);
}

const TreeNode* MountedVolume::folderForItem(std::uint32_t item) const
{
    if (item == FolderTree::kRootItem || !tree.contains(item))
        return nullptr;
    return &folders[tree.item(item).folder];
}

} // namespace tamsin
