#pragma once
// Reads FAT entries one sector at a time, keeping only the last sector read:
// chains mostly step within one FAT sector, and nothing larger is cached.

#include "disk/Sector.h"
#include "mount/BlockList.h"
#include "mount/VolumeReader.h"

#include <array>
#include <cstdint>
#include <utility>

namespace tamsin {

class MountedVolume;
class SectorReader;

class FatEntryReader {
public:
    FatEntryReader(const MountedVolume& volume, const SectorReader& reader) : volume_(volume), reader_(volume, reader) {}
    // Reads through a volume reader the caller already has.
    FatEntryReader(const MountedVolume& volume, VolumeReader reader) : volume_(volume), reader_(std::move(reader)) {}

    // The FAT entry of block, located through fatList (which must hold a
    // block) and, past its end, otherCopy. A FAT sector that cannot be read
    // is taken from the other copy (otherCopy, or for the chosen list the
    // copy not chosen) where that one reads; else it reads as zeros.
    FatEntry entryOf(const BlockList& fatList, std::uint32_t block, const BlockList* otherCopy = nullptr);

    // How many entries were taken from a FAT sector that neither copy could
    // read (they read as zeros, which ends a chain).
    std::uint32_t lostEntries() const { return lostEntries_; }

private:
    const MountedVolume& volume_;
    VolumeReader reader_;
    std::array<std::uint8_t, kSectorSize> buffer_{};
    std::uint64_t sector_ = 0;
    bool haveSector_ = false;
    bool sectorLost_ = false;
    std::uint32_t lostEntries_ = 0;
};

} // namespace tamsin
