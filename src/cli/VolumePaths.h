#pragma once
// Paths of a mounted volume as the command line shows and takes them:
// folder names from the root joined with "/", in UTF-8.

#include "common/CodePage.h"
#include "mount/MountedVolume.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::cli {

std::vector<std::string> splitPath(const std::string& path);

// UTF-8 paths of tree items and entries, each folder's computed once.
class PathNamer {
public:
    PathNamer(const MountedVolume& volume, const CodePageConverter& names);

    // "/" for the root, else "/A/B".
    const std::string& itemPath(std::uint32_t item);
    // The path of a folder or file node, its own name last.
    std::string entryPath(const TreeNode& node);
    // The same for a node whose name the caller has converted already: a
    // folder's path held here, or one made in scratch, valid until the next
    // call. Listings of many entries make their paths without allocating.
    const std::string& entryPath(const TreeNode& node, std::string_view utf8Name, std::string& scratch);

private:
    const MountedVolume& volume_;
    const CodePageConverter& names_;
    std::vector<std::string> paths_;
    std::vector<bool> known_;
    const std::string root_ = "/";
    const std::string empty_;
};

// What a path names: a folder (its tree item) or a file (its position).
struct EntryRef {
    bool isFolder = false;
    std::uint32_t item = 0;
    std::uint32_t file = 0;
};

// Resolves a path: folders through the tree, then a file of the last folder
// by its name (the first in list order when several share it).
std::optional<EntryRef> resolveEntry(const MountedVolume& volume, const CodePageConverter& names,
                                     const std::string& path);

} // namespace tamsin::cli
