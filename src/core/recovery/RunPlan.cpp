#include "recovery/RunPlan.h"

#include "mount/FolderPaths.h"
#include "mount/MountedVolume.h"

namespace tamsin {
namespace {

class Planner {
public:
    explicit Planner(const MountedVolume& volume) :
        volume_(volume), fileTaken_(volume.files.size(), false), itemTaken_(volume.tree.size(), false)
    {
    }

    // The item and its subtree, folders in tree order, each folder's files in list order.
    void addSubtree(std::uint32_t item)
    {
        std::vector<std::uint32_t> pending{item};
        while (!pending.empty()) {
            const std::uint32_t current = pending.back();
            pending.pop_back();
            if (!volume_.tree.contains(current) || itemTaken_[current])
                continue;
            itemTaken_[current] = true;
            addOwnFiles(current);
            const auto& children = volume_.tree.item(current).children;
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }

    // The files the folder lists, not those of its subfolders.
    void addOwnFiles(std::uint32_t item)
    {
        if (!volume_.tree.contains(item))
            return;
        const TreeNode* folder = volume_.folderForItem(item);
        // The children of id 0 are the root's, whichever folder claims that id.
        if (item == FolderTree::kRootItem || folder->ownId != 0)
            for (std::uint32_t file : volume_.index.childFiles(folder ? folder->ownId : 0))
                addFile(file, item);
    }

    void addFile(std::uint32_t position, std::uint32_t folderItem)
    {
        if (position < fileTaken_.size() && !fileTaken_[position]) {
            fileTaken_[position] = true;
            files.push_back({position, folderItem});
        }
    }

    std::vector<PlannedFile> files;

private:
    const MountedVolume& volume_;
    std::vector<bool> fileTaken_;
    std::vector<bool> itemTaken_;
};

} // namespace

RunPlan planRecovery(const MountedVolume& volume, const RecoverySelection& selection, const RunRules& rules)
{
    Planner planner(volume);
    if (selection.wholeVolume)
        planner.addSubtree(FolderTree::kRootItem);
    for (std::uint32_t item : selection.folderItems)
        planner.addSubtree(item);
    for (std::uint32_t item : selection.folderFiles)
        planner.addOwnFiles(item);
    for (std::uint32_t position : selection.files)
        if (position < volume.files.size())
            planner.addFile(position, parentItemOf(volume, volume.files[position]));  // the folder that lists it

    RunPlan plan;
    plan.files = std::move(planner.files);
    for (const PlannedFile& planned : plan.files) {
        const TreeNode& node = volume.files[planned.position];
        if (rules.takesFile(node.deletedMarker)) {
            ++plan.takenFiles;
            plan.takenBytes += node.size;
        }
    }
    return plan;
}

} // namespace tamsin
