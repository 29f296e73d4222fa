#include "mount/DirectoryWalk.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/NameSpaces.h"

#include "common/LittleEndian.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace tamsin {
namespace {

using Sector = std::array<std::uint8_t, 512>;

struct NullObserver : MountObserver {
    CopyChoice chooseCopy(TableKind) override { return CopyChoice::First; }
};

struct Record {
    std::uint32_t parent = 0;
    std::uint8_t attributes = 0;
    std::uint8_t nameSpace = 0;
    std::string name;
    std::uint32_t primary = 0;  // @120
    std::uint32_t next = 0;     // @124
    std::uint8_t nameLength = 0xFF;  // 0xFF: the name's length
};

void put(Sector& sector, int slot, const Record& r)
{
    std::span<std::uint8_t> e(sector.data() + slot * 128, 128);
    std::fill(e.begin(), e.end(), 0);
    writeU32(e, 0, r.parent);
    e[4] = r.attributes;
    e[10] = r.nameSpace;
    e[11] = r.nameLength == 0xFF ? static_cast<std::uint8_t>(r.name.size()) : r.nameLength;
    std::memcpy(e.data() + 12, r.name.data(), std::min<std::size_t>(r.name.size(), 80));
    writeU32(e, 120, r.primary);
    writeU32(e, 124, r.next);
}

// Decodes sectors as consecutive directory sectors from directory number 0,
// then resolves the name-space chains as a walk does.
struct Walk {
    MountedVolume volume;
    NullObserver observer;
    DirectoryWalkState state;
    std::uint32_t next = 0;

    void decode(const Sector& sector)
    {
        const DirectoryPosition position{next, &state};
        decodeDirectorySector(volume, sector, 1000 + next / 4, 0, observer, &position);
        next += 4;
    }
    void finish() { state.finish(volume); }
    const TreeNode& file(std::size_t i) const { return volume.files.at(i); }
};

TEST(NameSpaceChains, ShownNamePrefersLongThenNfsThenMacWhereverTheRecordsLie)
{
    Walk walk;
    Sector s0{}, s1{}, s2{};
    put(s0, 0, {0xFFFFFFFD});
    put(s0, 1, {.name = "REPORT.DOC", .primary = 1, .next = 9});          // DOS 1 -> MAC 9 -> NFS 6 -> LONG 10
    put(s0, 2, {.name = "NOTES.TXT", .primary = 2, .next = 5});           // DOS 2 -> MAC 5 -> NFS 11
    put(s0, 3, {.attributes = 0x10, .name = "PROJECTS", .primary = 3, .next = 7});  // a folder: DOS 3 -> MAC 7
    put(s1, 1, {.nameSpace = 1, .name = "Notes (mac)", .primary = 2, .next = 11});
    put(s1, 2, {.nameSpace = 2, .name = "report.doc", .primary = 1, .next = 10});
    put(s1, 3, {.nameSpace = 1, .name = "Projects Mac", .primary = 3});
    put(s2, 1, {.nameSpace = 1, .name = "Report Mac", .primary = 1, .next = 6});
    put(s2, 2, {.nameSpace = 4, .name = "Quarterly Report 2024.doc", .primary = 1});
    put(s2, 3, {.nameSpace = 2, .name = "notes.txt", .primary = 2});
    walk.decode(s0);
    walk.decode(s1);
    walk.decode(s2);
    walk.finish();

    ASSERT_EQ(walk.volume.fileCount(), 2u) << "records of other name spaces are never entries of their own";
    EXPECT_EQ(walk.file(0).name, "Quarterly Report 2024.doc");
    EXPECT_EQ(walk.volume.dosName(walk.file(0)), "REPORT.DOC");
    EXPECT_EQ(walk.file(1).name, "notes.txt");
    ASSERT_EQ(walk.volume.folderCount(), 1u);
    EXPECT_EQ(walk.volume.folders[0].name, "Projects Mac");
    EXPECT_EQ(walk.volume.dosName(walk.volume.folders[0]), "PROJECTS");
    EXPECT_TRUE(walk.volume.root.found);
}

TEST(NameSpaceChains, BrokenChainsStopWhereTheyBreakAndKeepWhatTheyFound)
{
    Walk walk;
    Sector s0{}, s1{}, s2{};
    put(s0, 0, {0xFFFFFFFD});
    put(s0, 1, {.name = "LOOP.TXT", .primary = 1, .next = 5});       // 5 -> 6 -> 5: loops
    put(s0, 2, {.name = "SELF.TXT", .primary = 2, .next = 2});       // names itself
    put(s0, 3, {.name = "OTHER.TXT", .primary = 3, .next = 7});      // 7 belongs to another file
    put(s1, 1, {.nameSpace = 2, .name = "loop.txt", .primary = 1, .next = 6});
    put(s1, 2, {.nameSpace = 5, .name = "NT name", .primary = 1, .next = 5});
    put(s1, 3, {.nameSpace = 4, .name = "Not mine.txt", .primary = 2});
    put(s2, 0, {.name = "FAR.TXT", .primary = 8, .next = 4000});     // points past the directory
    put(s2, 1, {.name = "EMPTY.TXT", .primary = 9, .next = 10});     // empty LONG name, then NFS
    put(s2, 2, {.nameSpace = 4, .name = "", .primary = 9, .next = 11});
    put(s2, 3, {.nameSpace = 2, .name = "empty.txt", .primary = 9});
    walk.decode(s0);
    walk.decode(s1);
    walk.decode(s2);
    walk.finish();

    ASSERT_EQ(walk.volume.fileCount(), 5u);
    EXPECT_EQ(walk.file(0).name, "loop.txt") << "a loop ends the chain; names met before it count, NT is not shown";
    EXPECT_EQ(walk.file(1).name, "SELF.TXT");
    EXPECT_EQ(walk.file(2).name, "OTHER.TXT") << "a record naming another DOS record is not taken";
    EXPECT_EQ(walk.file(3).name, "FAR.TXT");
    EXPECT_EQ(walk.file(4).name, "empty.txt") << "an empty name is skipped, the chain goes on";
}

TEST(NameSpaceChains, LongChainsEndAfterEightLinks)
{
    Walk walk;
    std::array<Sector, 4> sectors{};
    put(sectors[0], 0, {0xFFFFFFFD});
    put(sectors[0], 1, {.name = "DEEP.TXT", .primary = 1, .next = 4});
    // Records 4..12 link on; only the ninth carries a LONG name.
    for (std::uint32_t n = 4; n <= 12; ++n)
        put(sectors[n / 4], static_cast<int>(n % 4),
            {.nameSpace = static_cast<std::uint8_t>(n == 12 ? 4 : 3), .name = n == 12 ? "Too far.txt" : "x",
             .primary = 1, .next = n + 1});
    for (const Sector& s : sectors)
        walk.decode(s);
    walk.finish();
    EXPECT_EQ(walk.file(0).name, "DEEP.TXT");
}

TEST(NameSpaceChains, WithoutAChainTheNextSlotLongNameStillCounts)
{
    Walk walk;
    Sector s0{};
    put(s0, 1, {.name = "QUARTERL.DOC", .primary = 1});
    put(s0, 2, {.nameSpace = 4, .name = "Quarterly Report.doc", .primary = 1});
    walk.decode(s0);
    walk.finish();
    EXPECT_EQ(walk.file(0).name, "Quarterly Report.doc");
    EXPECT_EQ(walk.volume.dosName(walk.file(0)), "QUARTERL.DOC");
    EXPECT_FALSE(walk.volume.root.found);
}

TEST(NameSpaceChains, AnEmptyNextSlotNameDropsTheEntryUnlessItHeadsAChain)
{
    Walk walk;
    Sector s0{}, s1{};
    put(s0, 0, {.name = "DROPPED.TXT", .primary = 0});
    put(s0, 1, {.nameSpace = 4, .name = std::string("\0x", 2), .primary = 0});
    put(s0, 2, {.name = "KEPT.TXT", .primary = 2, .next = 5});
    put(s0, 3, {.nameSpace = 4, .name = std::string("\0y", 2), .primary = 2});
    put(s1, 1, {.nameSpace = 1, .name = "", .primary = 2});  // gives no name either
    walk.decode(s0);
    walk.decode(s1);
    walk.finish();
    ASSERT_EQ(walk.volume.fileCount(), 1u);
    EXPECT_EQ(walk.file(0).name, "KEPT.TXT");
}

TEST(RootRecord, NameSpacesFromTheByteOrNibbleTableAndTheCreationStamp)
{
    std::array<std::uint8_t, 128> root{};
    writeU32(root, 0, 0xFFFFFFFD);
    root[11] = 3;
    root[12] = 0;
    root[13] = 4;
    root[14] = 2;
    writeU32(root, 24, 0x3E431D54);
    RootRecord r = decodeRootRecord(root);
    EXPECT_EQ(r.nameSpaces, (std::vector<std::uint8_t>{0, 4, 2}));
    EXPECT_EQ(r.createdDateTime, 0x3E431D54u);

    // Newer volumes: one name space per nibble from @16, low nibble first.
    std::array<std::uint8_t, 128> nibbles{};
    nibbles[11] = 3;
    nibbles[23] = 0x20;
    nibbles[16] = 0x40;  // DOS, LONG
    nibbles[17] = 0x01;  // MAC
    EXPECT_EQ(decodeRootRecord(nibbles).nameSpaces, (std::vector<std::uint8_t>{0, 4, 1}));

    // A count of 0 means DOS only.
    EXPECT_EQ(decodeRootRecord(std::array<std::uint8_t, 128>{}).nameSpaces, std::vector<std::uint8_t>{0});
    EXPECT_STREQ(nameSpaceName(4), "LONG");
    EXPECT_STREQ(nameSpaceName(9), "");
}

} // namespace
} // namespace tamsin
