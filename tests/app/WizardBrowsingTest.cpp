// The browsing step's commands: snapshot save and load, the reports, the
// settings, view modes, renaming, keys and the right-click menu.

#include "Images.h"
#include "QuickHelp.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "WizardTexts.h"

#include "imagebuilder/Demo.h"
#include "recovery/OpenFile.h"
#include "snapshot/Snapshot.h"
#include "ui/MessageDialog.h"
#include "ui/RecoverySettingsDialog.h"
#include "ui/ReportDialog.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

using ui::MessageDialog;

class WizardBrowsingTest : public ::testing::Test {
protected:
    void SetUp() override { image = writeImage(dir, "demo.img", imagebuilder::demoDiskSpec()); }

    void mountSys(WizardRun& run)
    {
        run.clickDisk(0);
        run.pressNext();
        run.clickVolume(0);
        run.pressNext();
        ASSERT_TRUE(run.waitForStep(2));
    }

    TempDir dir;
    std::string image;
};

TEST_F(WizardBrowsingTest, SnapshotSavedInOneRunLoadsInTheNext)
{
    const QString chosen = QString::fromStdString((dir / "sys1").string());
    const std::string written = (dir / "SYS1.VSNP").string();
    QStringList rootRows;
    QStringList aliceRows;
    {
        WizardRun run({image});
        mountSys(run);
        rootRows = run.listColumn(0);
        run.clickTree({"USERS", "ALICE"});
        aliceRows = run.listColumn(0);
        auto answer = answerFileDialog(chosen);
        run.window().action(app::CommandId::SaveSnapshot)->trigger();
        ASSERT_TRUE(answer->answered());
        EXPECT_TRUE(std::filesystem::exists(written));
        EXPECT_EQ(run.state().wizardStep, 2);  // saving changes nothing on screen
    }

    WizardRun run({image});
    run.clickDisk(0);
    run.pressNext();
    const std::string before = run.instruction().toStdString();
    auto answer = answerFileDialog(QString::fromStdString(written));
    run.window().findChild<QAction*>(QStringLiteral("tool%1").arg(int(app::CommandId::LoadSnapshot)))->trigger();
    ASSERT_TRUE(answer->answered());

    EXPECT_EQ(run.state().wizardStep, 2);
    EXPECT_FALSE(run.state().busy);
    EXPECT_EQ(run.treeIndex({}).data().toString(), QStringLiteral("SYS"));
    EXPECT_EQ(run.treeChildren({}), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    EXPECT_EQ(run.listColumn(0), rootRows);
    EXPECT_TRUE(run.fileList()->isVisible());
    EXPECT_FALSE(run.window().findChild<QWidget*>(QStringLiteral("volumeTree"))->isVisible());
    EXPECT_TRUE(run.window().action(app::CommandId::SaveSnapshot)->isEnabled());
    EXPECT_FALSE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());
    EXPECT_TRUE(run.button("back")->isVisible());
    EXPECT_EQ(run.instruction().toStdString(), before);
    run.clickTree({"USERS", "ALICE"});
    EXPECT_EQ(run.listColumn(0), aliceRows);

    run.pressBack();
    EXPECT_EQ(run.state().wizardStep, 1);
    EXPECT_TRUE(run.window().action(app::CommandId::LoadSnapshot)->isEnabled());
}

TEST_F(WizardBrowsingTest, ARefusedSnapshotLeavesTheVolumeStep)
{
    const std::string bogus = (dir / "OLD.VSNP").string();
    std::ofstream(bogus) << "vsp4.01 and more";
    WizardRun run({image});
    run.clickDisk(0);
    run.pressNext();
    auto file = answerFileDialog(QString::fromStdString(bogus));
    DialogAnswer<MessageDialog> message([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), std::string(kInvalidMagicPrefix) + "vsp4.01");
        EXPECT_EQ(dialog.kind(), ui::MessageKind::Error);
        dialog.accept();
    });
    run.window().action(app::CommandId::LoadSnapshot)->trigger();
    ASSERT_TRUE(message.answered());
    EXPECT_EQ(run.state().wizardStep, 1);
    EXPECT_TRUE(run.window().findChild<QWidget*>(QStringLiteral("volumeTree"))->isVisible());
}

TEST_F(WizardBrowsingTest, GreyedCommandsDoNothing)
{
    WizardRun run({image});
    run.clickDisk(0);
    run.pressNext();
    QAction* saveButton = run.window().findChild<QAction*>(QStringLiteral("tool%1").arg(int(app::CommandId::SaveSnapshot)));
    ASSERT_TRUE(saveButton);
    EXPECT_FALSE(saveButton->isEnabled());
    ModalWatcher anyDialog([](QWidget*) { return true; });
    run.window().runCommand(app::CommandId::SaveSnapshot);
    run.window().runCommand(app::CommandId::DriveInformation);
    pump(50);
    EXPECT_FALSE(anyDialog.answered());
}

TEST_F(WizardBrowsingTest, ReportsShowTheVolumeAndTheMarkedRow)
{
    WizardRun run({image});
    mountSys(run);
    const MountedVolume& mounted = run.window().session().mounted;
    {
        DialogAnswer<ui::ReportDialog> info([&](ui::ReportDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Drive Information"));
            EXPECT_EQ(dialog.value(0)->text(), QString::number(mounted.startSector));
            EXPECT_EQ(dialog.value(1)->text(), QString::number(mounted.folderCount()));
            EXPECT_EQ(dialog.value(2)->text(), QString::number(mounted.fileCount()));
            dialog.accept();
        });
        run.window().action(app::CommandId::DriveInformation)->trigger();
        EXPECT_TRUE(info.answered());
    }
    run.clickTree({"USERS"});
    run.fileList()->setCurrentIndex(run.fileList()->model()->index(run.listRow(QStringLiteral("ALICE")), 0));
    DialogAnswer<ui::ReportDialog> properties([](ui::ReportDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File/Folder Properties"));
        EXPECT_EQ(dialog.value(0)->text(), QStringLiteral("ALICE"));
        EXPECT_EQ(dialog.value(2)->text(), QStringLiteral("4 File(s) and 0 Folder(s)"));
        dialog.accept();
    });
    run.window().runCommand(app::CommandId::Properties);
    EXPECT_TRUE(properties.answered());
}

TEST_F(WizardBrowsingTest, SettingsAreStoredOnOkOnly)
{
    WizardRun run({image});
    Session& session = run.window().session();
    {
        DialogAnswer<ui::RecoverySettingsDialog> cancel([](ui::RecoverySettingsDialog& dialog) {
            dialog.sectorsList()->setCurrentIndex(0);
            dialog.reject();
        });
        run.window().action(app::CommandId::Settings)->trigger();
        EXPECT_EQ(session.settings.sectorsPerAttempt(), 60u);
    }
    DialogAnswer<ui::RecoverySettingsDialog> ok([](ui::RecoverySettingsDialog& dialog) {
        dialog.sectorsList()->setCurrentIndex(99);
        dialog.retriesList()->setCurrentIndex(0);
        dialog.accept();
    });
    run.window().action(app::CommandId::Settings)->trigger();
    EXPECT_EQ(session.settings.sectorsPerAttempt(), 100u);
    EXPECT_EQ(session.settings.retryCount(), 1);
    EXPECT_EQ(session.reader.retryCount(), 1);
}

TEST_F(WizardBrowsingTest, ViewModesAndNextReturnToDetails)
{
    WizardRun run({image});
    mountSys(run);
    auto* icons = run.window().findChild<QListView*>(QStringLiteral("iconList"));
    run.window().action(app::CommandId::Icons)->trigger();
    EXPECT_TRUE(icons->isVisible());
    EXPECT_EQ(icons->viewMode(), QListView::IconMode);
    EXPECT_FALSE(run.fileList()->isVisible());
    run.window().action(app::CommandId::List)->trigger();
    EXPECT_EQ(icons->viewMode(), QListView::ListMode);
    EXPECT_EQ(icons->model()->rowCount(), 4);
    run.pressNext();  // browsing: Next only brings the details view back
    EXPECT_TRUE(run.fileList()->isVisible());
    EXPECT_EQ(run.state().wizardStep, 2);
}

TEST_F(WizardBrowsingTest, TabF2AndEnterFollowTheFocusedPane)
{
    WizardRun run({image});
    mountSys(run);
    run.clickTree({"USERS"});  // the tree now holds the focus marker
    QTableView* list = run.fileList();
    list->setCurrentIndex(list->model()->index(0, 0));

    // F2 with the tree marked starts no edit; Tab moves to the list, then F2 does.
    auto editor = [list]() -> QLineEdit* {
        for (QLineEdit* edit : list->viewport()->findChildren<QLineEdit*>())
            if (edit->isVisible())
                return edit;
        return nullptr;
    };
    QTest::keyClick(run.folderTree(), Qt::Key_F2);
    EXPECT_FALSE(editor());
    QTest::keyClick(run.folderTree(), Qt::Key_Tab);
    QTest::keyClick(list, Qt::Key_F2);
    ASSERT_TRUE(editor());
    editor()->selectAll();
    QTest::keyClicks(editor(), QStringLiteral("ALICIA"));
    QTest::keyClick(editor(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !editor(); }));
    EXPECT_EQ(run.listColumn(0).at(0), QStringLiteral("ALICIA"));
    EXPECT_EQ(run.treeChildren({"USERS"}).at(0), QStringLiteral("ALICIA"));

    // Enter opens the marked row: the renamed folder.
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({"USERS", "ALICIA"}));
    EXPECT_EQ(run.listColumn(0).size(), 4);
}

TEST_F(WizardBrowsingTest, TheListFollowsTheTreeFromTheFirstKey)
{
    WizardRun run({image});
    mountSys(run);
    QTreeView* tree = run.folderTree();
    EXPECT_EQ(tree->currentIndex(), run.treeIndex({}));

    // Tab into the tree, then Down: the first folder below the root is shown.
    QTest::keyClick(run.fileList(), Qt::Key_Tab);
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(tree->currentIndex(), run.treeIndex({"LOGIN"}));
    const QStringList login = run.listColumn(0);
    EXPECT_NE(login, (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(run.listColumn(0), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
    QTest::keyClick(tree, Qt::Key_Down);
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(run.listColumn(0), login);
}

TEST_F(WizardBrowsingTest, TheCodePageChoiceRendersNamesAgainAndIsRemembered)
{
    const std::string named = writeImage(dir, "named.img", demoWithNode("NOTES.TXT", [](imagebuilder::Node& node) {
        node.longName = std::string("M\x81nchen street plan for the whole of the year.txt");
    }));
    const QString cp437 = QStringLiteral("M\u00fcnchen street plan for the whole of the year.txt");
    const QString cp866 = QStringLiteral("M\u0411nchen street plan for the whole of the year.txt");
    {
        WizardRun run({named});
        mountSys(run);
        run.clickTree({"USERS", "ALICE"});
        const int row = run.listRow(cp437);
        ASSERT_GE(row, 0) << run.listColumn(0).join(',').toStdString();
        // The Name column is as wide as its longest name, Type at least its set width.
        QTableView* list = run.fileList();
        EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance(cp437) + 16);
        EXPECT_GE(list->columnWidth(1), 100);

        run.window().findChild<QAction*>(QStringLiteral("codePageCP866"))->trigger();
        EXPECT_EQ(run.listRow(cp866), row);
        EXPECT_EQ(QSettings().value(QStringLiteral("names/codePage")).toString(), QStringLiteral("CP866"));
    }
    // The next window starts with the choice made, for every name it shows.
    WizardRun again({named});
    EXPECT_TRUE(again.window().findChild<QAction*>(QStringLiteral("codePageCP866"))->isChecked());
    mountSys(again);
    again.clickTree({"USERS", "ALICE"});
    EXPECT_GE(again.listRow(cp866), 0);
    again.window().setCodePage("CP437");
    EXPECT_EQ(QSettings().value(QStringLiteral("names/codePage")).toString(), QStringLiteral("CP437"));
    EXPECT_GE(again.listRow(cp437), 0);
}

TEST_F(WizardBrowsingTest, RightClickMenuGreysOpenWithOnFolders)
{
    WizardRun run({image});
    mountSys(run);
    run.clickTree({"SYSTEM"});
    QTableView* list = run.fileList();
    auto* menu = run.window().findChild<QMenu*>(QStringLiteral("contextMenu"));
    QAction* openWith = run.window().action(app::CommandId::OpenWith);

    const int file = run.listRow(QStringLiteral("AUTOEXEC.NCF"));
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, list->visualRect(list->model()->index(file, 0)).center());
    emit list->customContextMenuRequested(list->visualRect(list->model()->index(file, 0)).center());
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    EXPECT_TRUE(openWith->isEnabled());
    menu->close();

    run.clickTree({});
    emit list->customContextMenuRequested(list->visualRect(list->model()->index(0, 0)).center());
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    EXPECT_FALSE(openWith->isEnabled());
    menu->close();
}

TEST_F(WizardBrowsingTest, DoubleClickOpensAFileThroughTheDesktop)
{
    TempDir temp;
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    ::setenv("TMPDIR", temp.path().c_str(), 1);

    WizardRun run({image});
    mountSys(run);
    run.clickTree({"PUBLIC"});
    run.doubleClickRow(run.listRow(QStringLiteral("README.TXT")));
    const std::string opened = (temp / "README.TXT").string();
    EXPECT_EQ(run.desktop().urls, QStringList{QUrl::fromLocalFile(QString::fromStdString(opened)).toString()});
    std::ifstream in(opened, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(bytes, imagebuilder::expectedData(*demoSys().find("README.TXT")));

    // A compressed file is not opened; a notice says why.
    run.clickTree({"USERS", "ALICE"});
    DialogAnswer<MessageDialog> notice([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text(),
                  QStringLiteral("You cannot open the compressed file, although you can recover the compressed file(s)."));
        dialog.accept();
    });
    run.doubleClickRow(run.listRow(QStringLiteral("Customer Address List.txt")));
    EXPECT_TRUE(notice.answered());
    EXPECT_EQ(run.desktop().urls.size(), 1);

    if (previous)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST_F(WizardBrowsingTest, HelpAndLiveUpdateSayWhenTheirFilesAreMissing)
{
    WizardRun run({image});
    for (app::CommandId id : {app::CommandId::Contents, app::CommandId::LiveUpdate}) {
        DialogAnswer<MessageDialog> missing([id](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(),
                      id == app::CommandId::Contents ? app::text::kHelpMissing : app::text::kLiveUpdateMissing);
            EXPECT_EQ(dialog.kind(), ui::MessageKind::Error);
            dialog.accept();
        });
        run.window().action(id)->trigger();
        EXPECT_TRUE(missing.answered());
    }
    EXPECT_EQ(run.desktop().exits, 0);
    EXPECT_TRUE(run.desktop().programs.isEmpty());
}

} // namespace
} // namespace tamsin::test
