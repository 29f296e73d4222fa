#pragma once
// Raw comparison of the two copies of a table, sector by sector.

#include <array>
#include <cstdint>

namespace tamsin {

class MountedVolume;
class MountObserver;
class SectorReader;
struct BlockList;

// True when every sector of every block of the two chains is identical.
// Lists of equal length only. A stop request counts as a difference.
// Progress goes to observer once per sector pair.
// Sectors unreadable in either copy do not count as differences; when
// unreadable is given, the sectors each copy could not read (of those
// compared) are added to it.
bool compareCopies(const MountedVolume& volume, const SectorReader& reader, const BlockList& first,
                   const BlockList& second, MountObserver& observer,
                   std::array<std::uint32_t, 2>* unreadable = nullptr);

} // namespace tamsin
