#pragma once
// The file search: every file of the mounted volume, deleted ones included,
// whose name matches a wildcard pattern, with the folder path holding it.

#include <cstdint>
#include <string>
#include <string_view>

namespace tamsin {

class MountedVolume;
class SearchControl;
struct TreeNode;

struct FoundFile {
    std::string name;  // upper-cased raw bytes
    std::string path;  // "\" and the folder names from below the root down, joined by "\"; raw bytes
    std::string size;  // decimal
    std::uint32_t sizeBytes = 0;
    std::uint32_t filePosition = 0;  // position in the volume's files list

    bool operator==(const FoundFile&) const = default;
};

class FindObserver {
public:
    virtual ~FindObserver() = default;
    // One matching file; countSoFar includes it.
    virtual void fileFound(const FoundFile& row, std::uint32_t countSoFar) = 0;
};

// The path shown for a node: "\" and the names of the folder holding it (the
// first whose ownId is its parentId) and that folder's ancestors, from below
// the root down; "\" alone when no folder holds it.
std::string folderPathOf(const MountedVolume& volume, const TreeNode& node);

// Walks the files list in order and reports each file whose upper-cased name
// matches the upper-cased pattern (an empty pattern matches nothing).
// Needs the index and tree built. Returns the number of rows reported; ends
// early, with no further row, when control is stopped.
std::uint32_t findFiles(const MountedVolume& volume, std::string_view pattern, SearchControl& control,
                        FindObserver& observer);

} // namespace tamsin
