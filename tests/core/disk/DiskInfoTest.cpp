#include "DiskWords.h"
#include "disk/DiskInfo.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

TEST(DiskInfo, GeometryPanelTextsForAClassicDisk)
{
    DiskInfo disk;
    disk.model = "ST380011A";
    disk.cylinders = 1000;
    disk.heads = 255;
    disk.sectorsPerTrack = 63;
    setSize(disk, 16'065'000ull * 512);
    EXPECT_EQ(disk.totalSectors, 16'065'000u);

    const auto rows = words::diskGeometryRows(disk);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"Model", "ST380011A"}));
    EXPECT_EQ(rows[1], (std::pair<std::string, std::string>{"Capacity", "7844 MB ( Approx )"}));
    EXPECT_EQ(rows[2].second, "1000");
    EXPECT_EQ(rows[3], (std::pair<std::string, std::string>{"Head", "255"}));
    EXPECT_EQ(rows[4], (std::pair<std::string, std::string>{"Sectors Per Track", "63"}));
    EXPECT_EQ(words::diskItemText(1), "Storage Device1");
}

TEST(DiskInfo, TotalSectorsIsTheTrueSizeNotACylinderProduct)
{
    DiskInfo disk;
    setSize(disk, (16'065'000ull + 100) * 512 + 300);  // a partial cylinder and a partial sector at the end
    setSyntheticGeometry(disk);
    EXPECT_EQ(disk.totalSectors, 16'065'100u);
    EXPECT_EQ(disk.cylinders, 1000u);
    EXPECT_EQ(disk.heads, 255u);
    EXPECT_EQ(disk.sectorsPerTrack, 63u);
}

TEST(DiskInfo, HugeDisksCapTotalSectorsTo32Bits)
{
    DiskInfo disk;
    setSize(disk, 8ull << 40);  // 8 TiB
    setSyntheticGeometry(disk);
    EXPECT_EQ(disk.totalSectors, 0xFFFFFFFFu);
    EXPECT_EQ(disk.sizeBytes, 8ull << 40);
    EXPECT_EQ(disk.cylinders, static_cast<std::uint32_t>((8ull << 40) / 512 / (255 * 63)));
}

} // namespace
} // namespace tamsin
