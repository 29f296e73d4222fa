#pragma once
// Reads the volume tables of a disk's NetWare partitions into the volume table.

#include "volumes/VolumeInfo.h"

#include <cstdint>

namespace tamsin {

class SectorReader;

enum class VolumeTableStatus {
    NoPartitionTable,  // sector 0 unreadable or without the boot signature
    NoVolumeFound,     // no NetWare partition contributed a record
    VolumesFound,
};

// Empties table, then appends the records of every NetWare partition's
// volume table in partition-entry order.
VolumeTableStatus readVolumeTables(const SectorReader& reader, VolumeTable& table);

// Appends the records of one partition's volume table; returns how many.
// Entries with a block count of 0 are skipped (they have no block size).
std::uint32_t readPartitionVolumeTable(const SectorReader& reader, std::uint32_t partitionStart, VolumeTable& table);

} // namespace tamsin
