#pragma once
// Reads the volume tables of the NetWare partitions of a session's disks into
// the volume table: one record per table entry, with the layout that reads
// the whole volume the entry belongs to.

#include "volumes/VolumeInfo.h"

#include <cstdint>
#include <span>

namespace tamsin {

class SectorReader;

enum class VolumeTableStatus {
    NoPartitionTable,  // sector 0 of the first disk unreadable or without the boot signature, and nothing found
    NoVolumeFound,     // no NetWare partition contributed a record
    VolumesFound,
};

// Empties table, then appends the records of every NetWare partition's
// volume table in disk, partition-entry and table order (a mirror group's
// records once). Entries with segment fields are joined into multi-segment
// volumes across all disks. Records keep pointers to the readers, which
// must outlive them.
VolumeTableStatus readVolumeTables(std::span<const SectorReader* const> disks, VolumeTable& table);

// The same for one disk.
VolumeTableStatus readVolumeTables(const SectorReader& reader, VolumeTable& table);

} // namespace tamsin
