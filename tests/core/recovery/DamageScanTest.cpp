// The damage scan on builder-made volumes whose rescue maps leave chosen
// sectors unread: in file data, in one or both DET copies and in both FAT copies.

#include "recovery/DamageScan.h"

#include "disk/RescueMap.h"
#include "mount/Mount.h"
#include "recovery/Extraction.h"

#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace tamsin {
namespace {

namespace ib = imagebuilder;

ib::VolumeContents contents()
{
    ib::VolumeContents c;
    std::vector<ib::Node> lost{ib::fileNode("A1.TXT", 10), ib::fileNode("A2.TXT", 10), ib::fileNode("A3.TXT", 10),
                               ib::fileNode("A4.TXT", 10), ib::fileNode("CHILD.TXT", 700)};
    // BIG's 120 blocks of 4 KiB reach past FAT sector 0 (blocks 0..63).
    c.nodes = {ib::fileNode("SMALL.TXT", 2000), ib::folderNode("LOST", lost), ib::fileNode("BIG.DAT", 120 * 4096),
               ib::fileNode("CLEAN.TXT", 3000)};
    return c;
}

class DamageScanTest : public ::testing::Test {
protected:
    void SetUp() override { build(contents()); }

    void build(ib::VolumeContents volume)
    {
        built = test::buildVolume(dir / "disk.img", std::move(volume), 8);
        ASSERT_TRUE(built.manifest);
    }

    const ib::ManifestEntry& entry(const char* name) const { return *built.manifest->find(name); }

    // Mounts the volume with the given sectors unread and scans it.
    DamageReport scan(const std::set<std::uint64_t>& bad, const std::atomic<bool>& stop = false_)
    {
        mountWithout(bad);
        DamageObserver quiet;
        DamageReport report = scanDamage(session.mounted, session.reader, quiet, stop);
        for (const DamageRow& row : report.rows)
            names.push_back(row.kind == DamageKind::Table ? row.table
                            : row.kind == DamageKind::Folder ? session.mounted.folders[row.position].name.str()
                                                             : session.mounted.files[row.position].name.str());
        return report;
    }

    void mountWithout(const std::set<std::uint64_t>& bad)
    {
        test::openAndSelect(session, built.imagePath);
        const std::uint64_t sectors = std::filesystem::file_size(built.imagePath) / 512;
        std::istringstream in(test::rescueMapText(sectors * 512, bad));
        std::string error;
        auto map = RescueMap::parse(in, sectors * 512, error);
        EXPECT_TRUE(map) << error;
        session.reader.setRescueMap(std::make_shared<const RescueMap>(std::move(*map)));
        test::RecordingMountObserver observer;
        EXPECT_EQ(mountVolume(session.mounted, session.reader, observer), MountResult::Completed);
    }

    test::TempDir dir;
    Session session;
    test::BuiltVolume built;
    std::vector<std::string> names;  // of the last scan's rows, in order
    static inline const std::atomic<bool> false_{false};
};

TEST_F(DamageScanTest, IntactVolumeHasNoRows)
{
    const DamageReport report = scan({});
    EXPECT_TRUE(report.rows.empty());
    EXPECT_FALSE(report.stopped);
    EXPECT_EQ(report.filesScanned, built.manifest->entries.size() - 1);  // every file; LOST is a folder
}

TEST_F(DamageScanTest, UnreadSectorInFileDataCountsOnlyItsBytesWithinTheSize)
{
    // SMALL.TXT is 2000 bytes: its fourth sector holds the last 464.
    const std::uint64_t last = built.manifest->blockSector(entry("SMALL.TXT").dataBlocks.at(0)) + 3;
    // A sector past the end of the file in the same block damages nothing.
    const DamageReport report = scan({last, last + 1});
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(names, std::vector<std::string>{"SMALL.TXT"});
    EXPECT_EQ(report.rows[0].kind, DamageKind::File);
    EXPECT_EQ(report.rows[0].unreadableBytes, 464u);
    EXPECT_EQ(report.rows[0].totalBytes, 2000u);
    EXPECT_NEAR(report.rows[0].intactShare(), 1536.0 / 2000.0, 1e-9);
}

TEST_F(DamageScanTest, TableSectorOneCopySuppliesDamagesNothing)
{
    const ib::ManifestEntry& lost = entry("LOST");
    const std::uint64_t fatSector1 = built.manifest->blockSector(built.manifest->fat[0].blocks.at(0)) + 1;
    const DamageReport report = scan({lost.entrySector, fatSector1});
    EXPECT_TRUE(report.rows.empty()) << names.front();
}

TEST_F(DamageScanTest, DetSectorLostInBothCopiesGivesTableRowThenItsOrphanedFolder)
{
    const ib::ManifestEntry& lost = entry("LOST");
    const ib::ManifestEntry& child = entry("CHILD.TXT");
    ASSERT_NE(child.entrySector, lost.entrySector) << "the child must lie in another DET sector";
    const DamageReport report = scan({lost.entrySector, lost.mirrorSector});
    ASSERT_GE(report.rows.size(), 2u);
    EXPECT_EQ(report.rows[0].kind, DamageKind::Table);
    EXPECT_EQ(names[0], "DET");
    EXPECT_EQ(report.rows[0].unreadableBytes, 512u);
    EXPECT_EQ(report.rows[0].totalBytes % 512, 0u);
    EXPECT_GT(report.rows[0].totalBytes, 512u);
    EXPECT_EQ(report.rows[1].kind, DamageKind::Folder);
    EXPECT_EQ(names[1], "Dir0");
    // Files keep their data: none is listed.
    EXPECT_TRUE(std::none_of(report.rows.begin(), report.rows.end(),
                             [](const DamageRow& row) { return row.kind == DamageKind::File; }));
}

TEST_F(DamageScanTest, FatSectorLostInBothCopiesDamagesTheChainsThroughIt)
{
    const ib::ManifestEntry& big = entry("BIG.DAT");
    ASSERT_GT(*std::max_element(big.dataBlocks.begin(), big.dataBlocks.end()), 64u);
    const std::uint64_t copy1 = built.manifest->blockSector(built.manifest->fat[0].blocks.at(0)) + 1;
    const std::uint64_t copy2 = built.manifest->blockSector(built.manifest->fat[1].blocks.at(0)) + 1;
    const DamageReport report = scan({copy1, copy2});
    ASSERT_EQ(names, (std::vector<std::string>{"FAT", "BIG.DAT"}));
    EXPECT_EQ(report.rows[0].unreadableBytes, 512u);
    // The chain ends at the first block whose entry lies in FAT sector 1:
    // what it would have reached is lost.
    std::uint64_t reached = 0;
    for (std::uint32_t block : big.dataBlocks) {
        reached += 4096;
        if (block >= 64)
            break;
    }
    EXPECT_EQ(report.rows[1].unreadableBytes, big.size - reached);
    EXPECT_EQ(report.rows[1].totalBytes, big.size);
    EXPECT_EQ(report.lostFatSectors, 1u);
}

TEST_F(DamageScanTest, StopRequestEndsTheScanAsStopped)
{
    const std::atomic<bool> stop{true};
    const DamageReport report = scan({}, stop);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(report.filesScanned, 0u);
}

// Whatever the chain (holes, a fragment tail, a fragment alone, compressed
// data), a file's row names the bytes a copy of it loses: written as zeros,
// or out of reach of a chain broken on lost FAT sectors.
TEST_F(DamageScanTest, FileRowsNameWhatACopyLoses)
{
    ib::VolumeContents c = contents();
    ib::Node sparse = ib::fileNode("SPARSE.DAT", 6 * 4096);
    sparse.chain.fileBlocks = {0, 2, 5};
    ib::Node tail = ib::fileNode("TAIL.DAT", 3 * 4096 + 1500);
    tail.storage = ib::Storage::SuballocationTail;
    ib::Node fragment = ib::fileNode("FRAG.DAT", 2500);
    fragment.storage = ib::Storage::FragmentOnly;
    ib::Node packed = ib::fileNode("PACKED.DAT", 5 * 4096);
    packed.compressed = ib::Compression{};
    ib::Node packedHeaderLost = ib::fileNode("PACKED2.DAT", 3 * 4096);
    packedHeaderLost.compressed = ib::Compression{};
    c.nodes.insert(c.nodes.end(), {sparse, tail, fragment, packed, packedHeaderLost});
    build(std::move(c));

    // A sector of every data block lost (a different one in each), the
    // first of PACKED2's (its header), and FAT sector 1 in both copies.
    std::set<std::uint64_t> bad;
    const ib::VolumeManifest& m = *built.manifest;
    for (const ib::ManifestEntry& e : m.entries)
        for (std::uint32_t block : e.dataBlocks)
            bad.insert(m.blockSector(block) + (e.name == "PACKED2.DAT" ? 0 : 1 + block % 7));
    for (const auto& [sizeClass, chain] : m.suballocationChains)
        for (std::uint32_t block : chain.blocks)
            bad.insert(m.blockSector(block) + 2);
    bad.insert(m.blockSector(m.fat[0].blocks.at(0)) + 1);
    bad.insert(m.blockSector(m.fat[1].blocks.at(0)) + 1);
    const DamageReport report = scan(bad);

    std::map<std::uint32_t, std::uint64_t> rows;
    for (const DamageRow& row : report.rows)
        if (row.kind == DamageKind::File)
            rows[row.position] = row.unreadableBytes;
    std::size_t lossy = 0;
    for (std::uint32_t k = 0; k < session.mounted.fileCount(); ++k) {
        const TreeNode& file = session.mounted.files[k];
        SCOPED_TRACE(file.name.str());
        RecoveryRunState run;
        ExtractionObserver quiet;
        const ExtractResult copy = extractFile(session.mounted, session.reader, run, quiet,
                                               extractRequestFor(file, dir.path().string(), "copy", ExtractMode::Quiet));
        std::uint64_t lost = std::min<std::uint64_t>(copy.damagedBytes(), file.size);
        if (copy.outcome == ExtractOutcome::ChecksumError)
            lost = file.size;  // here only PACKED2, whose header sector is lost
        EXPECT_EQ(rows.contains(k) ? rows[k] : 0, lost);
        lossy += lost > 0;
    }
    EXPECT_EQ(lossy, rows.size());
    EXPECT_GE(lossy, 8u);
}

} // namespace
} // namespace tamsin
