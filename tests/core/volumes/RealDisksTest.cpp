// Builder-made disks shaped like real servers' (segments after gaps and on
// other disks, hot-fix redirection, mirrors, name-space chains) read exactly
// as their manifests say.

#include "VolumeWords.h"
#include "DiskWords.h"
#include "volumes/VolumeLayout.h"
#include "volumes/VolumeTableReader.h"

#include "disk/FileDevice.h"
#include "mount/Mount.h"
#include "mount/VolumeReader.h"
#include "mount/VolumeReports.h"

#include "FaultyDevice.h"
#include "ManifestCheck.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

constexpr std::uint32_t kStart = 2048;
constexpr std::uint32_t kHotfix = 1024;

ib::PartitionSpec netwarePartition(int slot, std::uint32_t start, std::uint32_t size, bool headers = true)
{
    ib::PartitionSpec partition;
    partition.slot = slot;
    partition.startSector = start;
    partition.sizeSectors = size;
    partition.netware.emplace();
    partition.netware->hotfixLength = kHotfix;
    if (headers)
        partition.netware->headers.emplace();
    return partition;
}

ib::SpannedSegmentSpec segmentAt(std::size_t disk, int slot, std::optional<std::uint32_t> root, std::uint32_t size)
{
    ib::SpannedSegmentSpec segment;
    segment.disk = disk;
    segment.slot = slot;
    segment.volumeRoot = root;
    segment.sizeSectors = size;
    return segment;
}

// DATA: 16 sectors per block; BIG.BIN runs from block 5 to 17, across the
// end of segment 0 (blocks 0..15); a folder tree with a long name besides.
ib::SpannedVolumeSpec dataVolume(std::vector<ib::SpannedSegmentSpec> segments)
{
    ib::SpannedVolumeSpec volume;
    volume.name = "DATA";
    volume.sectorsPerBlock = 16;
    volume.contents.emplace();
    ib::Node report = ib::fileNode("REPORT.DOC", 3000);
    report.longName = "Quarterly report.doc";
    volume.contents->nodes = {ib::fileNode("BIG.BIN", 13 * 8192 - 100),
                              ib::folderNode("PROJECTS", {report, ib::fileNode("SMALL.TXT", 700)})};
    volume.segments = std::move(segments);
    return volume;
}

ib::SegmentSpec plainVolume(std::string name, std::uint32_t sizeSectors)
{
    ib::SegmentSpec segment;
    segment.name = std::move(name);
    segment.sizeSectors = sizeSectors;
    return segment;
}

class RealDisks : public ::testing::Test {
protected:
    ib::DiskSetLayout write(const ib::DiskSetSpec& set)
    {
        std::vector<std::filesystem::path> paths;
        for (std::size_t i = 0; i < set.disks.size(); ++i)
            paths.push_back(dir / ("disk" + std::to_string(i) + ".img"));
        auto layout = ib::writeImages(set, paths);
        EXPECT_TRUE(layout) << (layout ? "" : layout.error());
        images = paths;
        return layout ? *layout : ib::DiskSetLayout{};
    }
    // Writes a set holding SYS, opens it, checks that the rows and
    // SYS read as the builder planned, and returns the layout report.
    LayoutReport readSys(const ib::DiskSetSpec& set)
    {
        const ib::DiskSetLayout layout = write(set);
        test::openDisks(session, images);
        test::expectRowsMatch(session.volumes, layout.rows());
        test::expectMountMatches(session, 0, *layout.volume("SYS"), dir / "out");
        return layoutReport(session.mounted, session.reader);
    }
    std::uint32_t rowOf(const std::string& name, std::uint32_t segment = 0) const
    {
        for (std::uint32_t i = 0; i < session.volumes.volumeCount(); ++i)
            if (session.volumes[i].name == name && session.volumes[i].segment == segment)
                return i;
        ADD_FAILURE() << "no row " << name << " segment " << segment;
        return 0;
    }

    test::TempDir dir;
    std::vector<std::filesystem::path> images;
    Session session;
};

// One partition with full headers: SYS (an old entry) at 160, DATA's first
// segment, VOL1, a gap where a deleted volume was, DATA's second segment.
// Logical block 4 (volume table copy 1) and a block in the middle of BIG.BIN
// are redirected, one of the latter's sectors lost.
ib::DiskSetSpec gapSet()
{
    ib::DiskSetSpec set;
    ib::PartitionSpec partition = netwarePartition(0, kStart, 8000);
    ib::SegmentSpec vol1 = plainVolume("VOL1", 256);
    vol1.volumeRoot = 1440;
    partition.netware->segments = {plainVolume("SYS", 1024), vol1};
    // DATA block b is logical blocks (1184 + 16 b) / 8 and one more: block 9 of BIG.BIN's run.
    ib::HotfixRedirect table;
    table.logicalBlock = 4;
    ib::HotfixRedirect inFile;
    inFile.logicalBlock = (1184 + 16 * 9) / 8 + 1;
    inFile.badBits = 0b0000'1000;
    partition.netware->headers->redirects = {table, inFile};
    set.disks.emplace_back().partitions = {partition};
    set.volumes = {dataVolume({segmentAt(0, 0, 1184, 256), segmentAt(0, 0, 2048, 512)})};
    return set;
}

TEST_F(RealDisks, TwoSegmentVolumeAfterAGapReadsWholeThroughRedirectedBlocks)
{
    const ib::DiskSetLayout layout = write(gapSet());
    test::openDisks(session, images);
    test::expectRowsMatch(session.volumes, layout.rows());
    ASSERT_EQ(session.volumes.volumeCount(), 4u);
    const VolumeInfo& second = session.volumes[rowOf("DATA", 1)];
    EXPECT_EQ(second.sectorsPerBlock, 16u) << "from the block-size code, not size / blocks";
    EXPECT_TRUE(second.complete());
    EXPECT_EQ(second.layout, session.volumes[rowOf("DATA", 0)].layout) << "both rows read one volume";

    const ib::VolumeManifest& data = *layout.volume("DATA");
    ASSERT_GT(data.incompleteFiles, 0u) << "the lost sector lies in BIG.BIN";
    // Mounting either segment's row mounts the whole volume.
    test::expectMountMatches(session, rowOf("DATA", 1), data, dir / "out1");
    EXPECT_TRUE(session.mounted.chosenFatCopy == 1);
    const LayoutReport report = layoutReport(session.mounted, session.reader);
    EXPECT_EQ(report.segments.size(), 2u);
    EXPECT_EQ(report.redirectedBlocks, 2u);
    EXPECT_EQ(report.partitions.size(), 1u);
    EXPECT_TRUE(report.partitions[0].headersUsable);
}

TEST_F(RealDisks, HotfixEntriesUnreadableInBothCopiesAreReportedNotTakenForFreeSpares)
{
    // The first sector of both redirection table copies fails: it holds all
    // 128 entries of this hot-fix area, the two redirects among them.
    const ib::DiskSetLayout layout = write(gapSet());
    const ib::PartitionLayout& partition = layout.disks[0].partitions[0];
    ASSERT_TRUE(partition.headers);
    ASSERT_EQ(partition.headers->hotfixBlocks, 128u);
    const auto& tables = partition.headers->tableSectors.at(0);
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(images[0].string()));
    faulty->markBad(partition.startSector + tables[0]);
    faulty->markBad(partition.startSector + tables[2]);
    session.reader.attach(std::move(faulty));
    session.reader.setRetryCount(1);
    ASSERT_EQ(readVolumeTables(session.openDisks(), session.volumes), VolumeTableStatus::VolumesFound);
    session.mounted.selectVolume(session.volumes[rowOf("SYS")], 0);

    const LayoutReport report = layoutReport(session.mounted, session.reader);
    EXPECT_EQ(report.unreadableHotfixEntries, 128u);
    EXPECT_EQ(report.redirectedBlocks, 0u);
    EXPECT_EQ(report.freeSpares, 0u);
    const auto rows = words::layoutInformation(report);
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [](const DriveRow& row) {
                               return row.label == DriveLabel::UnreadableHotfixEntries
                                   && row.value == "128 (blocks they may redirect read from their home place)";
                           }),
              rows.end());
}

TEST_F(RealDisks, SegmentOnASecondDiskReadsWithIt)
{
    ib::DiskSetSpec set;
    set.disks.emplace_back().partitions = {netwarePartition(0, kStart, 0)};
    set.disks.emplace_back().partitions = {netwarePartition(1, 63, 0, false)};
    set.volumes = {dataVolume({segmentAt(0, 0, std::nullopt, 256), segmentAt(1, 1, std::nullopt, 512)})};
    const ib::DiskSetLayout layout = write(set);
    test::openDisks(session, images);
    test::expectRowsMatch(session.volumes, layout.rows());
    EXPECT_EQ(session.volumes[1].diskPath, images[1].string());
    test::expectMountMatches(session, 0, *layout.volume("DATA"), dir / "out");
}

TEST_F(RealDisks, VolumeWithAMissingSegmentMountsAndMarksWhatLayThereUnreadable)
{
    ib::DiskSetSpec set;
    set.disks.emplace_back().partitions = {netwarePartition(0, kStart, 0)};
    set.volumes = {dataVolume({segmentAt(0, 0, std::nullopt, 256), segmentAt(0, 0, std::nullopt, 512)})};
    set.volumes[0].segments[1].entry = false;  // as if the second disk were not attached
    const ib::DiskSetLayout layout = write(set);
    test::openDisks(session, images);
    ASSERT_EQ(session.volumes.volumeCount(), 1u);
    EXPECT_FALSE(session.volumes[0].complete());
    EXPECT_EQ(words::missingSegmentsText(*session.volumes[0].layout), "segment 2 of 2 missing");
    const ib::VolumeManifest& data = *layout.volume("DATA");
    EXPECT_FALSE(data.complete);
    ASSERT_TRUE(data.find("BIG.BIN")->incomplete());
    test::expectMountMatches(session, 0, data, dir / "out");
}

// SYS on disk 0 with full headers, mirrored by a partition on disk 1 that has
// a larger hot-fix area and a redirect of its own.
ib::DiskSetSpec mirroredSet()
{
    ib::DiskSetSpec set;
    ib::PartitionSpec primary = netwarePartition(0, kStart, 6000);
    ib::SegmentSpec sys = plainVolume("SYS", 0);
    sys.contents.emplace();
    sys.contents->nodes = {ib::fileNode("LEDGER.DAT", 40 * 1024), ib::fileNode("NOTES.TXT", 900)};
    primary.netware->segments = {sys};
    set.disks.emplace_back().partitions = {primary};

    ib::PartitionSpec member = netwarePartition(1, 4096, 0);
    member.netware->hotfixLength = 2048;
    member.netware->headers->mirrorOf = ib::PartitionRef{0, 0};
    ib::HotfixRedirect redirect;
    redirect.logicalBlock = 27;
    member.netware->headers->redirects = {redirect};
    set.disks.emplace_back().partitions = {member};
    return set;
}

TEST_F(RealDisks, MirrorMembersAreOneVolumeAndAnUnreadableSectorComesFromTheOtherMember)
{
    const ib::DiskSetLayout layout = write(mirroredSet());
    const ib::VolumeManifest& sys = *layout.volume("SYS");
    const ib::ManifestEntry& ledger = *sys.find("LEDGER.DAT");

    // Disk 0 fails one sector of LEDGER.DAT on every read.
    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(images[0].string()));
    faulty->markBad(sys.blockSector(ledger.dataBlocks.at(2)) + 3);
    session.reader.attach(std::move(faulty));
    session.reader.setRetryCount(1);
    DiskInfo second;
    second.path = images[1].string();
    ASSERT_TRUE(session.addDisk().openDisk(second));
    ASSERT_EQ(readVolumeTables(session.openDisks(), session.volumes), VolumeTableStatus::VolumesFound);

    test::expectRowsMatch(session.volumes, layout.rows());
    ASSERT_EQ(session.volumes.volumeCount(), 1u) << "the members' tables are listed once";
    EXPECT_EQ(session.volumes[0].mirrors, (std::vector<std::string>{images[0].string(), images[1].string()}));
    test::expectMountMatches(session, 0, sys, dir / "out");

    const LayoutReport report = layoutReport(session.mounted, session.reader);
    ASSERT_EQ(report.partitions.size(), 2u);
    EXPECT_TRUE(report.partitions[0].mirrored && report.partitions[1].inSync);
    EXPECT_EQ(report.partitions[1].redirectedBlocks, 1u);
}

TEST_F(RealDisks, AnOutOfSyncMemberIsNeverReadFrom)
{
    ib::DiskSetSpec set = mirroredSet();
    set.disks[1].partitions[0].netware->headers->outOfSync = true;
    set.disks[1].partitions[0].netware->headers->damagedSectors = {200, 201, 202, 203, 204, 205, 206, 207};
    const LayoutReport report = readSys(set);
    ASSERT_EQ(report.partitions.size(), 2u);
    EXPECT_FALSE(report.partitions[1].inSync);
}

TEST_F(RealDisks, AMemberIsKnownByTheIdInItsMirrorSector)
{
    // The second member is flagged out of sync and holds garbage where the
    // first member fails; its HOTFIX sectors carry another partition id than
    // its MIRROR sectors. Member lists name MIRROR ids, so it still counts as
    // out of sync: the sector is lost, not taken from it.
    ib::DiskSetSpec set = mirroredSet();
    const auto planned = ib::planImages(set);
    ASSERT_TRUE(planned) << planned.error();
    const ib::VolumeManifest& plannedSys = *planned->volume("SYS");
    const std::uint64_t volumeSector = std::uint64_t{plannedSys.find("LEDGER.DAT")->dataBlocks.at(2)} * 8 + 3;
    const std::uint64_t diskSector = plannedSys.blockSector(plannedSys.find("LEDGER.DAT")->dataBlocks.at(2)) + 3;
    ib::PartitionHeaders& member = *set.disks[1].partitions[0].netware->headers;
    member.outOfSync = true;
    member.damagedSectors = {static_cast<std::uint32_t>(diskSector - kStart - kHotfix)};
    for (std::uint64_t copy = 1; copy <= 4; ++copy)
        ib::addRawBytes(set.disks[1], 4096 + 32 * copy, {0x78, 0x56, 0x34, 0x12}, 8);
    write(set);

    auto faulty = std::make_unique<test::FaultyDevice>(FileDevice::open(images[0].string()));
    faulty->markBad(diskSector);
    session.reader.attach(std::move(faulty));
    session.reader.setRetryCount(1);
    DiskInfo second;
    second.path = images[1].string();
    ASSERT_TRUE(session.addDisk().openDisk(second));
    ASSERT_EQ(readVolumeTables(session.openDisks(), session.volumes), VolumeTableStatus::VolumesFound);
    ASSERT_EQ(session.volumes.volumeCount(), 1u);
    session.mounted.selectVolume(session.volumes[0], 0);
    const LayoutReport report = layoutReport(session.mounted, session.reader);
    ASSERT_EQ(report.partitions.size(), 2u);
    EXPECT_FALSE(report.partitions[1].inSync);

    const VolumeReader io(session.mounted, session.reader);
    std::vector<std::uint8_t> sector(kSectorSize, 0xEE);
    EXPECT_EQ(io.read(volumeSector, 1, sector), 1u);
    EXPECT_EQ(sector, std::vector<std::uint8_t>(kSectorSize, 0));
}

TEST_F(RealDisks, AMemberAnyMemberMarksOutOfSyncIsNotReadFrom)
{
    // Disk 0 stopped being written: disk 1's header marks it out of sync,
    // while its own stale header still calls every member in sync, and it
    // holds garbage where LEDGER.DAT changed since. Disk 0 is scanned first.
    ib::DiskSetSpec set = mirroredSet();
    const auto planned = ib::planImages(set);
    ASSERT_TRUE(planned) << planned.error();
    const ib::VolumeManifest& plannedSys = *planned->volume("SYS");
    const std::uint64_t diskSector = plannedSys.blockSector(plannedSys.find("LEDGER.DAT")->dataBlocks.at(2));
    const auto logicalSector = static_cast<std::uint32_t>(diskSector - kStart - kHotfix);
    ib::PartitionHeaders& stale = *set.disks[0].partitions[0].netware->headers;
    stale.outOfSync = true;
    stale.mirrorFlags = ib::kMirrorInSyncFlags;
    stale.mirrorStatus = ib::kMirrorStatusBase;
    stale.damagedSectors = {logicalSector};
    const LayoutReport report = readSys(set);
    ASSERT_EQ(report.partitions.size(), 2u);
    EXPECT_FALSE(report.partitions[0].inSync);
    EXPECT_TRUE(report.partitions[1].inSync);
}

TEST_F(RealDisks, MembersMarkingEachOtherOutOfSyncLeaveTheFirstMembersHeaderToDecide)
{
    // Each member went on alone and marks the other: the first member's
    // header decides, so disk 0 is read and disk 1's garbage never is.
    ib::DiskSetSpec set = mirroredSet();
    ib::PartitionHeaders& first = *set.disks[0].partitions[0].netware->headers;
    ib::PartitionHeaders& second = *set.disks[1].partitions[0].netware->headers;
    first.mirrorStatus = ib::kMirrorStatusBase | 0x2;   // marks member 1 of its list, disk 1
    second.mirrorStatus = ib::kMirrorStatusBase | 0x1;  // marks member 0 of its list, disk 0
    second.damagedSectors = {200, 201, 202, 203, 204, 205, 206, 207};
    const LayoutReport report = readSys(set);
    ASSERT_EQ(report.partitions.size(), 2u);
    EXPECT_TRUE(report.partitions[0].inSync);
    EXPECT_FALSE(report.partitions[1].inSync);
}

TEST_F(RealDisks, ClonedDisksWithEqualIdsAreNotMirrors)
{
    ib::DiskSetSpec set = mirroredSet();
    ib::PartitionSpec clone = set.disks[0].partitions[0];
    set.disks[1].partitions = {clone};
    const std::uint32_t id = 0x12345678;
    for (auto* disk : {&set.disks[0], &set.disks[1]}) {
        disk->partitions[0].netware->headers->partitionId = id;
        disk->partitions[0].netware->headers->mirrorGroupId = id;
    }
    const ib::DiskSetLayout layout = write(set);
    test::openDisks(session, images);
    ASSERT_EQ(session.volumes.volumeCount(), 2u) << "each disk keeps its own SYS";
    EXPECT_TRUE(session.volumes[0].mirrors.empty());
    EXPECT_NE(session.volumes[0].layout, session.volumes[1].layout);
    test::expectRowsMatch(session.volumes, layout.rows());
}

TEST_F(RealDisks, NameSpaceChainsGiveTheShownNamesAndTheRootListsTheNameSpaces)
{
    const ib::DiskSpec disk = test::nameSpaceDisk();
    const auto built = ib::writeImage(disk, dir / "ns.img");
    ASSERT_TRUE(built) << built.error();
    images = {dir / "ns.img"};
    test::openDisks(session, images);
    const ib::VolumeManifest& manifest = *built->volume("SYS");
    test::expectMountMatches(session, 0, manifest, dir / "out");
    EXPECT_EQ(session.mounted.folders[0].name, "Projects 2024");
    EXPECT_EQ(volumeNameSpaces(session.mounted), (std::vector<std::string>{"DOS", "LONG", "NFS", "MAC"}));
    EXPECT_EQ(volumeNameSpaces(session.mounted), manifest.nameSpaces);
    EXPECT_EQ(session.mounted.root.createdDateTime, manifest.created);
}

// Records of files made and deleted over time lie side by side: the LONG
// record after ALPHA.TXT's entry is BETA.TXT's (its @120 says so), and a
// deleted file's broken chain leaves it nothing else to take.
TEST_F(RealDisks, ALongRecordOfAnotherFileInTheNextSlotIsNotTakenAsTheName)
{
    const ib::VolumeContents contents = test::nextSlotOwners();
    const auto built = ib::writeImage(ib::singleVolumeDisk("SYS", 8, contents), dir / "next.img");
    ASSERT_TRUE(built) << built.error();
    images = {dir / "next.img"};
    test::openDisks(session, images);
    test::expectMountMatches(session, 0, *built->volume("SYS"), dir / "out");

    std::vector<std::string> names;
    for (const TreeNode& file : session.mounted.files)
        names.push_back(file.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA.TXT", "Beta long name.txt", "Gamma long name.txt", "OLD.TXT"}));
}

// PROJECTS's @120 is not its directory number; its entries name it by the
// number, as NetWare links them. They stay in it: no placeholder.
TEST_F(RealDisks, EntriesNamingAFolderByItsNumberStayInItWhenItsPrimaryEntryDiffers)
{
    ib::VolumeContents contents;
    ib::Node projects = ib::folderNode("PROJECTS", {ib::fileNode("REPORT.DOC", 300), ib::folderNode("OLD"),
                                                   ib::fileNode("SMALL.TXT", 20)});
    projects.ownId = 999;
    ib::Node keep = ib::fileNode("KEEP.TXT", 10);
    keep.parentId = 999;  // names it by its @120: stays there too
    projects.children.push_back(keep);
    contents.nodes = {projects, ib::fileNode("TOP.TXT", 5)};

    ib::DiskSpec disk = ib::singleVolumeDisk("SYS", 8, contents);
    auto planned = ib::planImage(disk);
    ASSERT_TRUE(planned) << planned.error();
    const ib::ManifestEntry* folder = planned->volume("SYS")->find("PROJECTS");
    ASSERT_TRUE(folder);
    auto& children = disk.partitions[0].netware->segments[0].contents->nodes[0].children;
    for (std::size_t k = 0; k < 3; ++k)
        children[k].parentId = folder->position;

    const auto built = ib::writeImage(disk, dir / "renumbered.img");
    ASSERT_TRUE(built) << built.error();
    images = {dir / "renumbered.img"};
    test::openDisks(session, images);
    test::expectMountMatches(session, 0, *built->volume("SYS"), dir / "out");

    ASSERT_EQ(session.mounted.folderCount(), 2u) << "no placeholder folder";
    std::vector<std::string> inProjects;
    for (const std::uint32_t k : session.mounted.index.childFiles(999))
        inProjects.push_back(session.mounted.files[k].name);
    std::sort(inProjects.begin(), inProjects.end());
    EXPECT_EQ(inProjects, (std::vector<std::string>{"KEEP.TXT", "REPORT.DOC", "SMALL.TXT"}));
    ASSERT_EQ(session.mounted.index.childFolders(999).size(), 1u);
    EXPECT_EQ(session.mounted.folders[session.mounted.index.childFolders(999)[0]].name, "OLD");
}

// A folder whose @120 is 0, the root's id, does not move the entries that
// name it by its number to the top: they keep a placeholder of their own.
TEST_F(RealDisks, EntriesOfAFolderWhosePrimaryEntryIsZeroAreNotPutAtTheTop)
{
    ib::VolumeContents contents;
    ib::Node odd = ib::folderNode("ODD", {ib::fileNode("INSIDE.TXT", 30)});
    odd.ownId = 0;
    contents.nodes = {odd, ib::fileNode("TOP.TXT", 5)};

    ib::DiskSpec disk = ib::singleVolumeDisk("SYS", 8, contents);
    auto planned = ib::planImage(disk);
    ASSERT_TRUE(planned) << planned.error();
    const ib::ManifestEntry* folder = planned->volume("SYS")->find("ODD");
    ASSERT_TRUE(folder);
    disk.partitions[0].netware->segments[0].contents->nodes[0].children[0].parentId = folder->position;

    const auto built = ib::writeImage(disk, dir / "zero.img");
    ASSERT_TRUE(built) << built.error();
    images = {dir / "zero.img"};
    test::openDisks(session, images);
    session.mounted.selectVolume(session.volumes[0], 0);
    test::RecordingMountObserver observer;
    ASSERT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    for (const std::uint32_t k : session.mounted.index.childFiles(0))
        EXPECT_NE(session.mounted.files[k].name, "INSIDE.TXT");
    ASSERT_EQ(session.mounted.folderCount(), 2u);
    EXPECT_EQ(session.mounted.folders[1].name, "Dir0");
    ASSERT_EQ(session.mounted.index.childFiles(folder->position).size(), 1u);
}

// A DOS entry whose @120 is not its directory number heads records that
// carry the same @120: they are its own, and give its shown name. A record
// whose @120 names neither stays another file's.
TEST_F(RealDisks, ChainRecordsCarryingTheDosEntrysOwnPrimaryEntryGiveItsName)
{
    const ib::VolumeContents contents = test::chainPrimaryEntries();
    const auto built = ib::writeImage(ib::singleVolumeDisk("SYS", 8, contents), dir / "primary.img");
    ASSERT_TRUE(built) << built.error();
    images = {dir / "primary.img"};
    test::openDisks(session, images);
    test::expectMountMatches(session, 0, *built->volume("SYS"), dir / "out");
    ASSERT_EQ(session.mounted.folderCount(), 1u);
    EXPECT_EQ(session.mounted.folders[0].name, "Projects 2024");
    ASSERT_EQ(session.mounted.fileCount(), 2u);
    EXPECT_EQ(session.mounted.files[0].name, "Annual report.doc");
    EXPECT_EQ(session.mounted.files[1].name, "OTHER.TXT");
}

TEST_F(RealDisks, AHeaderCopyTheOthersContradictIsOutvoted)
{
    // HOTFIX copy 1 passes every check on its own but gives a hot-fix length
    // 8 sectors short; copies 2 to 4 agree on the true one.
    ib::DiskSetSpec set;
    ib::PartitionSpec partition = netwarePartition(0, kStart, 0);
    ib::SegmentSpec sys = plainVolume("SYS", 0);
    sys.contents.emplace();
    sys.contents->nodes = {ib::fileNode("A.TXT", 3000)};
    partition.netware->segments = {sys};
    set.disks.emplace_back().partitions = {partition};
    ib::addRawBytes(set.disks[0], kStart + 32, {0xF8, 0x03, 0x00, 0x00}, 24);  // 1016
    const ib::DiskSetLayout layout = write(set);
    test::openDisks(session, images);
    test::expectRowsMatch(session.volumes, layout.rows());
    test::expectMountMatches(session, 0, *layout.volume("SYS"), dir / "out");
}

TEST_F(RealDisks, PartitionWithoutValidHeadersReadsAsBeforeEvenWithAHotfixStamp)
{
    // Only the HOTFIX00 stamp: no mirror sector, so no redirection is trusted
    // and the table sits where the hot-fix length puts it.
    ib::DiskSetSpec set;
    ib::PartitionSpec partition = netwarePartition(0, kStart, 0, false);
    ib::SegmentSpec sys = plainVolume("SYS", 0);
    sys.contents.emplace();
    sys.contents->nodes = {ib::fileNode("A.TXT", 3000)};
    partition.netware->segments = {sys};
    set.disks.emplace_back().partitions = {partition};
    const LayoutReport report = readSys(set);
    ASSERT_EQ(report.partitions.size(), 1u);
    EXPECT_FALSE(report.partitions[0].headersUsable);
}

} // namespace
} // namespace tamsin
