#pragma once
// Reading the block chains of the FAT and DET copies through the FAT.

#include <cstdint>

namespace tamsin {

class MountedVolume;
class SectorReader;
struct BlockList;

// Reads the chain of FAT copy 1 or 2 into volume.fatList(copy), locating each
// entry through that copy's own list as far as it is built and, past it,
// through otherCopy (the other copy's chain, when already read). Returns the
// list's length, end marker included.
std::uint32_t readFatChain(MountedVolume& volume, const SectorReader& reader, int copy,
                           const BlockList* otherCopy = nullptr);

// Reads the chain of DET copy 1 or 2 into volume.detList(copy) through
// chosenFatList. Returns the number of steps that passed the sequence test.
std::uint32_t readDetChain(MountedVolume& volume, const SectorReader& reader, int copy);

} // namespace tamsin
