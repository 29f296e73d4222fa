#pragma once
// A file's chain of block references as the chosen FAT gives it, and the
// meaning of each reference.

#include "volumes/VolumeLayout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsin {

class FatEntryReader;
class MountedVolume;
class SectorReader;
class VolumeReader;

inline constexpr std::uint32_t kTopBit = 0x80000000u;

// A reference with the top bit set other than 0xFFFFFFFF: the data lies in
// the suballocation chain of size class sizeClass, startSector sectors in.
struct FragmentReference {
    std::uint32_t sizeClass = 0;  // 0..127
    std::uint32_t position = 0;   // 0..2^24-1
    std::uint64_t startSector() const { return std::uint64_t{sizeClass} * position; }
};

inline bool isFragmentReference(std::uint32_t value)
{
    return (value & kTopBit) != 0 && value != 0xFFFFFFFFu;
}

inline FragmentReference decodeFragmentReference(std::uint32_t value)
{
    return {(value >> 24) & 0x7F, value & 0x00FFFFFF};
}

struct FileChain {
    std::vector<std::uint32_t> values;  // first block, then each FAT `next` in turn
    // The `sequence` of the FAT entry of values[k]: which block of the file
    // (counted from 0) that block holds. Indexes may skip: the blocks between
    // are holes that read as zeros. Values whose entry was not read have none.
    std::vector<std::uint32_t> indexes;
    bool looped = false;                // ended at a block it had already visited
};

// Whether value can name a block of the volume: it lies below both the
// volume's block count and the blocks whose entries the FAT copies' chains
// hold. A block past both has no FAT entry; the entry read for it would be
// another block's, and its data lies outside the volume. True when neither
// is known.
bool withinVolume(const MountedVolume& volume, std::uint32_t value);

// Whether a file's first block names data to read: a fragment reference, or
// a block of the volume other than 0 (where the first FAT block lies).
// 0xFFFFFFFF names nothing allocated.
inline bool firstBlockHoldsData(const MountedVolume& volume, std::uint32_t firstBlock)
{
    return isFragmentReference(firstBlock)
        || (firstBlock != 0 && (firstBlock & kTopBit) == 0 && withinVolume(volume, firstBlock));
}

// Follows the chain from first through volume's chosenFatList, appending each
// entry's `next` (and each block's index), and stops after a `next` that is 0
// or has the top bit set.
// At most maxValues values are kept (the blocks a file's size needs, plus
// one), and a revisited block ends the chain, so damaged chains always end.
// A block past the volume (withinVolume) ends it before that block; a first
// block past the volume leaves no values.
FileChain buildFileChain(const MountedVolume& volume, FatEntryReader& fat, std::uint32_t first, std::uint64_t maxValues);

// The chain a file would have if its data lay contiguous from its first
// block on, for a volume whose FAT is gone: first, first + 1, ... for the
// blocks size bytes take. It ends early, before a block past the volume's
// block count or one that holds a piece of the directory table (isTableBlock),
// and then leaves the rest of the file unreached. A fragment reference or an
// end value gives no chain.
template <typename IsTableBlock>
FileChain guessedFileChain(std::uint32_t first, std::uint64_t size, std::uint32_t sectorsPerBlock,
                           std::uint32_t blockCount, IsTableBlock isTableBlock)
{
    FileChain chain;
    const std::uint64_t blockBytes = std::uint64_t{sectorsPerBlock} * 512;
    if ((first & kTopBit) != 0 || blockBytes == 0)
        return chain;
    const std::uint64_t blocks = (size + blockBytes - 1) / blockBytes;
    for (std::uint64_t k = 0; k < blocks; ++k) {
        const std::uint64_t block = std::uint64_t{first} + k;
        if (block >= blockCount || isTableBlock(static_cast<std::uint32_t>(block)))
            break;
        chain.values.push_back(static_cast<std::uint32_t>(block));
        chain.indexes.push_back(static_cast<std::uint32_t>(k));
    }
    return chain;
}

// Whether the value at position of chain names a block (not an end value or
// a fragment reference).
bool chainHasBlockAt(const FileChain& chain, std::uint64_t position);

// A stretch of a file's data as its chain places it, from offset on.
struct FileExtent {
    enum class Kind {
        Blocks,    // blocks consecutive on the volume, from firstBlock on
        Hole,      // blocks the chain's indexes skip: zeros
        Fragment,  // the rest lies in a suballocation fragment (reference)
    };
    Kind kind = Kind::Blocks;
    std::uint64_t offset = 0;  // in the file
    std::uint64_t bytes = 0;   // Blocks and Hole: whole blocks, which may reach past the size
    std::uint32_t value = 0;   // Blocks: the first block; Fragment: the reference
    std::size_t position = 0;  // the chain position of the first block or of the reference
};

// Where a file of size bytes lies by its chain: its blocks in order, runs of
// consecutive blocks holding consecutive parts taken together (up to
// maxRunBlocks each), holes where a block's FAT index skips ahead within the
// size (an index that does not move ahead, or lies past the size, is not
// trusted), and a fragment the chain ends in. Ends at an end value, at a
// later 0, at the fragment, or once the size is reached; a chain that ends
// first leaves the rest of the file unreached.
std::vector<FileExtent> fileExtents(const FileChain& chain, std::uint64_t size, std::uint32_t sectorsPerBlock,
                                    std::uint32_t maxRunBlocks);

// A run of volume sectors.
struct SectorRun {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

// The suballocation chains of a volume, each followed through the FAT once
// for a run over many files and kept. Every suballocated file names a
// position in the chain of its size class; following the chain from its root
// again for each file took time growing with the chain, and so a run over a
// volume of many small files took time growing with the square of their number.
class SuballocationChains {
public:
    SuballocationChains(const MountedVolume& volume, const SectorReader& reader) : volume_(volume), reader_(reader) {}

    // The chain of sizeClass from its root as buildFileChain gives it for
    // maxValues (the first maxValues values are the same; there may be more).
    // Null when the class has no root, or when following the chain met FAT
    // sectors that neither copy could read: the caller then follows it with
    // its own FatEntryReader, whose count of such entries speaks for its file.
    const FileChain* chain(std::uint32_t sizeClass, std::uint64_t maxValues);

private:
    struct Followed {
        FileChain chain;
        std::uint64_t asked = 0;  // the maxValues it was followed for
        bool lost = false;
    };
    const MountedVolume& volume_;
    const SectorReader& reader_;
    std::array<Followed, 128> classes_;  // by size class (7 bits)
};

// The chain of sizeClass followed for maxValues: the kept one when chains
// has it, else followed through fat into own.
const FileChain& suballocationChain(const MountedVolume& volume, FatEntryReader& fat, SuballocationChains* chains,
                                    std::uint32_t sizeClass, std::uint64_t maxValues, FileChain& own);

// The sectors of a fragment that hold the next bytes of a file, no more than
// the fragment's length (size class x 512 bytes): from its place in its
// suballocation block on and into the next block of that chain. missing is
// set when that chain has no block where they lie, or the size class holds
// no bytes; runs then hold what was found before.
struct FragmentSectors {
    std::vector<SectorRun> runs;
    bool missing = false;
};
FragmentSectors fragmentSectors(const MountedVolume& volume, FatEntryReader& fat, std::uint32_t reference,
                                std::uint64_t bytes, SuballocationChains* chains = nullptr);

// The volume sector where a fragment's data starts, or nothing when its
// suballocation chain has no block there. With chains, the chain is taken
// from there when it can be.
std::optional<std::uint64_t> fragmentStartSector(const MountedVolume& volume, FatEntryReader& fat,
                                                 std::uint32_t reference, SuballocationChains* chains = nullptr);

} // namespace tamsin
