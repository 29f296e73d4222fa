#include "volumes/VolumeTableReader.h"

#include "disk/FileDevice.h"
#include "disk/SectorReader.h"
#include "imagebuilder/ImageBuilder.h"

#include "FaultyDevice.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

ib::SegmentSpec segment(std::string name, std::uint32_t sizeSectors, std::uint32_t sectorsPerBlock = 8)
{
    ib::SegmentSpec s;
    s.name = std::move(name);
    s.sizeSectors = sizeSectors;
    s.sectorsPerBlock = sectorsPerBlock;
    s.firstFatBlock = 10;
    s.secondFatBlock = 11;
    s.firstDetBlock = 12;
    s.secondDetBlock = 13;
    return s;
}

ib::PartitionSpec netwarePartition(std::uint32_t start, std::uint32_t size, std::vector<ib::SegmentSpec> segments)
{
    ib::PartitionSpec p;
    p.startSector = start;
    p.sizeSectors = size;
    p.netware.emplace();
    p.netware->segments = std::move(segments);
    return p;
}

// Writes the image and opens it through a device that can fail sectors.
class VolumeTableTest : public ::testing::Test {
protected:
    ib::BuiltLayout build(const ib::DiskSpec& diskSpec)
    {
        const auto path = dir / "disk.img";
        auto layout = ib::writeImage(diskSpec, path);
        EXPECT_TRUE(layout.ok()) << (layout.ok() ? "" : layout.error());
        auto file = FileDevice::open(path.string());
        auto faulty = std::make_unique<test::FaultyDevice>(std::move(file));
        device = faulty.get();
        reader.attach(std::move(faulty));
        return layout.ok() ? *layout : ib::BuiltLayout{};
    }

    test::TempDir dir;
    SectorReader reader;
    test::FaultyDevice* device = nullptr;
    VolumeTable table;
};

TEST_F(VolumeTableTest, SegmentsLieEndToEndFromTheDataArea)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    diskSpec.partitions.push_back(
        netwarePartition(100, 15000, {segment("SYS", 1000), segment("VOL1", 2000, 16), segment("DATA", 500, 4)}));
    const auto layout = build(diskSpec);

    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    ASSERT_EQ(table.volumeCount(), 3u);
    const std::uint64_t d = layout.partitions[0].dataArea;
    EXPECT_EQ(d, 100u + 32 + 1024 + 128);
    EXPECT_EQ(table[0].startSector, d);
    EXPECT_EQ(table[1].startSector, d + 1000);
    EXPECT_EQ(table[2].startSector, d + 3000);

    EXPECT_EQ(table[1].name, "VOL1");
    EXPECT_EQ(table[1].sizeSectors, 2000u);
    EXPECT_EQ(table[1].blockCount, 125u);
    EXPECT_EQ(table[1].sectorsPerBlock, 16u);
    EXPECT_EQ(table[1].firstFatBlock, 10u);
    EXPECT_EQ(table[1].secondFatBlock, 11u);
    EXPECT_EQ(table[1].firstDetBlock, 12u);
    EXPECT_EQ(table[1].secondDetBlock, 13u);
}

TEST_F(VolumeTableTest, HotfixFoundAtTheThirdProbeStillPlacesTheAreaFromThePartitionStart)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    auto p = netwarePartition(2048, 15000, {segment("SYS", 4000)});
    p.netware->hotfixProbe = 3;  // partition sector 96
    p.netware->hotfixLength = 700;
    diskSpec.partitions.push_back(p);
    build(diskSpec);

    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    EXPECT_EQ(table[0].startSector, 2048u + 32 + 700 + 128);
    EXPECT_EQ(device->attempts(2048 + 32), 1u);
    EXPECT_EQ(device->attempts(2048 + 64), 1u);
}

TEST_F(VolumeTableTest, LaterTableCopyIsUsedWhenEarlierOnesAreDamagedOrUnreadable)
{
    for (auto firstCopy : {ib::TableCopy::Damaged, ib::TableCopy::Missing}) {
        ib::DiskSpec diskSpec;
        diskSpec.totalSectors = 20000;
        auto p = netwarePartition(64, 15000, {segment("SYS", 4000)});
        p.netware->tableCopies = {firstCopy, ib::TableCopy::Intact, ib::TableCopy::Intact, ib::TableCopy::Intact};
        diskSpec.partitions.push_back(p);
        const auto layout = build(diskSpec);

        ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
        ASSERT_EQ(table.volumeCount(), 1u);
        EXPECT_EQ(table[0].startSector, layout.partitions[0].tableArea + 128);
    }

    // An unreadable first and second copy: the third is read; a failed probe
    // never matches on stale buffer contents.
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    diskSpec.partitions.push_back(netwarePartition(64, 15000, {segment("SYS", 4000)}));
    const auto layout = build(diskSpec);
    device->markBad(layout.partitions[0].tableArea);
    device->markBad(layout.partitions[0].tableArea + 32);
    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    EXPECT_EQ(table[0].startSector, layout.partitions[0].tableArea + 128);
    EXPECT_EQ(device->attempts(layout.partitions[0].tableArea + 64), 1u);
}

TEST_F(VolumeTableTest, EntryCountsOutsideOneToEightGiveNoRecord)
{
    for (std::uint32_t count : {0u, 9u}) {
        ib::DiskSpec diskSpec;
        diskSpec.totalSectors = 20000;
        auto p = netwarePartition(64, 15000, {segment("SYS", 4000)});
        p.netware->entryCountOverride = count;
        diskSpec.partitions.push_back(p);
        build(diskSpec);
        EXPECT_EQ(readVolumeTables(reader, table), VolumeTableStatus::NoVolumeFound) << count;
        EXPECT_EQ(table.volumeCount(), 0u);
    }
}

TEST_F(VolumeTableTest, TwoNetWarePartitionsListInPartitionOrderSkippingOtherTypes)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 60000;
    ib::PartitionSpec fat;
    fat.type = 0x0C;
    fat.slot = 0;
    fat.startSector = 63;
    fat.sizeSectors = 2000;
    diskSpec.partitions.push_back(fat);
    auto second = netwarePartition(30000, 20000, {segment("VOL2", 3000)});
    second.slot = 3;
    diskSpec.partitions.push_back(second);
    auto first = netwarePartition(3000, 20000, {segment("SYS", 3000), segment("VOL1", 3000)});
    first.slot = 1;
    diskSpec.partitions.push_back(first);
    build(diskSpec);

    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    ASSERT_EQ(table.volumeCount(), 3u);
    EXPECT_EQ(table[0].name, "SYS");
    EXPECT_EQ(table[1].name, "VOL1");
    EXPECT_EQ(table[2].name, "VOL2");
    EXPECT_EQ(table[2].startSector, 30000u + 32 + 1024 + 128);
}

TEST_F(VolumeTableTest, PartitionWithoutHotfixOrTableContributesNothingButOthersStillCount)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 60000;
    auto lost = netwarePartition(100, 20000, {segment("LOST", 3000)});
    lost.netware->hotfixProbe = 0;
    diskSpec.partitions.push_back(lost);
    auto noTable = netwarePartition(20100, 15000, {segment("GONE", 3000)});
    noTable.netware->tableCopies.fill(ib::TableCopy::Missing);
    diskSpec.partitions.push_back(noTable);
    diskSpec.partitions.push_back(netwarePartition(40000, 15000, {segment("OK", 3000)}));
    build(diskSpec);

    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    ASSERT_EQ(table.volumeCount(), 1u);
    EXPECT_EQ(table[0].name, "OK");

    diskSpec.partitions.pop_back();
    build(diskSpec);
    EXPECT_EQ(readVolumeTables(reader, table), VolumeTableStatus::NoVolumeFound);
}

TEST_F(VolumeTableTest, MissingOrUnreadableBootSignatureEndsQuietly)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    diskSpec.bootSignature = false;
    diskSpec.partitions.push_back(netwarePartition(64, 15000, {segment("SYS", 4000)}));
    build(diskSpec);
    EXPECT_EQ(readVolumeTables(reader, table), VolumeTableStatus::NoPartitionTable);

    diskSpec.bootSignature = true;
    build(diskSpec);
    device->markBad(0);
    EXPECT_EQ(readVolumeTables(reader, table), VolumeTableStatus::NoPartitionTable);
    EXPECT_EQ(table.volumeCount(), 0u);
}

TEST_F(VolumeTableTest, ZeroBlockEntriesAreSkippedAndLongNamesClamped)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 40000;
    auto empty = segment("EMPTY", 1000);
    empty.sectorsPerBlock.reset();
    empty.blockCount = 0;
    auto longName = segment("ABCDEFGHIJKLMNOPQRSTUVWXYZ0", 2000);
    longName.nameLengthOverride = 40;
    diskSpec.partitions.push_back(netwarePartition(64, 30000, {empty, longName}));
    const auto layout = build(diskSpec);

    ASSERT_EQ(readVolumeTables(reader, table), VolumeTableStatus::VolumesFound);
    ASSERT_EQ(table.volumeCount(), 1u);
    EXPECT_EQ(table[0].name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0");
    // The skipped entry still occupies its place in the data area.
    EXPECT_EQ(table[0].startSector, layout.partitions[0].dataArea + 1000);
}

TEST(VolumeProperties, StartEndAndSizeValues)
{
    VolumeInfo v;
    v.startSector = 1'000'000;
    v.sizeSectors = 4'194'304;
    const auto rows = volumeProperties(v);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].property, VolumeProperty::Type);
    EXPECT_EQ(rows[1].property, VolumeProperty::Start);
    EXPECT_EQ(rows[1].value, "1000000");
    EXPECT_EQ(rows[2].property, VolumeProperty::End);
    EXPECT_EQ(rows[2].value, "5194304");
    EXPECT_EQ(rows[3].property, VolumeProperty::Size);
    EXPECT_EQ(rows[3].value, "2048 MB ( Aprox )");

    // Past 2 TiB the values stay whole instead of wrapping at 32 bits.
    v.startSector = 0xFFFFFF00ull;
    v.sizeSectors = 0x200;
    EXPECT_EQ(volumeProperties(v)[2].value, "4294967552");
}

TEST(VolumeTableCapacity, AppendStopsAt256Records)
{
    VolumeTable table;
    for (int i = 0; i < 256; ++i)
        EXPECT_TRUE(table.append(VolumeInfo{}));
    EXPECT_FALSE(table.append(VolumeInfo{}));
    EXPECT_EQ(table.volumeCount(), 256u);
}

} // namespace
} // namespace tamsin
