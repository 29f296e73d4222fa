#pragma once
// The one mounted volume: its volume fields, the table chains read from it,
// the chosen copies, and the decoded directory model.

#include "mount/BlockList.h"
#include "mount/DirectoryIndex.h"
#include "mount/FolderTree.h"
#include "mount/TreeNode.h"
#include "volumes/VolumeInfo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamsin {

class VolumeLayout;

inline constexpr std::size_t kSuballocationRootCount = 140;
// The largest block a NetWare volume has: 64 KiB.
inline constexpr std::uint32_t kMaxSectorsPerBlock = 128;

// Whether a block size read from a volume table or a snapshot can be mounted:
// 0 has no blocks, and a damaged entry's huge value would make every block
// read millions of sectors.
inline bool usableSectorsPerBlock(std::uint32_t sectorsPerBlock)
{
    return sectorsPerBlock >= 1 && sectorsPerBlock <= kMaxSectorsPerBlock;
}

// Table sectors the last mount could not read. Per copy as far as the two
// copies were compared (to the end when they matched); lostDirectorySectors
// counts DET sectors of the walk that neither copy delivered, whose entries
// are lost.
struct TableReadDamage {
    std::array<std::uint32_t, 2> fatUnreadable{};
    std::array<std::uint32_t, 2> detUnreadable{};
    std::uint32_t lostDirectorySectors = 0;
    bool any() const
    {
        return fatUnreadable[0] || fatUnreadable[1] || detUnreadable[0] || detUnreadable[1] || lostDirectorySectors;
    }
};

class MountedVolume {
public:
    // Volume fields, copied from the picked VolumeInfo.
    std::uint16_t volumeIndex = 0;
    std::string volumeName;
    std::uint32_t firstFatBlock = 0;
    std::uint32_t secondFatBlock = 0;
    std::uint32_t firstDetBlock = 0;
    std::uint32_t secondDetBlock = 0;
    std::uint64_t sizeSectors = 0;
    std::uint64_t startSector = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t sectorsPerBlock = 0;
    // Where the volume's blocks lie; null: from startSector on the disk the
    // mount is given.
    std::shared_ptr<const VolumeLayout> layout;

    // Table chains of copy 1 and 2 (index 0 and 1) while they are decided.
    std::array<BlockList, 2> fatLists;
    std::array<BlockList, 2> detLists;
    std::uint16_t chosenFatCopy = 0;
    BlockList chosenFatList;
    BlockList otherFatList;  // the copy not chosen: supplies FAT sectors the chosen one cannot read
    std::uint16_t chosenDetCopy = 0;
    BlockList chosenDetList;
    BlockList otherDetList;
    std::uint32_t detBlockCount = 0;
    TableReadDamage tableDamage;

    std::array<std::uint32_t, kSuballocationRootCount> suballocationRoots{};

    // The volume's root record (directory number 0), when the walk met it.
    RootRecord root;
    // DOS names of the nodes shown by another name space's name, by
    // dosNameKey(); most nodes have none, so they are kept out of TreeNode.
    DosNameTable dosNames;
    static std::uint64_t dosNameKey(bool folder, std::uint32_t position)
    {
        return (std::uint64_t{folder} << 32) | position;
    }
    // The node's name in the DOS name space: its shown name unless another
    // name space's was taken. node must be an element of folders or files.
    std::string_view dosName(const TreeNode& node) const;

    // The bytes of the nodes' longer names; lives as long as the lists.
    NameStore names;
    // Decoded entries in discovery order; never reordered.
    std::vector<TreeNode> folders;
    std::vector<TreeNode> files;
    DirectoryIndex index;  // rebuilt by rebuildIndex() after the lists change
    FolderTree tree;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> busy{false};

    std::uint32_t folderCount() const { return static_cast<std::uint32_t>(folders.size()); }
    std::uint32_t fileCount() const { return static_cast<std::uint32_t>(files.size()); }

    BlockList& fatList(int copy) { return fatLists[copy - 1]; }
    BlockList& detList(int copy) { return detLists[copy - 1]; }
    const BlockList& fatList(int copy) const { return fatLists[copy - 1]; }
    const BlockList& detList(int copy) const { return detLists[copy - 1]; }

    // The volume fields as a volume-table record.
    VolumeInfo volumeInfo() const;

    // Copies a volume's fields in (and releases whatever the last mount built).
    void selectVolume(const VolumeInfo& volume, std::uint16_t position);

    // Takes the layout of the record in table that describes this volume
    // (same name, start, block size and table blocks), e.g. after a snapshot
    // was loaded. False, and the layout stays, when no record matches.
    bool adoptLayout(const VolumeTable& table);

    // Frees the node lists, block lists, index and tree.
    void releaseMount();

    // Append a node to its list as it is (the caller sets its ordinal).
    TreeNode& addFolderNode(TreeNode node);
    TreeNode& addFileNode(TreeNode node);

    // Indexes the lists and builds the folder tree over them.
    void rebuildIndexAndTree(const std::function<void(int)>& progress = {});
    // The same from the lists' parent ids gathered already, in list order
    // (see DirectoryIndex::rebuild).
    void rebuildIndexAndTree(const ParentRuns& folderParents, const ParentRuns& fileParents);

    // The folder whose tree item is number, or null.
    const TreeNode* folderForItem(std::uint32_t item) const;
    // The volume sector where a block starts: block * sectorsPerBlock. Volume
    // sectors are read through a VolumeReader.
    std::uint64_t blockStart(std::uint32_t block) const { return std::uint64_t{block} * sectorsPerBlock; }
};

} // namespace tamsin
