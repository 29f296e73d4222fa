#pragma once
// Finds the NetWare partitions of a session's disks, reads their hot-fix and
// mirror headers, and joins mirror members into logical partitions.

#include "volumes/LogicalPartition.h"
#include "volumes/PartitionHeaders.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tamsin {

class SectorReader;

struct PartitionScan {
    // One per NetWare partition or mirror group, in disk and partition-table
    // order of its first member.
    std::vector<std::shared_ptr<LogicalPartition>> partitions;
    // Per disk: sector 0 was read and carries the boot signature.
    std::vector<bool> hasPartitionTable;
};

// Partitions join one mirror group only when they share the group id, have
// different partition ids and name each other in their member lists: disks
// that merely share ids (clones, or ids taken from one clock tick) stay apart.
PartitionScan scanNetWarePartitions(std::span<const SectorReader* const> disks);

// The member record of one NetWare partition; its disk is null when no
// hot-fix header is found at any of the four positions. mirror receives the
// mirror header when the headers are usable.
PartitionMember readPartitionMember(const SectorReader& disk, std::uint32_t diskIndex, int slot,
                                    std::uint64_t partitionStart, std::uint64_t partitionSectors,
                                    MirrorHeader* mirror);

} // namespace tamsin
