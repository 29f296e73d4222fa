#include "DiskWords.h"
#include "volumes/LogicalPartition.h"
#include "volumes/VolumeLayout.h"

#include "disk/SectorReader.h"
#include "recovery/Prefetch.h"

#include "FaultyDevice.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

using test::FaultyDevice;
using test::MemoryDevice;

// Every byte of disk sector s is s & 0xFF, so each sector read shows where it came from.
struct PatternDisk {
    SectorReader reader;
    FaultyDevice* device = nullptr;
    explicit PatternDisk(std::uint64_t sectors = 2000)
    {
        auto faulty = std::make_unique<FaultyDevice>(MemoryDevice::patterned(sectors));
        device = faulty.get();
        reader.attach(std::move(faulty));
        reader.setRetryCount(1);
    }
};

// The disk sector each sector of buffer came from (its fill byte), -1 for zeros.
std::vector<int> origins(const std::vector<std::uint8_t>& buffer)
{
    std::vector<int> out;
    for (std::size_t at = 0; at < buffer.size(); at += kSectorSize) {
        bool zero = true;
        for (std::size_t i = 0; i < kSectorSize; ++i)
            zero = zero && buffer[at + i] == 0;
        out.push_back(zero ? -1 : buffer[at]);
    }
    return out;
}

std::vector<int> run(int first, int count)
{
    std::vector<int> out;
    for (int i = 0; i < count; ++i)
        out.push_back((first + i) & 0xFF);
    return out;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A partition at sector 100 with a 64-sector hot-fix area: logical sector s
// is disk sector 164 + s unless its 4K block is redirected to a spare.
PartitionMember member(const PatternDisk& disk, std::shared_ptr<HotfixMap> hotfix, bool inSync = true)
{
    PartitionMember m;
    m.disk = &disk.reader;
    m.partitionStart = 100;
    m.dataStart = 164;
    m.headersUsable = true;
    m.hotfixSectors = 64;
    m.dataSectors = 1600;
    m.inSync = inSync;
    m.hotfix = std::move(hotfix);
    return m;
}

TEST(LogicalPartition, RedirectedBlockInsideARunComesFromItsSpareAndItsLostSectorsAreZeros)
{
    PatternDisk disk;
    auto hotfix = std::make_shared<HotfixMap>();
    hotfix->add(2, {3, 0b0000'0100});  // logical block 2 (sectors 16..23) lies in spare 3, its sector 2 lost
    const LogicalPartition partition({member(disk, hotfix)});

    std::vector<std::uint8_t> buffer(24 * kSectorSize, 0xEE);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(partition.read(8, 24, buffer, &unreadable), 1u);
    // Sectors 8..15 at home, 16..23 from partition sectors 24..31 (disk 124..131), 24..31 at home again.
    std::vector<int> expected = run(172, 8) + run(124, 8) + run(188, 8);
    expected[10] = -1;
    EXPECT_EQ(origins(buffer), expected);
    EXPECT_EQ(unreadable, std::vector<std::uint32_t>{10});
    EXPECT_EQ(partition.homeSector(16), 180u) << "reports name the home sector, not the spare";

    // A run starting inside the redirected block.
    std::vector<std::uint8_t> tail(4 * kSectorSize);
    EXPECT_EQ(partition.read(21, 4, tail), 0u);
    EXPECT_EQ(origins(tail), run(129, 3) + run(188, 1));
}

TEST(LogicalPartition, ASectorOneMemberCannotReadComesFromAnotherInSyncMember)
{
    PatternDisk first, second, stale;
    first.device->markBad(164 + 40);
    // The second member's hot-fix area is larger: the same logical sector lies elsewhere.
    PartitionMember other = member(second, nullptr);
    other.partitionStart = 300;
    other.dataStart = 400;
    PartitionMember outOfSync = member(stale, nullptr, false);
    const LogicalPartition partition({member(first, nullptr), outOfSync, other});

    std::vector<std::uint8_t> buffer(8 * kSectorSize);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(partition.read(36, 8, buffer, &unreadable), 0u);
    std::vector<int> expected = run(200, 8);
    expected[4] = (400 + 40) & 0xFF;
    EXPECT_EQ(origins(buffer), expected);
    EXPECT_TRUE(unreadable.empty());
    EXPECT_EQ(stale.device->totalReads(), 0u) << "an out-of-sync member is never read";

    // A sector no member delivers is zeros and reported.
    second.device->markBad(400 + 40);
    EXPECT_EQ(partition.read(36, 8, buffer, &unreadable), 1u);
    EXPECT_EQ(origins(buffer)[4], -1);
    EXPECT_EQ(unreadable, std::vector<std::uint32_t>{4});
}

TEST(LogicalPartition, LostSectorsOfARedirectedBlockAreAskedOfTheMirror)
{
    PatternDisk first, second;
    auto hotfix = std::make_shared<HotfixMap>();
    hotfix->add(1, {5, 0xFF});  // every sector of the spare is lost
    PartitionMember other = member(second, nullptr);
    other.dataStart = 520;
    const LogicalPartition partition({member(first, hotfix), other});
    std::vector<std::uint8_t> buffer(8 * kSectorSize);
    EXPECT_EQ(partition.read(8, 8, buffer), 0u);
    EXPECT_EQ(origins(buffer), run(528, 8));
}

TEST(LogicalPartition, PrimaryIsTheFirstMemberInSync)
{
    PatternDisk a, b;
    const LogicalPartition partition({member(a, nullptr, false), member(b, nullptr)});
    EXPECT_EQ(partition.primary().disk, &b.reader);
    std::vector<std::uint8_t> buffer(kSectorSize);
    partition.read(0, 1, buffer);
    EXPECT_EQ(a.device->totalReads(), 0u);
    EXPECT_EQ(partition.homeSector(0), 164u) << "listed at the first member";
}

// Two segments of 4 blocks (8 sectors each): blocks 0..3 at logical 160 of
// partition A (disk sector 1000 + 160), blocks 4..7 at logical 800 of B.
struct TwoSegments {
    PatternDisk diskA, diskB;
    std::shared_ptr<const LogicalPartition> a = LogicalPartition::plain(diskA.reader, 1000, "a.img", 0);
    std::shared_ptr<const LogicalPartition> b = LogicalPartition::plain(diskB.reader, 20, "b.img", 1);

    VolumeLayout layout(std::uint32_t segmentCount, bool withSecond = true) const
    {
        std::vector<VolumeSegment> segments;
        segments.push_back({a, 0, 160, 0, 4, 32});
        if (withSecond)
            segments.push_back({b, 1, 800, 4, 4, 32});
        return VolumeLayout(8, segmentCount, std::move(segments));
    }
};

TEST(VolumeLayout, ARunCrossingASegmentBoundaryReadsBothSegments)
{
    TwoSegments disks;
    const VolumeLayout layout = disks.layout(2);
    std::vector<std::uint8_t> buffer(16 * kSectorSize);
    EXPECT_EQ(layout.read(24, 16, buffer), 0u);
    EXPECT_EQ(origins(buffer), run(1000 + 160 + 24, 8) + run(20 + 800, 8));
    EXPECT_TRUE(layout.complete());
    EXPECT_EQ(layout.diskSector(33), 20u + 801);
    EXPECT_EQ(layout.segments()[1].startSector(), 820u);
}

// Read-ahead hints go to the disk each sector lies on, a run split where
// the volume moves to another disk; a missing segment gets none.
TEST(VolumeLayout, HintsGoToTheDiskEachSectorLiesOn)
{
    TwoSegments disks;
    const VolumeLayout layout = disks.layout(3);
    EXPECT_EQ(layout.diskPlace(3).disk, &disks.diskA.reader);
    EXPECT_EQ(layout.diskPlace(33).disk, &disks.diskB.reader);
    EXPECT_EQ(layout.diskPlace(33).sector, 20u + 801);
    EXPECT_EQ(layout.diskPlace(70).disk, nullptr);

    std::vector<std::string> hints;
    disks.diskA.device->onPrefetch([&](std::uint64_t first, std::uint64_t count) {
        hints.push_back("A " + std::to_string(first) + "+" + std::to_string(count));
    });
    disks.diskB.device->onPrefetch([&](std::uint64_t first, std::uint64_t count) {
        hints.push_back("B " + std::to_string(first) + "+" + std::to_string(count));
    });
    {
        PrefetchRuns runs;
        for (std::uint64_t block = 2; block < 10; ++block)
            runs.add(layout.diskPlace(block * 8), 8);
    }
    EXPECT_EQ(hints, (std::vector<std::string>{"A 1176+16", "B 820+32"}));
}

TEST(VolumeLayout, BlocksOfAMissingSegmentOrBeyondTheLastAreUnreadableZeros)
{
    TwoSegments disks;
    const VolumeLayout layout = disks.layout(3);
    EXPECT_FALSE(layout.complete());
    EXPECT_EQ(layout.missingSegments(), std::vector<std::uint32_t>{2});
    EXPECT_EQ(words::missingSegmentsText(layout), "segment 3 of 3 missing");

    std::vector<std::uint8_t> buffer(16 * kSectorSize, 0xEE);
    std::vector<std::uint32_t> unreadable;
    EXPECT_EQ(layout.read(56, 16, buffer, &unreadable), 8u);
    EXPECT_EQ(origins(buffer), run(820 + 24, 8) + std::vector<int>(8, -1));
    EXPECT_EQ(unreadable.size(), 8u);
    EXPECT_EQ(unreadable.front(), 8u);
    EXPECT_EQ(layout.diskSector(70), 0u);

    // A middle segment missing: its blocks are zeros, the next segment still reads.
    const VolumeLayout gap(8, 2, {VolumeSegment{disks.b, 1, 800, 4, 4, 32}});
    EXPECT_EQ(gap.read(24, 16, buffer), 8u);
    EXPECT_EQ(origins(buffer), std::vector<int>(8, -1) + run(820, 8));
    EXPECT_EQ(words::missingSegmentsText(gap), "segment 1 of 2 missing");
}

TEST(VolumeLayout, PlainLayoutReadsEveryBlockFromItsStart)
{
    PatternDisk disk;
    const auto layout = VolumeLayout::plain(LogicalPartition::plain(disk.reader, 1500), 0, 8, 64);
    std::vector<std::uint8_t> buffer(4 * kSectorSize);
    // Past the entry's size, as a volume of the simple kind always read.
    EXPECT_EQ(layout->read(100, 4, buffer), 0u);
    EXPECT_EQ(origins(buffer), run(1600, 4));
    EXPECT_TRUE(layout->complete());
    EXPECT_EQ(words::missingSegmentsText(*layout), "");
}

} // namespace
} // namespace tamsin
