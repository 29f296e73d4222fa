#pragma once
// Whether a disk holds the entries a snapshot names: a snapshot saved from
// another disk or volume would send recovery to sectors holding other data.

#include <cstddef>
#include <vector>

namespace tamsin {

class SectorReader;
struct TreeNode;

enum class SnapshotDiskMatch {
    Matches,       // a sampled entry holds its node's name; none holds another or lies past the disk
    OtherEntries,  // a sampled entry read holds another name, or one lies past the disk while others match
    NoneReadable,  // no sampled entry could be read: each unreadable or past the end of every disk
    Unknown,       // nothing to sample
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
// sample confirms when one of disks (the selected disk first, then those read
// with it) holds it, and contradicts when a disk read it and none holds it,
// or when it lies past the end of every disk; a sector no disk can read
// counts neither way. Only confirmations without a contradiction match.
SnapshotDiskMatch checkSnapshotSamples(const std::vector<const TreeNode*>& samples,
                                       const std::vector<const SectorReader*>& disks);

} // namespace tamsin
