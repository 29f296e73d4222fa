#include "ContentsModel.h"
#include "FileTypes.h"
#include "FolderTreeModel.h"
#include "FoundFilesModel.h"
#include "NameCodec.h"
#include "QuickHelp.h"
#include "ReportTexts.h"

#include "mount/MountedVolume.h"
#include "search/FileFilters.h"

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QIcon>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace tamsin::app {
namespace {

std::uint32_t packed(std::uint32_t yearOffset, std::uint32_t month, std::uint32_t day, std::uint32_t h, std::uint32_t m)
{
    return yearOffset << 25 | month << 21 | day << 16 | h << 11 | m << 5;
}

class ModelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder("USERS", 0, 10);
        folder("apps", 0, 11);
        folder("OLD", 0, 12, true);
        folder("BOB", 10, 20);
        folder("ALICE", 10, 21);
        file("README.TXT", 0, 1234);
        file("GONE.DOC", 0, 10, true);
        file("PACKED.DAT", 0, 2048, false, true);
        file("LOST.DAT", 0, 99, true, true);
        file("NOTES.TXT", 21, 5300);
        // A name in the volume's code page: 0x81 is "ü" in CP437.
        file(std::string("M\x81NCHEN.TXT"), 20, 7);
        volume.rebuildIndexAndTree();
    }

    void folder(std::string name, std::uint32_t parent, std::uint32_t id, bool deleted = false)
    {
        TreeNode node;
        node.attributes = kFolderAttribute;
        node.name = std::move(name);
        node.parentId = parent;
        node.ownId = id;
        node.deletedMarker = deleted ? 1 : 0;
        node.dateTime = packed(16, 9, 12, 9, 0);
        node.ordinal = volume.folderCount();
        volume.addFolderNode(node);
    }

    void file(std::string name, std::uint32_t parent, std::uint32_t size, bool deleted = false, bool compressed = false)
    {
        TreeNode node;
        node.name = std::move(name);
        node.parentId = parent;
        node.size = size;
        node.deletedMarker = deleted ? 7 : 0;
        node.attributesHigh = compressed ? kCompressedAttribute : 0;
        node.dateTime = packed(19, 3, 1, 7, 58);
        node.ordinal = volume.fileCount();
        volume.addFileNode(node);
    }

    QStringList column(const QAbstractItemModel& model, int c)
    {
        QStringList texts;
        for (int row = 0; row < model.rowCount(); ++row)
            texts << model.index(row, c).data().toString();
        return texts;
    }

    MountedVolume volume;
    NameCodec names;
    FileTypes types;
    FileFilters filters;
};

TEST_F(ModelsTest, FolderTreeHasTheVolumeAsRootAndSortedSiblings)
{
    FolderTreeModel model(volume, names, types, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.rowCount(), 0);

    model.recreate(QStringLiteral("SYS"));
    ASSERT_EQ(model.rowCount(), 1);
    const QModelIndex root = model.index(0, 0);
    EXPECT_EQ(root.data().toString(), QStringLiteral("SYS"));
    EXPECT_EQ(model.rowCount(root), 0);  // the folders stay out until attached

    model.attach();
    const QModelIndex top = model.index(0, 0);
    ASSERT_EQ(model.rowCount(top), 3);
    EXPECT_EQ(model.index(0, 0, top).data().toString(), QStringLiteral("apps"));
    EXPECT_EQ(model.index(1, 0, top).data().toString(), QStringLiteral("OLD"));
    EXPECT_EQ(model.index(2, 0, top).data().toString(), QStringLiteral("USERS"));
    const QModelIndex users = model.index(2, 0, top);
    ASSERT_EQ(model.rowCount(users), 2);
    EXPECT_EQ(model.index(0, 0, users).data().toString(), QStringLiteral("ALICE"));
    EXPECT_EQ(model.index(0, 0, users).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(top.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);

    // Tree items and indexes map both ways, parents included.
    const std::uint32_t alice = volume.folders[4].treeItem;
    const QModelIndex aliceIndex = model.indexForItem(alice);
    EXPECT_EQ(aliceIndex.data().toString(), QStringLiteral("ALICE"));
    EXPECT_EQ(aliceIndex.parent(), users);
    EXPECT_EQ(FolderTreeModel::itemFor(aliceIndex), alice);
    EXPECT_EQ(model.indexForItem(FolderTree::kRootItem), top);

    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ModelsTest, TickingAFolderTicksItsSubtreeAndAncestorsShowThePart)
{
    FolderTreeModel model(volume, names, types, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.recreate(QStringLiteral("SYS"));
    model.attach();
    const std::uint32_t users = volume.folders[0].treeItem;
    const std::uint32_t bob = volume.folders[3].treeItem;
    const std::uint32_t alice = volume.folders[4].treeItem;
    auto state = [&](std::uint32_t item) { return model.indexForItem(item).data(Qt::CheckStateRole).toInt(); };
    auto picked = [&] {
        std::vector<std::uint32_t> subtrees;
        std::vector<std::uint32_t> own;
        model.checkedFolders(subtrees, own);
        return std::pair{subtrees, own};
    };
    using Items = std::vector<std::uint32_t>;
    EXPECT_TRUE(model.flags(model.indexForItem(users)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.anyChecked());

    // A tick through the view's role reaches the subtree; the root shows the part.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(model.setData(model.indexForItem(users), Qt::Checked, Qt::CheckStateRole));
    EXPECT_GE(changed.count(), 2);
    EXPECT_EQ(state(users), Qt::Checked);
    EXPECT_EQ(state(bob), Qt::Checked);
    EXPECT_EQ(state(alice), Qt::Checked);
    EXPECT_EQ(state(FolderTree::kRootItem), Qt::PartiallyChecked);
    EXPECT_EQ(picked(), std::pair(Items{users}, Items{}));

    // Unticking one child leaves the parent partly ticked: its own files and
    // the other child are still taken.
    model.setChecked(alice, false);
    EXPECT_EQ(state(users), Qt::PartiallyChecked);
    EXPECT_EQ(state(alice), Qt::Unchecked);
    EXPECT_EQ(picked(), std::pair(Items{bob}, Items{users}));

    // The root ticked takes everything at once; unticked, nothing is left.
    model.setChecked(FolderTree::kRootItem, true);
    EXPECT_EQ(picked(), std::pair(Items{FolderTree::kRootItem}, Items{}));
    model.setChecked(FolderTree::kRootItem, false);
    EXPECT_FALSE(model.anyChecked());
    EXPECT_EQ(state(bob), Qt::Unchecked);

    // A new tree starts with nothing ticked.
    model.setChecked(bob, true);
    model.recreate(QStringLiteral("SYS"));
    model.attach();
    EXPECT_FALSE(model.anyChecked());
}

TEST_F(ModelsTest, ContentsListsFoldersThenFilesWithTypesColoursAndKeys)
{
    ContentsModel model(volume, names, types, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.showFolder(0, filters);

    EXPECT_EQ(column(model, ContentsModel::Name),
              (QStringList{"USERS", "apps", "OLD", "README.TXT", "GONE.DOC", "PACKED.DAT", "LOST.DAT"}));
    const QStringList type = column(model, ContentsModel::Type);
    EXPECT_EQ(type[0], QStringLiteral("Folder"));
    EXPECT_EQ(type[2], QStringLiteral("Deleted Folder"));
    EXPECT_EQ(type[3], types.typeName(QStringLiteral("README.TXT")));
    EXPECT_TRUE(type[4].startsWith(QStringLiteral("Deleted ")));
    EXPECT_FALSE(type[4].startsWith(QStringLiteral("Deleted Compressed ")));
    EXPECT_TRUE(type[5].startsWith(QStringLiteral("Compressed ")));
    EXPECT_TRUE(type[6].startsWith(QStringLiteral("Deleted Compressed ")));

    auto colour = [&](int row) { return model.index(row, 1).data(Qt::ForegroundRole).value<QBrush>().color(); };
    EXPECT_EQ(colour(0), QColor(0, 0, 0));
    EXPECT_EQ(colour(2), QColor(150, 150, 150));
    EXPECT_EQ(colour(3), QColor(0, 0, 0));
    EXPECT_EQ(colour(4), QColor(150, 150, 150));
    EXPECT_EQ(colour(5), QColor(255, 0, 0));
    EXPECT_EQ(colour(6), QColor(150, 150, 150));  // deleted wins over compressed
    EXPECT_EQ(model.index(5, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));

    EXPECT_EQ(column(model, ContentsModel::Size), (QStringList{"0", "0", "0", "1234", "10", "2048", "99"}));
    EXPECT_EQ(model.index(3, ContentsModel::Size).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight, Qt::AlignRight);
    EXPECT_EQ(model.index(3, ContentsModel::Date).data().toString(), QStringLiteral("01-Mar-1999"));
    EXPECT_EQ(model.index(3, ContentsModel::Time).data().toString(), QStringLiteral("07:58:00"));
    EXPECT_EQ(model.index(0, ContentsModel::Date).data().toString(), QStringLiteral("12-Sep-1996"));

    // The key column: a folder's tree item, a file's ordinal.
    EXPECT_EQ(model.index(0, ContentsModel::Key).data().toUInt(), volume.folders[0].treeItem);
    EXPECT_EQ(model.index(4, ContentsModel::Key).data().toUInt(), 1u);
    EXPECT_EQ(model.key(6), 3u);
}

TEST_F(ModelsTest, ContentsColumnsAndNames)
{
    ContentsModel model(volume, names, types, nullptr);
    const QStringList headings = {"Name", "Type", "Size", "Date", "Time", "Sector"};
    const int widths[] = {150, 100, 70, 100, 70, 70};
    ASSERT_EQ(model.columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), headings[c]);
        EXPECT_EQ(ContentsModel::columnWidth(c), widths[c]);
    }
    model.setSixColumns(false);
    ASSERT_EQ(model.columnCount(), 1);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("                                            Details"));

    model.setSixColumns(true);
    model.showFolder(20, filters);
    EXPECT_EQ(column(model, 0), QStringList{QString::fromUtf8("M\xC3\xBCNCHEN.TXT")});
    model.showFolder(999, filters);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ModelsTest, FiltersNarrowOnlyTheFiles)
{
    ContentsModel model(volume, names, types, nullptr);
    ASSERT_EQ(filters.add("*.dat"), FilterAddResult::Added);
    model.showFolder(0, filters);
    EXPECT_EQ(column(model, 0), (QStringList{"USERS", "apps", "OLD", "PACKED.DAT", "LOST.DAT"}));
    ASSERT_EQ(filters.add("nothing*"), FilterAddResult::Added);
    filters.remove(1);
    model.showFolder(0, filters);
    EXPECT_EQ(column(model, 0), (QStringList{"USERS", "apps", "OLD"}));
}

TEST_F(ModelsTest, RenamingWritesTheNodeAndTellsTheTree)
{
    ContentsModel model(volume, names, types, nullptr);
    QSignalSpy renamed(&model, &ContentsModel::folderRenamed);
    model.showFolder(0, filters);

    EXPECT_FALSE(model.setData(model.index(3, 0), QString()));  // an empty name keeps the old one
    EXPECT_EQ(volume.files[0].name, "README.TXT");
    EXPECT_TRUE(model.setData(model.index(3, 0), QString::fromUtf8("R\xC3\xA9SUM\xC3\xA9.TXT")));
    EXPECT_EQ(volume.files[0].name, std::string("R\x82SUM\x82.TXT"));  // é is 0x82 in CP437
    EXPECT_EQ(renamed.count(), 0);
    EXPECT_FALSE(model.setData(model.index(3, 0), QString(256, QLatin1Char('x'))));

    EXPECT_TRUE(model.setData(model.index(0, 0), QStringLiteral("PEOPLE")));
    EXPECT_EQ(volume.folders[0].name, "PEOPLE");
    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(renamed.at(0).at(0).toUInt(), volume.folders[0].treeItem);
    EXPECT_FALSE(model.setData(model.index(0, 1), QStringLiteral("Type")));  // only names are edited
}

TEST_F(ModelsTest, FoundFilesAreAppendedInBatchesAndShownThroughTheCodePage)
{
    FoundFilesModel model(names, types, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("File Name"));
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Size"));
    model.append({{"README.TXT", "\\", "1234", 1234, 4}});
    model.append({{std::string("M\x9aNCHEN.TXT"), std::string("\\USERS\\M\x9aLLER"), "7", 7, 5},
                  {"NOTES.TXT", "\\USERS\\ALICE", "5300", 5300, 3}});
    model.append({});
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(1, FoundFilesModel::FileName).data().toString(), QStringLiteral("M\u00dcNCHEN.TXT"));
    EXPECT_EQ(model.index(1, FoundFilesModel::Path).data().toString(), QStringLiteral("\\USERS\\M\u00dcLLER"));
    EXPECT_EQ(model.index(2, FoundFilesModel::Size).data().toString(), QStringLiteral("5300"));
    EXPECT_FALSE(model.index(0, FoundFilesModel::FileName).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_FALSE(model.index(0, FoundFilesModel::Path).data(Qt::DecorationRole).isValid());
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ModelsTest, TypedPatternsTurnIntoCodePageBytes)
{
    EXPECT_EQ(names.toPattern(QStringLiteral("m\u00fcnchen*")), std::string("m\x81nchen*"));
    // A character CP437 cannot hold stands for any one character.
    EXPECT_EQ(names.toPattern(QStringLiteral("\u20ac*.TXT")), "?*.TXT");
    EXPECT_EQ(names.toPattern(QStringLiteral("A\U0001F600B")), "A?B");
}

TEST(ContentsModelSize, AHugeFolderIsHandedOutInBatches)
{
    MountedVolume volume;
    constexpr std::uint32_t kFiles = 200'000;
    volume.files.reserve(kFiles);
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        TreeNode node;
        node.name = "F" + std::to_string(i) + ".DAT";
        node.ordinal = i;
        volume.addFileNode(std::move(node));
    }
    volume.rebuildIndexAndTree();
    NameCodec names;
    FileTypes types;
    FileFilters filters;
    ContentsModel model(volume, names, types, nullptr);

    QElapsedTimer clock;
    clock.start();
    model.showFolder(0, filters);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(model.totalRows(), static_cast<int>(kFiles));
    EXPECT_EQ(model.rowCount(), ContentsModel::kBatch);
    ASSERT_TRUE(model.canFetchMore({}));
    model.fetchMore({});
    EXPECT_EQ(model.rowCount(), 2 * ContentsModel::kBatch);
    EXPECT_EQ(model.index(2 * ContentsModel::kBatch - 1, 0).data().toString(),
              QStringLiteral("F%1.DAT").arg(2 * ContentsModel::kBatch - 1));

    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.clear();
    EXPECT_FALSE(model.canFetchMore({}));
}

} // namespace
} // namespace tamsin::app

namespace tamsin::app {
namespace {

TEST(NameCodecChoice, ACodePageChangeShowsTheSameBytesAnew)
{
    NameCodec names;
    EXPECT_EQ(names.toDisplay("M\x81"), QStringLiteral("M\u00fc"));
    ASSERT_TRUE(names.setCodePage("CP866"));
    EXPECT_EQ(names.codePage(), "CP866");
    EXPECT_EQ(names.toDisplay("M\x81"), QStringLiteral("M\u0411"));
    EXPECT_EQ(names.toRaw(QStringLiteral("\u0411")), std::string("\x81"));
    // An unknown name, or the empty one iconv reads as the locale's, keeps the page.
    EXPECT_FALSE(names.setCodePage("CP-NONE"));
    EXPECT_FALSE(names.setCodePage(""));
    EXPECT_EQ(names.codePage(), "CP866");
    for (const std::string& page : NameCodec::codePages())
        EXPECT_TRUE(NameCodec().setCodePage(page)) << page;
}

TEST(QuickHelpText, BlankRunsFlowAndCommandNamesStayWhole)
{
    const QString html = quickHelpHtml("\r\n        Copy using   Recover Selected      or\r\n   Recover All <here>.");
    EXPECT_EQ(html, QStringLiteral("Copy using <b>Recover&nbsp;Selected</b> or<br><b>Recover&nbsp;All</b> &lt;here&gt;."));
}

// Sorted by a column the folders stay first, each group in the column's
// order, ties in listed order; column -1 is the listed order again.
TEST_F(ModelsTest, ContentsSortKeepsFoldersFirstAndComesBackToTheListedOrder)
{
    ContentsModel model(volume, names, types, nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.showFolder(0, filters);
    const QStringList listed = column(model, ContentsModel::Name);
    model.sort(ContentsModel::Size, Qt::DescendingOrder);
    EXPECT_EQ(column(model, ContentsModel::Name),
              (QStringList{"USERS", "apps", "OLD", "PACKED.DAT", "README.TXT", "LOST.DAT", "GONE.DOC"}));
    model.sort(ContentsModel::Name, Qt::AscendingOrder);
    EXPECT_EQ(column(model, ContentsModel::Name),
              (QStringList{"apps", "OLD", "USERS", "GONE.DOC", "LOST.DAT", "PACKED.DAT", "README.TXT"}));
    model.sort(-1, Qt::DescendingOrder);
    EXPECT_EQ(column(model, ContentsModel::Name), listed);
}

TEST(OverallProgress, TextAndShare)
{
    struct Case {
        OverallProgress progress;
        const char* text;
        int percent;
    };
    const Case cases[] = {
        {{0, 19, 0, 456704, -1}, "File 1 of 19, 0 bytes of 446 KB", 0},
        {{2, 19, 122880, 456704, 4.6}, "File 3 of 19, 120 KB of 446 KB, about 5 s left", 26},
        {{19, 19, 456704, 456704, 0}, "File 19 of 19, 446 KB of 446 KB, about 1 s left", 100},
        {{5, 10, 3 << 20, 6 << 20, 150}, "File 6 of 10, 3.0 MB of 6.0 MB, about 3 min left", 50},
        {{1, 4, 0, 0, 7384}, "File 2 of 4, 0 bytes of 0 bytes, about 2 h 3 min left", 25},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(overallProgressText(c.progress), QString::fromUtf8(c.text));
        EXPECT_EQ(c.progress.percent(), c.percent) << c.text;
    }
}

} // namespace
} // namespace tamsin::app
