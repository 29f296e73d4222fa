// Plans mirror groups, the headers and hot-fix tables of every partition
// that has them, which member the reader reads, and which logical sectors no
// in-sync member delivers.

#include "imagebuilder/SetPlan.h"

#include "imagebuilder/SectorSink.h"

#include <algorithm>

namespace tamsin::imagebuilder::detail {

namespace {

[[noreturn]] void fail(std::string message)
{
    throwPlanFailure(std::move(message));
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

std::vector<SegmentSource> ownSources(SetPlan& plan, PartitionPlan& partition, const EntryPlan& entry)
{
    return {{&plan.groupOf(partition), entry.entry.volumeRoot, 0, entry.entry.fields.sizeSectors, true}};
}

} // namespace

void throwPlanFailure(std::string message)
{
    throw PlanFailure{std::move(message)};
}

const std::map<std::uint32_t, Redirection>& PartitionPlan::redirects() const
{
    static const std::map<std::uint32_t, Redirection> kNone;
    return hotfix ? hotfix->byLogicalBlock : kNone;
}

bool PartitionPlan::lost(std::uint32_t logicalSector) const
{
    const auto& map = redirects();
    const auto found = map.find(logicalSector / kBlockSectors);
    return found != map.end() && ((found->second.badBits >> (logicalSector % kBlockSectors)) & 1u);
}

std::optional<std::size_t> GroupPlan::source(std::uint32_t logicalSector) const
{
    for (std::size_t m = 0; m < members.size(); ++m)
        if (inSync[m] && !members[m]->lost(logicalSector))
            return m;
    return std::nullopt;
}

// Mirror groups: every NetWare partition that is not a member leads one.
void formGroups(SetPlan& plan)
{
    std::vector<PartitionPlan*> all;
    for (DiskPlan& disk : plan.disks)
        for (PartitionPlan& partition : disk.partitions)
            if (partition.layout.netware)
                all.push_back(&partition);
    std::sort(all.begin(), all.end(), [](const PartitionPlan* a, const PartitionPlan* b) {
        return std::pair{a->layout.disk, a->layout.slot} < std::pair{b->layout.disk, b->layout.slot};
    });
    std::map<const PartitionPlan*, int> groupOfPrimary;
    for (PartitionPlan* partition : all) {
        if (partition->headers && partition->headers->mirrorOf)
            continue;
        partition->group = static_cast<int>(plan.groups.size());
        groupOfPrimary[partition] = partition->group;
        GroupPlan& group = plan.groups.emplace_back();
        group.primary = partition;
    }
    for (PartitionPlan* partition : all) {
        if (!partition->headers || !partition->headers->mirrorOf)
            continue;
        const PartitionRef target = *partition->headers->mirrorOf;
        if (target.disk >= plan.disks.size())
            fail(partition->where + ": mirrorOf names disk " + number(target.disk) + ", not in the set");
        PartitionPlan* primary = plan.disks[target.disk].inSlot(target.slot);
        if (primary == partition)
            fail(partition->where + ": a partition does not mirror itself");
        if (!primary || !primary->layout.netware || !primary->headers)
            fail(partition->where + ": mirrorOf names " + refText(target) + ", which is no NetWare partition with headers");
        if (primary->headers->mirrorOf)
            fail(partition->where + ": mirrorOf names " + refText(target)
                 + ", itself a mirror member; name the partition it mirrors");
        partition->group = groupOfPrimary.at(primary);
    }
    for (PartitionPlan* partition : all)
        plan.groups[static_cast<std::size_t>(partition->group)].members.push_back(partition);
    for (GroupPlan& group : plan.groups)
        if (group.members.size() > static_cast<std::size_t>(kMaxMirrorMembers))
            fail(group.primary->where + ": a mirror group has at most " + number(kMaxMirrorMembers) + " members");
}

// Ids, flags and tables of every partition with headers, and which member
// the reader reads.
void planHeaders(SetPlan& plan)
{
    for (GroupPlan& group : plan.groups) {
        PartitionPlan& primary = *group.primary;
        if (!primary.headers) {
            group.inSync = {true};
            continue;
        }
        const PartitionHeaders& primaryHeaders = *primary.headers;
        const std::uint32_t groupId =
            primaryHeaders.mirrorGroupId.value_or(defaultMirrorGroupId(primary.layout.disk, primary.layout.slot));
        std::vector<std::uint32_t> ids;
        for (PartitionPlan* member : group.members) {
            const std::uint32_t id =
                member->headers->partitionId.value_or(defaultPartitionId(member->layout.disk, member->layout.slot));
            if (group.members.size() > 1 && std::find(ids.begin(), ids.end(), id) != ids.end())
                fail(member->where + ": partition id " + number(id) + " is already taken by another member of its mirror group");
            ids.push_back(id);
            if (member != &primary && member->headers->mirrorGroupId && *member->headers->mirrorGroupId != groupId)
                fail(member->where + ": a mirror member has the group id of the partition it mirrors, " + number(groupId));
        }
        for (std::size_t m = 0; m < group.members.size(); ++m) {
            PartitionPlan& member = *group.members[m];
            const PartitionHeaders& headers = *member.headers;
            if (headers.members && headers.members->size() > static_cast<std::size_t>(kMaxMirrorMembers))
                fail(member.where + ": at most " + number(kMaxMirrorMembers) + " member ids");
            auto tables = planHotfixTables(headers, member.layout.hotfixLength, member.dataSectors, member.where);
            if (!tables)
                fail(tables.error());
            member.hotfix = std::move(*tables);

            HeaderLayout& layout = member.layout.headers.emplace();
            layout.partitionId = ids[m];
            layout.mirrorGroupId = groupId;
            layout.members = headers.members.value_or(ids);
            layout.mirrorFlags = headers.mirrorFlags.value_or(headers.outOfSync ? kMirrorOutOfSyncFlags : kMirrorInSyncFlags);
            std::uint32_t status = kMirrorStatusBase;
            for (std::size_t j = 0; j < layout.members.size(); ++j)
                for (std::size_t other = 0; other < group.members.size(); ++other)
                    if (ids[other] == layout.members[j] && group.members[other]->headers->outOfSync)
                        status |= 1u << j;
            layout.mirrorStatus = headers.mirrorStatus.value_or(status);
            layout.dataSectors = member.dataSectors;
            layout.hotfixBlocks = member.hotfix->blocks;
            for (int c = 0; c < kHeaderCopies; ++c)
                layout.hotfixSectors[c] = hotfixHeaderSector(member.layout.startSector, c + 1);
            layout.tableSectors = member.hotfix->tableSectors();
            for (int c = 0; c < kHeaderCopies && !layout.validCopy; ++c)
                if (headers.hotfixCopies[c] == HeaderCopy::Intact && headers.mirrorCopies[c] == HeaderCopy::Intact)
                    layout.validCopy = c;
            for (const auto& [logicalBlock, redirect] : member.hotfix->byLogicalBlock)
                layout.redirectedBlocks.push_back(
                    {logicalBlock, redirect.spare, redirect.badBits, redirect.inCopy1, redirect.inCopy2});
            layout.freeSpares = member.hotfix->freeSpares;
            layout.reservedBlocks = member.hotfix->reservedBlocks;
            layout.mirrorOf = headers.mirrorOf;
            for (const PartitionPlan* other : group.members)
                layout.group.push_back({other->layout.disk, other->layout.slot});
            const bool needsHeaders = group.members.size() > 1 || !headers.redirects.empty() || !headers.damagedSectors.empty();
            if (!layout.validCopy && needsHeaders)
                fail(member.where + ": no header copy has both stamps intact, so the reader would ignore "
                     + (group.members.size() > 1 ? "the mirror group" : "the redirects"));
        }
        // A member is out of sync when any member's MIRROR sector marks it
        // so; when that leaves none in sync, the first member's sector decides.
        auto marks = [&](const HeaderLayout& layout, std::size_t m) {
            std::vector<std::uint32_t> listed;
            for (std::uint32_t id : layout.members) {
                if (id == 0)
                    break;
                listed.push_back(id);
            }
            const auto at = std::find(listed.begin(), listed.end(), ids[m]);
            return at != listed.end() && at - listed.begin() < 32 && ((layout.mirrorStatus >> (at - listed.begin())) & 1u);
        };
        group.inSync.assign(group.members.size(), true);
        for (std::size_t m = 0; m < group.members.size(); ++m)
            for (const PartitionPlan* other : group.members)
                if (marks(*other->layout.headers, m))
                    group.inSync[m] = false;
        if (std::find(group.inSync.begin(), group.inSync.end(), true) == group.inSync.end())
            for (std::size_t m = 0; m < group.members.size(); ++m)
                group.inSync[m] = !marks(*group.members.front()->layout.headers, m);
        if (std::find(group.inSync.begin(), group.inSync.end(), true) == group.inSync.end())
            group.inSync.front() = true; // none in sync: the reader reads the first
        group.reading = static_cast<std::size_t>(std::find(group.inSync.begin(), group.inSync.end(), true) - group.inSync.begin());
        for (std::size_t m = 0; m < group.members.size(); ++m) {
            HeaderLayout& layout = *group.members[m]->layout.headers;
            layout.outOfSync = !group.inSync[m];
            layout.readFrom = m == group.reading;
        }
    }
}

// Lost sectors no in-sync member delivers, and damage the reader would read.
void planReadView(SetPlan& plan)
{
    for (GroupPlan& group : plan.groups) {
        std::set<std::uint32_t> candidates;
        for (const PartitionPlan* member : group.members)
            for (const auto& [logicalBlock, redirect] : member->redirects())
                for (std::uint32_t k = 0; k < kBlockSectors; ++k)
                    if ((redirect.badBits >> k) & 1u)
                        candidates.insert(logicalBlock * kBlockSectors + k);
        for (std::uint32_t sector : candidates)
            if (!group.source(sector))
                group.unreadable.insert(sector);
        plan.anyUnreadable = plan.anyUnreadable || !group.unreadable.empty();
        const std::vector<std::uint32_t> unreadable(group.unreadable.begin(), group.unreadable.end());
        for (std::size_t m = 0; m < group.members.size(); ++m) {
            PartitionPlan& member = *group.members[m];
            if (member.layout.headers)
                member.layout.headers->unreadableSectors = unreadable;
            if (!member.headers)
                continue;
            const std::vector<std::uint32_t>& damaged = member.headers->damagedSectors;
            for (std::size_t k = 0; k < damaged.size(); ++k) {
                const std::string at = member.where + ": damagedSectors[" + number(k) + "]";
                if (damaged[k] >= member.dataSectors)
                    fail(at + ": logical sector " + number(damaged[k]) + " is past the data area's "
                         + number(member.dataSectors) + " sectors");
                if (group.source(damaged[k]) == m)
                    fail(at + ": the reader reads logical sector " + number(damaged[k])
                         + " from this partition; damage a mirror member it does not read, or flag this one out of sync");
            }
        }
    }
    for (const auto& spanned : plan.spanned)
        for (const SpannedSegmentPlan& segment : spanned->segments)
            plan.anyUnreadable = plan.anyUnreadable || !segment.entry;
}

// With lost sectors or missing segments somewhere: the FAT and DET of every
// volume with contents must read, or the manifest could not say what a
// reader makes of the volume.
void checkTablesReadable(SetPlan& plan)
{
    NullSink sink;
    auto check = [](const VolumeManifest& manifest, const std::vector<SegmentSource>& sources, const std::string& where) {
        const std::array<std::pair<const ChainManifest*, const char*>, 4> chains = {
            std::pair{&manifest.fat[0], "FAT copy 1"}, std::pair{&manifest.fat[1], "FAT copy 2"},
            std::pair{&manifest.det[0], "DET copy 1"}, std::pair{&manifest.det[1], "DET copy 2"}};
        const std::uint32_t spb = manifest.sectorsPerBlock;
        for (const auto& [chain, name] : chains)
            for (std::uint32_t block : chain->blocks)
                for (std::uint32_t o = 0; o < spb; ++o)
                    if (!readable(sources, spb, std::uint64_t{block} * spb + o))
                        fail(where + ": block " + number(block) + " of " + name
                             + " has a sector the reader cannot read (a lost sector or a missing segment)");
    };
    for (DiskPlan& disk : plan.disks)
        for (PartitionPlan& partition : disk.partitions)
            for (const EntryPlan& entry : partition.table) {
                if (entry.ownSegment < 0 || !partition.writers[static_cast<std::size_t>(entry.ownSegment)])
                    continue;
                const auto manifest = partition.writers[static_cast<std::size_t>(entry.ownSegment)]->write(0, sink);
                check(*manifest, ownSources(plan, partition, entry),
                      partition.where + "." + indexed("volumes", static_cast<std::size_t>(entry.ownSegment)));
            }
    for (const auto& spanned : plan.spanned) {
        if (!spanned->writer)
            continue;
        std::vector<SegmentSource> sources;
        for (const SpannedSegmentPlan& segment : spanned->segments)
            sources.push_back({&plan.groupOf(*segment.partition), segment.root, segment.firstBlock, segment.sizeSectors,
                               segment.entry});
        check(*spanned->writer->write(0, sink), sources, spanned->where);
    }
}

} // namespace tamsin::imagebuilder::detail
