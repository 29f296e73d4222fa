#include "volumes/VolumeSearch.h"
#include "volumes/VolumeTableReader.h"

#include "disk/FileDevice.h"
#include "disk/SectorReader.h"
#include "imagebuilder/ImageBuilder.h"

#include "FaultyDevice.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <optional>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

struct Progress {
    std::uint64_t cursor, scanned, total;
    int percent;
    bool operator==(const Progress&) const = default;
};

struct Recorder : VolumeSearchObserver {
    std::vector<Progress> progress;
    std::vector<std::string> found;
    std::atomic<bool>* stopOnFirstRun = nullptr;
    void searchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent) override
    {
        progress.push_back({cursor, scanned, total, percent});
        if (stopOnFirstRun)
            *stopOnFirstRun = true;
    }
    void volumeFound(const VolumeInfo& volume, std::uint32_t) override { found.push_back(volume.name); }
};

ib::SegmentSpec entry(std::string name, std::uint32_t size, std::uint32_t spb, std::uint32_t det = 5)
{
    ib::SegmentSpec s;
    s.name = std::move(name);
    s.sizeSectors = size;
    s.sectorsPerBlock = spb;
    s.firstDetBlock = det;
    return s;
}

class VolumeSearchTest : public ::testing::Test {
protected:
    void open(const ib::DiskSpec& diskSpec)
    {
        const auto path = dir / "disk.img";
        ASSERT_TRUE(ib::writeImage(diskSpec, path).ok());
        reader.attach(FileDevice::open(path.string()));
    }

    SearchOutcome search(std::uint32_t start, std::uint32_t end, std::uint32_t runLength = 60)
    {
        return searchVolumes(reader, table, {start, end}, runLength, stop, recorder);
    }

    test::TempDir dir;
    SectorReader reader;
    VolumeTable table;
    std::atomic<bool> stop{false};
    Recorder recorder;
};

struct RangeCase {
    const char* start;
    const char* end;
    RangeProblem problem;
};

class SearchRangeCheck : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SearchRangeCheck, RefusesInOrderStartEndThenTheirOrder)
{
    const RangeCheck check = checkSearchRange(GetParam().start, GetParam().end);
    EXPECT_EQ(check.problem, GetParam().problem);
    EXPECT_EQ(check.ok, GetParam().problem == RangeProblem::None);
    if (check.ok) {
        EXPECT_EQ(check.range.end, 100u);
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, SearchRangeCheck,
                         ::testing::Values(RangeCase{"0", "100", RangeProblem::None},
                                           RangeCase{"x", "100", RangeProblem::BadStart},
                                           RangeCase{"0", "-5", RangeProblem::BadEnd},
                                           RangeCase{"0", "abc", RangeProblem::BadEnd},
                                           RangeCase{"0", "", RangeProblem::BadEnd},
                                           RangeCase{"0", "4294967296", RangeProblem::BadEnd},
                                           RangeCase{"100", "100", RangeProblem::EndNotAfterStart},
                                           RangeCase{"100", "50", RangeProblem::EndNotAfterStart}));

TEST_F(VolumeSearchTest, RunsOfTheRunLengthWithProgressOncePerRun)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 200;
    open(diskSpec);
    const SearchOutcome outcome = search(0, 100);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(recorder.progress, (std::vector<Progress>{{0, 0, 100, 0}, {60, 60, 100, 60}}));
    EXPECT_EQ(table.volumeCount(), 0u);
}

TEST_F(VolumeSearchTest, AcceptedEntryStartsAtTheDataAreaAndPushesTheCursor)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    ib::addVolumeTable(diskSpec, 1000, {entry("DATA", 3200, 32)});
    ib::addDetMarker(diskSpec, 1000 + 128 + 5 * 32);
    open(diskSpec);

    search(0, 2000, 100);
    ASSERT_EQ(table.volumeCount(), 1u);
    EXPECT_EQ(table[0].name, "DATA");
    EXPECT_EQ(table[0].startSector, 1128u);
    EXPECT_EQ(table[0].sectorsPerBlock, 32u);
    EXPECT_EQ(table[0].blockCount, 100u);
    // Runs at 0..900, then the run holding the table; the next starts 200 later.
    ASSERT_GE(recorder.progress.size(), 12u);
    EXPECT_EQ(recorder.progress[10].cursor, 1000u);
    EXPECT_EQ(recorder.progress[11].cursor, 1300u);
    EXPECT_EQ(recorder.progress[11].scanned, 1100u);
}

TEST_F(VolumeSearchTest, EntriesFailingTheNameOrBlockSizeTestsAreSkipped)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    auto zeroBlocks = entry("ZERO", 3200, 8);
    zeroBlocks.sectorsPerBlock.reset();
    zeroBlocks.blockCount = 0;
    ib::addVolumeTable(diskSpec, 1000,
                       {entry("SIX", 600, 6), entry("NINE", 900, 9), entry("BIG", 256 * 4, 256), entry("A", 800, 8),
                        entry("SEVENTEEN-CHARS-X", 800, 8), zeroBlocks});
    for (std::uint32_t spb : {6u, 8u, 9u, 256u})
        ib::addDetMarker(diskSpec, 1128 + 5 * spb);
    open(diskSpec);
    search(0, 3000);
    EXPECT_EQ(table.volumeCount(), 0u);
}

TEST_F(VolumeSearchTest, TableFoundAtItsSecondCopyGivesTheFirstCopysDataArea)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    ib::addVolumeTable(diskSpec, 1032, {entry("SYS", 1600, 16)});  // the first copy (at 1000) is gone
    ib::addDetMarker(diskSpec, 1128 + 5 * 16);
    open(diskSpec);
    search(0, 3000);
    ASSERT_EQ(table.volumeCount(), 1u);
    EXPECT_EQ(table[0].startSector, 1128u);
}

TEST_F(VolumeSearchTest, StopDuringTheFirstRunExaminesThatRunOnly)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    ib::addVolumeTable(diskSpec, 10, {entry("SYS", 1600, 16)});
    ib::addDetMarker(diskSpec, 138 + 5 * 16);
    open(diskSpec);
    recorder.stopOnFirstRun = &stop;
    const SearchOutcome outcome = search(0, 5000);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(recorder.progress.size(), 1u);
    EXPECT_EQ(table.volumeCount(), 1u);  // found in the run under way
}

TEST_F(VolumeSearchTest, StopDuringARetryPassEndsItWithinAFewSectors)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    const auto path = dir / "disk.img";
    ASSERT_TRUE(ib::writeImage(diskSpec, path).ok());
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(path.string()));
    test::FaultyDevice& device = *faulty;
    device.markBadRange(1024, 1128);  // from the second 512 KiB piece on
    device.onRead([&](std::uint64_t first, std::uint64_t count) {
        if (count == 1 && first == 1029)
            stop = true;
    });
    reader.attach(std::move(faulty));

    const SearchOutcome outcome = search(0, 20000);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_LE(device.attempts(1029), 2u);
    EXPECT_EQ(device.attempts(1042), 1u);  // only the failed read of its piece
    EXPECT_EQ(device.attempts(2100), 0u);  // the next piece was never asked for
    EXPECT_LT(device.totalReads(), 30u);
}

// A disk of 20000 sectors with one volume table at tableSector whose
// directory lies where the entry says.
ib::DiskSpec diskWithTableAt(std::uint64_t tableSector)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 20000;
    ib::addVolumeTable(diskSpec, tableSector, {entry("SYS", 1600, 16)});
    ib::addDetMarker(diskSpec, tableSector + 128 + 5 * 16);
    return diskSpec;
}

TEST_F(VolumeSearchTest, TablesAtTheEdgesOfReadsAreFound)
{
    // Chunks hold whole runs (2040 sectors for runs of 60, 2000 for 100,
    // 2044 for 7) and are read in pieces of 1024 sectors.
    for (const std::uint32_t runLength : {60u, 100u, 7u}) {
        const std::uint64_t chunk = 2048 / runLength * runLength;
        for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{1023}, std::uint64_t{1024}, chunk - 1, chunk,
                                       2 * chunk - 1, 2 * chunk, 3 * chunk + 300}) {
            SCOPED_TRACE("run length " + std::to_string(runLength) + ", table at " + std::to_string(at));
            open(diskWithTableAt(at));
            search(0, 19000, runLength);
            ASSERT_EQ(table.volumeCount(), 1u);
            EXPECT_EQ(table[0].startSector, at + 128);
        }
    }
}

TEST_F(VolumeSearchTest, TableAfterAnAcceptedOneInTheSameChunkIsFound)
{
    // Runs of 60: the table at 1000 pushes the next run to 1220, off the
    // grid of runs the chunk was read in.
    ib::DiskSpec diskSpec = diskWithTableAt(1000);
    ib::addVolumeTable(diskSpec, 1270, {entry("VOL1", 1600, 16)});
    ib::addDetMarker(diskSpec, 1270 + 128 + 5 * 16);
    open(diskSpec);
    search(0, 3000);
    ASSERT_EQ(table.volumeCount(), 2u);
    EXPECT_EQ(table[1].name, "VOL1");
    EXPECT_EQ(table[1].startSector, 1398u);
}

TEST_F(VolumeSearchTest, TheLastRunIsExaminedWholeEvenPastTheEndOfTheRange)
{
    // Runs of 60 from 0 to 1001: the last run covers 960..1019.
    for (const std::uint64_t at : {1000u, 1019u}) {
        open(diskWithTableAt(at));
        search(0, 1001);
        ASSERT_EQ(table.volumeCount(), 1u) << at;
        EXPECT_EQ(table[0].startSector, at + 128);
    }
    open(diskWithTableAt(1020));
    search(0, 1001);
    EXPECT_EQ(table.volumeCount(), 0u);
}

TEST_F(VolumeSearchTest, TablesInAPieceWithUnreadableSectorsAreFoundInTheRetryPass)
{
    // Runs of 60: the piece 0..1023 fails as a whole and is read sector by
    // sector; the table at 1010 comes from that pass, the one at 1020 is lost.
    ib::DiskSpec diskSpec = diskWithTableAt(1010);
    ib::addVolumeTable(diskSpec, 1020, {entry("LOST", 1600, 16)});
    const auto path = dir / "disk.img";
    ASSERT_TRUE(ib::writeImage(diskSpec, path).ok());
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(path.string()));
    test::FaultyDevice& device = *faulty;
    device.markBad(1000);
    device.markBad(1020);
    reader.attach(std::move(faulty));

    search(0, 5000);
    ASSERT_EQ(table.volumeCount(), 1u);
    EXPECT_EQ(table[0].name, "SYS");
    EXPECT_EQ(table[0].startSector, 1138u);
    EXPECT_GT(device.attempts(1010), 1u);
}

TEST_F(VolumeSearchTest, StopDuringAChunkReadEndsItAtTheNextPiece)
{
    ib::DiskSpec diskSpec = diskWithTableAt(1100);  // in the first chunk, never examined
    const auto path = dir / "disk.img";
    ASSERT_TRUE(ib::writeImage(diskSpec, path).ok());
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(path.string()));
    test::FaultyDevice& device = *faulty;
    device.onRead([&](std::uint64_t first, std::uint64_t) {
        if (first == 0)
            stop = true;
    });
    reader.attach(std::move(faulty));

    const SearchOutcome outcome = search(0, 20000);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(recorder.progress.size(), 1u);
    EXPECT_EQ(table.volumeCount(), 0u);
    EXPECT_EQ(device.attempts(0), 1u);
    EXPECT_EQ(device.attempts(1024), 0u);
    EXPECT_EQ(device.totalReads(), 1u);
}

TEST_F(VolumeSearchTest, AppendingStopsAt256VolumesAndSaysSo)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 260 * 400 + 1000;
    for (std::uint64_t i = 0; i < 260; ++i) {
        const std::uint64_t table = 1000 + i * 400;
        ib::addVolumeTable(diskSpec, table, {entry("V" + std::to_string(i), 160, 16)});
        ib::addDetMarker(diskSpec, table + 128 + 5 * 16);
    }
    open(diskSpec);
    const SearchOutcome outcome = search(0, static_cast<std::uint32_t>(diskSpec.totalSectors));
    EXPECT_TRUE(outcome.tableFull);
    ASSERT_EQ(table.volumeCount(), 256u);
    EXPECT_EQ(table[255].name, "V255");
    EXPECT_EQ(recorder.found.size(), 256u);
}

TEST_F(VolumeSearchTest, RangeEndingNearTheTopOfThe32BitRangeEnds)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 100;
    open(diskSpec);
    search(0xFFFFFF00u, 0xFFFFFFFFu, 100);
    EXPECT_EQ(recorder.progress.size(), 3u);
}

// Plans the disk and marks each segment's first directory block where its
// table entry says it lies.
std::optional<ib::BuiltLayout> markDirectories(ib::DiskSpec& diskSpec)
{
    auto layout = ib::planImage(diskSpec);
    if (!layout.ok())
        return std::nullopt;
    for (const auto& segment : layout->partitions[0].segments)
        ib::addDetMarker(diskSpec, segment.startSector + std::uint64_t{segment.firstDetBlock} * segment.sectorsPerBlock);
    return *layout;
}

TEST_F(VolumeSearchTest, FindsTheVolumesOfADiskWhosePartitionTableIsWiped)
{
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 60000;
    ib::PartitionSpec p;
    p.startSector = 2048;
    p.sizeSectors = 50000;
    p.netware.emplace();
    p.netware->segments = {entry("SYS", 16000, 8, 3), entry("VOL1", 16000, 16, 7)};
    diskSpec.partitions.push_back(p);
    ASSERT_TRUE(markDirectories(diskSpec));
    open(diskSpec);
    VolumeTable fromTables;
    ASSERT_EQ(readVolumeTables(reader, fromTables), VolumeTableStatus::VolumesFound);

    diskSpec.bootSignature = false;
    diskSpec.partitions[0].type = 0;  // the partition entry is gone too
    open(diskSpec);
    EXPECT_EQ(readVolumeTables(reader, table), VolumeTableStatus::NoPartitionTable);
    search(0, 60000);
    ASSERT_EQ(table.volumeCount(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(table[i].name, fromTables[i].name);
        EXPECT_EQ(table[i].startSector, fromTables[i].startSector);
        EXPECT_EQ(table[i].sectorsPerBlock, fromTables[i].sectorsPerBlock);
    }
}

TEST_F(VolumeSearchTest, AnEntryWithSegmentFieldsIsProbedWhereItsVolumeRootPutsIt)
{
    // VOL1 lies after the gap a deleted volume left, not end to end after SYS.
    ib::DiskSpec diskSpec;
    diskSpec.totalSectors = 8000;
    ib::PartitionSpec p;
    p.startSector = 2048;
    p.sizeSectors = 5000;
    p.netware.emplace();
    ib::SegmentSpec vol1 = entry("VOL1", 512, 16, 7);
    vol1.volumeRoot = 1440;
    p.netware->segments = {entry("SYS", 1024, 8, 3), vol1};
    diskSpec.partitions.push_back(p);
    const auto layout = markDirectories(diskSpec);
    ASSERT_TRUE(layout);
    diskSpec.bootSignature = false;
    diskSpec.partitions[0].type = 0;
    open(diskSpec);
    search(0, 8000);
    ASSERT_EQ(table.volumeCount(), 2u);
    EXPECT_EQ(table[0].startSector, layout->partitions[0].segments[0].startSector);
    EXPECT_EQ(table[1].name, "VOL1");
    EXPECT_EQ(table[1].startSector, layout->partitions[0].segments[1].startSector);
    EXPECT_EQ(table[1].startSector, 2048u + 1024 + 1440);
}

TEST_F(VolumeSearchTest, SegmentOfAMultiSegmentVolumeTakesItsBlockSizeFromTheCode)
{
    // DATA's entries count the whole volume's 48 blocks: 256 / 48 would give
    // 5 sectors per block and the entry would fail the block-size test.
    ib::DiskSetSpec set;
    ib::PartitionSpec p;
    p.slot = 0;
    p.startSector = 2048;
    p.netware.emplace();
    set.disks.emplace_back().partitions = {p};
    ib::SpannedVolumeSpec data;
    data.name = "DATA";
    data.sectorsPerBlock = 16;
    data.contents.emplace();
    data.contents->nodes = {ib::fileNode("A.TXT", 100)};
    ib::SpannedSegmentSpec first, second;
    first.sizeSectors = 256;
    second.sizeSectors = 512;
    data.segments = {first, second};
    set.volumes = {data};
    const auto path = dir / "spanned.img";
    const auto built = ib::writeImages(set, {path});
    ASSERT_TRUE(built) << built.error();
    reader.attach(FileDevice::open(path.string()));

    search(0, 6000);
    ASSERT_EQ(table.volumeCount(), 1u) << "the segment holding the directory";
    EXPECT_EQ(table[0].name, "DATA");
    EXPECT_EQ(table[0].sectorsPerBlock, 16u);
    EXPECT_EQ(table[0].startSector, built->volume("DATA")->segments[0].startSector);
}

} // namespace
} // namespace tamsin
