#include "VolumeList.h"
#include "DiskWords.h"

#include "VolumeRows.h"

#include "volumes/VolumeInfo.h"
#include "volumes/VolumeLayout.h"

#include <algorithm>
#include <set>

namespace tamsin::app {
namespace {

constexpr const char* kSegmentsLabel = "Segments        ";
constexpr const char* kSegmentLabel = "Segment         ";

bool spanned(const VolumeInfo& record)
{
    return record.layout && record.segmentCount > 1;
}

std::string ofCount(std::uint32_t index, std::uint32_t count)
{
    return std::to_string(index + 1) + " of " + std::to_string(count);
}

// The disks holding the records, in order of first appearance.
std::string diskList(const VolumeTable& table, const std::vector<std::uint32_t>& positions)
{
    std::vector<std::string> paths;
    for (std::uint32_t position : positions) {
        const std::string& path = table[position].diskPath;
        if (std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.push_back(path);
    }
    std::string text;
    for (const std::string& path : paths)
        text += (text.empty() ? "" : ", ") + path;
    return text;
}

} // namespace

std::vector<std::uint32_t> volumeRecords(const VolumeTable& table, std::uint32_t position)
{
    const VolumeInfo& record = table[position];
    if (!spanned(record))
        return {position};
    std::vector<std::uint32_t> positions;
    for (std::uint32_t i = 0; i < table.volumeCount(); ++i)
        if (table[i].layout == record.layout)
            positions.push_back(i);
    std::stable_sort(positions.begin(), positions.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return table[a].segment < table[b].segment; });
    return positions;
}

std::vector<VolumeEntry> volumeEntries(const VolumeTable& table)
{
    std::vector<VolumeEntry> entries;
    std::set<const VolumeLayout*> listed;
    for (std::uint32_t i = 0; i < table.volumeCount(); ++i) {
        const VolumeInfo& record = table[i];
        if (!spanned(record)) {
            entries.push_back({i, false, {}});
            continue;
        }
        if (!listed.insert(record.layout.get()).second)
            continue;
        const std::vector<std::uint32_t> records = volumeRecords(table, i);
        VolumeEntry entry{records.front(), true, {}};
        // Every segment the volume has, found or not; a damaged entry's
        // index beyond the count still gets its row.
        std::uint32_t count = record.segmentCount;
        for (std::uint32_t position : records)
            count = std::max(count, table[position].segment + 1);
        for (std::uint32_t index = 0; index < count; ++index) {
            SegmentEntry segment{index, false, 0};
            for (std::uint32_t position : records)
                if (table[position].segment == index && !segment.found)
                    segment = {index, true, position};
            entry.segments.push_back(segment);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string volumeItemSuffix(const VolumeInfo& record)
{
    return record.complete() ? std::string() : std::string(" (incomplete)");
}

std::string segmentItemText(const VolumeTable& table, const VolumeInfo& anyRecord, const SegmentEntry& segment)
{
    std::string text = "Segment " + ofCount(segment.index, anyRecord.segmentCount) + ": ";
    if (!segment.found)
        return text + "missing";
    const VolumeInfo& record = table[segment.position];
    return text + record.diskPath + ", sector " + std::to_string(record.startSector);
}

LabelledRows spannedVolumeRows(const VolumeTable& table, std::uint32_t position)
{
    const std::vector<std::uint32_t> records = volumeRecords(table, position);
    const VolumeInfo& first = table[records.front()];
    const VolumeInfo& last = table[records.back()];
    VolumeInfo whole = first;
    whole.sizeSectors = std::uint64_t{first.volumeBlocks} * first.sectorsPerBlock;
    if (whole.sizeSectors == 0) {
        for (std::uint32_t at : records)
            whole.sizeSectors += table[at].sizeSectors;
    }
    LabelledRows rows = volumePropertyRows(whole);
    rows[2].second = std::to_string(volumeEndSector(last));
    std::string segments = std::to_string(records.size()) + " of " + std::to_string(first.segmentCount) + " on "
        + diskList(table, records);
    if (first.layout && !first.layout->complete())
        segments += " (" + words::missingSegmentsText(*first.layout) + ")";
    rows.emplace_back(kSegmentsLabel, segments);
    return rows;
}

LabelledRows segmentRows(const VolumeInfo& record)
{
    LabelledRows rows = volumePropertyRows(record);
    if (spanned(record))
        rows.emplace_back(kSegmentLabel, ofCount(record.segment, record.segmentCount) + " on " + record.diskPath);
    return rows;
}

} // namespace tamsin::app
