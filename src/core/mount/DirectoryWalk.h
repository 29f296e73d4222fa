#pragma once
// Decoding the chosen DET copy into folder and file nodes, and the lost-data
// pass that gives orphaned entries a placeholder parent.

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace tamsin {

class MountedVolume;
class MountObserver;
class NameSpaceRecords;
class SectorReader;

inline constexpr std::uint32_t kDirEntrySize = 128;
inline constexpr std::uint32_t kSuballocationParent = 0xFFFFFFFB;
inline constexpr std::uint32_t kMaxDosNameLength = 15;
inline constexpr std::uint32_t kMaxLongNameLength = 80;

// Where a walk stands: the directory number of the sector's first entry
// (its position in the directory) and where other name spaces' records go.
struct DirectoryPosition {
    std::uint32_t firstDirNo = 0;
    NameSpaceRecords* nameSpaces = nullptr;
    // Folders whose @120 is not their directory number, as {number, @120}.
    std::vector<std::pair<std::uint32_t, std::uint32_t>>* renumberedFolders = nullptr;
};

// Decodes the four entries of one DET sector into volume's lists and
// suballocation roots. entrySector and mirrorSector are stored in each node.
// With a position, name-space records and chains are collected and the root
// record (directory number 0) is kept.
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
