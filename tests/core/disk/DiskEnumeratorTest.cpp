#include "disk/DiskEnumerator.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

void writeText(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A fake /sys/block: an ATA disk, a USB stick (its entry resolves through a
// usb bus), a card reader without a card, an NVMe disk, and devices that are
// never listed.
class DiskEnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sources.sysBlock = dir / "sys" / "block";
        sources.devDir = dir / "dev";
        fs::create_directories(sources.sysBlock);
        fs::create_directories(sources.devDir);

        addDevice("sda", "1000", "WDC WD800JB-00JJ  \n");
        addDevice("sdc", "0", "Card  Reader\n");
        addDevice("nvme0n1", "2000", "Samsung SSD 970\n");
        addDevice("ram0", "4096", "");
        addDevice("zram0", "4096", "");
        addDevice("loop0", "4096", "");
        addDevice("loop1", "4096", "");
        writeText(sources.sysBlock / "loop1" / "loop" / "backing_file", "/srv/disk.img\n");
        addDevice("mmcblk0boot0", "4096", "");

        const fs::path usbTarget = dir / "sys" / "devices" / "pci0000:00" / "usb1" / "1-1" / "host6" / "block" / "sdb";
        writeText(usbTarget / "size", "3000\n");
        writeText(usbTarget / "device" / "model", "Flash Disk\n");
        fs::create_directory_symlink(usbTarget, sources.sysBlock / "sdb");
    }

    void addDevice(const std::string& name, const std::string& size, const std::string& model)
    {
        writeText(sources.sysBlock / name / "size", size + "\n");
        if (!model.empty())
            writeText(sources.sysBlock / name / "device" / "model", model);
    }

    test::TempDir dir;
    DiskSources sources;
};

TEST_F(DiskEnumeratorTest, ListsDisksWithMediaFirstAndRecordsTheReaderWithoutCountingIt)
{
    const EnumerationResult result = enumerateDisks({}, sources);
    EXPECT_TRUE(result.errors.empty());
    const DiskTable& table = result.table;
    ASSERT_EQ(table.diskCount, 4);
    ASSERT_EQ(table.entries.size(), 5u);

    EXPECT_EQ(table.entries[0].path, (sources.devDir / "sda").string());
    EXPECT_EQ(table.entries[0].model, "WDC WD800JB-00JJ");
    EXPECT_EQ(table.entries[0].totalSectors, 1000u);
    EXPECT_EQ(table.entries[1].path, (sources.devDir / "sdb").string());
    EXPECT_EQ(table.entries[1].model, "USB Device");
    EXPECT_EQ(table.entries[2].path, (sources.devDir / "loop1").string());
    EXPECT_EQ(table.entries[3].path, (sources.devDir / "nvme0n1").string());
    EXPECT_EQ(table.entries[3].model, "Samsung SSD 970");

    const DiskInfo& reader = table.entries[4];
    EXPECT_EQ(reader.path, (sources.devDir / "sdc").string());
    EXPECT_EQ(reader.model, "Media missing or not inserted");
    EXPECT_FALSE(reader.mediaPresent);
    EXPECT_EQ(reader.cylinders, 0u);
    EXPECT_EQ(reader.totalSectors, 0u);
    EXPECT_EQ(table.disk(4), nullptr);

    // A device that does not answer geometry queries gets 255 x 63.
    EXPECT_EQ(table.entries[0].heads, 255u);
    EXPECT_EQ(table.entries[0].sectorsPerTrack, 63u);
}

TEST_F(DiskEnumeratorTest, ImagesFollowTheDevicesAndBadOnesAreReported)
{
    const fs::path image = dir / "server.img";
    std::ofstream(image, std::ios::binary) << std::string(512 * 100 + 17, '\0');
    const fs::path empty = dir / "empty.img";
    std::ofstream(empty, std::ios::binary).flush();

    // A FIFO (or a character device) would block the open for ever: refused at once.
    const fs::path fifo = dir / "pipe.img";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const EnumerationResult result = enumerateDisks(
        {image.string(), (dir / "gone.img").string(), empty.string(), fifo.string(), "/dev/null"}, sources);
    ASSERT_EQ(result.table.diskCount, 5);
    const DiskInfo& disk = result.table.entries[4];
    EXPECT_EQ(disk.path, image.string());
    EXPECT_EQ(disk.model, "server.img");
    EXPECT_TRUE(disk.isImage);
    EXPECT_EQ(disk.totalSectors, 100u);
    EXPECT_EQ(disk.sizeBytes, 512u * 100 + 17);

    ASSERT_EQ(result.errors.size(), 4u);
    EXPECT_NE(result.errors[0].find("gone.img: No such file or directory"), std::string::npos);
    EXPECT_NE(result.errors[1].find("empty.img"), std::string::npos);
    EXPECT_EQ(result.errors[2], "cannot open " + fifo.string()
                                    + ": not a disk: only block devices and regular image files can be read");
    EXPECT_NE(result.errors[3].find("/dev/null: not a disk"), std::string::npos);
}

TEST_F(DiskEnumeratorTest, NoDeviceSourceListsOnlyImages)
{
    sources.sysBlock.clear();
    const fs::path image = dir / "a.img";
    std::ofstream(image, std::ios::binary) << std::string(512 * 4, '\0');
    const EnumerationResult result = enumerateDisks({image.string()}, sources);
    ASSERT_EQ(result.table.diskCount, 1);
    EXPECT_EQ(result.table.entries[0].path, image.string());
}

TEST(DiskNames, OnlyWholeDisksAreListed)
{
    for (const char* name : {"sda", "sdaa", "vdb", "hdc", "xvda", "nvme0n1", "nvme12n3", "mmcblk0", "loop7"})
        EXPECT_TRUE(isListedDiskName(name)) << name;
    for (const char* name : {"sda1", "nvme0n1p2", "nvme0", "mmcblk0p1", "mmcblk0boot1", "mmcblk0rpmb", "ram0",
                             "zram0", "sr0", "dm-0", "md0", "loop", "sd"})
        EXPECT_FALSE(isListedDiskName(name)) << name;
}

} // namespace
} // namespace tamsin
