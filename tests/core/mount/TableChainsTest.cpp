#include "mount/CopyMatching.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/TableChains.h"

#include "common/LittleEndian.h"
#include "disk/SectorReader.h"

#include "FaultyDevice.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

// A small volume held in memory: 256 blocks of one sector from sector 10,
// with hand-written FAT entries, for chain edge cases the builder would
// never produce on purpose.
class TableChainsTest : public ::testing::Test {
protected:
    static constexpr std::uint64_t kStart = 10;
    static constexpr std::uint32_t kBlocks = 256;

    TableChainsTest() : bytes((kStart + kBlocks) * 512, 0)
    {
        volume.startSector = kStart;
        volume.sectorsPerBlock = 1;
    }

    // Writes block n's FAT entry into the FAT sector that the FAT block
    // `fatBlock` holds.
    void fat(std::uint32_t fatBlock, std::uint32_t n, std::uint32_t sequence, std::uint32_t next)
    {
        std::span<std::uint8_t> sector(bytes.data() + (kStart + fatBlock) * 512, 512);
        writeU32(sector, (n % 64) * 8, sequence);
        writeU32(sector, (n % 64) * 8 + 4, next);
    }

    void fill(std::uint32_t block, std::uint8_t value)
    {
        std::fill_n(bytes.begin() + static_cast<long>((kStart + block) * 512), 512, value);
    }

    void attach()
    {
        auto device = std::make_unique<test::FaultyDevice>(std::make_unique<test::MemoryDevice>(bytes));
        faulty = device.get();
        reader.attach(std::move(device));
    }

    std::vector<std::uint32_t> blocks(const BlockList& list)
    {
        std::vector<std::uint32_t> out;
        for (const auto& node : list.nodes)
            out.push_back(node.block);
        return out;
    }

    std::vector<std::uint8_t> bytes;
    MountedVolume volume;
    SectorReader reader;
    test::FaultyDevice* faulty = nullptr;
};

struct StoppingObserver : MountObserver {
    MountedVolume* volume = nullptr;
    int stopAfter = -1;
    int reports = 0;
    void mountProgress(int) override
    {
        if (++reports == stopAfter)
            volume->stopRequested = true;
    }
    CopyChoice chooseCopy(TableKind) override { return CopyChoice::First; }
};

TEST_F(TableChainsTest, FatChainThroughItsOwnBlocks)
{
    // FAT sector 0 sits in block 1, FAT sector 1 (entries 64..127) in block 70.
    volume.firstFatBlock = 1;
    fat(1, 1, 0, 70);
    fat(70, 70, 1, 0xFFFFFFFF);  // entry 70 lies in FAT sector 1, found once block 70 is listed
    attach();
    EXPECT_EQ(readFatChain(volume, reader, 1), 3u);
    EXPECT_EQ(blocks(volume.fatList(1)), (std::vector<std::uint32_t>{1, 70, 0xFFFFFFFF}));
    EXPECT_TRUE(volume.fatList(1).endedNormally);
    EXPECT_EQ(volume.fatList(1).nodes[1].sequence, 0u);
    EXPECT_EQ(volume.fatList(1).nodes[2].sequence, 1u);
}

TEST_F(TableChainsTest, EntryBeyondTheListedFatBlocksComesFromTheLastListedBlock)
{
    // Block 100's entry lies in FAT sector 1, which is not listed yet: it is
    // read from slot 36 of the last listed block, 100 itself.
    volume.firstFatBlock = 100;
    fat(100, 100, 0, 0xFFFFFFFF);
    attach();
    EXPECT_EQ(readFatChain(volume, reader, 1), 2u);

    // With a complete list, an entry past it is read from the last real block, never the end marker.
    BlockList list;
    appendBlock(list, 5, 0);
    appendBlock(list, 0xFFFFFFFF, 0);
    list.endedNormally = true;
    const FatEntryLocation at = locateFatEntry(list, 200, kStart, 1);
    EXPECT_EQ(at.sector, kStart + 5);
    EXPECT_EQ(at.slot, 200u % 64);
}

TEST_F(TableChainsTest, SequenceTestEndsWrongStartsAndLoops)
{
    volume.firstFatBlock = 1;
    volume.secondFatBlock = 2;
    fat(1, 1, 5, 2);  // first entry with a sequence other than 0
    fat(2, 2, 0, 3);  // copy 2's entries live in its own first block
    fat(2, 3, 1, 2);  // loops back to block 2, whose position is 0
    attach();
    EXPECT_EQ(readFatChain(volume, reader, 1), 1u);
    EXPECT_FALSE(volume.fatList(1).endedNormally);
    volume.chosenFatList = volume.fatList(1);
    EXPECT_EQ(readFatChain(volume, reader, 2), 3u);
    EXPECT_EQ(blocks(volume.fatList(2)), (std::vector<std::uint32_t>{2, 3, 2}));
    EXPECT_FALSE(volume.fatList(2).endedNormally);

    volume.firstDetBlock = 1;
    EXPECT_EQ(readDetChain(volume, reader, 1), 0u);
}

TEST_F(TableChainsTest, DetChainsEndOnZeroOrTopBitAndCountSteps)
{
    volume.firstFatBlock = 1;
    fat(1, 1, 0, 0xFFFFFFFF);
    fat(1, 10, 0, 11);
    fat(1, 11, 1, 12);
    fat(1, 12, 2, 0);  // next 0 ends a DET chain
    fat(1, 20, 0, 21);
    fat(1, 21, 1, 0x80000005);  // so does a value with the top bit set
    attach();
    readFatChain(volume, reader, 1);
    volume.chosenFatList = volume.fatList(1);
    volume.firstDetBlock = 10;
    volume.secondDetBlock = 20;
    EXPECT_EQ(readDetChain(volume, reader, 1), 3u);
    EXPECT_EQ(blocks(volume.detList(1)), (std::vector<std::uint32_t>{10, 11, 12, 0}));
    EXPECT_TRUE(volume.detList(1).endedNormally);
    EXPECT_EQ(volume.detList(1).blockCount(), 3u);
    EXPECT_EQ(readDetChain(volume, reader, 2), 2u);
    EXPECT_EQ(volume.detList(2).nodes.back().block, 0x80000005u);
}

TEST_F(TableChainsTest, CompareCopiesIsRawAndStopsOnRequest)
{
    for (std::uint32_t b : {30u, 31u, 40u, 41u})
        fill(b, 0x5A);
    attach();
    BlockList a, b;
    appendBlock(a, 30, 0);
    appendBlock(a, 31, 0);
    appendBlock(a, 0xFFFFFFFF, 1);
    a.endedNormally = true;
    appendBlock(b, 40, 0);
    appendBlock(b, 41, 0);
    appendBlock(b, 0xFFFFFFFF, 1);
    b.endedNormally = true;
    StoppingObserver observer;
    observer.volume = &volume;
    EXPECT_TRUE(compareCopies(volume, reader, a, b, observer));

    bytes[(kStart + 41) * 512 + 511] = 0x5B;  // one byte of an unused slot
    attach();
    EXPECT_FALSE(compareCopies(volume, reader, a, b, observer));

    // A chain that ended by the sequence test against one that ended normally.
    BlockList c = b;
    c.endedNormally = false;
    c.nodes.back().block = 31;
    EXPECT_FALSE(compareCopies(volume, reader, a, c, observer));

    // A stop after the first sector pair: nothing more is read.
    observer.stopAfter = observer.reports + 1;
    volume.stopRequested = false;
    const unsigned before = faulty->attempts(kStart + 31);
    EXPECT_FALSE(compareCopies(volume, reader, a, a, observer));
    EXPECT_EQ(faulty->attempts(kStart + 31), before);
}

} // namespace
} // namespace tamsin
