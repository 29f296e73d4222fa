#include "search/FindFiles.h"

#include "mount/FolderPaths.h"
#include "mount/MountedVolume.h"
#include "search/SearchControl.h"
#include "search/Wildcard.h"

namespace tamsin {

std::string folderPathOf(const MountedVolume& volume, const TreeNode& node)
{
    std::string path = "\\";
    // Any answer outside the folders list counts as no holder, whatever the index returns.
    const std::int64_t holder = node.parentId == 0 ? -1 : volume.index.folderWithOwnId(node.parentId);
    if (holder < 0 || holder >= static_cast<std::int64_t>(volume.folders.size()))
        return path;
    for (const TreeNode* folder : folderChain(volume, volume.folders[static_cast<std::size_t>(holder)].treeItem)) {
        if (path.back() != '\\')
            path += '\\';
        path += folder->name;
    }
    return path;
}

std::uint32_t findFiles(const MountedVolume& volume, std::string_view pattern, SearchControl& control,
                        FindObserver& observer)
{
    const std::string upperPattern = upperCased(pattern);
    std::uint32_t count = 0;
    if (upperPattern.empty())
        return count;
    for (std::uint32_t position = 0; position < volume.fileCount(); ++position) {
        if (!control.checkpoint())
            break;
        const TreeNode& file = volume.files[position];
        std::string upper = upperCased(file.name);
        if (matchWildcard(upper, upperPattern) != 1)
            continue;
        FoundFile row;
        row.name = std::move(upper);
        row.path = folderPathOf(volume, file);
        row.size = std::to_string(file.size);
        row.sizeBytes = file.size;
        row.filePosition = position;
        // A pause or stop that came while this node was examined holds the report back.
        if (!control.checkpoint())
            break;
        observer.fileFound(row, ++count);
    }
    return count;
}

} // namespace tamsin
