#include "volumes/PartitionScan.h"

#include "disk/SectorReader.h"
#include "volumes/PartitionHeaders.h"
#include "volumes/VolumeTableFormat.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace tamsin {
namespace {

using SectorBuffer = std::array<std::uint8_t, kSectorSize>;

// One sector; false when it could not be read, so stale bytes never match.
bool readOne(const SectorReader& reader, std::uint64_t sector, SectorBuffer& buffer)
{
    buffer.fill(0);
    return reader.readSectors(sector, 1, buffer) == 0;
}

std::string pathOf(const SectorReader& disk)
{
    return disk.device() ? disk.device()->path() : std::string();
}

// Whether two hot-fix headers describe the same partition layout.
bool sameLayout(const HotfixHeader& a, const HotfixHeader& b)
{
    if (a.partitionId != b.partitionId || a.dataSectors != b.dataSectors || a.hotfixSectors != b.hotfixSectors)
        return false;
    for (std::uint32_t g = 0; g < kHotfixGroups; ++g) {
        const HotfixTablePointers& x = a.tables[g];
        const HotfixTablePointers& y = b.tables[g];
        if (x.redirection1 != y.redirection1 || x.badBits1 != y.badBits1 || x.redirection2 != y.redirection2
            || x.badBits2 != y.badBits2)
            return false;
    }
    return true;
}

struct Found {
    PartitionMember member;
    MirrorHeader mirror;
    bool grouped = false;
};

// Whether b joins the group that a heads.
bool sameMirrorGroup(const Found& a, const Found& b)
{
    if (!a.member.headersUsable || !b.member.headersUsable)
        return false;
    return a.mirror.groupId == b.mirror.groupId && a.mirror.partitionId != b.mirror.partitionId
        && a.mirror.lists(b.mirror.partitionId) && b.mirror.lists(a.mirror.partitionId)
        && a.member.dataSectors == b.member.dataSectors;
}

} // namespace

PartitionMember readPartitionMember(const SectorReader& disk, std::uint32_t diskIndex, int slot,
                                    std::uint64_t partitionStart, std::uint64_t partitionSectors, MirrorHeader* mirror)
{
    PartitionMember member;
    SectorBuffer hotfixSector;
    SectorBuffer mirrorSector;
    // The hot-fix length comes from the first copy carrying the stamp unless
    // a copy passes the whole test. Of the copies that pass, the one most
    // other passing copies agree with is used (the first on a tie), so that
    // one copy gone wrong cannot move the data area.
    bool stamped = false;
    std::vector<std::pair<HotfixHeader, MirrorHeader>> passing;
    for (std::uint64_t i = 1; i <= kHotfixHeaderCopies; ++i) {
        const std::uint64_t at = partitionStart + kHotfixHeaderStride * i;
        if (!readOne(disk, at, hotfixSector) || !hasHotfixStamp(hotfixSector))
            continue;
        const HotfixHeader header = decodeHotfixHeader(hotfixSector);
        if (!stamped) {
            stamped = true;
            member.hotfixSectors = header.hotfixSectors;
        }
        if (readOne(disk, at + 1, mirrorSector) && hasMirrorStamp(mirrorSector)
            && headersUsable(header, partitionSectors))
            passing.emplace_back(header, decodeMirrorHeader(mirrorSector));
    }
    std::size_t chosen = 0;
    std::size_t bestVotes = 0;
    for (std::size_t a = 0; a < passing.size(); ++a) {
        std::size_t votes = 0;
        for (const auto& other : passing)
            votes += sameLayout(passing[a].first, other.first) ? 1 : 0;
        if (votes > bestVotes) {
            bestVotes = votes;
            chosen = a;
        }
    }
    if (!passing.empty()) {
        const auto& [header, decoded] = passing[chosen];
        member.headersUsable = true;
        member.hotfixSectors = header.hotfixSectors;
        member.dataSectors = header.dataSectors;
        member.partitionId = header.partitionId;
        member.mirrorGroupId = decoded.groupId;
        if (mirror)
            *mirror = decoded;
        member.hotfix = std::make_shared<HotfixMap>(HotfixMap::load(disk, partitionStart, header));
    }
    if (!stamped)
        return member;
    member.disk = &disk;
    member.diskPath = pathOf(disk);
    member.diskIndex = diskIndex;
    member.slot = slot;
    member.partitionStart = partitionStart;
    member.partitionSectors = partitionSectors;
    // The data area starts at the first whole 4K block past the hot-fix area
    // when the headers are used; the simple layout takes the length as it is.
    const std::uint64_t h = member.headersUsable ? member.hotfixSectors / kSectorsPer4kBlock * kSectorsPer4kBlock
                                                 : member.hotfixSectors;
    member.dataStart = partitionStart + h;
    return member;
}

PartitionScan scanNetWarePartitions(std::span<const SectorReader* const> disks)
{
    PartitionScan scan;
    std::vector<Found> found;
    for (std::uint32_t d = 0; d < disks.size(); ++d) {
        const SectorReader& disk = *disks[d];
        SectorBuffer mbr;
        const bool table = readOne(disk, 0, mbr) && hasBootSignature(mbr);
        scan.hasPartitionTable.push_back(table);
        if (!table)
            continue;
        for (int slot = 0; slot < 4; ++slot) {
            const PartitionEntry entry = partitionEntry(mbr, slot);
            if (entry.type != kNetWarePartitionType)
                continue;
            Found f;
            f.member = readPartitionMember(disk, d, slot, entry.startSector, entry.sizeSectors, &f.mirror);
            if (f.member.disk)
                found.push_back(std::move(f));
        }
    }

    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].grouped)
            continue;
        std::vector<PartitionMember> members{found[i].member};
        std::vector<std::uint32_t> ids{found[i].mirror.partitionId};
        std::vector<const MirrorHeader*> headers{&found[i].mirror};
        for (std::size_t j = i + 1; j < found.size(); ++j) {
            if (found[j].grouped || !sameMirrorGroup(found[i], found[j]))
                continue;
            bool duplicate = false;
            for (std::uint32_t id : ids)
                duplicate = duplicate || id == found[j].mirror.partitionId;
            if (duplicate)
                continue;
            found[j].grouped = true;
            ids.push_back(found[j].mirror.partitionId);
            headers.push_back(&found[j].mirror);
            members.push_back(found[j].member);
        }
        // Member lists name each member by the id in its own mirror header. A
        // member is out of sync when any member's header marks it so: a disk
        // that stopped being written still calls itself in sync, and only the
        // others know better. When that leaves none in sync (members marking
        // each other), the first member's header decides.
        if (members.size() > 1) {
            auto marks = [&](const MirrorHeader& header, std::size_t k) {
                return header.outOfSync(header.memberIndex(ids[k]));
            };
            bool anyInSync = false;
            for (std::size_t k = 0; k < members.size(); ++k) {
                members[k].inSync = std::none_of(headers.begin(), headers.end(),
                                                 [&](const MirrorHeader* header) { return marks(*header, k); });
                anyInSync = anyInSync || members[k].inSync;
            }
            if (!anyInSync)
                for (std::size_t k = 0; k < members.size(); ++k)
                    members[k].inSync = !marks(*headers.front(), k);
        }
        scan.partitions.push_back(std::make_shared<LogicalPartition>(std::move(members)));
    }
    return scan;
}

} // namespace tamsin
