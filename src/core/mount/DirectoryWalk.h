#pragma once
// Decoding the chosen DET copy into folder and file nodes, and the lost-data
// pass that gives orphaned entries a placeholder parent.

#include "mount/NameSpaces.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

class MountedVolume;
class MountObserver;
class SectorReader;

inline constexpr std::uint32_t kDirEntrySize = 128;
inline constexpr std::uint32_t kSuballocationParent = 0xFFFFFFFB;
inline constexpr std::uint32_t kMaxDosNameLength = 15;
inline constexpr std::uint32_t kMaxLongNameLength = 80;

// What a walk gathers besides the nodes, settled by finish() once the whole
// table has been read: name-space records and chains, folders known by
// another number than their @120, and long names in the slot after their DOS
// entry whose owner field (@120) may name another DOS record.
class DirectoryWalkState {
public:
    NameSpaceRecords nameSpaces;
    // Folders whose @120 is not their directory number, as {number, @120}.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> renumberedFolders;

    // A DOS record (name space 0, an ordinary parent id, a name length of 1
    // to 15) at dirNo.
    void addDosRecord(std::uint32_t dirNo) { dosRecords_.push_back(dirNo); }
    // A node shown by the next slot's long name, whose @120 owner is neither
    // the node's number nor its own @120: the name stands unless owner turns
    // out to be the number of another DOS record.
    void addUncertainLongName(bool folder, std::uint32_t node, std::uint32_t owner, std::string dosName);

    // Gives back their DOS name to the nodes whose next-slot long name
    // belongs to another DOS record, then gives every node the name its
    // name-space chain shows and puts the entries that name a folder by its
    // directory number under that folder when its @120 says otherwise.
    void finish(MountedVolume& volume);

private:
    struct UncertainName {
        bool folder = false;
        std::uint32_t node = 0;
        std::uint32_t owner = 0;
        std::string dosName;
    };
    std::vector<std::uint32_t> dosRecords_;
    std::vector<UncertainName> uncertain_;
};

// Where a walk stands: the directory number of the sector's first entry (its
// position in the directory) and the walk's gathered state.
struct DirectoryPosition {
    std::uint32_t firstDirNo = 0;
    DirectoryWalkState* walk = nullptr;
};

// Decodes the four entries of one DET sector into volume's lists and
// suballocation roots. entrySector and mirrorSector are stored in each node.
// A folder is an entry with attribute bit 0x10, a deleted one has a non-zero
// @108; a long-name record in the next slot of the sector gives the name.
// With a position, name-space records and chains are collected, the root
// record (directory number 0) is kept, and a next-slot long name whose @120
// names another DOS record is given back when the walk state finishes;
// without one, the next-slot long name is always taken.
void decodeDirectorySector(MountedVolume& volume, std::span<const std::uint8_t> sector, std::uint32_t entrySector,
                           std::uint32_t mirrorSector, MountObserver& observer,
                           const DirectoryPosition* position = nullptr);

// Walks every block of chosenDetList but its end marker, each paired with the
// block at the same position of otherDetList, then gives every node the name
// its name-space chain shows, and puts the entries that name a folder by its
// directory number under that folder when its @120 says otherwise. Ends early
// on a stop request.
void walkDirectory(MountedVolume& volume, const SectorReader& reader, MountObserver& observer);

// Adds a placeholder folder "Dir<n>" under the root for every parent id that
// a folder names and no folder owns; then, continuing the numbering, for
// every such parent id that only files name.
void searchLostData(MountedVolume& volume, MountObserver& observer);

} // namespace tamsin
