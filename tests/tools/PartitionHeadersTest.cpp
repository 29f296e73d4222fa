#include "ImageFile.h"
#include "SetReadBack.h"

#include "common/LittleEndian.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace tamsin::imagebuilder {
namespace {

using testing::allZero;
using testing::ImageFile;
using testing::SetReadBack;
using testing::text;

constexpr std::uint32_t kStart = 2048;

// One NetWare partition at 2048 of 20000 sectors with full headers and a
// 1024-sector hot-fix area: data area at 3072, T = 18976. SYS holds a file
// of 30 KiB and starts at logical sector 160 (disk sector 3232).
DiskSpec headerDisk()
{
    DiskSpec disk;
    PartitionSpec partition;
    partition.slot = 1;
    partition.startSector = kStart;
    partition.sizeSectors = 20000;
    partition.netware.emplace();
    partition.netware->headers.emplace();
    SegmentSpec sys;
    sys.name = "SYS";
    sys.netwareFields = true;
    sys.contents.emplace();
    sys.contents->nodes = {fileNode("REPORT.DOC", 30 * 1024)};
    partition.netware->segments = {sys};
    disk.partitions = {partition};
    return disk;
}

HotfixRedirect redirect(std::uint32_t logicalBlock, std::optional<std::uint32_t> spare = std::nullopt,
                        std::uint8_t badBits = 0)
{
    HotfixRedirect result;
    result.logicalBlock = logicalBlock;
    result.spare = spare;
    result.badBits = badBits;
    return result;
}

std::vector<std::uint32_t> tableEntries(const ImageFile& image, std::uint64_t sector, std::uint32_t count)
{
    const auto bytes = image.bytes(sector * kSectorBytes, std::size_t{count} * 4);
    std::vector<std::uint32_t> entries;
    for (std::uint32_t i = 0; i < count; ++i)
        entries.push_back(readU32(bytes, std::size_t{i} * 4));
    return entries;
}

TEST(PartitionHeaders, FourHotfixAndMirrorCopiesDescribeThePartition)
{
    ImageFile image;
    const auto layout = writeImage(headerDisk(), image.path());
    ASSERT_TRUE(layout) << layout.error();
    const HeaderLayout& headers = *layout->partitions[0].headers;
    EXPECT_EQ(headers.partitionId, defaultPartitionId(0, 1));
    EXPECT_EQ(headers.dataSectors, 20000u - 1024u);
    EXPECT_EQ(headers.validCopy, 0);

    for (int copy = 0; copy < 4; ++copy) {
        SCOPED_TRACE(copy);
        const SectorBytes hotfix = image.sector(kStart + 32 * (copy + 1));
        EXPECT_EQ(text(hotfix, 0, 8), "HOTFIX00");
        EXPECT_EQ(readU32(hotfix, 8), headers.partitionId);
        EXPECT_EQ(readU32(hotfix, 12), 0x00010000u);
        EXPECT_EQ(readU32(hotfix, 16), 0x0703F808u);
        EXPECT_EQ(readU32(hotfix, 20), 18976u);
        EXPECT_EQ(readU32(hotfix, 24), 1024u);
        EXPECT_EQ((std::vector<std::uint32_t>{readU32(hotfix, 28), readU32(hotfix, 32), readU32(hotfix, 36),
                                              readU32(hotfix, 40)}),
                  (std::vector<std::uint32_t>{160, 224, 288, 352}));
        EXPECT_TRUE(allZero(hotfix, 44)) << "groups 1..29 are not in use";

        const SectorBytes mirror = image.sector(kStart + 32 * (copy + 1) + 1);
        EXPECT_EQ(text(mirror, 0, 8), "MIRROR00");
        EXPECT_EQ(readU32(mirror, 8), headers.partitionId);
        EXPECT_EQ(readU32(mirror, 12), 0x01860000u);
        EXPECT_EQ(readU32(mirror, 16), 0x0703F808u);
        EXPECT_EQ(readU32(mirror, 20), 0x00010000u);
        EXPECT_EQ(readU32(mirror, 24), 18976u);
        EXPECT_EQ(readU32(mirror, 28), defaultMirrorGroupId(0, 1));
        EXPECT_EQ(readU32(mirror, 32), headers.partitionId) << "an unmirrored partition lists only itself";
        EXPECT_TRUE(allZero(mirror, 36));
    }

    // 128 hot-fix blocks: 0..19 and the four table blocks reserved, the rest free.
    for (std::uint64_t table : {160u, 224u, 288u, 352u}) {
        const auto entries = tableEntries(image, kStart + table, 1024);
        for (std::uint32_t i = 0; i < 1024; ++i) {
            const bool reserved = i < 20 || i == 20 || i == 28 || i == 36 || i == 44;
            ASSERT_EQ(entries[i], reserved && i < 128 ? 0xFFFFFFFFu : 0u) << "table " << table << " entry " << i;
        }
    }
    EXPECT_EQ(headers.reservedBlocks, 24u);
    EXPECT_EQ(headers.freeSpares, 128u - 24u);

    // The volume table is where it always was, now with the real entry fields.
    const SectorBytes table = image.sector(kStart + 1024 + 32);
    EXPECT_EQ(text(table, 0, 15), "NetWare Volumes");
    const std::size_t e = 32;
    EXPECT_EQ(table[e], 3);
    EXPECT_EQ(text(table, e + 1, 3), "SYS");
    EXPECT_EQ(readU32(table, e + 16), 0u) << "last segment";
    EXPECT_EQ((std::vector<int>{table[e + 20], table[e + 21], table[e + 22], table[e + 23]}),
              (std::vector<int>{3, 1, 0, 0}));
    EXPECT_EQ(readU32(table, e + 24), 160u) << "VolumeRoot";
    EXPECT_EQ(readU32(table, e + 36), 0u);
    EXPECT_EQ(layout->partitions[0].segments[0].startSector, kStart + 1024u + 160u);
}

TEST(PartitionHeaders, DefaultIdsDifferPerPartitionAndDiskUnlessGiven)
{
    DiskSpec disk = headerDisk();
    PartitionSpec second = disk.partitions[0];
    second.slot = 3;
    second.startSector = 30000;
    second.netware->segments.clear();
    disk.partitions.push_back(second);
    const auto layout = planImage(disk);
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_NE(layout->partitions[0].headers->partitionId, layout->partitions[1].headers->partitionId);
    EXPECT_NE(layout->partitions[0].headers->mirrorGroupId, layout->partitions[1].headers->mirrorGroupId);
    EXPECT_NE(defaultPartitionId(0, 1), defaultPartitionId(1, 1));

    disk.partitions[1].netware->headers->partitionId = 0x1234;
    disk.partitions[1].netware->headers->mirrorGroupId = 0x5678;
    const auto given = planImage(disk);
    ASSERT_TRUE(given) << given.error();
    EXPECT_EQ(given->partitions[1].headers->partitionId, 0x1234u);
    EXPECT_EQ(given->partitions[1].headers->members, (std::vector<std::uint32_t>{0x1234}));
}

TEST(HotfixRedirection, TrueDataGoesToTheSpareAndStaleBytesStayHome)
{
    DiskSpec disk = headerDisk();
    PartitionHeaders& headers = *disk.partitions[0].netware->headers;
    // Logical block 4 holds volume table copy 1; SYS's blocks 1..4 (logical
    // blocks 21..24) its FAT and DET copies, 5.. the file: block 26 is its second 4K.
    headers.redirects = {redirect(4), redirect(26, 100)};
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    const PartitionLayout& partition = layout->partitions[0];
    const std::uint64_t dataArea = kStart + 1024;

    // Block 4 took the first free spare, 21; the given spare 100 was honoured.
    ASSERT_EQ(partition.headers->redirectedBlocks.size(), 2u);
    EXPECT_EQ(partition.headers->redirectedBlocks[0].spare, 21u);
    EXPECT_EQ(partition.headers->redirectedBlocks[1].spare, 100u);
    for (std::uint64_t table : {160u, 288u}) {
        const auto entries = tableEntries(image, kStart + table, 128);
        EXPECT_EQ(entries[21], 4u * 8);
        EXPECT_EQ(entries[100], 26u * 8);
        EXPECT_EQ(entries[22], 0u);
    }
    EXPECT_EQ(partition.headers->freeSpares, 128u - 24u - 2u);

    // The volume table copy is in the spare, the stale bytes at its home.
    EXPECT_EQ(text(image.sector(kStart + 21 * 8), 0, 15), "NetWare Volumes");
    EXPECT_EQ(text(image.sector(dataArea + 32), 0, 16), "STALE   00000020");
    EXPECT_EQ(text(image.sector(dataArea + 64), 0, 15), "NetWare Volumes") << "copy 2 is not redirected";

    // The file reads back whole through the redirection, and not from home.
    const VolumeManifest& sys = *layout->volume("SYS");
    const ManifestEntry& file = *sys.find("REPORT.DOC");
    DiskSetLayout set{{*layout}, {}};
    const SetReadBack readBack(set, {&image});
    EXPECT_EQ(readBack.chainData(sys, file), expectedData(file));
    ASSERT_EQ(file.dataBlocks[1], 6u);
    const std::uint64_t home = dataArea + 26 * 8;
    ASSERT_EQ(partition.physicalSector(home), kStart + 100u * 8);
    EXPECT_EQ(text(image.sector(home + 3), 0, 16), "STALE   000000D3");
    EXPECT_FALSE(file.incomplete());
}

TEST(HotfixRedirection, BadBitsLeaveGarbageInTheSpareAndMarkTheFileIncomplete)
{
    DiskSpec disk = headerDisk();
    // Sectors 1 and 6 of logical block 27 (logical sectors 217, 222) are lost.
    disk.partitions[0].netware->headers->redirects = {redirect(27, std::nullopt, 0x42)};
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    const PartitionLayout& partition = layout->partitions[0];
    EXPECT_EQ(partition.headers->unreadableSectors, (std::vector<std::uint32_t>{217, 222}));
    for (std::uint64_t table : {224u, 352u})
        EXPECT_EQ(tableEntries(image, kStart + table, 22)[21], 0x42u) << "bad bits of spare 21";
    EXPECT_EQ(text(image.sector(kStart + 21 * 8 + 1), 0, 16), "BADSPARE000000A9");
    EXPECT_FALSE(partition.physicalSector(kStart + 1024 + 217).has_value());

    // SYS starts at logical 160: the lost sectors are volume sectors 57 and
    // 62, sectors 1 and 6 of block 7, the file's third block.
    const VolumeManifest& sys = *layout->volume("SYS");
    const ManifestEntry& file = *sys.find("REPORT.DOC");
    ASSERT_TRUE(file.incomplete());
    ASSERT_EQ(file.dataBlocks[2], 7u);
    const std::vector<ByteRange> expected = {{2 * 4096 + 512, 512}, {2 * 4096 + 6 * 512, 512}};
    EXPECT_EQ(file.unreadable, expected);
    EXPECT_EQ(sys.incompleteFiles, 1u);
    const auto data = expectedData(file);
    EXPECT_TRUE(std::all_of(data.begin() + static_cast<std::ptrdiff_t>(expected[0].offset),
                            data.begin() + static_cast<std::ptrdiff_t>(expected[0].offset + kSectorBytes),
                            [](std::uint8_t b) { return b == 0; }));
    DiskSetLayout set{{*layout}, {}};
    EXPECT_EQ(SetReadBack(set, {&image}).chainData(sys, file), data);
}

TEST(HotfixRedirection, TableCopiesDisagreeAsToldAndHeaderCopyOneCanBeDamaged)
{
    DiskSpec disk = headerDisk();
    PartitionHeaders& headers = *disk.partitions[0].netware->headers;
    headers.redirects = {redirect(25, std::nullopt, 0x01)};
    headers.redirects[0].inCopy2 = false;
    headers.tablePatches = {{.copy = 2, .badBits = false, .index = 50, .value = 0xFFFFFFFF}};
    headers.retiredSpares = {60};
    headers.hotfixCopies[0] = HeaderCopy::Damaged;
    headers.mirrorCopies[1] = HeaderCopy::Missing;
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();

    const auto copy1 = tableEntries(image, kStart + 160, 128);
    const auto copy2 = tableEntries(image, kStart + 288, 128);
    EXPECT_EQ(copy1[21], 25u * 8);
    EXPECT_EQ(copy2[21], 0u) << "copy 2 does not record the redirect";
    EXPECT_EQ(tableEntries(image, kStart + 224, 128)[21], 1u);
    EXPECT_EQ(tableEntries(image, kStart + 352, 128)[21], 0u);
    EXPECT_EQ(copy1[50], 0u);
    EXPECT_EQ(copy2[50], 0xFFFFFFFFu);
    EXPECT_EQ(copy1[60], 0xFFFFFFFFu);
    EXPECT_EQ(copy2[60], 0xFFFFFFFFu);

    // Copy 1's HOTFIX fails its stamp, copy 2's MIRROR is missing: the reader takes copy 3.
    const SectorBytes damaged = image.sector(kStart + 32);
    EXPECT_EQ(text(damaged, 0, 7), "HOTFIX0");
    EXPECT_NE(text(damaged, 0, 8), "HOTFIX00");
    EXPECT_TRUE(allZero(image.sector(kStart + 65)));
    EXPECT_EQ(text(image.sector(kStart + 97), 0, 8), "MIRROR00");
    EXPECT_EQ(layout->partitions[0].headers->validCopy, 2);

    // With no copy intact the reader would ignore the redirects: refused.
    for (HeaderCopy& copy : headers.mirrorCopies)
        copy = HeaderCopy::Damaged;
    const auto refused = planImage(disk);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("no header copy has both stamps intact"), std::string::npos) << refused.error();
}

TEST(HotfixRedirection, LargeHotfixAreasUseMoreTableGroups)
{
    DiskSpec disk = headerDisk();
    disk.partitions[0].sizeSectors = 40000;
    disk.partitions[0].netware->hotfixLength = 8 * 2100; // 2100 blocks: three groups
    disk.partitions[0].netware->headers->redirects = {redirect(30, 2050)};
    ImageFile image;
    const auto layout = writeImage(disk, image.path());
    ASSERT_TRUE(layout) << layout.error();
    const HeaderLayout& headers = *layout->partitions[0].headers;
    ASSERT_EQ(headers.tableSectors.size(), 3u);
    EXPECT_EQ(headers.tableSectors[1], (std::array<std::uint32_t, 4>{52 * 8, 60 * 8, 68 * 8, 76 * 8}));
    const SectorBytes hotfix = image.sector(kStart + 32);
    EXPECT_EQ(readU32(hotfix, 28 + 16 * 2 + 8), (36u + 64u) * 8) << "group 2, redirection copy 2";
    EXPECT_TRUE(allZero(hotfix, 28 + 16 * 3));
    // Entry 2050 is entry 2 of group 2's table.
    EXPECT_EQ(tableEntries(image, kStart + (20 + 64) * 8, 3)[2], 30u * 8);
    EXPECT_EQ(tableEntries(image, kStart + 20 * 8, 1024)[84], 0xFFFFFFFFu) << "group 2's table blocks are reserved";
    EXPECT_EQ(tableEntries(image, kStart + (20 + 64) * 8, 1024)[100], 0u) << "past the last hot-fix block";
}

TEST(HotfixRedirection, RefusesImpossibleHeadersWithAClearMessage)
{
    struct Case {
        std::string expected;
        std::function<void(NetWareLayout&)> breakIt;
    };
    const std::vector<Case> cases = {
        {"hot-fix length must be a multiple of 8", [](NetWareLayout& n) { n.hotfixLength = 1020; }},
        {"at least 360 sectors", [](NetWareLayout& n) { n.hotfixLength = 352; }},
        {"needs 31 table groups", [](NetWareLayout& n) { n.hotfixLength = 8 * 30721; }},
        {"redirects[0]: spare 28 is a reserved block",
         [](NetWareLayout& n) { n.headers->redirects = {redirect(30, 28)}; }},
        {"redirects[1]: spare 40 is used twice",
         [](NetWareLayout& n) { n.headers->redirects = {redirect(30, 40), redirect(31, 40)}; }},
        {"redirects[0]: logical block 2372 is past the data area's 2372 blocks",
         [](NetWareLayout& n) { n.headers->redirects = {redirect(2372)}; }},
        {"redirects[1]: logical block 30 is redirected twice",
         [](NetWareLayout& n) { n.headers->redirects = {redirect(30), redirect(30)}; }},
        {"recorded in at least one table copy",
         [](NetWareLayout& n) {
             n.headers->redirects = {redirect(30)};
             n.headers->redirects[0].inCopy1 = n.headers->redirects[0].inCopy2 = false;
         }},
        {"the data area of 100 sectors ends before the volumes",
         [](NetWareLayout& n) { n.headers->dataSectors = 100; }},
        {"do not fit into the partition's 20000 sectors", [](NetWareLayout& n) { n.headers->dataSectors = 19000; }},
        {"damagedSectors[0]: the reader reads logical sector 500 from this partition",
         [](NetWareLayout& n) { n.headers->damagedSectors = {500}; }},
        {"block 1 of FAT copy 1 has a sector the reader cannot read",
         [](NetWareLayout& n) { n.headers->redirects = {redirect(21, std::nullopt, 0x80)}; }},
        {"VolumeRoot 164 is not a multiple of 8", [](NetWareLayout& n) { n.segments[0].volumeRoot = 164; }},
        {"VolumeRoot 96 lies in the volume table blocks", [](NetWareLayout& n) { n.segments[0].volumeRoot = 96; }},
        {"longer than the 15 characters", [](NetWareLayout& n) { n.segments[0].name = "SIXTEEN_CHARS_XX"; }},
        {"needs 8, 16, 32, 64 or 128 sectors per block", [](NetWareLayout& n) { n.segments[0].sectorsPerBlock = 4; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DiskSpec disk = headerDisk();
        c.breakIt(*disk.partitions[0].netware);
        const auto layout = planImage(disk);
        ASSERT_FALSE(layout);
        EXPECT_NE(layout.error().find(c.expected), std::string::npos) << layout.error();
    }
}

} // namespace
} // namespace tamsin::imagebuilder
