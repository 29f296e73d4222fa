#include "volumes/LogicalPartition.h"

#include "disk/SectorReader.h"

#include <algorithm>
#include <cstring>

namespace tamsin {

LogicalPartition::LogicalPartition(std::vector<PartitionMember> members) : members_(std::move(members))
{
    // The first member not flagged out of sync serves reads; if every member
    // is flagged, the first one does.
    const auto it = std::find_if(members_.begin(), members_.end(), [](const PartitionMember& m) { return m.inSync; });
    primary_ = it == members_.end() ? 0 : static_cast<std::size_t>(it - members_.begin());
}

std::shared_ptr<LogicalPartition> LogicalPartition::plain(const SectorReader& disk, std::uint64_t dataStart,
                                                          std::string diskPath, std::uint32_t diskIndex)
{
    PartitionMember member;
    member.disk = &disk;
    member.diskPath = std::move(diskPath);
    member.diskIndex = diskIndex;
    member.partitionStart = dataStart;
    member.dataStart = dataStart;
    return std::make_shared<LogicalPartition>(std::vector<PartitionMember>{std::move(member)});
}

std::uint64_t LogicalPartition::dataSectors() const
{
    const PartitionMember& m = primary();
    if (m.headersUsable)
        return m.dataSectors;
    if (m.partitionSectors > m.dataStart - m.partitionStart)
        return m.partitionSectors - (m.dataStart - m.partitionStart);
    return 0;
}

std::uint32_t LogicalPartition::readMember(const PartitionMember& member, std::uint64_t first, std::uint32_t count,
                                           std::span<std::uint8_t> buffer, std::vector<std::uint32_t>& bad) const
{
    const std::size_t badBefore = bad.size();
    if (!member.hotfix || member.hotfix->empty()) {
        member.disk->readSectorsZeroFilled(member.dataStart + first, count, buffer, &bad);
        return static_cast<std::uint32_t>(bad.size() - badBefore);
    }

    // Runs of blocks that stay at home are read in one request; a redirected
    // 4K block is read from its spare, and its lost sectors become zeros.
    std::vector<std::uint32_t> runBad;
    std::uint32_t pos = 0;
    while (pos < count) {
        const std::uint64_t s = first + pos;
        const Redirect* redirect = s / kSectorsPer4kBlock <= 0xFFFFFFFFu
            ? member.hotfix->find(static_cast<std::uint32_t>(s / kSectorsPer4kBlock))
            : nullptr;
        std::uint32_t run = 0;
        std::uint64_t source = 0;
        if (redirect) {
            run = static_cast<std::uint32_t>(std::min<std::uint64_t>(kSectorsPer4kBlock - s % kSectorsPer4kBlock, count - pos));
            source = member.partitionStart + std::uint64_t{redirect->spare} * kSectorsPer4kBlock + s % kSectorsPer4kBlock;
        } else {
            std::uint64_t end = (s / kSectorsPer4kBlock + 1) * kSectorsPer4kBlock;
            while (end < first + count && (end / kSectorsPer4kBlock > 0xFFFFFFFFu
                                           || !member.hotfix->find(static_cast<std::uint32_t>(end / kSectorsPer4kBlock))))
                end += kSectorsPer4kBlock;
            run = static_cast<std::uint32_t>(std::min<std::uint64_t>(end, first + count) - s);
            source = member.dataStart + s;
        }
        auto piece = buffer.subspan(std::size_t{pos} * kSectorSize, std::size_t{run} * kSectorSize);
        runBad.clear();
        member.disk->readSectorsZeroFilled(source, run, piece, &runBad);
        for (std::uint32_t i : runBad)
            bad.push_back(pos + i);
        if (redirect && redirect->badBits != 0) {
            for (std::uint32_t i = 0; i < run; ++i) {
                const std::uint32_t k = static_cast<std::uint32_t>((s + i) % kSectorsPer4kBlock);
                if ((redirect->badBits & (1u << k)) == 0 || std::find(runBad.begin(), runBad.end(), i) != runBad.end())
                    continue;
                std::memset(piece.data() + std::size_t{i} * kSectorSize, 0, kSectorSize);
                bad.push_back(pos + i);
            }
        }
        pos += run;
    }
    return static_cast<std::uint32_t>(bad.size() - badBefore);
}

std::uint32_t LogicalPartition::read(std::uint64_t first, std::uint32_t count, std::span<std::uint8_t> buffer,
                                     std::vector<std::uint32_t>* unreadable) const
{
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, buffer.size() / kSectorSize));
    std::vector<std::uint32_t> bad;
    readMember(members_[primary_], first, count, buffer, bad);
    if (!bad.empty() && members_.size() > 1) {
        std::sort(bad.begin(), bad.end());
        // Each lost sector is asked of the other members in sync, one at a time.
        std::vector<std::uint32_t> stillBad;
        std::vector<std::uint32_t> oneBad;
        for (std::uint32_t index : bad) {
            bool found = false;
            for (std::size_t m = 0; m < members_.size() && !found; ++m) {
                if (m == primary_ || !members_[m].inSync)
                    continue;
                oneBad.clear();
                auto sector = buffer.subspan(std::size_t{index} * kSectorSize, kSectorSize);
                found = readMember(members_[m], first + index, 1, sector, oneBad) == 0;
            }
            if (!found) {
                std::memset(buffer.data() + std::size_t{index} * kSectorSize, 0, kSectorSize);
                stillBad.push_back(index);
            }
        }
        bad = std::move(stillBad);
    }
    if (unreadable)
        unreadable->insert(unreadable->end(), bad.begin(), bad.end());
    return static_cast<std::uint32_t>(bad.size());
}

} // namespace tamsin
