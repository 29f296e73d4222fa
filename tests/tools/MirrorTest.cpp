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

HotfixRedirect redirect(std::uint32_t logicalBlock, std::uint8_t badBits = 0)
{
    HotfixRedirect result;
    result.logicalBlock = logicalBlock;
    result.badBits = badBits;
    return result;
}

// Disk 0: slot 0 at 2048 holds SYS (a 40 KiB file in blocks 5..14, logical
// blocks 25..34) with full headers. Disk 1: slot 1 at 4096 mirrors it with a
// hot-fix area of 2048 sectors and its own redirect.
DiskSetSpec mirroredSet()
{
    DiskSetSpec set;
    PartitionSpec primary;
    primary.slot = 0;
    primary.startSector = 2048;
    primary.sizeSectors = 6000;
    primary.netware.emplace();
    primary.netware->headers.emplace();
    SegmentSpec sys;
    sys.name = "SYS";
    sys.contents.emplace();
    sys.contents->nodes = {fileNode("LEDGER.DAT", 40 * 1024)};
    primary.netware->segments = {sys};
    set.disks.emplace_back().partitions = {primary};

    PartitionSpec member;
    member.slot = 1;
    member.startSector = 4096;
    member.netware.emplace();
    member.netware->hotfixLength = 2048;
    member.netware->headers.emplace();
    member.netware->headers->mirrorOf = PartitionRef{0, 0};
    member.netware->headers->redirects = {redirect(27)};
    set.disks.emplace_back().partitions = {member};
    return set;
}

struct Images {
    ImageFile disk0;
    ImageFile disk1;
    std::vector<std::filesystem::path> paths() const { return {disk0.path(), disk1.path()}; }
};

// Logical sector s of a member, read through its own redirection.
SectorBytes logicalSector(const ImageFile& image, const PartitionLayout& partition, std::uint32_t s)
{
    const auto physical = partition.physicalSector(std::uint64_t{partition.startSector} + partition.hotfixLength + s);
    return physical ? image.sector(*physical) : SectorBytes{};
}

TEST(Mirror, MembersOnTwoDisksHoldTheSameDataAreaThroughTheirOwnHotfixAreas)
{
    Images images;
    const auto layout = writeImages(mirroredSet(), images.paths());
    ASSERT_TRUE(layout) << layout.error();
    const PartitionLayout& primary = *layout->partition({0, 0});
    const PartitionLayout& member = *layout->partition({1, 1});
    const HeaderLayout& a = *primary.headers;
    const HeaderLayout& b = *member.headers;
    EXPECT_NE(a.partitionId, b.partitionId);
    EXPECT_EQ(a.mirrorGroupId, b.mirrorGroupId);
    EXPECT_EQ(a.members, (std::vector<std::uint32_t>{a.partitionId, b.partitionId}));
    EXPECT_EQ(b.members, a.members);
    EXPECT_EQ(b.dataSectors, a.dataSectors) << "the member's data area has the primary's size";
    EXPECT_EQ(member.sizeSectors, 2048 + a.dataSectors) << "sized to fit its hot-fix area and the data area";
    EXPECT_TRUE(a.readFrom);
    EXPECT_FALSE(b.readFrom);

    for (const auto& [image, partition] : {std::pair{&images.disk0, &primary}, std::pair{&images.disk1, &member}}) {
        const SectorBytes mirror = image->sector(partition->startSector + 33);
        EXPECT_EQ(readU32(mirror, 8), partition->headers->partitionId);
        EXPECT_EQ(readU32(mirror, 20), 0x00010000u) << "both in sync";
        EXPECT_EQ(readU32(mirror, 28), a.mirrorGroupId);
        EXPECT_EQ((std::vector<std::uint32_t>{readU32(mirror, 32), readU32(mirror, 36), readU32(mirror, 40)}),
                  (std::vector<std::uint32_t>{a.partitionId, b.partitionId, 0}));
    }
    // Every logical sector in use reads the same from both members.
    const std::uint32_t used = 160 + layout->volume("SYS")->sizeSectors;
    for (std::uint32_t s = 32; s < used; ++s)
        ASSERT_EQ(logicalSector(images.disk0, primary, s), logicalSector(images.disk1, member, s)) << "logical " << s;
    EXPECT_EQ(text(images.disk1.sector(4096 + 2048 + 27 * 8), 0, 5), "STALE") << "the member's own redirect";
    EXPECT_EQ(text(images.disk0.sector(2048 + 1024 + 32), 0, 15), "NetWare Volumes");

    // The group's table is listed once, from the member the reader reads.
    const auto rows = layout->rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].disk, 0u);
    EXPECT_EQ(member.segments.size(), 1u);
    EXPECT_EQ(member.segments[0].manifest, nullptr);
    EXPECT_EQ(member.segments[0].startSector, 4096u + 2048 + 160);
}

TEST(Mirror, AnOutOfSyncMemberIsNotReadAndMayHoldGarbage)
{
    DiskSetSpec set = mirroredSet();
    PartitionHeaders& primary = *set.disks[0].partitions[0].netware->headers;
    primary.outOfSync = true;
    primary.damagedSectors = {210, 211}; // LEDGER.DAT's block 6
    Images images;
    const auto layout = writeImages(set, images.paths());
    ASSERT_TRUE(layout) << layout.error();
    const PartitionLayout& member = *layout->partition({1, 1});
    EXPECT_TRUE(layout->partition({0, 0})->headers->outOfSync);
    EXPECT_TRUE(member.headers->readFrom);
    EXPECT_EQ(readU32(images.disk0.sector(2048 + 33), 12), 0x01850000u);
    EXPECT_EQ(readU32(images.disk0.sector(2048 + 33), 20), 0x00010001u) << "member 0 out of sync";
    EXPECT_EQ(readU32(images.disk1.sector(4096 + 33), 20), 0x00010001u);
    EXPECT_EQ(text(images.disk0.sector(2048 + 1024 + 210), 0, 16), "DAMAGED 000000D2");

    // The manifest names the sectors of the member the reader reads.
    const VolumeManifest& sys = *layout->volume("SYS");
    EXPECT_EQ((std::pair{sys.segments[0].disk, sys.segments[0].startSector}),
              (std::pair{std::size_t{1}, std::uint64_t{4096 + 2048 + 160}}));
    const ManifestEntry& ledger = *sys.find("LEDGER.DAT");
    EXPECT_EQ(ledger.entrySector, 4096u + 2048 + 160 + sys.det[0].blocks[0] * 8);
    EXPECT_FALSE(ledger.incomplete());
    EXPECT_EQ(SetReadBack(*layout, {&images.disk0, &images.disk1}).chainData(sys, ledger), expectedData(ledger));
    const auto rows = layout->rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ((std::pair{rows[0].disk, rows[0].startSector}), (std::pair{std::size_t{1}, std::uint64_t{4096 + 2048 + 160}}));
}

TEST(Mirror, ALostSectorIsReadFromAnInSyncMemberOnly)
{
    DiskSetSpec set = mirroredSet();
    // Logical block 30 is LEDGER.DAT's block 10, its sixth 4K.
    set.disks[0].partitions[0].netware->headers->redirects = {redirect(30, 0x0C)};
    auto layout = planImages(set);
    ASSERT_TRUE(layout) << layout.error();
    EXPECT_FALSE(layout->volume("SYS")->find("LEDGER.DAT")->incomplete()) << "the member delivers sectors 2 and 3";
    EXPECT_TRUE(layout->partition({0, 0})->headers->unreadableSectors.empty());

    set.disks[1].partitions[0].netware->headers->outOfSync = true;
    layout = planImages(set);
    ASSERT_TRUE(layout) << layout.error();
    const ManifestEntry& ledger = *layout->volume("SYS")->find("LEDGER.DAT");
    EXPECT_EQ(ledger.unreadable, (std::vector<ByteRange>{{5 * 4096 + 2 * 512, 1024}}));
    EXPECT_EQ(layout->partition({1, 1})->headers->unreadableSectors, (std::vector<std::uint32_t>{242, 243}));
}

TEST(Mirror, ClonedDisksShareIdsButAreNotMirrors)
{
    DiskSetSpec set;
    for (int d = 0; d < 2; ++d) {
        PartitionSpec partition;
        partition.startSector = 2048;
        partition.netware.emplace();
        partition.netware->headers.emplace();
        partition.netware->headers->partitionId = 0x3A1F0001;
        partition.netware->headers->mirrorGroupId = 0x3A1F0002;
        SegmentSpec sys;
        sys.name = "SYS";
        sys.contents.emplace();
        sys.contents->nodes = {fileNode("CLONE.TXT", 100)};
        partition.netware->segments = {sys};
        set.disks.emplace_back().partitions = {partition};
    }
    Images images;
    const auto layout = writeImages(set, images.paths());
    ASSERT_TRUE(layout) << layout.error();
    for (std::size_t d = 0; d < 2; ++d) {
        const HeaderLayout& headers = *layout->disks[d].partitions[0].headers;
        EXPECT_EQ(headers.members, (std::vector<std::uint32_t>{0x3A1F0001}));
        EXPECT_EQ(headers.group.size(), 1u);
        EXPECT_TRUE(headers.readFrom);
        const SectorBytes mirror = (d == 0 ? images.disk0 : images.disk1).sector(2048 + 33);
        EXPECT_EQ(readU32(mirror, 8), 0x3A1F0001u);
        EXPECT_EQ(readU32(mirror, 28), 0x3A1F0002u);
        EXPECT_EQ(readU32(mirror, 36), 0u);
    }
    EXPECT_EQ(layout->rows().size(), 2u) << "each disk lists its own table";
    EXPECT_EQ(images.disk0.sector(2048 + 1024 + 32), images.disk1.sector(2048 + 1024 + 32));
}

TEST(Mirror, RefusesGroupsTheReaderCouldNotFormWithAClearMessage)
{
    struct Case {
        std::string expected;
        std::function<void(DiskSetSpec&)> breakIt;
    };
    auto memberHeaders = [](DiskSetSpec& s) -> PartitionHeaders& { return *s.disks[1].partitions[0].netware->headers; };
    const std::vector<Case> cases = {
        {"disks[1].partitions[0]: mirrorOf names disk 0 slot 2, which is no NetWare partition with headers",
         [&](DiskSetSpec& s) { memberHeaders(s).mirrorOf->slot = 2; }},
        {"mirrorOf names disk 7, not in the set", [&](DiskSetSpec& s) { memberHeaders(s).mirrorOf->disk = 7; }},
        {"a partition does not mirror itself", [&](DiskSetSpec& s) { memberHeaders(s).mirrorOf = PartitionRef{1, 1}; }},
        {"which is no NetWare partition with headers",
         [](DiskSetSpec& s) { s.disks[0].partitions[0].netware->headers.reset(); }},
        {"a mirror member takes its volume table and volumes from the partition it mirrors",
         [](DiskSetSpec& s) {
             SegmentSpec own;
             own.name = "X";
             s.disks[1].partitions[0].netware->segments.push_back(own);
         }},
        {"a mirror member's data area has the size of the partition it mirrors, 4976 sectors, not 5000",
         [&](DiskSetSpec& s) { memberHeaders(s).dataSectors = 5000; }},
        {"do not fit into the partition's 7000 sectors", [](DiskSetSpec& s) { s.disks[1].partitions[0].sizeSectors = 7000; }},
        {"a mirror member has the group id of the partition it mirrors",
         [&](DiskSetSpec& s) { memberHeaders(s).mirrorGroupId = 99; }},
        {"partition id 7 is already taken by another member",
         [&](DiskSetSpec& s) {
             memberHeaders(s).partitionId = 7;
             s.disks[0].partitions[0].netware->headers->partitionId = 7;
         }},
        {"damagedSectors[0]: the reader reads logical sector 300 from this partition",
         [](DiskSetSpec& s) { s.disks[0].partitions[0].netware->headers->damagedSectors = {300}; }},
        {"is a mirror member; name the partition it mirrors",
         [](DiskSetSpec& s) {
             SpannedVolumeSpec volume;
             volume.name = "DATA";
             SpannedSegmentSpec segment;
             segment.disk = 1;
             segment.slot = 1;
             segment.sizeSectors = 64;
             volume.segments = {segment};
             s.volumes = {volume};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DiskSetSpec set = mirroredSet();
        c.breakIt(set);
        const auto layout = planImages(set);
        ASSERT_FALSE(layout);
        EXPECT_NE(layout.error().find(c.expected), std::string::npos) << layout.error();
    }
}

} // namespace
} // namespace tamsin::imagebuilder
