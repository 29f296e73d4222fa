#include "mount/DirectoryWalk.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"

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

struct EntryFields {
    std::uint32_t parentId = 0;
    std::uint8_t attributes = 0;
    std::uint8_t attributesHigh = 0;
    std::uint8_t nameSpace = 0;
    std::string name;
    std::uint32_t dateTime = 0;
    std::uint32_t size = 0;
    std::uint32_t firstBlock = 0;
    std::uint32_t deleted = 0;
    std::uint32_t ownId = 0;
};

void putEntry(Sector& sector, int slot, const EntryFields& f)
{
    std::span<std::uint8_t> e(sector.data() + slot * 128, 128);
    std::fill(e.begin(), e.end(), 0);
    writeU32(e, 0, f.parentId);
    e[4] = f.attributes;
    e[7] = f.attributesHigh;
    e[10] = f.nameSpace;
    e[11] = static_cast<std::uint8_t>(f.name.size());
    writeU32(e, 24, f.dateTime);
    writeU32(e, 48, f.size);
    writeU32(e, 52, f.firstBlock);
    writeU32(e, 108, f.deleted);
    writeU32(e, 120, f.ownId);
    // Long names run over the other fields, which such entries do not use.
    std::memcpy(e.data() + 12, f.name.data(), std::min<std::size_t>(f.name.size(), 116));
}

EntryFields file(std::string name, std::uint32_t parent = 0)
{
    EntryFields f;
    f.name = std::move(name);
    f.parentId = parent;
    return f;
}

EntryFields longName(std::string name)
{
    EntryFields f;
    f.nameSpace = 4;
    f.name = std::move(name);
    return f;
}

class DirectoryDecodeTest : public ::testing::Test {
protected:
    void decode(const Sector& sector, std::uint32_t entrySector = 500, std::uint32_t mirror = 900)
    {
        decodeDirectorySector(volume, sector, entrySector, mirror, observer);
    }
    MountedVolume volume;
    NullObserver observer;
    Sector sector{};
};

TEST_F(DirectoryDecodeTest, DecodesFoldersAndFilesWithEveryField)
{
    EntryFields folder = file("PUBLIC", 0);
    folder.attributes = 0x10;
    folder.ownId = 42;
    folder.dateTime = 0x24676AB5;
    folder.deleted = 7;
    putEntry(sector, 0, folder);
    EntryFields data = file("DATA.BIN", 42);
    data.attributesHigh = 0x04;
    data.size = 4097;
    data.firstBlock = 1234;
    data.ownId = 99;
    putEntry(sector, 2, data);
    decode(sector);

    ASSERT_EQ(volume.folderCount(), 1u);
    ASSERT_EQ(volume.fileCount(), 1u);
    const TreeNode& f = volume.folders[0];
    EXPECT_EQ(f.name, "PUBLIC");
    EXPECT_EQ(f.ownId, 42u);
    EXPECT_EQ(f.dateTime, 0x24676AB5u);
    EXPECT_TRUE(f.isDeleted());
    EXPECT_EQ(f.entrySector, 500u);
    EXPECT_EQ(f.mirrorSector, 900u);
    EXPECT_EQ(f.entrySlot, 0);
    const TreeNode& d = volume.files[0];
    EXPECT_EQ(d.parentId, 42u);
    EXPECT_TRUE(d.isCompressed());
    EXPECT_EQ(d.size, 4097u);
    EXPECT_EQ(d.firstBlock, 1234u);
    EXPECT_EQ(d.entrySlot, 2);
    EXPECT_EQ(d.ordinal, 0u);
}

TEST_F(DirectoryDecodeTest, LongNameIsTakenFromTheNextEntryOfTheSameSectorOnly)
{
    putEntry(sector, 0, file("QUARTE~1.DOC"));
    putEntry(sector, 1, longName("Quarterly Report 1998.doc"));
    putEntry(sector, 2, file("NOTES.TXT"));
    putEntry(sector, 3, file("LAST.TXT"));  // slot 3: a long name in the next sector is never joined
    decode(sector);
    Sector next{};
    putEntry(next, 0, longName("Last one with a long name.txt"));
    decode(next);

    ASSERT_EQ(volume.fileCount(), 3u);
    EXPECT_EQ(volume.files[0].name, "Quarterly Report 1998.doc");
    EXPECT_EQ(volume.files[1].name, "NOTES.TXT");
    EXPECT_EQ(volume.files[2].name, "LAST.TXT");
    EXPECT_EQ(volume.files[2].ordinal, 2u);
}

TEST_F(DirectoryDecodeTest, LongNamesOfLengthZeroOrAbove80LeaveTheDosName)
{
    putEntry(sector, 0, file("A.TXT"));
    putEntry(sector, 1, longName(""));
    putEntry(sector, 2, file("B.TXT"));
    putEntry(sector, 3, longName(std::string(81, 'x')));
    decode(sector);
    ASSERT_EQ(volume.fileCount(), 2u);
    EXPECT_EQ(volume.files[0].name, "A.TXT");
    EXPECT_EQ(volume.files[1].name, "B.TXT");

    Sector exact{};
    putEntry(exact, 0, file("C.TXT"));
    putEntry(exact, 1, longName(std::string(80, 'y')));
    decode(exact);
    EXPECT_EQ(volume.files[2].name, std::string(80, 'y'));
}

TEST_F(DirectoryDecodeTest, SkipsInvalidNamesOtherNameSpacesAndSpecialEntries)
{
    putEntry(sector, 0, file(std::string(16, 'N')));  // a DOS name of 16 bytes
    EntryFields mac = file("MACFILE");
    mac.nameSpace = 1;
    putEntry(sector, 1, mac);
    putEntry(sector, 2, file(std::string("\0ABC", 4)));  // empty as a C string
    EntryFields special = file("SPECIAL");
    special.parentId = 0xFFFFFFFD;
    putEntry(sector, 3, special);
    decode(sector);
    EXPECT_EQ(volume.fileCount(), 0u);
    EXPECT_EQ(volume.folderCount(), 0u);

    Sector edge{};
    putEntry(edge, 0, file(std::string(15, 'F')));  // 15 bytes is still a DOS name
    putEntry(edge, 1, file(std::string("AB\0CD", 5)));  // taken up to the NUL
    decode(edge);
    ASSERT_EQ(volume.fileCount(), 2u);
    EXPECT_EQ(volume.files[0].name.size(), 15u);
    EXPECT_EQ(volume.files[1].name, "AB");
}

TEST_F(DirectoryDecodeTest, SuballocationRecordsFillTheirRootsAndRecordFiveIsIgnored)
{
    for (int record : {0, 4, 5}) {
        std::span<std::uint8_t> e(sector.data() + (record == 5 ? 2 : record == 4 ? 1 : 0) * 128, 128);
        writeU32(e, 0, 0xFFFFFFFB);
        e[9] = static_cast<std::uint8_t>(record);
        e[10] = 0;
        e[11] = 3;
        for (int i = 0; i < 28; ++i)
            writeU32(e, 16 + 4 * i, static_cast<std::uint32_t>(1000 * (record + 1) + i));
    }
    decode(sector);
    EXPECT_EQ(volume.suballocationRoots[0], 1000u);
    EXPECT_EQ(volume.suballocationRoots[27], 1027u);
    EXPECT_EQ(volume.suballocationRoots[4 * 28], 5000u);
    EXPECT_EQ(volume.suballocationRoots[139], 5027u);
    EXPECT_EQ(std::count(volume.suballocationRoots.begin(), volume.suballocationRoots.end(), 6000u), 0);
    EXPECT_EQ(volume.fileCount(), 0u);
}

TEST(LostData, OneRootPlaceholderPerMissingParentForFoldersThenFiles)
{
    MountedVolume volume;
    NullObserver observer;
    auto folder = [](std::string name, std::uint32_t own, std::uint32_t parent) {
        TreeNode n;
        n.attributes = 0x10;
        n.name = std::move(name);
        n.ownId = own;
        n.parentId = parent;
        return n;
    };
    volume.addFolderNode(folder("A", 1, 77));
    volume.addFolderNode(folder("B", 2, 77));
    volume.addFolderNode(folder("C", 3, 1));
    volume.addFolderNode(folder("D", 4, 88));
    TreeNode orphan;
    orphan.name = "ORPHAN.TXT";
    orphan.parentId = 55;
    volume.addFileNode(orphan);
    TreeNode inA = orphan;
    inA.parentId = 77;
    volume.addFileNode(inA);

    searchLostData(volume, observer);
    ASSERT_EQ(volume.folderCount(), 7u);
    EXPECT_EQ(volume.folders[4].name, "Dir0");
    EXPECT_EQ(volume.folders[4].ownId, 77u);
    EXPECT_EQ(volume.folders[4].parentId, 0u);
    EXPECT_EQ(volume.folders[4].ordinal, 0u);
    EXPECT_TRUE(volume.folders[4].isFolder()) << "a placeholder is a folder everywhere it is shown";
    EXPECT_EQ(volume.folders[5].name, "Dir1");
    EXPECT_EQ(volume.folders[5].ownId, 88u);
    // Files are mended after the folder pass, continuing the numbering.
    EXPECT_EQ(volume.folders[6].name, "Dir2");
    EXPECT_EQ(volume.folders[6].ownId, 55u);

    volume.rebuildIndexAndTree();
    EXPECT_EQ(volume.index.childFolders(77).size(), 2u);
    EXPECT_EQ(volume.index.childFiles(55).size(), 1u);
}

TEST(LostData, NoFoldersNoPlaceholdersButOrphanFilesStillGetOne)
{
    MountedVolume volume;
    NullObserver observer;
    searchLostData(volume, observer);
    EXPECT_EQ(volume.folderCount(), 0u);

    TreeNode file;
    file.name = "X";
    file.parentId = 9;
    volume.addFileNode(file);
    searchLostData(volume, observer);
    ASSERT_EQ(volume.folderCount(), 1u);
    EXPECT_EQ(volume.folders[0].name, "Dir0");
}

} // namespace
} // namespace tamsin
