#include "VolumeList.h"

#include "volumes/VolumeInfo.h"
#include "volumes/VolumeLayout.h"

#include <gtest/gtest.h>

namespace tamsin::app {
namespace {

// A layout of count segments of which the given indexes were found; the
// list logic only asks which.
std::shared_ptr<const VolumeLayout> layoutOf(std::uint32_t count, const std::vector<std::uint32_t>& found)
{
    std::vector<VolumeSegment> segments;
    for (std::uint32_t index : found)
        segments.push_back({nullptr, index, 0, 0, 0, 0});
    return std::make_shared<VolumeLayout>(16, count, std::move(segments));
}

VolumeInfo single(const std::string& name)
{
    VolumeInfo v;
    v.name = name;
    v.startSector = 5000;
    v.sizeSectors = 4096;
    v.sectorsPerBlock = 8;
    v.diskPath = "a.img";
    return v;
}

VolumeInfo segmentRecord(const std::shared_ptr<const VolumeLayout>& layout, std::uint32_t segment,
                         std::uint32_t count, const std::string& disk, std::uint64_t start, std::uint64_t size)
{
    VolumeInfo v;
    v.name = "DATA";
    v.layout = layout;
    v.segment = segment;
    v.segmentCount = count;
    v.diskPath = disk;
    v.startSector = start;
    v.sizeSectors = size;
    v.sectorsPerBlock = 16;
    v.volumeBlocks = 6144;  // 98304 sectors: 48 MB
    return v;
}

TEST(VolumeList, SegmentsOfOneVolumeFormOneEntryWhereItsFirstRecordIsInSegmentOrder)
{
    const auto data = layoutOf(2, {0, 1});
    const auto other = layoutOf(2, {0, 1});
    VolumeTable table;
    table.append(single("SYS"));
    table.append(segmentRecord(data, 1, 2, "a.img", 90000, 32768));  // the later segment listed first
    table.append(single("VOL1"));
    table.append(segmentRecord(data, 0, 2, "b.img", 3232, 65536));
    // Same name, another volume: its own entry.
    table.append(segmentRecord(other, 0, 2, "c.img", 100, 16));
    table.append(segmentRecord(other, 1, 2, "c.img", 200, 16));

    const std::vector<VolumeEntry> entries = volumeEntries(table);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_FALSE(entries[0].spanned);
    EXPECT_EQ(entries[0].position, 0u);
    ASSERT_TRUE(entries[1].spanned);
    EXPECT_EQ(entries[1].position, 3u) << "the volume is picked through its first segment";
    ASSERT_EQ(entries[1].segments.size(), 2u);
    EXPECT_EQ(entries[1].segments[0].position, 3u);
    EXPECT_EQ(entries[1].segments[1].position, 1u);
    EXPECT_EQ(entries[2].position, 2u);
    EXPECT_EQ(entries[3].position, 4u);
    EXPECT_EQ(volumeRecords(table, 1), (std::vector<std::uint32_t>{3, 1}));
    EXPECT_EQ(volumeRecords(table, 2), (std::vector<std::uint32_t>{2}));

    EXPECT_EQ(segmentItemText(table, table[1], entries[1].segments[0]), "Segment 1 of 2: b.img, sector 3232");
    EXPECT_EQ(volumeItemSuffix(table[1]), "");

    // The whole volume: from its first segment's start to its last's end, its full size.
    const LabelledRows rows = spannedVolumeRows(table, 1);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1].second, "3232");
    EXPECT_EQ(rows[2].second, "122768");
    EXPECT_EQ(rows[3].second, "48 MB ( Aprox )");
    EXPECT_EQ(rows[4], (std::pair<std::string, std::string>{"Segments        ", "2 of 2 on b.img, a.img"}));

    const LabelledRows segment = segmentRows(table[1]);
    ASSERT_EQ(segment.size(), 5u);
    EXPECT_EQ(segment[1].second, "90000");
    EXPECT_EQ(segment[4], (std::pair<std::string, std::string>{"Segment         ", "2 of 2 on a.img"}));
    EXPECT_EQ(segmentRows(table[0]).size(), 4u) << "a volume of one segment keeps the four rows";
}

TEST(VolumeList, MissingSegmentsAreListedAndNamed)
{
    const auto data = layoutOf(3, {1});
    VolumeTable table;
    table.append(segmentRecord(data, 1, 3, "b.img", 700, 800));

    const std::vector<VolumeEntry> entries = volumeEntries(table);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].spanned) << "one segment found of three is still a volume of three";
    ASSERT_EQ(entries[0].segments.size(), 3u);
    EXPECT_FALSE(entries[0].segments[0].found);
    EXPECT_TRUE(entries[0].segments[1].found);
    EXPECT_FALSE(entries[0].segments[2].found);
    EXPECT_EQ(segmentItemText(table, table[0], entries[0].segments[2]), "Segment 3 of 3: missing");
    EXPECT_EQ(volumeItemSuffix(table[0]), " (incomplete)");
    EXPECT_EQ(spannedVolumeRows(table, 0).at(4).second,
              "1 of 3 on b.img (segment 1 of 3 missing, segment 3 of 3 missing)");
}

} // namespace
} // namespace tamsin::app
