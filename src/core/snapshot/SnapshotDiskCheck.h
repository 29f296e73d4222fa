#pragma once
// Whether a disk holds the entries a snapshot names: a snapshot saved from
// another disk or volume would send recovery to sectors holding other data.

#include <cstddef>
#include <vector>

namespace tamsin {

class SectorReader;
struct TreeNode;

inline constexpr const char* kSnapshotOtherDiskQuestion =
    "This snapshot was saved from another disk or volume: the names it holds are not found where it says on this "
    "disk, so files recovered through it would hold the wrong data. Load it anyway?";

enum class SnapshotDiskMatch {
    Matches,   // at least one sampled entry holds its node's name
    Mismatch,  // sampled entries could be read and none holds its node's name
    Unknown,   // nothing to sample, or no sampled sector could be read
};

inline constexpr std::size_t kSnapshotSamples = 16;

// The nodes sampled: up to kSnapshotSamples spread evenly over the nodes of
// folders then files with an entry sector and a name (placeholders have no
// entry), in list order. withoutEntry holds, in increasing order, the
// positions (in folders then files) of the nodes that are no candidates, so
// that the lists are not read again; every other node must have a name.
std::vector<const TreeNode*> snapshotSamples(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files,
                                             const std::vector<std::size_t>& withoutEntry);

// Reads the directory sector of each sample and compares the DOS name, or
// the long name of the next entry of the sector, with the node's name. A
// sample matches when one of disks (the selected disk first, then those read
// with it) holds it; sectors no disk can read count neither way.
SnapshotDiskMatch checkSnapshotSamples(const std::vector<const TreeNode*>& samples,
                                       const std::vector<const SectorReader*>& disks);

} // namespace tamsin
