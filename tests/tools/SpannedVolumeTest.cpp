#include "ImageFile.h"
#include "SetReadBack.h"

#include "common/LittleEndian.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <functional>

namespace tamsin::imagebuilder {
namespace {

using testing::ImageFile;
using testing::SetReadBack;
using testing::text;

constexpr std::uint32_t kStart = 2048;
constexpr std::uint32_t kHotfix = 1024;
constexpr std::uint64_t kData = kStart + kHotfix; // logical sector 0

SegmentSpec plainVolume(std::string name, std::uint32_t sizeSectors)
{
    SegmentSpec segment;
    segment.name = std::move(name);
    segment.sizeSectors = sizeSectors;
    return segment;
}

PartitionSpec netwarePartition(int slot, std::uint32_t start, std::uint32_t size)
{
    PartitionSpec partition;
    partition.slot = slot;
    partition.startSector = start;
    partition.sizeSectors = size;
    partition.netware.emplace();
    return partition;
}

SpannedSegmentSpec segmentAt(std::size_t disk, int slot, std::optional<std::uint32_t> root, std::uint32_t size)
{
    SpannedSegmentSpec segment;
    segment.disk = disk;
    segment.slot = slot;
    segment.volumeRoot = root;
    segment.sizeSectors = size;
    return segment;
}

// DATA: 16 sectors per block, FAT and DET in blocks 1..4, then BIG.BIN of
// 13 blocks (5..17) crossing from segment 0 (blocks 0..15) into segment 1.
SpannedVolumeSpec dataVolume(std::vector<SpannedSegmentSpec> segments)
{
    SpannedVolumeSpec volume;
    volume.name = "DATA";
    volume.sectorsPerBlock = 16;
    volume.contents.emplace();
    volume.contents->nodes = {fileNode("BIG.BIN", 13 * 8192 - 100), fileNode("SMALL.TXT", 700)};
    volume.segments = std::move(segments);
    return volume;
}

// One disk, one partition: SYS (old entry) at 160, DATA segment 0 after it,
// VOL1 at 1440, a gap, DATA segment 1 at 2048.
DiskSetSpec gapSet()
{
    DiskSetSpec set;
    DiskSpec& disk = set.disks.emplace_back();
    PartitionSpec partition = netwarePartition(0, kStart, 8000);
    SegmentSpec vol1 = plainVolume("VOL1", 256);
    vol1.volumeRoot = 1440;
    partition.netware->segments = {plainVolume("SYS", 1024), vol1};
    disk.partitions = {partition};
    set.volumes = {dataVolume({segmentAt(0, 0, 1184, 256), segmentAt(0, 0, 2048, 512)})};
    return set;
}

struct Entry {
    std::string name;
    std::uint32_t lastSegment, root, sectors, blocks, first;
    int code, count, index;
};

Entry entryAt(const SectorBytes& table, std::size_t k)
{
    const std::size_t e = 32 + 60 * k;
    return {std::string(text(table, e + 1, table[e])), readU32(table, e + 16), readU32(table, e + 24),
            readU32(table, e + 28), readU32(table, e + 32), readU32(table, e + 36),
            table[e + 20], table[e + 21], table[e + 22]};
}

TEST(SpannedVolume, TwoSegmentsInOnePartitionAroundAnotherVolumeAndAGap)
{
    ImageFile image;
    const DiskSetSpec set = gapSet();
    const auto layout = writeImages(set, {image.path()});
    ASSERT_TRUE(layout) << layout.error();

    // Entries sorted by VolumeRoot: DATA's first segment lands before VOL1.
    const SectorBytes table = image.sector(kData + 32);
    ASSERT_EQ(readU32(table, 16), 4u);
    const Entry sys = entryAt(table, 0);
    const Entry first = entryAt(table, 1);
    const Entry vol1 = entryAt(table, 2);
    const Entry second = entryAt(table, 3);
    EXPECT_EQ(sys.name, "SYS");
    EXPECT_EQ(sys.code, 0) << "an old entry has no segment fields";
    EXPECT_EQ(vol1.name, "VOL1");
    EXPECT_EQ((std::vector<std::uint32_t>{vol1.root, vol1.lastSegment}), (std::vector<std::uint32_t>{1440, 0}));
    for (const Entry& data : {first, second}) {
        EXPECT_EQ(data.name, "DATA");
        EXPECT_EQ(data.lastSegment, 1u);
        EXPECT_EQ(data.code, 4) << "16 sectors per block";
        EXPECT_EQ(data.count, 2);
        EXPECT_EQ(data.blocks, 48u) << "(256 + 512) / 16 blocks in the whole volume";
    }
    EXPECT_EQ((std::vector<std::uint32_t>{first.root, first.sectors, first.first, std::uint32_t(first.index)}),
              (std::vector<std::uint32_t>{1184, 256, 0, 0}));
    EXPECT_EQ((std::vector<std::uint32_t>{second.root, second.sectors, second.first, std::uint32_t(second.index)}),
              (std::vector<std::uint32_t>{2048, 512, 16, 1}));
    EXPECT_EQ(image.sector(kData + 128), table) << "every copy holds the same table";

    const VolumeManifest& data = *layout->volume("DATA");
    ASSERT_EQ(data.segments.size(), 2u);
    EXPECT_EQ(data.segments[1].startSector, kData + 2048);
    EXPECT_EQ(data.segments[1].firstVolumeBlock, 16u);
    EXPECT_TRUE(data.complete);
    EXPECT_EQ(data.blockCount, 48u);

    // BIG.BIN crosses the boundary: blocks 5..15 in segment 0, 16 and 17 in segment 1.
    const ManifestEntry& big = *data.find("BIG.BIN");
    ASSERT_EQ(big.dataBlocks.front(), 5u);
    ASSERT_EQ(big.dataBlocks.back(), 17u);
    const std::vector<std::uint8_t> expected = expectedData(big);
    const auto before = image.bytes((kData + 1184 + 15 * 16) * kSectorBytes, 8192);
    const auto after = image.bytes((kData + 2048 + 0 * 16) * kSectorBytes, 8192);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), expected.begin() + 10 * 8192));
    EXPECT_TRUE(std::equal(after.begin(), after.end(), expected.begin() + 11 * 8192));
    EXPECT_EQ(SetReadBack(*layout, {&image}).chainData(data, big), expected);
    const auto gap = image.bytes((kData + 1440 + 256) * kSectorBytes, 352 * kSectorBytes);
    EXPECT_TRUE(std::all_of(gap.begin(), gap.end(), [](std::uint8_t b) { return b == 0; })) << "the gap stays empty";

    // Entry sectors are home sectors of the segment holding the DET block.
    EXPECT_EQ(big.entrySector, kData + 1184 + data.det[0].blocks[0] * 16);
    EXPECT_EQ(big.mirrorSector, data.blockSector(data.det[1].blocks[0]));

    // The rows in table order.
    const auto rows = layout->rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].name, "DATA");
    EXPECT_EQ(rows[3].startSector, kData + 2048);
    EXPECT_EQ(rows[3].segmentIndex, 1);
    EXPECT_EQ(rows[3].sectorsPerBlock, 16u);
    EXPECT_EQ(rows[0].startSector, kData + 160);
    EXPECT_EQ(rows[0].volumeBlocks, 128u);
}

TEST(SpannedVolume, TableIndexPlacesAnEntryAndOldEntriesMustStayWhereTheReaderPutsThem)
{
    DiskSetSpec set = gapSet();
    set.volumes[0].segments[1].tableIndex = 1;
    const auto layout = planImages(set);
    ASSERT_TRUE(layout) << layout.error();
    std::vector<std::string> order;
    for (const SegmentLayout& segment : layout->disks[0].partitions[0].segments)
        order.push_back(segment.name + std::to_string(segment.segmentIndex));
    EXPECT_EQ(order, (std::vector<std::string>{"SYS0", "DATA1", "DATA0", "VOL10"}));

    // Before SYS, which has no VolumeRoot field, the reader would move SYS.
    set.volumes[0].segments[1].tableIndex = 0;
    const auto refused = planImages(set);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("entry 1 (SYS) has no VolumeRoot field"), std::string::npos) << refused.error();
}

TEST(SpannedVolume, SegmentsOnTwoPartitionsAndTwoDisksReadBackWhole)
{
    DiskSetSpec set;
    DiskSpec first;
    PartitionSpec redirected = netwarePartition(0, kStart, 3000);
    redirected.netware->headers.emplace();
    // DATA's block b (16 sectors) is logical blocks 20 + 2b and 21 + 2b: logical
    // block 31 is the second half of block 5, BIG.BIN's first.
    HotfixRedirect redirect;
    redirect.logicalBlock = 31;
    redirected.netware->headers->redirects = {redirect};
    first.partitions = {redirected, netwarePartition(2, 10000, 0)};
    DiskSpec second;
    second.partitions = {netwarePartition(1, 63, 0)};
    set.disks = {first, second};
    set.volumes = {dataVolume({segmentAt(0, 0, std::nullopt, 128), segmentAt(0, 2, std::nullopt, 64),
                               segmentAt(1, 1, std::nullopt, 1024)})};
    ImageFile disk0;
    ImageFile disk1;
    const auto layout = writeImages(set, {disk0.path(), disk1.path()});
    ASSERT_TRUE(layout) << layout.error();

    const VolumeManifest& data = *layout->volume("DATA");
    ASSERT_EQ(data.segments.size(), 3u);
    EXPECT_EQ(data.segments[0].startSector, kData + 160) << "the default VolumeRoot is the first free sector";
    EXPECT_EQ(data.segments[1].startSector, 10000u + kHotfix + 160);
    EXPECT_EQ((std::pair{data.segments[2].disk, data.segments[2].startSector}), (std::pair{std::size_t{1}, std::uint64_t{63u + kHotfix + 160}}));
    EXPECT_EQ((std::vector<std::uint32_t>{data.segments[0].firstVolumeBlock, data.segments[1].firstVolumeBlock,
                                          data.segments[2].firstVolumeBlock}),
              (std::vector<std::uint32_t>{0, 8, 12}));
    EXPECT_EQ(layout->disks[1].totalSectors, 63u + kHotfix + 160 + 1024) << "the partition sized to fit the segment";

    const SetReadBack readBack(*layout, {&disk0, &disk1});
    for (const ManifestEntry& entry : data.entries)
        EXPECT_EQ(readBack.chainData(data, entry), expectedData(entry)) << entry.name;
    EXPECT_EQ(text(disk0.sector(kData + 31 * 8), 0, 5), "STALE") << "logical block 31 lives in its spare";

    const auto rows = layout->rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ((std::tuple{rows[2].disk, rows[2].partitionSlot, rows[2].segmentIndex, rows[2].firstVolumeBlock}),
              (std::tuple{std::size_t{1}, 1, std::uint8_t{2}, 12u}));
    const SectorBytes table = disk1.sector(63 + kHotfix + 32);
    EXPECT_EQ(entryAt(table, 0).count, 3);
    EXPECT_EQ(entryAt(table, 0).blocks, (128u + 64u + 1024u) / 16);
}

TEST(SpannedVolume, AMissingSegmentLeavesItsBlocksUnreadable)
{
    DiskSetSpec set = gapSet();
    set.volumes[0].segments[1].entry = false;
    const auto layout = planImages(set);
    ASSERT_TRUE(layout) << layout.error();
    const VolumeManifest& data = *layout->volume("DATA");
    EXPECT_FALSE(data.complete);
    EXPECT_FALSE(data.segments[1].present);
    EXPECT_EQ(layout->rows().size(), 3u) << "no row for the missing segment";
    const ManifestEntry& big = *data.find("BIG.BIN");
    ASSERT_EQ(big.unreadable.size(), 1u);
    EXPECT_EQ(big.unreadable[0].offset, 11u * 8192) << "blocks 16 and 17 come after 11 blocks";
    EXPECT_EQ(big.unreadable[0].length, big.content.length - 11u * 8192);
    const auto bytes = expectedData(big);
    EXPECT_TRUE(std::all_of(bytes.begin() + 11 * 8192, bytes.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_NE(bytes[11 * 8192 - 1], 0) << "the pattern before the missing blocks";
    // SMALL.TXT is in block 18, wholly in the missing segment.
    EXPECT_EQ(data.find("SMALL.TXT")->unreadable, (std::vector<ByteRange>{{0, 700}}));
    EXPECT_EQ(data.incompleteFiles, 2u);

    // Without the segment holding the FAT the manifest could not say what a reader sees.
    set.volumes[0].segments[1].entry = true;
    set.volumes[0].segments[0].entry = false;
    const auto refused = planImages(set);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("volumes[0]: block 1 of FAT copy 1"), std::string::npos) << refused.error();
}

TEST(SpannedVolume, RefusesImpossiblePlacementsWithAClearMessage)
{
    struct Case {
        std::string expected;
        std::function<void(DiskSetSpec&)> breakIt;
    };
    const std::vector<Case> cases = {
        {"disks[0].partitions[0]: DATA segment 0 (logical sectors 1184..1439) and VOL1 (from 1400) overlap",
         [](DiskSetSpec& s) { s.disks[0].partitions[0].netware->segments[1].volumeRoot = 1400; }},
        {"segments[1]: the size must be a positive multiple of 16 sectors, not 520",
         [](DiskSetSpec& s) { s.volumes[0].segments[1].sizeSectors = 520; }},
        {"segments[0]: VolumeRoot 1188 is not a multiple of 8",
         [](DiskSetSpec& s) { s.volumes[0].segments[0].volumeRoot = 1188; }},
        {"segments[1]: disk 0 slot 3 holds no NetWare partition", [](DiskSetSpec& s) { s.volumes[0].segments[1].slot = 3; }},
        {"segments[1]: disk 4 is not in the set", [](DiskSetSpec& s) { s.volumes[0].segments[1].disk = 4; }},
        {"volumes[0]: sectorsPerBlock must be 8, 16, 32, 64 or 128, not 24",
         [](DiskSetSpec& s) { s.volumes[0].sectorsPerBlock = 24; }},
        {"longer than 15 characters", [](DiskSetSpec& s) { s.volumes[0].name = "A_VERY_LONG_NAME"; }},
        {"table index 5 is past the 3 entries", [](DiskSetSpec& s) { s.volumes[0].segments[1].tableIndex = 5; }},
        {"the volume area ends at sector", [](DiskSetSpec& s) { s.volumes[0].segments[1].volumeRoot = 7000; }},
        {"9 volume entries, a table holds at most 8",
         [](DiskSetSpec& s) {
             for (std::uint32_t k = 0; k < 5; ++k)
                 s.volumes[0].segments.push_back(segmentAt(0, 0, 3000 + 16 * k, 16));
         }},
        {"the contents do not fit", [](DiskSetSpec& s) { s.volumes[0].segments[1].sizeSectors = 16; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DiskSetSpec set = gapSet();
        c.breakIt(set);
        const auto layout = planImages(set);
        ASSERT_FALSE(layout);
        EXPECT_NE(layout.error().find(c.expected), std::string::npos) << layout.error();
    }
}

} // namespace
} // namespace tamsin::imagebuilder
