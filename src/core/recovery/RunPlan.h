#pragma once
// What a recovery run copies: the files of a selection, each once, in tree
// order, with the tree item of the folder it goes into. Worked out before
// anything is read or written.

#include "recovery/RecoverySettings.h"

#include <cstdint>
#include <vector>

namespace tamsin {

class MountedVolume;

struct RecoverySelection {
    bool wholeVolume = false;
    std::vector<std::uint32_t> folderItems;  // tree items; each means its whole subtree
    std::vector<std::uint32_t> folderFiles;  // tree items; each means its own files, not its subfolders
    std::vector<std::uint32_t> files;        // positions in the files list
};

struct PlannedFile {
    std::uint32_t position;    // in the volume's files list
    std::uint32_t folderItem;  // the tree item of the folder it goes into
};

struct RunPlan {
    std::vector<PlannedFile> files;  // files the deleted-files rule leaves out included
    // The files the rules take, and their bytes as the entries give them.
    std::uint64_t takenFiles = 0;
    std::uint64_t takenBytes = 0;
};

// The whole volume first when asked, then the folder subtrees, the folders'
// own files and the single files, in the selection's order; a file named by
// several parts is taken at its first. Folders of a subtree come in tree
// order, each folder's files in list order.
RunPlan planRecovery(const MountedVolume& volume, const RecoverySelection& selection, const RunRules& rules);

} // namespace tamsin
