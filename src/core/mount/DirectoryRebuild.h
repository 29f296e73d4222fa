#pragma once
// Finding the directory table of a volume whose FAT can no longer chain it:
// every block of the volume is read once and those that read as directory
// blocks are kept; they are then put in table order as far as their
// records allow. A record's directory number is its place in the table
// (position x records per block + slot), and a record names its folder by
// that number, so each parent id tells at which position, and in which
// slot, the table holds a folder.

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;

struct FoundDirectoryBlock {
    std::uint32_t block = 0;          // volume block
    std::vector<std::uint8_t> bytes;  // its content
};

class DirectoryScanObserver {
public:
    virtual ~DirectoryScanObserver() = default;
    virtual void directoryScanProgress(int /*percent*/) {}
};

// The volume's blocks that read as directory blocks, in block order. Each
// block is read once, in runs; unreadable sectors read as zeros. A stop
// ends the scan between runs with what was found so far.
std::vector<FoundDirectoryBlock> scanDirectoryBlocks(const MountedVolume& volume, const SectorReader& reader,
                                                     DirectoryScanObserver& observer, const std::atomic<bool>& stop);

struct OrderedDirectory {
    static constexpr std::uint32_t kNoBlock = 0xFFFFFFFF;
    std::vector<std::uint32_t> blocks;  // by table position; kNoBlock where nothing is known
    std::uint32_t placedByContent = 0;  // positions a parent id (or the root record) fixed
    std::uint32_t ambiguous = 0;        // of those, positions several blocks could have held
    std::uint32_t appended = 0;         // blocks no parent id places, put in the free positions
    std::uint32_t duplicates = 0;       // blocks left out as copies of another (the second table copy)
};

// Puts found blocks in table order: the block holding the root record (the
// volume table's first directory block when it is among them) at position
// 0; for each parent id named by a record, the block with a folder record
// in that slot at that position; blocks of identical content once. Where
// several blocks fit a position the one with the lowest block number is
// taken. Blocks no parent id places (those of files only) fill the
// positions left, in block order: their files keep their folders, though
// not their directory numbers.
OrderedDirectory orderDirectoryBlocks(const std::vector<FoundDirectoryBlock>& found, std::uint32_t recordsPerBlock,
                                      std::optional<std::uint32_t> firstDirectoryBlock = std::nullopt);

} // namespace tamsin
