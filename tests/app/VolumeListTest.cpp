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

VolumeInfo record(const std::string& name, const std::shared_ptr<const VolumeLayout>& layout = nullptr,
                  std::uint32_t segment = 0, const std::string& disk = "a.img", std::uint64_t start = 100)
{
    VolumeInfo v;
    v.name = name;
    v.layout = layout;
    v.segment = segment;
    v.segmentCount = layout ? layout->segmentCount() : 1;
    v.diskPath = disk;
    v.startSector = start;
    v.sizeSectors = 32768;
    v.sectorsPerBlock = 16;
    v.volumeBlocks = 6144;
    return v;
}

TEST(VolumeList, AVolumeIsListedOnceWhereItsFirstRecordIsWithItsSegmentsInOrder)
{
    const auto data = layoutOf(2, {0, 1});
    const auto other = layoutOf(2, {0, 1});
    VolumeTable table;
    table.append(record("SYS"));
    table.append(record("DATA", data, 1, "a.img", 90000));  // its later segment comes first in the table
    table.append(record("VOL1"));
    table.append(record("DATA", data, 0, "b.img", 3232));
    table.append(record("DATA", other, 0));  // the same name, another volume
    table.append(record("DATA", other, 1));

    const std::vector<VolumeEntry> entries = volumeEntries(table);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_FALSE(entries[0].spanned);
    ASSERT_TRUE(entries[1].spanned);
    EXPECT_EQ(entries[1].position, 3u) << "the volume is picked through its first segment";
    ASSERT_EQ(entries[1].segments.size(), 2u);
    EXPECT_EQ(entries[1].segments[0].position, 3u);
    EXPECT_EQ(entries[1].segments[1].position, 1u);
    EXPECT_EQ(entries[2].position, 2u);
    EXPECT_EQ(entries[3].position, 4u);

    // The whole volume: from its first segment's start to its last's end.
    const LabelledRows rows = spannedVolumeRows(table, 1);
    EXPECT_EQ(rows.at(1).second, "3232");
    EXPECT_EQ(rows.at(2).second, "122768");
    EXPECT_EQ(rows.at(3).second, "48 MB ( Aprox )");
    EXPECT_EQ(rows.at(4).second, "2 of 2 on b.img, a.img");
}

TEST(VolumeList, EverySegmentNotFoundHasItsRow)
{
    VolumeTable table;
    table.append(record("DATA", layoutOf(3, {1}), 1, "b.img"));
    const std::vector<VolumeEntry> entries = volumeEntries(table);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].spanned) << "one segment found of three is still a volume of three";
    ASSERT_EQ(entries[0].segments.size(), 3u);
    const auto& segments = entries[0].segments;
    EXPECT_EQ((std::vector<bool>{segments[0].found, segments[1].found, segments[2].found}),
              (std::vector<bool>{false, true, false}));
    EXPECT_EQ(segmentItemText(table, table[0], entries[0].segments[2]), "Segment 3 of 3: missing");
    EXPECT_EQ(spannedVolumeRows(table, 0).at(4).second,
              "1 of 3 on b.img (segment 1 of 3 missing, segment 3 of 3 missing)");
}

} // namespace
} // namespace tamsin::app
