#pragma once
// The data area of a NetWare partition as one run of logical sectors: reads
// go through the hot-fix redirection of the member partition they are served
// from, and a sector one mirror member cannot deliver is read from another.
// A partition without usable headers is a single member without redirection.

#include "volumes/HotfixMap.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamsin {

class SectorReader;

// One physical partition serving a logical partition.
struct PartitionMember {
    const SectorReader* disk = nullptr;
    std::string diskPath;
    std::uint32_t diskIndex = 0;         // position of the disk in the session
    int slot = -1;                       // MBR slot; -1 for a run found without a partition
    std::uint64_t partitionStart = 0;    // absolute sector of partition sector 0
    std::uint64_t partitionSectors = 0;  // from the partition table; 0 when unknown
    std::uint64_t dataStart = 0;         // absolute sector of logical sector 0
    bool headersUsable = false;          // redirection tables loaded and honoured
    std::uint32_t hotfixSectors = 0;
    std::uint32_t dataSectors = 0;
    std::uint32_t partitionId = 0;
    std::uint32_t mirrorGroupId = 0;
    bool inSync = true;
    std::shared_ptr<const HotfixMap> hotfix;  // null: nothing redirected
};

class LogicalPartition {
public:
    explicit LogicalPartition(std::vector<PartitionMember> members);

    // A partition or run read as it lies: logical sector s is absolute sector dataStart + s.
    static std::shared_ptr<LogicalPartition> plain(const SectorReader& disk, std::uint64_t dataStart,
                                                   std::string diskPath = {}, std::uint32_t diskIndex = 0);

    // Reads count logical sectors from first into buffer. Sectors no member
    // delivers come back as zeros; returns how many, and appends their
    // indexes within the run to unreadable when given.
    std::uint32_t read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                       std::vector<std::uint32_t>* unreadable = nullptr) const;

    // The absolute sector where logical sector s lies on the member reads
    // are served from (the one listed for the group), redirection not applied.
    std::uint64_t homeSector(std::uint64_t logical) const { return primary().dataStart + logical; }

    const std::vector<PartitionMember>& members() const { return members_; }
    const PartitionMember& primary() const { return members_[primary_]; }
    bool mirrored() const { return members_.size() > 1; }
    // Logical sectors the data area holds; 0 when unknown.
    std::uint64_t dataSectors() const;

private:
    std::uint32_t readMember(const PartitionMember& member, std::uint64_t first, std::uint32_t count,
                             std::span<std::uint8_t> buffer, std::vector<std::uint32_t>& bad) const;

    std::vector<PartitionMember> members_;
    std::size_t primary_ = 0;
};

} // namespace tamsin
