#include "VolumeWords.h"
#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReports.h"

#include <gtest/gtest.h>

namespace tamsin {
namespace {

std::uint32_t packed(std::uint32_t yearOffset, std::uint32_t month, std::uint32_t day, std::uint32_t h, std::uint32_t m,
                     std::uint32_t halfSeconds)
{
    return yearOffset << 25 | month << 21 | day << 16 | h << 11 | m << 5 | halfSeconds;
}

TEST(NetWareDateTime, FormatsDateAndTimeStrings)
{
    EXPECT_EQ(formatNetWareDateTime(packed(18, 3, 7, 13, 5, 21)), (std::pair<std::string, std::string>{"07-Mar-1998", "13:05:42"}));
    EXPECT_EQ(formatNetWareDateTime(0), (std::pair<std::string, std::string>{"00-Err-1980", "00:00:00"}));
    EXPECT_EQ(formatNetWareDateTime(packed(79, 12, 31, 23, 59, 29)).first, "31-Dec-2059");
    EXPECT_EQ(formatNetWareDateTime(packed(80, 1, 1, 0, 0, 0)).first, "01-Jan-2000");
    EXPECT_EQ(formatNetWareDateTime(packed(100, 6, 15, 0, 0, 0)).first, "15-Jun-2020");
    EXPECT_EQ(formatNetWareDateTime(packed(0, 13, 2, 0, 0, 0)).first, "02-Err-1980");
    EXPECT_EQ(formatNetWareDateTime(packed(0, 1, 1, 31, 63, 31)).second, "31:63:62");  // not range-checked
}

class FolderContentsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TreeNode docs;
        docs.attributes = kFolderAttribute;
        docs.name = "DOCS";
        docs.ownId = 5;
        volume.addFolderNode(docs);
        TreeNode old = docs;
        old.name = "OLD";
        old.ownId = 6;
        old.deletedMarker = 1;
        volume.addFolderNode(old);
        TreeNode sub = docs;
        sub.name = "SUB";
        sub.ownId = 7;
        sub.parentId = 5;
        volume.addFolderNode(sub);

        addFile("README.TXT", 0, 1023, 0, 0);
        addFile("GONE.DOC", 0, 10, 1, kCompressedAttribute);
        addFile("PACKED.DAT", 0, 2048, 0, kCompressedAttribute);
        addFile("BIG.BIN", 7, 3'145'728, 0, 0);
        addFile("noext", 0, 0, 0, 0);
        volume.rebuildIndexAndTree();
    }

    void addFile(std::string name, std::uint32_t parent, std::uint32_t size, std::uint32_t deleted, std::uint8_t high)
    {
        TreeNode f;
        f.name = std::move(name);
        f.parentId = parent;
        f.size = size;
        f.deletedMarker = deleted;
        f.attributesHigh = high;
        f.ordinal = volume.fileCount();
        volume.addFileNode(f);
    }

    MountedVolume volume;
};

TEST_F(FolderContentsTest, FoldersFirstThenFilesWithTypesColoursAndKeys)
{
    const auto rows = folderContents(volume, 0, {});
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].type, "Folder");
    EXPECT_EQ(rows[0].size, "0");
    EXPECT_EQ(rows[0].key, volume.folders[0].treeItem);
    EXPECT_EQ(rows[1].type, "Deleted Folder");
    EXPECT_EQ(rows[1].colour, RowColour::Grey);
    EXPECT_EQ(rows[2].name, "README.TXT");
    EXPECT_EQ(rows[2].type, "TXT File");
    EXPECT_EQ(rows[2].colour, RowColour::Black);
    EXPECT_EQ(rows[2].key, 0u);
    EXPECT_EQ(rows[3].type, "Deleted Compressed DOC File");
    EXPECT_EQ(rows[3].colour, RowColour::Grey);
    EXPECT_EQ(rows[4].type, "Compressed DAT File");
    EXPECT_EQ(rows[4].colour, RowColour::Red);
    EXPECT_EQ(rows[4].key, 2u);
    EXPECT_EQ(rows[5].type, "File");

    const auto filtered = folderContents(volume, 0, {}, [](const std::string& name) { return name == "nomatch"; });
    ASSERT_EQ(filtered.size(), 2u);  // only the folder rows remain
    EXPECT_TRUE(folderContents(volume, 12345, {}).empty());
}

TEST_F(FolderContentsTest, PropertiesOfFilesAndFolders)
{
    const auto rows = folderContents(volume, 0, {});
    EXPECT_EQ(words::propertiesFor(volume, rows[2]).size, "1 KB");  // 1023 bytes
    EXPECT_EQ(words::propertiesFor(volume, rows[4]).size, "3 KB");  // 2048 bytes
    EXPECT_EQ(words::propertiesFor(volume, rows[5]).size, "1 KB");  // empty
    // The rounded size has the exact one beside it.
    EXPECT_EQ(words::propertiesFor(volume, rows[2]).bytes, 1023u);
    EXPECT_EQ(words::propertiesFor(volume, rows[5]).bytes, 0u);
    EXPECT_EQ(words::propertiesFor(volume, rows[4]).attributes, "Compressed");
    EXPECT_EQ(words::attributeNames(0x23, 0x0C), "Read Only, Hidden, Archive, Compressed, Do Not Compress");
    EXPECT_EQ(words::attributeNames(0x10, 0x00), "None");

    const words::PropertiesReport docs = words::propertiesFor(volume, rows[0]);
    EXPECT_EQ(docs.contains, "1 File(s) and 1 Folder(s)");
    EXPECT_EQ(docs.size, "3 MB");
    EXPECT_GE(docs.bytes, 3u << 20);
    const words::PropertiesReport old = words::propertiesFor(volume, rows[1]);
    EXPECT_EQ(old.contains, "0 File(s) and 0 Folder(s)");
    EXPECT_EQ(old.size, "Less than 1 MB");
    EXPECT_EQ(old.creationDate, rows[1].date + " " + rows[1].time);
    EXPECT_EQ(old.modificationDate, "") << "no modification stamp recorded";
    volume.folders[rows[1].node].modifiedDateTime = 0x2A6F6000;  // 15-Mar-2001 12:00:00
    EXPECT_EQ(words::propertiesFor(volume, rows[1]).modificationDate, "15-Mar-2001 12:00:00");
}

TEST_F(FolderContentsTest, DriveInformationRows)
{
    volume.startSector = 68768;
    volume.sectorsPerBlock = 8;
    volume.firstFatBlock = 1;
    volume.secondDetBlock = 4;
    const auto rows = driveInformation(volume);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0].label, DriveLabel::StartSector);
    EXPECT_EQ(rows[0].value, "68768");
    EXPECT_EQ(rows[1].value, "3");
    EXPECT_EQ(rows[2].value, "5");
    EXPECT_EQ(rows[7].label, DriveLabel::SecondDet);
    EXPECT_EQ(rows[7].value, "4");
}

} // namespace
} // namespace tamsin
