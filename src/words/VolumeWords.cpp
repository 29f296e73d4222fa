#include "VolumeWords.h"

#include "DiskWords.h"

namespace tamsin::words {

std::string attributeNames(std::uint8_t attributes, std::uint8_t attributesHigh)
{
    // The folder bit is left out: the report says folder or file already.
    static constexpr std::pair<std::uint8_t, const char*> kLow[] = {
        {0x01, "Read Only"}, {0x02, "Hidden"}, {0x04, "System"}, {0x08, "Execute Only"},
        {0x20, "Archive"},   {0x80, "Shareable"},
    };
    static constexpr std::pair<std::uint8_t, const char*> kHigh[] = {
        {0x02, "Compress Immediately"}, {0x04, "Compressed"}, {0x08, "Do Not Compress"}, {0x20, "Cannot Compress"},
    };
    std::string names;
    const auto add = [&](const auto& table, std::uint8_t bits) {
        for (const auto& [bit, name] : table)
            if (bits & bit)
                names += (names.empty() ? "" : ", ") + std::string(name);
    };
    add(kLow, attributes);
    add(kHigh, attributesHigh);
    return names.empty() ? "None" : names;
}

PropertiesReport propertiesFor(const MountedVolume& volume, const ContentsRow& row)
{
    PropertiesReport report;
    report.name = row.name;
    const TreeNode& node = row.isFolder ? volume.folders.at(row.node) : volume.files.at(row.node);
    report.dosName = volume.dosName(node);
    const auto [date, time] = formatNetWareDateTime(node.dateTime);
    report.creationDate = date + " " + time;
    if (node.modifiedDateTime != 0) {
        const auto [modifiedDate, modifiedTime] = formatNetWareDateTime(node.modifiedDateTime);
        report.modificationDate = modifiedDate + " " + modifiedTime;
    }
    report.attributes = attributeNames(node.attributes, node.attributesHigh);
    if (!row.isFolder) {
        report.bytes = node.size;
        report.size = std::to_string(std::stoull(row.size) / 1024 + 1) + " KB";
        return report;
    }
    const SubtreeCounts counts = countSubtree(volume, row.key);
    report.contains = std::to_string(counts.files) + " File(s) and "
        + std::to_string(counts.folders > 0 ? counts.folders - 1 : 0) + " Folder(s)";
    report.bytes = counts.bytes;
    const std::uint64_t megabytes = counts.bytes / 1024 / 1024;
    report.size = (megabytes == 0 ? std::string("Less than 1") : std::to_string(megabytes)) + " MB";
    return report;
}

std::vector<DriveRow> layoutInformation(const LayoutReport& report)
{
    std::vector<DriveRow> rows;
    std::string segments = std::to_string(report.segments.size()) + " of " + std::to_string(report.segmentCount);
    if (!report.complete)
        segments += " (" + missingSegmentsText(report.missingSegments, report.segmentCount) + ")";
    rows.push_back({DriveLabel::Segments, segments});
    for (const SegmentReport& s : report.segments)
        rows.push_back({DriveLabel::Segment,
                        s.disk + " sector " + std::to_string(s.startSector) + ", " + std::to_string(s.sizeSectors)
                            + " sectors, from block " + std::to_string(s.firstVolumeBlock),
                        s.index + 1});
    if (report.dataSectors != 0)  // unknown for a volume found by a search
        rows.push_back({DriveLabel::DataArea, std::to_string(report.dataSectors) + " sectors"});
    rows.push_back({DriveLabel::RedirectedBlocks, std::to_string(report.redirectedBlocks)});
    rows.push_back({DriveLabel::FreeSpareBlocks, std::to_string(report.freeSpares)});
    if (report.unreadableHotfixEntries != 0)
        rows.push_back({DriveLabel::UnreadableHotfixEntries,
                        std::to_string(report.unreadableHotfixEntries)
                            + " (blocks they may redirect read from their home place)"});
    for (const PartitionReport& p : report.partitions) {
        if (!p.mirrored)
            continue;
        rows.push_back({DriveLabel::MirrorMember, p.disk + " partition " + std::to_string(p.slot + 1)
                                                      + (p.inSync ? ", in sync" : ", out of sync")});
    }
    return rows;
}

std::vector<DriveRow> tableDamageInformation(const TableReadDamage& damage)
{
    if (!damage.any())
        return {};
    auto perCopy = [](const std::array<std::uint32_t, 2>& counts) {
        return "copy 1: " + std::to_string(counts[0]) + ", copy 2: " + std::to_string(counts[1]);
    };
    return {
        {DriveLabel::UnreadableFatSectors, perCopy(damage.fatUnreadable)},
        {DriveLabel::UnreadableDetSectors, perCopy(damage.detUnreadable)},
        {DriveLabel::LostDirectorySectors, std::to_string(damage.lostDirectorySectors) + " (their entries are lost)"},
    };
}

} // namespace tamsin::words
