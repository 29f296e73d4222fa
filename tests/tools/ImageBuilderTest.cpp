#include "ImageFile.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Demo.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <initializer_list>
#include <sys/stat.h>

namespace tamsin::imagebuilder {
namespace {

using testing::allZero;
using testing::ImageFile;
using testing::text;

// The u32 fields at the given offsets from `base`.
std::vector<std::uint32_t> u32s(const SectorBytes& sector, std::size_t base, std::initializer_list<std::size_t> offsets)
{
    std::vector<std::uint32_t> values;
    for (std::size_t offset : offsets)
        values.push_back(readU32(sector, base + offset));
    return values;
}

std::vector<std::uint8_t> bytes(const SectorBytes& sector, std::size_t from, std::size_t to)
{
    return {sector.begin() + static_cast<std::ptrdiff_t>(from), sector.begin() + static_cast<std::ptrdiff_t>(to)};
}

SegmentSpec segment(std::string name, std::uint32_t sizeSectors)
{
    SegmentSpec diskSpec;
    diskSpec.name = std::move(name);
    diskSpec.sizeSectors = sizeSectors;
    return diskSpec;
}

// One NetWare partition at sector 100 with a 200-sector hot-fix area:
// table area 332, data area 460.
DiskSpec smallNetWareDisk()
{
    DiskSpec disk;
    disk.totalSectors = 4096;
    PartitionSpec partition;
    partition.startSector = 100;
    partition.sizeSectors = 3000;
    NetWareLayout layout;
    layout.hotfixLength = 200;
    layout.segments = {segment("SYS", 1000), segment("VOL1", 800)};
    partition.netware = layout;
    disk.partitions.push_back(partition);
    return disk;
}

TEST(ImageBuilderMbr, EntriesGoToTheirSlotsWithLbaFieldsAndBootSignature)
{
    DiskSpec disk = smallNetWareDisk();
    PartitionSpec fat;
    fat.slot = 2;
    fat.type = 0x0C;
    fat.startSector = 3200;
    fat.sizeSectors = 0x200;
    disk.partitions.push_back(fat);

    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    ASSERT_NE(layout->inSlot(0), nullptr); // the partition without a slot takes the lowest free one
    EXPECT_EQ(layout->inSlot(0)->startSector, 100u);
    EXPECT_EQ(layout->inSlot(2)->type, 0x0C);
    EXPECT_EQ(layout->inSlot(1), nullptr);

    const SectorBytes mbr = image.sector(0);
    EXPECT_EQ(bytes(mbr, 446, 454), (std::vector<std::uint8_t>{0x00, 0xFE, 0xFF, 0xFF, 0x65, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(u32s(mbr, 446, {8, 12}), (std::vector<std::uint32_t>{100, 3000}));
    EXPECT_EQ(mbr[478 + 4], 0x0C);
    EXPECT_EQ(u32s(mbr, 478, {8, 12}), (std::vector<std::uint32_t>{3200, 0x200}));
    EXPECT_TRUE(allZero(mbr, 462, 478)) << "slot 1 stays empty";
    EXPECT_TRUE(allZero(mbr, 494, 510)) << "slot 3 stays empty";
    EXPECT_EQ(bytes(mbr, 510, 512), (std::vector<std::uint8_t>{0x55, 0xAA}));
    EXPECT_TRUE(allZero(mbr, 0, 446));

    // The FAT partition's contents stay zero.
    EXPECT_TRUE(allZero(image.sector(3200)));
}

class ImageBuilderHotfixProbe : public ::testing::TestWithParam<int> {};

TEST_P(ImageBuilderHotfixProbe, HeaderSitsAtTheProbeAndTableAreaDoesNotMove)
{
    const int probe = GetParam();
    DiskSpec disk = smallNetWareDisk();
    disk.partitions[0].netware->hotfixProbe = probe;
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();

    for (int candidate = 1; candidate <= 4; ++candidate) {
        const SectorBytes sector = image.sector(100 + 32 * candidate);
        if (candidate == probe) {
            EXPECT_EQ(text(sector, 0, 8), "HOTFIX00");
            EXPECT_EQ(readU32(sector, 24), 200u);
            EXPECT_TRUE(allZero(sector, 28));
        } else {
            EXPECT_TRUE(allZero(sector)) << "probe " << candidate;
        }
    }
    EXPECT_EQ(layout->partitions[0].hotfixHeaderSector.has_value(), probe != 0);
    EXPECT_EQ(layout->partitions[0].tableArea, 332u);
    EXPECT_EQ(layout->partitions[0].dataArea, 460u);
    EXPECT_EQ(text(image.sector(332), 0, 15), "NetWare Volumes");
}

INSTANTIATE_TEST_SUITE_P(AllProbes, ImageBuilderHotfixProbe, ::testing::Values(0, 1, 2, 3, 4));

TEST(ImageBuilderVolumeTable, CopiesAreIntactDamagedOrMissingAsChosen)
{
    DiskSpec disk = smallNetWareDisk();
    disk.partitions[0].netware->tableCopies = {TableCopy::Damaged, TableCopy::Intact, TableCopy::Missing,
                                               TableCopy::Intact};
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_EQ(layout->partitions[0].tableCopySectors, (std::array<std::uint64_t, 4>{332, 364, 396, 428}));

    const SectorBytes damaged = image.sector(332);
    const SectorBytes intact = image.sector(364);
    EXPECT_NE(text(damaged, 0, 15), "NetWare Volumes");
    EXPECT_EQ(text(damaged, 0, 14), "NetWare Volume") << "one byte changed, not a blank sector";
    EXPECT_FALSE(allZero(damaged, 16));
    EXPECT_NE(damaged, intact);
    EXPECT_TRUE(allZero(image.sector(396)));
    EXPECT_EQ(text(intact, 0, 15), "NetWare Volumes");
    EXPECT_EQ(image.sector(428), intact);
    // Nothing else in the table area.
    EXPECT_TRUE(allZero(image.sector(333)));
    EXPECT_TRUE(allZero(image.sector(459)));
}

TEST(ImageBuilderVolumeTable, EntriesHoldEveryFieldAtItsOffset)
{
    DiskSpec disk = smallNetWareDisk();
    SegmentSpec& sys = disk.partitions[0].netware->segments[0];
    sys.sectorsPerBlock = 16;
    sys.firstFatBlock = 0x11;
    sys.secondFatBlock = 0x22;
    sys.firstDetBlock = 0x33;
    sys.secondDetBlock = 0x44;
    ImageFile image;
    ASSERT_TRUE(writeImage(disk, image.path()));

    const SectorBytes table = image.sector(332);
    EXPECT_EQ(readU32(table, 16), 2u);
    EXPECT_TRUE(allZero(table, 15, 16) && allZero(table, 20, 32));

    EXPECT_EQ(table[32], 3);
    EXPECT_EQ(text(table, 33, 3), "SYS");
    EXPECT_TRUE(allZero(table, 36, 60)) << "the name is neither terminated nor padded";
    EXPECT_EQ(u32s(table, 32, {28, 32, 36, 40, 44, 48, 52, 56}),
              (std::vector<std::uint32_t>{1000, 1000 / 16, 0, 0x11, 0x22, 0x33, 0x44, 0}));

    // Default blocks of 8 sectors and default FAT and DET block numbers.
    EXPECT_EQ(table[92], 4);
    EXPECT_EQ(text(table, 93, 4), "VOL1");
    EXPECT_EQ(u32s(table, 92, {28, 32, 40, 44, 48, 52}), (std::vector<std::uint32_t>{800, 100, 1, 2, 3, 4}));
    EXPECT_TRUE(allZero(table, 152));
}

TEST(ImageBuilderVolumeTable, SegmentsLieEndToEndFromTheDataArea)
{
    DiskSpec disk = smallNetWareDisk();
    disk.partitions[0].netware->segments.push_back(segment("VOL2", 50));
    const auto layout = planImage(disk);
    ASSERT_TRUE(layout) << layout.error();
    const auto& segments = layout->partitions[0].segments;
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[2].startSector, 2260u);
    EXPECT_EQ(segmentStartSectors(100, *disk.partitions[0].netware),
              (std::vector<std::uint64_t>{460, 1460, 2260}));
}

TEST(ImageBuilderVolumeTable, OverridesWriteTheGivenCountsOverRealEntries)
{
    SegmentSpec longName = segment("DATA", 64);
    longName.nameLengthOverride = 40;
    SegmentSpec noBlocks = segment("SYS", 64);
    noBlocks.blockCount = 0;
    const std::vector<SegmentSpec> segments = {longName, noBlocks};

    const SectorBytes nine = encodeVolumeTable(segments, 9);
    EXPECT_EQ(readU32(nine, 16), 9u);
    EXPECT_EQ(nine[32], 40);
    EXPECT_EQ(text(nine, 33, 4), "DATA");
    EXPECT_EQ(readU32(nine, 32 + 28), 64u) << "the length override leaves the fields behind the name alone";
    EXPECT_EQ(text(nine, 93, 3), "SYS");
    EXPECT_EQ(readU32(nine, 92 + 32), 0u) << "an explicit block count of 0 is kept";

    const SectorBytes zero = encodeVolumeTable(segments, 0);
    EXPECT_EQ(readU32(zero, 16), 0u);
    EXPECT_EQ(text(zero, 93, 3), "SYS");
}

TEST(ImageBuilderFile, IsSparseAndFullSizedAndReplacesOldContents)
{
    ImageFile image;
    DiskSpec junk;
    junk.totalSectors = 8;
    addRawFill(junk, 5, 0xEE, 512);
    ASSERT_TRUE(writeImage(junk, image.path()));

    DiskSpec disk = smallNetWareDisk();
    disk.totalSectors = 64 * 2048;
    ASSERT_TRUE(writeImage(disk, image.path()));

    struct stat info {};
    ASSERT_EQ(::stat(image.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 64 * 1024 * 1024);
    EXPECT_LT(info.st_blocks * 512, 1024 * 1024) << "only the data sectors are allocated";
    EXPECT_TRUE(allZero(image.sector(5)));
}

TEST(ImageBuilderPlanted, StandaloneTablesDetMarkersAndRawBytesNeedNoMbr)
{
    DiskSpec disk;
    disk.totalSectors = 1024;
    disk.bootSignature = false;
    addVolumeTable(disk, 777, {segment("SYS", 4000)}, 3);
    addDetMarker(disk, 900);
    addRawBytes(disk, 1000, {0x01, 0x02, 0x03, 0x04}, 510);
    addRawBytes(disk, 777, {'X'}, 14); // raw writes land last, over everything else

    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_TRUE(layout->partitions.empty());
    EXPECT_TRUE(allZero(image.sector(0)));

    const SectorBytes table = image.sector(777);
    EXPECT_EQ(text(table, 0, 15), "NetWare VolumeX");
    EXPECT_EQ(readU32(table, 16), 3u);
    EXPECT_EQ(readU32(table, 32 + 28), 4000u);

    const SectorBytes det = image.sector(900);
    EXPECT_EQ(bytes(det, 0, 3), (std::vector<std::uint8_t>{0xFD, 0xFF, 0xFF}));
    EXPECT_TRUE(allZero(det, 3));

    EXPECT_EQ(bytes(image.sector(1000), 510, 512), (std::vector<std::uint8_t>{0x01, 0x02}));
    EXPECT_EQ(bytes(image.sector(1001), 0, 2), (std::vector<std::uint8_t>{0x03, 0x04}));
}

TEST(ImageBuilderValidation, AcceptsDescriptionsThatExactlyFit)
{
    DiskSpec disk = smallNetWareDisk();
    NetWareLayout& netware = *disk.partitions[0].netware;
    netware.hotfixLength = 128;
    netware.segments.clear();
    for (int k = 0; k < 8; ++k)
        netware.segments.push_back(segment("V" + std::to_string(k), 100));
    netware.segments.back().sizeSectors = 3000 - (32 + 128 + 128) - 700;
    netware.segments[0].name = std::string(27, 'N');
    disk.partitions[0].startSector = 4096 - 3000;
    addRawBytes(disk, 4095, std::vector<std::uint8_t>(512, 1));
    const auto layout = planImage(disk);
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_EQ(layout->partitions[0].segments.back().startSector + layout->partitions[0].segments.back().sizeSectors,
              4096u);
}

TEST(ImageBuilderValidation, RejectsBrokenDescriptionsWithoutWritingAFile)
{
    struct Case {
        const char* expected;
        std::function<void(DiskSpec&)> breakIt;
    };
    const std::vector<Case> cases = {
        {"at least one sector",
         [](DiskSpec& d) {
             d = DiskSpec{};
             d.bootSignature = false;
         }},
        {"partitions[0]: ends at sector 3100, past the disk's 3000",
         [](DiskSpec& d) { d.totalSectors = 3000; }},
        {"partitions[0]: the volume area ends at sector 2260, past the partition's end at 2259",
         [](DiskSpec& d) { d.partitions[0].sizeSectors = 2159; }},
        {"5 partitions given",
         [](DiskSpec& d) { d.partitions.resize(5, PartitionSpec{-1, 0x83, 10, 1, std::nullopt}); }},
        {"partitions[1]: slot 0 is already taken",
         [](DiskSpec& d) {
             d.partitions[0].slot = 0;
             d.partitions.push_back({0, 0x83, 10, 1, std::nullopt});
         }},
        {"9 volume entries", [](DiskSpec& d) { d.partitions[0].netware->segments.resize(9, segment("X", 1)); }},
        {"hot-fix length 127", [](DiskSpec& d) { d.partitions[0].netware->hotfixLength = 127; }},
        {"hot-fix probe 5", [](DiskSpec& d) { d.partitions[0].netware->hotfixProbe = 5; }},
        {"volumes[1]: name", [](DiskSpec& d) { d.partitions[0].netware->segments[1].name = std::string(28, 'L'); }},
        {"not both",
         [](DiskSpec& d) {
             d.partitions[0].netware->segments[0].blockCount = 10;
             d.partitions[0].netware->segments[0].sectorsPerBlock = 8;
         }},
        {"volumeTables[0]: sector 4096", [](DiskSpec& d) { addVolumeTable(d, 4096, {}); }},
        {"raw[0]: 2 bytes at sector 4095 offset 511", [](DiskSpec& d) { addRawBytes(d, 4095, {1, 2}, 511); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DiskSpec disk = smallNetWareDisk();
        c.breakIt(disk);
        ImageFile image;
        const auto layout = writeImage(disk, image.path());
        ASSERT_FALSE(layout);
        EXPECT_NE(layout.error().find(c.expected), std::string::npos) << layout.error();
        EXPECT_FALSE(std::filesystem::exists(image.path()));
    }
}

TEST(ImageBuilderDemo, HasAnEmptyFatPartitionAndTwoNetWareVolumes)
{
    const DiskSpec demo = demoDiskSpec();
    ImageFile image;
    const auto layout = writeImage(demo, image.path());
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_EQ(layout->totalSectors, 256u * 2048);

    const PartitionLayout* fat = layout->inSlot(0);
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->type, 0x0C);
    EXPECT_EQ(u32s(image.sector(0), 446, {8, 12}), (std::vector<std::uint32_t>{2048, 32 * 2048}));
    EXPECT_FALSE(fat->netware);

    const PartitionLayout* netware = layout->inSlot(1);
    ASSERT_NE(netware, nullptr);
    ASSERT_TRUE(netware->netware);
    EXPECT_GE(netware->startSector, fat->startSector + fat->sizeSectors);
    EXPECT_EQ(netware->hotfixHeaderSector, netware->startSector + 32);
    EXPECT_EQ(text(image.sector(netware->startSector + 32), 0, 8), "HOTFIX00");
    const SectorBytes table = image.sector(netware->tableArea);
    EXPECT_EQ(text(table, 0, 15), "NetWare Volumes");
    EXPECT_EQ(readU32(table, 16), 2u);
    EXPECT_EQ(text(table, 33, 3), "SYS");
    EXPECT_EQ(text(table, 93, 4), "VOL1");
    EXPECT_TRUE(allZero(image.sector(fat->startSector)));

    struct stat info {};
    ASSERT_EQ(::stat(image.path().c_str(), &info), 0);
    EXPECT_LT(info.st_blocks * 512, 4 * 1024 * 1024) << "small on disk";
}

TEST(ImageBuilderDemo, SysHoldsARealisticTree)
{
    const auto layout = planImage(demoDiskSpec());
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest* sys = layout->volume("SYS");
    ASSERT_NE(sys, nullptr);
    ASSERT_NE(layout->volume("VOL1"), nullptr);
    EXPECT_GE(layout->volume("VOL1")->entries.size(), 10u);

    // Path of an entry through its parents' names.
    auto pathOf = [&](const ManifestEntry& entry) {
        std::string path = entry.name;
        for (std::uint32_t parent = entry.parentId; parent != 0;) {
            const auto folder = std::find_if(sys->entries.begin(), sys->entries.end(),
                                             [&](const ManifestEntry& e) { return e.folder && e.ownId == parent; });
            if (folder == sys->entries.end())
                return "?/" + path;
            path.insert(0, folder->name + "/");
            parent = folder->parentId;
        }
        return path;
    };
    std::map<std::string, const ManifestEntry*> byPath;
    for (const ManifestEntry& entry : sys->entries)
        byPath[pathOf(entry)] = &entry;
    for (const char* path : {"PUBLIC/README.TXT", "LOGIN/LOGIN.EXE", "SYSTEM/AUTOEXEC.NCF",
                             "USERS/ALICE/Quarterly Report 1998.doc", "USERS/BOB/Meeting Minutes March.doc"})
        EXPECT_TRUE(byPath.contains(path)) << path;

    EXPECT_TRUE(byPath.at("SYSTEM/AUTOEXEC.BAK")->deleted());
    EXPECT_TRUE(byPath.at("USERS/CAROL")->deleted());
    EXPECT_TRUE(byPath.at("USERS/CAROL/Resignation Letter.doc")->deleted());
    EXPECT_FALSE(byPath.at("USERS/ALICE")->deleted());
    EXPECT_TRUE(byPath.at("USERS/ALICE/Customer Address List.txt")->compressed());
    EXPECT_NE(byPath.at("USERS/ALICE/NOTES.TXT")->fragment, 0u) << "a suballocated tail";
    EXPECT_GE(byPath.at("USERS/BOB/TODO.TXT")->firstBlock, 0x80000000u) << "fragment-only";
    const auto readme = expectedData(*byPath.at("PUBLIC/README.TXT"));
    EXPECT_EQ(std::string(readme.begin(), readme.begin() + 21), "Workstation utilities");
}

} // namespace
} // namespace tamsin::imagebuilder
