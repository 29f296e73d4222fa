#include "ImageFile.h"
#include "VolumeReadBack.h"

#include "common/LittleEndian.h"
#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <functional>

namespace tamsin::imagebuilder {
namespace {

using testing::allZero;
using testing::DetEntry;
using testing::FatPair;
using testing::ImageFile;
using testing::VolumeReadBack;

SegmentSpec volume(std::vector<Node> nodes, std::uint32_t sectorsPerBlock = 1)
{
    SegmentSpec segment;
    segment.name = "SYS";
    segment.sectorsPerBlock = sectorsPerBlock;
    segment.contents.emplace();
    segment.contents->nodes = std::move(nodes);
    return segment;
}

// One NetWare partition at sector 64 holding `segment`; partition and disk sized to fit.
DiskSpec diskWith(SegmentSpec segment)
{
    DiskSpec disk;
    PartitionSpec partition;
    partition.startSector = 64;
    NetWareLayout layout;
    layout.hotfixLength = 128;
    layout.segments.push_back(std::move(segment));
    partition.netware = std::move(layout);
    disk.partitions.push_back(std::move(partition));
    return disk;
}

Node withLongName(Node node, std::string longName)
{
    node.longName = std::move(longName);
    return node;
}

std::string entryName(const DetEntry& entry)
{
    return {reinterpret_cast<const char*>(entry.data()) + kDetName, entry[kDetNameLength]};
}

std::vector<std::string> names(const VolumeManifest& manifest)
{
    std::vector<std::string> result;
    for (const ManifestEntry& entry : manifest.entries)
        result.push_back(entry.name);
    return result;
}

class Contents : public ::testing::Test {
protected:
    void build(const DiskSpec& disk)
    {
        auto built = writeImage(disk, image.path());
        ASSERT_TRUE(built) << built.error();
        layout = std::move(*built);
        ASSERT_TRUE(layout.partitions[0].segments[0].manifest);
    }

    const SegmentLayout& segment() const { return layout.partitions[0].segments[0]; }
    const VolumeManifest& manifest() const { return *segment().manifest; }
    VolumeReadBack read() const { return {image, segment().startSector, segment().sectorsPerBlock}; }
    const ManifestEntry& entry(std::string_view name) const
    {
        const ManifestEntry* found = manifest().find(name);
        if (!found)
            throw std::runtime_error("no entry " + std::string(name));
        return *found;
    }
    DetEntry bytesOf(const ManifestEntry& e) const { return read().detEntry(manifest().det[0].blocks, e.position); }

    ImageFile image;
    BuiltLayout layout;
};

TEST_F(Contents, TablesAreContiguousChainsThatBothCopiesAgreeOn)
{
    // Blocks of one sector: 160 data blocks need a FAT of three blocks per copy.
    ASSERT_NO_FATAL_FAILURE(
        build(diskWith(volume({folderNode("DOCS", {fileNode("A.TXT", 700)}), fileNode("BIG.DAT", 80000),
                               fileNode("EMPTY", 0)}))));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();

    EXPECT_EQ(m.fat[0].blocks, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(m.fat[1].blocks, (std::vector<std::uint32_t>{4, 5, 6}));
    EXPECT_EQ(m.det[0].blocks, (std::vector<std::uint32_t>{7, 8}));
    EXPECT_EQ(m.det[1].blocks, (std::vector<std::uint32_t>{9, 10}));
    EXPECT_EQ(entry("A.TXT").dataBlocks, (std::vector<std::uint32_t>{11, 12}));
    EXPECT_EQ(m.blockCount, 170u) << "sized to fit: the last data block is 169";
    EXPECT_EQ(segment().sizeSectors, 170u);
    EXPECT_EQ(layout.partitions[0].sizeSectors, segment().startSector + 170 - 64);

    // The volume table entry names the chains' first blocks.
    const SectorBytes table = image.sector(layout.partitions[0].tableArea);
    EXPECT_EQ(readU32(table, 32 + 32), 170u);
    EXPECT_EQ(readU32(table, 32 + 40), 1u);
    EXPECT_EQ(readU32(table, 32 + 44), 4u);
    EXPECT_EQ(readU32(table, 32 + 48), 7u);
    EXPECT_EQ(readU32(table, 32 + 52), 9u);

    for (int copy = 0; copy < 2; ++copy) {
        SCOPED_TRACE(copy + 1);
        const auto fat = r.walkFat(m.fat[copy].blocks[0]);
        EXPECT_EQ(fat.blocks, m.fat[copy].blocks);
        EXPECT_EQ(fat.endValue, kChainEnd);
        const auto det = r.walkChain(m.fat[copy].blocks, m.det[copy].blocks[0], true);
        EXPECT_EQ(det.blocks, m.det[copy].blocks);
        EXPECT_EQ(det.endValue, kChainEnd);
        const DetEntry first = r.detEntry(m.det[copy].blocks, 0);
        EXPECT_EQ(readU32(first, 0), 0xFFFFFFFDu);
        EXPECT_TRUE(std::all_of(first.begin() + 4, first.end(), [](std::uint8_t b) { return b == 0; }));
    }
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(r.block(m.fat[0].blocks[k]), r.block(m.fat[1].blocks[k])) << "FAT block " << k;
    for (std::size_t k = 0; k < 2; ++k)
        EXPECT_EQ(r.block(m.det[0].blocks[k]), r.block(m.det[1].blocks[k])) << "DET block " << k;

    const auto big = r.walkChain(m.fat[0].blocks, entry("BIG.DAT").firstBlock);
    EXPECT_EQ(big.blocks.size(), 157u);
    EXPECT_EQ(big.blocks.front(), 13u);
    EXPECT_EQ(big.blocks.back(), 169u);
    EXPECT_EQ(r.fatEntry(m.fat[0].blocks, 0), (FatPair{0, 0})) << "block 0 stays free";
    EXPECT_TRUE(allZero(image.sector(r.blockSector(3)), 42 * 8)) << "no entries past the last block";
}

TEST_F(Contents, EntriesCarryEveryFieldAndTheManifestMatchesTheBytes)
{
    Node docs = folderNode("DOCS");
    docs.dateTime = packDateTime(1999, 3, 4, 5, 6, 8);
    Node report = fileNode("REPORT.TXT", 1000);
    report.deletedMarker = 0x2A;
    report.attributes = 0x21;
    Node placed = fileNode("B.DAT", 10);
    placed.ownId = 500;
    placed.parentId = 77;
    docs.children = {report, placed};
    Node other = folderNode("X", {fileNode("C", 0)});
    other.ownId = 900;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(volume({docs, other}))));

    const VolumeManifest& m = manifest();
    ASSERT_EQ(names(m), (std::vector<std::string>{"DOCS", "REPORT.TXT", "B.DAT", "X", "C"}));
    const DetEntry d = bytesOf(entry("DOCS"));
    EXPECT_EQ(readU32(d, 0), 0u);
    EXPECT_EQ(readU32(d, 4), 0x10u);
    EXPECT_EQ(d[10], 0);
    EXPECT_EQ(entryName(d), "DOCS");
    EXPECT_EQ(readU32(d, 24), packDateTime(1999, 3, 4, 5, 6, 8));
    EXPECT_EQ(readU32(d, 120), entry("DOCS").position) << "ids default to the entry's DET position";

    const DetEntry f = bytesOf(entry("REPORT.TXT"));
    EXPECT_EQ(readU32(f, 0), readU32(d, 120));
    EXPECT_EQ(readU32(f, 4), 0x21u);
    EXPECT_EQ(readU32(f, 24), kDefaultDateTime);
    EXPECT_EQ(readU32(f, 48), 1000u);
    EXPECT_EQ(readU32(f, 52), entry("REPORT.TXT").dataBlocks.at(0));
    EXPECT_EQ(readU32(f, 108), 0x2Au);
    EXPECT_EQ(readU32(bytesOf(entry("B.DAT")), 0), 77u);
    EXPECT_EQ(readU32(bytesOf(entry("B.DAT")), 120), 500u);
    EXPECT_EQ(readU32(bytesOf(entry("C")), 0), 900u);
    EXPECT_EQ(readU32(bytesOf(entry("C")), 52), kChainEnd) << "an empty file has no first block";

    std::uint32_t lastPosition = 0;
    for (const ManifestEntry& e : m.entries) {
        SCOPED_TRACE(e.name);
        EXPECT_GT(e.position, lastPosition) << "DET order";
        lastPosition = e.position;
        const auto onDisk = image.bytes(e.entrySector * kSectorBytes + e.slot * kDirEntrySize, kDirEntrySize);
        const auto mirror = image.bytes(e.mirrorSector * kSectorBytes + e.slot * kDirEntrySize, kDirEntrySize);
        EXPECT_EQ(onDisk, mirror);
        EXPECT_EQ(e.entrySector, read().blockSector(m.det[0].blocks[e.position / 4])) << "one sector per block";
        EXPECT_EQ(e.slot, e.position % 4);
        EXPECT_EQ(e.parentId, readU32(onDisk, 0));
        EXPECT_EQ(e.attributes, onDisk[4]);
        EXPECT_EQ(e.attributesHigh, onDisk[7]);
        EXPECT_EQ(e.dateTime, readU32(onDisk, 24));
        EXPECT_EQ(e.size, readU32(onDisk, 48));
        EXPECT_EQ(e.firstBlock, readU32(onDisk, 52));
        EXPECT_EQ(e.deletedMarker, readU32(onDisk, 108));
        EXPECT_EQ(e.ownId, readU32(onDisk, 120));
    }
}

TEST_F(Contents, LongNamesShareTheSectorOfTheirDosEntry)
{
    Node split = withLongName(fileNode("D.DOC", 1), "Split from its DOS entry.doc");
    split.longNameInNextSector = true;
    // Positions: A 1, B 2, C would take slot 3 so it moves to 4 (long name 5),
    // D is pushed to slot 3 at 7 with its long name opening the next sector.
    ASSERT_NO_FATAL_FAILURE(build(diskWith(volume({fileNode("A", 1), fileNode("B", 1),
                                                   withLongName(fileNode("C.DOC", 1), "Long name of C.doc"), split,
                                                   fileNode("E", 1)}))));
    const VolumeManifest& m = manifest();
    EXPECT_EQ(names(m), (std::vector<std::string>{"A", "B", "Long name of C.doc", "D.DOC", "E"}));
    EXPECT_EQ(entry("Long name of C.doc").position, 4u);
    EXPECT_EQ(entry("D.DOC").position, 7u);
    EXPECT_EQ(entry("D.DOC").slot, 3);
    EXPECT_EQ(entry("E").position, 9u);

    const VolumeReadBack r = read();
    const auto& det = m.det[0].blocks;
    for (std::uint32_t padding : {3u, 6u}) {
        const DetEntry empty = r.detEntry(det, padding);
        EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](std::uint8_t b) { return b == 0; })) << padding;
    }
    const DetEntry cLong = r.detEntry(det, 5);
    EXPECT_EQ(cLong[10], 4);
    EXPECT_EQ(entryName(cLong), "Long name of C.doc");
    EXPECT_EQ(readU32(cLong, 0), 0u);
    EXPECT_EQ(entryName(r.detEntry(det, 4)), "C.DOC");
    const DetEntry dLong = r.detEntry(det, 8);
    EXPECT_EQ(dLong[10], 4);
    EXPECT_EQ(entryName(dLong), "Split from its DOS entry.doc");
}

TEST_F(Contents, FileDataFollowsTheFatChainInEveryBlockOrder)
{
    Node text = fileNode("TEXT.TXT", 2500);
    text.data.assign(1500, 'x');
    Node interleaved = fileNode("INTER.DAT", 4000);
    interleaved.chain.order = BlockOrder::Interleaved;
    Node reversed = fileNode("REVERSE.DAT", 4000);
    reversed.chain.order = BlockOrder::Reverse;
    Node placed = fileNode("PLACED.DAT", 1500);
    placed.chain.blocks = {200, 150};
    Node packed = fileNode("PACKED.DAT", 10000);
    packed.compressed = Compression{3000, std::nullopt, std::nullopt};
    // Blocks of two sectors (1 KiB).
    ASSERT_NO_FATAL_FAILURE(build(diskWith(volume(
        {fileNode("PATTERN.DAT", 3000), text, interleaved, fileNode("AFTER.DAT", 2000), reversed, placed, packed},
        2))));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();

    for (const ManifestEntry& e : m.entries) {
        SCOPED_TRACE(e.name);
        const auto walked = r.walkChain(m.fat[0].blocks, e.firstBlock);
        EXPECT_EQ(walked.blocks, e.dataBlocks);
        EXPECT_EQ(walked.endValue, kChainEnd);
        EXPECT_EQ(r.chainData(e.dataBlocks, e.content.length), expectedData(e));
        EXPECT_EQ(e.content.patternSeed, e.ownId) << "the pattern derives from the file";
    }
    const ManifestEntry& pattern = entry("PATTERN.DAT");
    const auto data = r.chainData(pattern.dataBlocks, 3072);
    EXPECT_EQ(data[2999], patternByte(pattern.ownId, 2999));
    EXPECT_FALSE(std::equal(data.begin(), data.begin() + 16, data.begin() + 512)) << "sectors of a file differ";
    EXPECT_TRUE(std::all_of(data.begin() + 3000, data.end(), [](std::uint8_t b) { return b == 0; }));

    const auto textData = expectedData(entry("TEXT.TXT"));
    EXPECT_EQ(textData[1499], 'x');
    EXPECT_EQ(textData[1500], patternByte(entry("TEXT.TXT").ownId, 1500));

    const auto& inter = entry("INTER.DAT").dataBlocks;
    for (std::size_t k = 1; k < inter.size(); ++k)
        EXPECT_EQ(inter[k], inter[k - 1] + 2);
    EXPECT_EQ(entry("AFTER.DAT").firstBlock, inter[0] + 1) << "later files fill the gaps";
    const auto& reverse = entry("REVERSE.DAT").dataBlocks;
    EXPECT_TRUE(std::is_sorted(reverse.rbegin(), reverse.rend()));
    EXPECT_EQ(entry("PLACED.DAT").dataBlocks, (std::vector<std::uint32_t>{200, 150}));

    const ManifestEntry& compressed = entry("PACKED.DAT");
    EXPECT_EQ(compressed.attributesHigh, 0x04);
    EXPECT_TRUE(compressed.compressed());
    EXPECT_EQ(compressed.size, 10000u);
    EXPECT_EQ(compressed.dataBlocks.size(), 3u);
    const SectorBytes header = image.sector(r.blockSector(compressed.firstBlock));
    EXPECT_EQ(readU32(header, 4), 10000u);
    EXPECT_EQ(readU32(header, 8), 3000u);
}

TEST_F(Contents, SuballocationRecordsAndFragmentsLeadToTheData)
{
    Node tail = fileNode("TAIL.TXT", 2600); // two 1 KiB blocks and 552 bytes
    tail.storage = Storage::SuballocationTail;
    Node small = fileNode("SMALL.TXT", 300);
    small.storage = Storage::FragmentOnly;
    Node tiny = fileNode("TINY.TXT", 100);
    tiny.storage = Storage::FragmentOnly;
    Node first3 = fileNode("FIRST3", 100);
    first3.storage = Storage::FragmentOnly;
    first3.sizeClass = 3;
    Node crossing = fileNode("CROSSING", 1000); // class 3 position 1: sectors 3 and 4, over a block boundary
    crossing.storage = Storage::FragmentOnly;
    crossing.sizeClass = 3;
    Node high = fileNode("HIGH", 700);
    high.storage = Storage::FragmentOnly;
    high.sizeClass = 40; // in the second record
    ASSERT_NO_FATAL_FAILURE(build(diskWith(volume({tail, small, tiny, first3, crossing, high}, 2))));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();

    std::array<std::uint32_t, kSuballocationRootCount> roots{};
    for (std::uint32_t record = 0; record < 2; ++record) {
        const DetEntry bytes = r.detEntry(m.det[0].blocks, 1 + record);
        EXPECT_EQ(readU32(bytes, 0), kSuballocationParent);
        EXPECT_EQ(bytes[9], record);
        for (std::uint32_t i = 0; i < kRootsPerRecord; ++i)
            roots[record * kRootsPerRecord + i] = readU32(bytes, 16 + 4 * i);
    }
    EXPECT_EQ(roots, m.suballocationRoots);
    for (std::uint32_t sizeClass : {1u, 2u, 3u, 40u})
        EXPECT_NE(roots[sizeClass], 0u) << sizeClass;
    EXPECT_EQ(std::count(roots.begin(), roots.end(), 0u), static_cast<long>(kSuballocationRootCount - 4));

    auto classChain = [&](std::uint32_t sizeClass) { return r.walkChain(m.fat[0].blocks, roots[sizeClass]).blocks; };
    EXPECT_EQ(classChain(3).size(), 3u) << "class 3 reaches sector 4 of blocks of two sectors";

    const ManifestEntry& t = entry("TAIL.TXT");
    const auto walked = r.walkChain(m.fat[0].blocks, t.firstBlock);
    EXPECT_EQ(walked.blocks, t.dataBlocks);
    EXPECT_EQ(walked.endValue, fragmentReference(2, 0)) << "the last block's next names the tail";
    const auto expected = expectedData(t);
    EXPECT_EQ(r.chainData(t.dataBlocks, 2048), std::vector<std::uint8_t>(expected.begin(), expected.begin() + 2048));
    EXPECT_EQ(r.fragmentData(classChain(2), *walked.endValue, 552),
              std::vector<std::uint8_t>(expected.begin() + 2048, expected.end()));

    const std::vector<std::pair<std::string, std::uint32_t>> fragmentOnly = {{"SMALL.TXT", fragmentReference(1, 0)},
                                                                             {"TINY.TXT", fragmentReference(1, 1)},
                                                                             {"FIRST3", fragmentReference(3, 0)},
                                                                             {"CROSSING", fragmentReference(3, 1)},
                                                                             {"HIGH", fragmentReference(40, 0)}};
    for (const auto& [name, reference] : fragmentOnly) {
        SCOPED_TRACE(name);
        const ManifestEntry& e = entry(name);
        EXPECT_EQ(e.firstBlock, reference);
        EXPECT_TRUE(e.dataBlocks.empty());
        EXPECT_EQ(r.fragmentData(classChain((reference >> 24) & 0x7F), reference, e.size), expectedData(e));
    }
}

TEST_F(Contents, CopiesDifferOnlyWhereAsked)
{
    SegmentSpec segment = volume({fileNode("A.TXT", 100), fileNode("B.TXT", 100)});
    VolumeContents& contents = *segment.contents;
    contents.fatCopy2Patches = {{63, 0, {0x01}}};       // the last slot of the FAT, unused
    contents.fatChains[1].length = 2;                  // one block longer than needed
    contents.detCopy2Patches = {{1, 108, {0x01}}};      // A.TXT deleted in copy 2
    contents.detChains[1].length = 2;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(segment)));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();

    ASSERT_EQ(m.fat[0].blocks.size(), 1u);
    EXPECT_EQ(r.walkFat(m.fat[1].blocks[0]).blocks, m.fat[1].blocks);
    EXPECT_EQ(m.fat[1].blocks.size(), 2u);
    auto fat1 = r.block(m.fat[0].blocks[0]);
    const auto fat2 = r.block(m.fat[1].blocks[0]);
    EXPECT_EQ(fat1[63 * 8], 0x00);
    EXPECT_EQ(fat2[63 * 8], 0x01);
    fat1[63 * 8] = 0x01;
    EXPECT_EQ(fat1, fat2) << "nothing else differs";
    const auto extra = r.block(m.fat[1].blocks[1]);
    EXPECT_TRUE(std::all_of(extra.begin(), extra.end(), [](std::uint8_t b) { return b == 0; }));

    ASSERT_EQ(m.det[0].blocks.size(), 1u);
    EXPECT_EQ(r.walkChain(m.fat[0].blocks, m.det[1].blocks[0], true).blocks, m.det[1].blocks);
    EXPECT_EQ(m.det[1].blocks.size(), 2u);
    auto det1 = r.block(m.det[0].blocks[0]);
    const auto det2 = r.block(m.det[1].blocks[0]);
    EXPECT_EQ(readU32(det1, 128 + 108), 0u);
    EXPECT_EQ(readU32(det2, 128 + 108), 1u);
    det1[128 + 108] = 0x01;
    EXPECT_EQ(det1, det2);
    EXPECT_EQ(entry("A.TXT").deletedMarker, 0u) << "the manifest follows copy 1";
    EXPECT_EQ(entry("A.TXT").mirrorSector, r.blockSector(m.det[1].blocks[0]));
}

TEST_F(Contents, TableChainDamage)
{
    // Five files: DET copy 1 holds entries in two of its three blocks, copy 2 has one block.
    SegmentSpec segment = volume(
        {fileNode("A", 100), fileNode("B", 100), fileNode("C", 100), fileNode("D", 100), fileNode("E", 100)});
    VolumeContents& contents = *segment.contents;
    contents.fatChains[0].firstSequence = 7;
    contents.fatChains[1].length = 2;
    contents.fatChains[1].loopTo = 0;
    contents.detChains[0].length = 3;
    contents.detChains[0].loopTo = 1;
    contents.detChains[1].length = 1;
    contents.detChains[1].lastNext = 0;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(segment)));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();

    const auto fat1 = r.walkFat(m.fat[0].blocks[0]);
    EXPECT_TRUE(fat1.blocks.empty());
    EXPECT_EQ(fat1.brokenAt, m.fat[0].blocks[0]);
    EXPECT_EQ(m.fat[0].firstSequence, 7u);

    const auto fat2 = r.walkFat(m.fat[1].blocks[0]);
    EXPECT_EQ(fat2.blocks, m.fat[1].blocks);
    EXPECT_EQ(fat2.brokenAt, m.fat[1].blocks[0]) << "the loop's revisited block has a smaller sequence";

    const auto det1 = r.walkChain(m.fat[1].blocks, m.det[0].blocks[0], true);
    EXPECT_EQ(det1.blocks, m.det[0].blocks);
    EXPECT_EQ(det1.brokenAt, m.det[0].blocks[1]);
    EXPECT_EQ(m.det[0].lastNext, m.det[0].blocks[1]);
    const auto det2 = r.walkChain(m.fat[1].blocks, m.det[1].blocks[0], true);
    EXPECT_EQ(det2.blocks, m.det[1].blocks);
    EXPECT_EQ(det2.endValue, 0u);

    // Entries without a copy 2 block at their position report their sector
    // within the block, counting from 1.
    EXPECT_EQ(entry("C").mirrorSector, r.blockSector(m.det[1].blocks[0]));
    EXPECT_EQ(entry("D").mirrorSector, 1u);
    EXPECT_EQ(entry("E").mirrorSector, 1u);
}

TEST_F(Contents, FileChainDamageAndEntriesBeyondAShortFat)
{
    Node looping = fileNode("LOOP.DAT", 1500);
    looping.chain.loopTo = 1;
    Node far = fileNode("FAR.DAT", 1000);
    far.chain.blocks = {300, 301};
    SegmentSpec segment = volume({looping, far});
    segment.sizeSectors = 400;
    VolumeContents& contents = *segment.contents;
    contents.fatChains[0].length = 1; // 64 entries for 400 blocks
    contents.detChains[0].lastNext = 0x80000000;
    ASSERT_NO_FATAL_FAILURE(build(diskWith(segment)));
    const VolumeManifest& m = manifest();
    const VolumeReadBack r = read();
    EXPECT_EQ(m.blockCount, 400u);
    EXPECT_EQ(m.fat[1].blocks.size(), 7u) << "copy 2 keeps the length that covers every block";

    const ManifestEntry& loop = entry("LOOP.DAT");
    const auto walked = r.walkChain(m.fat[1].blocks, loop.firstBlock);
    EXPECT_EQ(walked.blocks, loop.dataBlocks);
    EXPECT_EQ(walked.brokenAt, loop.dataBlocks[1]);

    // Blocks 300 and 301 have their entries in the FAT's only block, where the
    // reader looks for entries past the chain: sector 4 % 1 = 0, slots 44 and 45.
    EXPECT_EQ(r.fatEntry(m.fat[0].blocks, 300), (FatPair{0, 301}));
    EXPECT_EQ(r.fatEntry(m.fat[0].blocks, 301), (FatPair{1, kChainEnd}));
    EXPECT_EQ(r.walkChain(m.fat[0].blocks, 300).blocks, (std::vector<std::uint32_t>{300, 301}));
    EXPECT_EQ(r.fatEntry(m.fat[1].blocks, 300), (FatPair{0, 301})) << "copy 2 holds it in its natural place";

    const auto det = r.walkChain(m.fat[0].blocks, m.det[0].blocks[0], true);
    EXPECT_EQ(det.endValue, 0x80000000u);
}

TEST_F(Contents, OddEntriesReachTheManifestOnlyWhenTheReaderDecodesThem)
{
    auto withIds = [](Node node, std::optional<std::uint32_t> ownId, std::optional<std::uint32_t> parentId) {
        node.ownId = ownId;
        node.parentId = parentId;
        return node;
    };
    auto odd = [](Node node) {
        node.oddNames = true;
        return node;
    };
    Node otherSpace = fileNode("MAC.DAT", 1);
    otherSpace.nameSpace = 1;
    Node zero = folderNode("ZERO", {fileNode("INZERO", 1)});
    zero.ownId = 0;

    SegmentSpec segment = volume({
        withIds(fileNode("LOST1", 1), std::nullopt, 4000),
        withIds(fileNode("LOST2", 1), std::nullopt, 4000),
        withIds(folderNode("LOSTDIR"), std::nullopt, 4001),
        withIds(folderNode("SELF"), 300, 300),
        withIds(folderNode("CYCLEA"), 301, 302),
        withIds(folderNode("CYCLEB"), 302, 301),
        zero,
        odd(fileNode("SIXTEEN.CHARNAME", 1)),
        odd(fileNode("THIRTEEN.TEXT", 1)),
        otherSpace,
        fileNode(std::string("NUL\0NAME", 8), 1),
    });
    std::array<std::uint32_t, kRootsPerRecord> roots{};
    roots[0] = 99;
    RawEntry record;
    record.position = 40;
    record.bytes = suballocationRecord(5, roots);
    RawEntry planted;
    planted.position = 41;
    const std::array<std::uint8_t, 7> plantedName = {'R', 'A', 'W', '.', 'T', 'X', 'T'};
    planted.bytes[11] = 7;
    std::copy(plantedName.begin(), plantedName.end(), planted.bytes.begin() + 12);
    writeU32(planted.bytes, 48, 5);
    writeU32(planted.bytes, 120, 777);
    RawEntry onlyInCopy2 = planted;
    onlyInCopy2.position = 42;
    onlyInCopy2.inCopy1 = false;
    segment.contents->rawEntries = {record, planted, onlyInCopy2};
    ASSERT_NO_FATAL_FAILURE(build(diskWith(segment)));
    const VolumeManifest& m = manifest();

    EXPECT_EQ(names(m), (std::vector<std::string>{"LOST1", "LOST2", "LOSTDIR", "SELF", "CYCLEA", "CYCLEB", "ZERO",
                                                  "INZERO", "THIRTEEN.TEXT", "NUL", "RAW.TXT"}));
    EXPECT_EQ(entry("LOST2").parentId, 4000u);
    EXPECT_EQ(entry("SELF").parentId, 300u);
    EXPECT_EQ(entry("CYCLEA").parentId, 302u);
    EXPECT_EQ(entry("CYCLEB").parentId, 301u);
    EXPECT_EQ(entry("ZERO").ownId, 0u);
    EXPECT_EQ(entry("INZERO").parentId, 0u);
    EXPECT_EQ(entry("THIRTEEN.TEXT").dateTime, (kDefaultDateTime & 0xFFFFFF00u) | 'T') << "the name runs over the date";
    EXPECT_EQ(entry("RAW.TXT").ownId, 777u);
    EXPECT_FALSE(entry("RAW.TXT").content.known);
    EXPECT_EQ(m.suballocationRoots, (std::array<std::uint32_t, kSuballocationRootCount>{}))
        << "record 5 sets no roots";

    const VolumeReadBack r = read();
    EXPECT_EQ(r.detEntry(m.det[0].blocks, 40)[9], 5);
    EXPECT_EQ(r.detEntry(m.det[1].blocks, 42), planted.bytes);
    const DetEntry empty{};
    EXPECT_EQ(r.detEntry(m.det[0].blocks, 42), empty);
}

TEST(ContentsValidation, RejectsContentsThatCannotBeWritten)
{
    struct Case {
        const char* expected;
        std::function<void(SegmentSpec&)> breakIt;
    };
    auto nodes = [](SegmentSpec& s) -> std::vector<Node>& { return s.contents->nodes; };
    const std::vector<Case> cases = {
        {"DOCS/LONGDOSNAME.TXT: the DOS name must have 1 to 12 bytes",
         [&](SegmentSpec& s) { nodes(s)[0].children.push_back(fileNode("LONGDOSNAME.TXT", 1)); }},
        {"the long name must have 1 to 80 bytes",
         [&](SegmentSpec& s) { nodes(s)[1].longName = std::string(81, 'L'); }},
        {"DOCS: a folder holds no data", [&](SegmentSpec& s) { nodes(s)[0].size = 5; }},
        {"a suballocation tail needs at least one whole block",
         [&](SegmentSpec& s) { nodes(s)[1].storage = Storage::SuballocationTail; }},
        {"a fragment-only file stores 1 to 512 bytes",
         [&](SegmentSpec& s) {
             nodes(s)[1].storage = Storage::FragmentOnly;
             nodes(s)[1].size = 513;
         }},
        {"block 20 is used twice",
         [&](SegmentSpec& s) {
             nodes(s)[1].chain.blocks = {20};
             nodes(s)[0].children.push_back(fileNode("B", 1));
             nodes(s)[0].children.back().chain.blocks = {20};
         }},
        {"block 90 lies outside the segment",
         [&](SegmentSpec& s) {
             s.sizeSectors = 90;
             nodes(s)[1].chain.blocks = {90};
         }},
        {"do not fit into the segment's 10 blocks",
         [&](SegmentSpec& s) {
             s.sizeSectors = 10;
             nodes(s)[1].size = 5000;
         }},
        {"folder id 7 is already used", [&](SegmentSpec& s) {
             nodes(s)[0].ownId = 7;
             nodes(s).push_back(folderNode("OTHER"));
             nodes(s).back().ownId = 7;
         }},
        {"FAT copy 1 is too short: the entry of block 65",
         [&](SegmentSpec& s) {
             s.sizeSectors = 100;
             s.contents->fatChains[0].length = 1;
             nodes(s)[1].chain.blocks = {65}; // lands on the entry of block 1, FAT copy 1 itself
         }},
        {"loopTo 3 is past the chain's 1 blocks", [&](SegmentSpec& s) { nodes(s)[1].chain.loopTo = 3; }},
        {"rawEntries[1]: position 9 is taken",
         [&](SegmentSpec& s) { s.contents->rawEntries.resize(2, RawEntry{9, {}, true, true}); }},
        {"detCopy2Patches: position 4 is past DET copy 2",
         [&](SegmentSpec& s) { s.contents->detCopy2Patches = {{4, 0, {1}}}; }},
        {"takes sectorsPerBlock, not blockCount", [&](SegmentSpec& s) {
             s.sectorsPerBlock.reset();
             s.blockCount = 4;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        SegmentSpec segment = volume({folderNode("DOCS"), fileNode("A.TXT", 100)});
        c.breakIt(segment);
        const auto planned = planImage(diskWith(segment));
        ASSERT_FALSE(planned);
        EXPECT_NE(planned.error().find("partitions[0].volumes[0].contents: "), std::string::npos) << planned.error();
        EXPECT_NE(planned.error().find(c.expected), std::string::npos) << planned.error();
    }

    DiskSpec standalone;
    addVolumeTable(standalone, 10, {volume({})});
    const auto planned = planImage(standalone);
    ASSERT_FALSE(planned);
    EXPECT_NE(planned.error().find("volumeTables[0].volumes[0]: contents are only written for volumes inside"),
              std::string::npos)
        << planned.error();
}

} // namespace
} // namespace tamsin::imagebuilder
