// Mounts builder-made volumes and compares the result with what the builder wrote.

#include "disk/FileDevice.h"
#include "mount/Mount.h"

#include "FaultyDevice.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
using test::RecordingMountObserver;

ib::VolumeContents sampleContents()
{
    return test::mountSample();
}

class MountTest : public ::testing::Test {
protected:
    // The sample volume with 30 more files, so that its DET spans several sectors.
    void buildWithMoreFiles()
    {
        ib::VolumeContents c = sampleContents();
        for (int i = 0; i < 30; ++i)
            c.nodes.push_back(ib::fileNode("F" + std::to_string(i) + ".TXT", 700));
        build(c);
    }

    void build(ib::VolumeContents contents, std::uint32_t spb = 8)
    {
        built = test::buildVolume(dir / "disk.img", std::move(contents), spb);
        ASSERT_TRUE(built.manifest);
        test::openAndSelect(session, built.imagePath);
    }
    MountResult mount() { return mountVolume(session.mounted, session.reader, observer); }

    test::TempDir dir;
    Session session;
    RecordingMountObserver observer;
    test::BuiltVolume built;
};

TEST_F(MountTest, DecodesExactlyWhatTheBuilderWrote)
{
    build(sampleContents());
    ASSERT_EQ(mount(), MountResult::Completed);
    const MountedVolume& v = session.mounted;
    EXPECT_TRUE(observer.chooserCalls.empty());
    EXPECT_EQ(v.chosenFatCopy, 1);
    EXPECT_EQ(v.chosenDetCopy, 1);
    EXPECT_TRUE(v.fatList(2).empty());
    EXPECT_EQ(v.suballocationRoots, built.manifest->suballocationRoots);

    std::size_t folders = 0, files = 0;
    for (const ib::ManifestEntry& e : built.manifest->entries) {
        const TreeNode& n = e.folder ? v.folders.at(folders) : v.files.at(files);
        EXPECT_EQ(n.ordinal, e.folder ? folders : files);
        (e.folder ? folders : files)++;
        EXPECT_EQ(n.name, e.name);
        EXPECT_EQ(n.parentId, e.parentId) << e.name;
        EXPECT_EQ(n.ownId, e.ownId) << e.name;
        EXPECT_EQ(n.size, e.size) << e.name;
        EXPECT_EQ(n.firstBlock, e.firstBlock) << e.name;
        EXPECT_EQ(n.dateTime, e.dateTime) << e.name;
        EXPECT_EQ(n.deletedMarker, e.deletedMarker) << e.name;
        EXPECT_EQ(n.attributes, e.attributes) << e.name;
        EXPECT_EQ(n.attributesHigh, e.attributesHigh) << e.name;
        EXPECT_EQ(n.entrySector, static_cast<std::uint32_t>(e.entrySector)) << e.name;
        EXPECT_EQ(n.mirrorSector, static_cast<std::uint32_t>(e.mirrorSector)) << e.name;
        EXPECT_EQ(n.entrySlot, e.slot) << e.name;
    }
    EXPECT_EQ(folders, v.folderCount());
    EXPECT_EQ(files, v.fileCount());
    EXPECT_EQ(v.files[0].name, "A long name for A.txt");

    // The mount reports its phases in order and ends with the browsing instructions.
    EXPECT_EQ(observer.statuses,
              (std::vector<MountStatus>{MountStatus::ReadingFirstFat, MountStatus::ReadingSecondFat,
                                        MountStatus::MatchingFat, MountStatus::ReadingFirstDet,
                                        MountStatus::ReadingSecondDet, MountStatus::MatchingDet, MountStatus::Mounting,
                                        MountStatus::SearchingLostData, MountStatus::CreatingTree}));
    EXPECT_EQ(observer.volumeName, "SYS");
    EXPECT_EQ(observer.instructions, (std::vector<MountInstruction>{MountInstruction::Mounting,
                                                                     MountInstruction::Browsing}));
    EXPECT_EQ(observer.stages, (std::vector<MountStage>{MountStage::ReadingTables, MountStage::Matching,
                                                         MountStage::WalkingDirectory, MountStage::BuildingTree}));
    EXPECT_FALSE(v.busy);
}

// Byte 9 is left undefined in ordinary entries (other servers and tools leave
// anything there): only attribute bit 0x10 makes a folder and only @108 a
// deleted entry.
TEST_F(MountTest, TheFlagByteDecidesNeitherFolderNorDeleted)
{
    ib::VolumeContents c;
    ib::Node flaggedDeleted = ib::fileNode("FLAGGED.TXT", 100);
    flaggedDeleted.flags = 0x21;
    ib::Node flaggedFolder = ib::fileNode("NOTDIR.TXT", 100);
    flaggedFolder.flags = 0x04;
    ib::Node byId = ib::fileNode("BYID.TXT", 100);
    byId.deletedMarker = 0x01000000;
    ib::Node folder = ib::folderNode("DIR", {ib::fileNode("CHILD.TXT", 10)});
    folder.flags = 0xFF;
    c.nodes = {flaggedDeleted, flaggedFolder, byId, folder};
    build(c);
    ASSERT_EQ(mount(), MountResult::Completed);
    const MountedVolume& v = session.mounted;

    ASSERT_EQ(v.fileCount(), 4u);
    ASSERT_EQ(v.folderCount(), 1u);
    EXPECT_EQ(v.folders[0].name, "DIR");
    EXPECT_FALSE(v.folders[0].isDeleted());
    for (const TreeNode& f : v.files) {
        EXPECT_EQ(f.isDeleted(), f.name == "BYID.TXT") << f.name;
        EXPECT_EQ(f.isDeleted(), built.manifest->find(f.name.view())->deleted()) << f.name;
    }
}

TEST_F(MountTest, FatCopiesDifferingInOneUnusedByteGoToTheChooser)
{
    ib::VolumeContents c = sampleContents();
    c.fatCopy2Patches.push_back({5000, 3, {0x42}});  // an entry of a block nothing uses
    build(c);
    observer.answers = {CopyChoice::Second};
    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_EQ(observer.chooserCalls, std::vector<TableKind>{TableKind::Fat});
    EXPECT_EQ(session.mounted.chosenFatCopy, 2);
    EXPECT_TRUE(session.mounted.fatList(1).empty());
    EXPECT_EQ(session.mounted.fileCount(), 6u);
}

TEST_F(MountTest, ChainsOfDifferentLengthsSkipTheComparison)
{
    ib::VolumeContents c = sampleContents();
    c.fatChains[1].firstSequence = 9;  // copy 2's chain ends at its first block
    build(c);
    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_EQ(observer.chooserCalls, std::vector<TableKind>{TableKind::Fat});
    EXPECT_FALSE(observer.sawStatus(MountStatus::MatchingFat));
    EXPECT_EQ(session.mounted.chosenFatCopy, 1);  // First, as the chooser preselects
}

TEST_F(MountTest, CancelInTheDetChooserAbandonsWithoutATree)
{
    ib::VolumeContents c = sampleContents();
    c.detCopy2Patches.push_back({2, 12, {'X'}});
    build(c);
    observer.answers = {CopyChoice::Cancel};
    EXPECT_EQ(mount(), MountResult::Abandoned);
    EXPECT_EQ(observer.chooserCalls, std::vector<TableKind>{TableKind::Det});
    EXPECT_TRUE(session.mounted.tree.empty());
    EXPECT_EQ(session.mounted.folderCount(), 0u);
    EXPECT_EQ(observer.instructions.back(), MountInstruction::SelectVolume);
    EXPECT_FALSE(session.mounted.busy);
}

TEST_F(MountTest, StopDuringMatchingCountsAsADifference)
{
    build(sampleContents());
    bool stopped = false;
    observer.onProgress = [&](int) {
        if (!stopped && !observer.stages.empty() && observer.stages.back() == MountStage::Matching
            && observer.sawStatus(MountStatus::MatchingFat)) {
            stopped = true;
            session.mounted.stopRequested = true;
        }
    };
    ASSERT_EQ(mount(), MountResult::Completed);
    ASSERT_FALSE(observer.chooserCalls.empty());
    EXPECT_EQ(observer.chooserCalls[0], TableKind::Fat);
}

TEST_F(MountTest, StopDuringTheWalkKeepsWhatWasDecodedAndBuildsTheTree)
{
    ib::VolumeContents c;
    c.generate = ib::GeneratedTree{};
    c.generate->entries = 2000;
    build(c, 8);
    observer.onProgress = [&](int) {
        if (observer.stages.back() == MountStage::WalkingDirectory && session.mounted.fileCount() > 0)
            session.mounted.stopRequested = true;
    };
    ASSERT_EQ(mount(), MountResult::Completed);
    const MountedVolume& v = session.mounted;
    EXPECT_GT(v.folderCount() + v.fileCount(), 0u);
    EXPECT_LT(v.folderCount() + v.fileCount(), 2000u);
    EXPECT_EQ(v.tree.size(), v.folderCount() + 1);
}

TEST_F(MountTest, LoopingDetChainDecodesEachBlockOnce)
{
    ib::VolumeContents c;
    c.generate = ib::GeneratedTree{};
    c.generate->entries = 200;
    c.detChains[0].loopTo = 1;
    c.detChains[1].loopTo = 1;
    build(c, 8);
    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_EQ(session.mounted.folderCount() + session.mounted.fileCount(), built.manifest->entries.size());
}

TEST_F(MountTest, DetChainFailingItsFirstSequenceStillDecodesItsFirstBlock)
{
    ib::VolumeContents c;
    c.generate = ib::GeneratedTree{};
    c.generate->entries = 100;
    c.detChains[0].firstSequence = 3;
    c.detChains[1].firstSequence = 3;
    build(c, 8);
    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_EQ(session.mounted.detBlockCount, 1u);  // 0 steps, shown as progress over one block
    const std::uint64_t firstBlock = built.manifest->blockSector(built.manifest->det[0].blocks[0]);
    std::size_t inFirstBlock = 0;
    for (const auto& e : built.manifest->entries)
        inFirstBlock += e.entrySector < firstBlock + 8;
    EXPECT_EQ(session.mounted.folderCount() + session.mounted.fileCount(), inFirstBlock);
    EXPECT_LT(inFirstBlock, built.manifest->entries.size());
}

TEST_F(MountTest, LargeVolumesSecondFatCopyIsReadThroughTheFirst)
{
    // 300,000 blocks need 586 FAT blocks per copy, so copy 2 starts past
    // block 511 and its first entries lie in FAT blocks its own chain has
    // not listed yet.
    ib::DiskSpec disk = ib::singleVolumeDisk("BIG", 8, sampleContents());
    disk.partitions[0].netware->segments[0].sizeSectors = 300'000 * 8;
    const auto layout = ib::writeImage(disk, dir / "big.img");
    ASSERT_TRUE(layout.ok()) << layout.error();
    const auto& manifest = *layout->partitions[0].segments[0].manifest;
    ASSERT_GT(manifest.fat[1].blocks.front(), 511u);
    test::openAndSelect(session, (dir / "big.img").string());

    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_TRUE(observer.chooserCalls.empty());
    EXPECT_EQ(session.mounted.chosenFatList.blockCount(), manifest.fat[0].blocks.size());
    EXPECT_EQ(session.mounted.fileCount(), 6u);
}

TEST_F(MountTest, ImpossibleBlockSizesAreRefusedAtOnce)
{
    build(sampleContents());
    for (std::uint32_t spb : {0u, 129u, 0xFFFFFFFFu}) {  // a damaged entry: size 0xFFFFFFFF over 1 block
        session.mounted.sectorsPerBlock = spb;
        EXPECT_EQ(mount(), MountResult::Invalid) << spb;
    }
}

// Going back to the volume list must hand a large volume's memory back, not
// only empty its lists.
TEST_F(MountTest, ReleasingAMountFreesItsListsMemory)
{
    buildWithMoreFiles();
    ASSERT_EQ(mount(), MountResult::Completed);
    MountedVolume& v = session.mounted;
    const std::uint32_t files = v.fileCount();
    ASSERT_GT(v.files.capacity(), 0u);
    v.releaseMount();
    EXPECT_EQ(v.folders.capacity(), 0u);
    EXPECT_EQ(v.files.capacity(), 0u);
    EXPECT_EQ(v.chosenFatList.nodes.capacity(), 0u);
    EXPECT_TRUE(v.tree.empty());
    EXPECT_TRUE(v.dosNames.empty());
    // The same volume mounts again as before.
    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_EQ(v.fileCount(), files);
}

// A table sector one copy cannot read is taken from the other copy: no
// difference to choose between, and nothing lost.
TEST_F(MountTest, UnreadableTableSectorsComeFromTheOtherCopy)
{
    buildWithMoreFiles();
    const ib::VolumeManifest& m = *built.manifest;
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    faulty->markBad(m.blockSector(m.fat[0].blocks.at(0)));          // FAT copy 1: the entries of blocks 0..63
    faulty->markBad(m.blockSector(m.det[0].blocks.at(0)) + 2);      // DET copy 1: entries 8..11
    session.reader.attach(std::move(faulty));
    session.reader.setRetryCount(1);

    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_TRUE(observer.chooserCalls.empty()) << "an unreadable sector is not a difference";
    const MountedVolume& v = session.mounted;
    EXPECT_EQ(v.folderCount() + v.fileCount(), m.entries.size());
    std::size_t files = 0;
    for (const ib::ManifestEntry& e : m.entries) {
        if (!e.folder) {
            EXPECT_EQ(v.files.at(files++).name, e.name);
        }
    }
}

TEST_F(MountTest, ADirectorySectorUnreadableInBothCopiesCostsItsEntriesOnly)
{
    buildWithMoreFiles();
    const ib::VolumeManifest& m = *built.manifest;
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(built.imagePath));
    faulty->markBad(m.blockSector(m.det[0].blocks.at(0)) + 3);
    faulty->markBad(m.blockSector(m.det[1].blocks.at(0)) + 3);
    session.reader.attach(std::move(faulty));
    session.reader.setRetryCount(1);

    ASSERT_EQ(mount(), MountResult::Completed);
    EXPECT_TRUE(observer.chooserCalls.empty());
    std::size_t lost = 0;
    for (const ib::ManifestEntry& e : m.entries)
        lost += e.position / 4 == 3 ? 1 : 0;
    ASSERT_GT(lost, 0u);
    EXPECT_EQ(session.mounted.folderCount() + session.mounted.fileCount() + lost, m.entries.size());
}

} // namespace
} // namespace tamsin
