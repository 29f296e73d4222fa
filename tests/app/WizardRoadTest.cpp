// The volume-table road through the real window: disk, volume, mount,
// browsing, and Back from each step.

#include "Images.h"
#include "MountTexts.h"
#include "QuickHelp.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "WizardTexts.h"

#include "imagebuilder/Demo.h"
#include "ui/MessageDialog.h"

#include <QAction>
#include <QBrush>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

using ui::MessageDialog;

class WizardRoadTest : public ::testing::Test {
protected:
    void SetUp() override { image = writeImage(dir, "demo.img", imagebuilder::demoDiskSpec()); }

    // Disk 0, Next, SYS, Next, and the mount to its end.
    void mountSys(WizardRun& run)
    {
        run.clickDisk(0);
        run.pressNext();
        ASSERT_EQ(run.state().wizardStep, 1);
        run.clickVolume(0);
        run.pressNext();
        ASSERT_TRUE(run.waitForStep(2));
    }

    QColor rowColour(WizardRun& run, int row)
    {
        return run.fileList()->model()->index(row, 0).data(Qt::ForegroundRole).value<QBrush>().color();
    }

    TempDir dir;
    std::string image;
};

TEST_F(WizardRoadTest, DiskStepOffersNextOnlyForASelectedDisk)
{
    WizardRun run({image});
    EXPECT_EQ(run.window().windowTitle(), QStringLiteral("Corvane Tamsin Novell (Traditional Volumes)"));
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(app::text::kDiskAtStartInstruction));
    EXPECT_FALSE(run.button("next")->isVisible());
    EXPECT_FALSE(run.button("back")->isVisible());
    EXPECT_FALSE(run.button("stop")->isVisible());
    EXPECT_FALSE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_TRUE(run.window().action(app::CommandId::Settings)->isEnabled());

    run.clickDisk(0);
    EXPECT_TRUE(run.button("next")->isVisible());
    EXPECT_EQ(run.panelLabel(1), QStringLiteral("Capacity              "));
    EXPECT_EQ(run.panelValue(1), QStringLiteral("256 MB ( Approx )"));
    EXPECT_EQ(run.window().state().endSectorText, "524288");
}

TEST_F(WizardRoadTest, VolumeTableRoadMountsAndBrowsesSys)
{
    WizardRun run({image});
    run.clickDisk(0);
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "VOL1"}));
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(texts::kSelectVolumeInstruction));
    EXPECT_TRUE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_FALSE(run.window().action(app::CommandId::SaveSnapshot)->isEnabled());
    EXPECT_FALSE(run.button("next")->isVisible());
    EXPECT_TRUE(run.button("back")->isVisible());

    run.clickVolume(0);
    EXPECT_EQ(run.panelValue(0), QStringLiteral("Novell Traditional Volume"));
    EXPECT_EQ(run.panelValue(1), QString::number(demoSys().startSector));
    ASSERT_TRUE(run.button("next")->isVisible());
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));

    app::WizardDialog& window = run.window();
    const MountedVolume& mounted = window.session().mounted;
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(texts::kBrowsingInstruction));
    EXPECT_TRUE(window.action(app::CommandId::SaveSnapshot)->isEnabled());
    EXPECT_FALSE(window.action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_TRUE(run.fileList()->isVisible());
    EXPECT_TRUE(run.folderTree()->isVisible());
    // The throttled counters end on the final counts.
    EXPECT_EQ(run.panelValue(0), QString::number(mounted.fileCount()));
    EXPECT_EQ(run.panelValue(1), QString::number(mounted.folderCount()));

    // The tree: the volume, its folders in sorted order.
    EXPECT_EQ(run.treeIndex({}).data().toString(), QStringLiteral("SYS"));
    EXPECT_EQ(run.treeChildren({}), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    EXPECT_EQ(run.treeChildren({"USERS"}), (QStringList{"ALICE", "BOB", "CAROL"}));

    // The root's contents: folder rows keyed by their tree items.
    EXPECT_EQ(run.listColumn(0), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    EXPECT_EQ(run.listColumn(1), (QStringList{"Folder", "Folder", "Folder", "Folder"}));
    EXPECT_EQ(run.listColumn(2), (QStringList{"0", "0", "0", "0"}));
    EXPECT_EQ(run.listColumn(3).at(0), QStringLiteral("12-Sep-1996"));
    EXPECT_EQ(run.listColumn(4).at(0), QStringLiteral("09:00:00"));
    const QStringList keys = run.listColumn(5);
    for (int row = 0; row < keys.size(); ++row) {
        const TreeNode* folder = mounted.folderForItem(keys[row].toUInt());
        ASSERT_TRUE(folder);
        EXPECT_EQ(QString::fromStdString(folder->name), run.listColumn(0).at(row));
    }

    // A click in the tree lists that folder; the deleted one is grey.
    run.clickTree({"USERS"});
    EXPECT_EQ(run.listColumn(0), (QStringList{"ALICE", "BOB", "CAROL"}));
    EXPECT_EQ(run.listColumn(1).at(2), QStringLiteral("Deleted Folder"));
    EXPECT_EQ(rowColour(run, 2), QColor(150, 150, 150));
    EXPECT_EQ(rowColour(run, 0), QColor(0, 0, 0));
    // ... and in the tree.
    const auto treeColour = [&](const QStringList& path) {
        return run.treeIndex(path).data(Qt::ForegroundRole).value<QBrush>().color();
    };
    EXPECT_EQ(treeColour({"USERS", "CAROL"}), QColor(150, 150, 150));
    EXPECT_EQ(treeColour({"USERS", "ALICE"}), QColor(0, 0, 0));

    // A double-click on a folder row opens it and selects it in the tree.
    run.doubleClickRow(run.listRow(QStringLiteral("ALICE")));
    EXPECT_EQ(run.listColumn(0), (QStringList{"Quarterly Report 1998.doc", "Budget Forecast 1999.xls", "NOTES.TXT",
                                              "Customer Address List.txt"}));
    EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({"USERS", "ALICE"}));
    const int customers = run.listRow(QStringLiteral("Customer Address List.txt"));
    EXPECT_TRUE(run.listColumn(1).at(customers).startsWith(QStringLiteral("Compressed ")));
    EXPECT_EQ(rowColour(run, customers), QColor(255, 0, 0));
    EXPECT_EQ(run.listColumn(2).at(run.listRow(QStringLiteral("NOTES.TXT"))), QStringLiteral("5300"));
    for (int row = 0; row < 4; ++row) {
        const TreeNode& file = mounted.files.at(run.listColumn(5).at(row).toUInt());
        EXPECT_EQ(QString::fromStdString(file.name), run.listColumn(0).at(row));
    }

    // "Deleted Folder" opens like any folder; its files are deleted too.
    run.clickTree({"USERS"});
    run.doubleClickRow(run.listRow(QStringLiteral("CAROL")));
    EXPECT_EQ(run.listColumn(0), (QStringList{"Resignation Letter.doc", "OLDMAIL.TXT"}));
    EXPECT_TRUE(run.listColumn(1).at(1).startsWith(QStringLiteral("Deleted ")));
    EXPECT_EQ(rowColour(run, 1), QColor(150, 150, 150));
    EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({"USERS", "CAROL"}));

    run.clickTree({"SYSTEM"});
    const int backup = run.listRow(QStringLiteral("AUTOEXEC.BAK"));
    ASSERT_GE(backup, 0);
    EXPECT_TRUE(run.listColumn(1).at(backup).startsWith(QStringLiteral("Deleted ")));
    EXPECT_EQ(rowColour(run, backup), QColor(150, 150, 150));

    // The volume's own item lists the root again.
    run.clickTree({});
    EXPECT_EQ(run.listColumn(0), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
}

TEST_F(WizardRoadTest, BackFromEachStep)
{
    WizardRun run({image});
    mountSys(run);
    app::WizardDialog& window = run.window();

    run.pressBack();
    EXPECT_EQ(run.state().wizardStep, 1);
    EXPECT_TRUE(window.session().mounted.folders.empty());
    EXPECT_FALSE(run.fileList()->isVisible());
    EXPECT_EQ(run.fileList()->model()->rowCount(), 0);
    EXPECT_FALSE(run.folderTree()->isVisible());
    EXPECT_FALSE(window.action(app::CommandId::SaveSnapshot)->isEnabled());
    EXPECT_TRUE(window.action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(app::text::kVolumeAfterBackInstruction));
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "VOL1"}));
    // SYS stays picked, its details shown as a new click on it shows them.
    EXPECT_TRUE(run.button("next")->isVisible());
    QStringList afterBack;
    QStringList clicked;
    for (int row = 0; row < 4; ++row)
        afterBack << run.panelLabel(row) + run.panelValue(row);
    run.clickVolume(0);
    for (int row = 0; row < 4; ++row)
        clicked << run.panelLabel(row) + run.panelValue(row);
    EXPECT_EQ(afterBack, clicked);
    EXPECT_FALSE(run.panelValue(0).isEmpty());

    // The volume step again: pick VOL1 this time.
    run.clickVolume(1);
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.treeIndex({}).data().toString(), QStringLiteral("VOL1"));
    EXPECT_EQ(run.listColumn(0), (QStringList{"DATA", "ARCHIVE", "SHARED"}));

    run.pressBack();
    run.pressBack();
    EXPECT_EQ(run.state().wizardStep, 0);
    EXPECT_FALSE(window.session().reader.isOpen());
    EXPECT_EQ(run.instruction(), app::quickHelpHtml(app::text::kDiskAfterBackInstruction));
    EXPECT_EQ(run.state().menuState, app::MenuState::Disk);
    EXPECT_FALSE(window.action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_FALSE(run.button("back")->isVisible());
    // The disk stays picked with its geometry, and Next opens it again.
    EXPECT_TRUE(run.button("next")->isVisible());
    EXPECT_FALSE(run.panelValue(0).isEmpty());
    run.pressNext();
    EXPECT_EQ(run.state().wizardStep, 1);
    EXPECT_TRUE(window.session().reader.isOpen());
}

TEST_F(WizardRoadTest, ADiskWithoutNetWareSaysSoAndStays)
{
    const std::string plain = writeImage(dir, "plain.img", diskWithoutNetWare());
    WizardRun run({plain});
    run.clickDisk(0);
    DialogAnswer<MessageDialog> answer([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kNoVolumeFound);
        EXPECT_EQ(dialog.kind(), ui::MessageKind::Information);
        dialog.buttonBox()->button(QDialogButtonBox::Ok)->click();
    });
    run.pressNext();
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(run.state().wizardStep, 0);
    // The message says to choose Search Volumes and click Next: Next is there.
    EXPECT_TRUE(run.button("next")->isVisible());
    run.chooseSearch(true);
    EXPECT_TRUE(run.button("next")->isVisible());
}

TEST_F(WizardRoadTest, AnImageThatCannotBeOpenedIsNamed)
{
    WizardRun run({image});
    std::filesystem::remove(image);
    run.clickDisk(0);
    DialogAnswer<MessageDialog> answer([&](MessageDialog& dialog) {
        EXPECT_EQ(dialog.kind(), ui::MessageKind::Error);
        EXPECT_TRUE(dialog.text().contains(QString::fromStdString(image))) << dialog.text().toStdString();
        dialog.accept();
    });
    run.pressNext();
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(run.state().wizardStep, 0);
}

TEST_F(WizardRoadTest, DiskImagesCanBeAddedInTheDiskStep)
{
    WizardRun run({});
    auto* disks = run.window().findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    ASSERT_EQ(disks->topLevelItem(0)->childCount(), 0);
    QAction* open = run.window().action(app::CommandId::OpenDiskImage);
    ASSERT_TRUE(open->isEnabled());

    {
        DialogAnswer<QFileDialog> cancel([&](QFileDialog& dialog) { dialog.reject(); });
        open->trigger();
        EXPECT_TRUE(cancel.answered());
        EXPECT_EQ(disks->topLevelItem(0)->childCount(), 0);
    }
    DialogAnswer<QFileDialog> pick([&](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(image));
        dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open)->click();
    });
    open->trigger();
    ASSERT_TRUE(pick.answered());
    ASSERT_EQ(disks->topLevelItem(0)->childCount(), 1);
    EXPECT_EQ(disks->topLevelItem(0)->child(0)->text(0), QStringLiteral("Storage Device0 - demo.img"));
    EXPECT_TRUE(run.button("next")->isVisible());  // the new disk is selected
    EXPECT_EQ(run.panelValue(1), QStringLiteral("256 MB ( Approx )"));

    run.pressNext();
    EXPECT_EQ(run.volumeNames(), (QStringList{"SYS", "VOL1"}));
    EXPECT_FALSE(open->isEnabled());
}

TEST_F(WizardRoadTest, ExitAsksFirst)
{
    WizardRun run({image});
    mountSys(run);
    {
        DialogAnswer<MessageDialog> no([](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), app::text::kExitQuestion);
            dialog.buttonBox()->button(QDialogButtonBox::No)->click();
        });
        run.window().action(app::CommandId::Exit)->trigger();
        EXPECT_TRUE(no.answered());
        EXPECT_EQ(run.desktop().exits, 0);
        EXPECT_EQ(run.state().wizardStep, 2);
        EXPECT_FALSE(run.window().session().mounted.folders.empty());
    }
    {
        DialogAnswer<MessageDialog> no([](MessageDialog& dialog) { dialog.reject(); });
        EXPECT_FALSE(run.window().close());
        EXPECT_TRUE(run.window().isVisible());
    }
    DialogAnswer<MessageDialog> yes(
        [](MessageDialog& dialog) { dialog.buttonBox()->button(QDialogButtonBox::Yes)->click(); });
    run.window().action(app::CommandId::Exit)->trigger();
    EXPECT_EQ(run.desktop().exits, 1);
    EXPECT_TRUE(run.desktop().urls.isEmpty()) << "no home page is configured in the tests' build";
}

TEST_F(WizardRoadTest, AConfiguredHomePageOpensFromTheLogoAndOnExit)
{
    WizardRun run({image});
    const QString page = QStringLiteral("https://example.org/tamsin");
    run.window().findChild<QToolButton*>(QStringLiteral("homePageLogo"))->click();
    EXPECT_TRUE(run.desktop().urls.isEmpty());
    run.window().setHomePage(page);
    run.window().findChild<QToolButton*>(QStringLiteral("homePageLogo"))->click();
    EXPECT_EQ(run.desktop().urls, QStringList{page});
    DialogAnswer<MessageDialog> yes(
        [](MessageDialog& dialog) { dialog.buttonBox()->button(QDialogButtonBox::Yes)->click(); });
    run.window().action(app::CommandId::Exit)->trigger();
    EXPECT_EQ(run.desktop().urls, (QStringList{page, page}));
}

// The keyboard does what the mouse does: arrows pick a disk and a volume,
// Return presses the focused button.
TEST_F(WizardRoadTest, KeyboardAloneReachesTheBrowsingStep)
{
    WizardRun run({image});
    auto* disks = run.window().findChild<QTreeWidget*>(QStringLiteral("diskTree"));
    disks->setFocus();
    disks->setCurrentItem(disks->topLevelItem(0));
    QTest::keyClick(disks, Qt::Key_Down);
    EXPECT_TRUE(run.button("next")->isVisible());
    EXPECT_EQ(run.panelValue(1), QStringLiteral("256 MB ( Approx )"));

    run.button("next")->setFocus();
    QTest::keyClick(run.button("next"), Qt::Key_Return);
    ASSERT_EQ(run.state().wizardStep, 1);

    auto* volumes = run.window().findChild<QTreeWidget*>(QStringLiteral("volumeTree"));
    volumes->setFocus();
    volumes->setCurrentItem(volumes->topLevelItem(0));
    QTest::keyClick(volumes, Qt::Key_Down);
    ASSERT_TRUE(run.button("next")->isVisible());
    EXPECT_FALSE(run.panelValue(0).isEmpty());

    run.button("back")->setFocus();
    QTest::keyClick(run.button("back"), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(run.state().wizardStep, 0);
}

// A column the user widened keeps its width from folder to folder.
TEST_F(WizardRoadTest, ColumnWidthsTheUserSetSurviveAFolderChange)
{
    WizardRun run({image});
    mountSys(run);
    QHeaderView* header = run.fileList()->horizontalHeader();
    header->resizeSection(2, 211);
    header->resizeSection(0, 333);
    run.clickTree({"USERS"});
    run.clickTree({"USERS", "ALICE"});
    EXPECT_EQ(header->sectionSize(2), 211);
    EXPECT_EQ(header->sectionSize(0), 333);
    EXPECT_EQ(header->sectionSize(3), 100) << "untouched columns keep their set width";
}

} // namespace
} // namespace tamsin::test
