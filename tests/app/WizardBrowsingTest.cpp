// The browsing step's commands: snapshot save and load, the reports, the
// settings, view modes, renaming, keys and the right-click menu, opening
// files, the manual and Live Update.

#include "ContentsModel.h"
#include "Images.h"
#include "QuickHelp.h"
#include "SnapshotTexts.h"
#include "WizardFixture.h"

#include "GuiTest.h"
#include "WizardTexts.h"

#include "imagebuilder/Demo.h"
#include "OpenFile.h"
#include "snapshot/Snapshot.h"
#include "ui/HelpWindow.h"
#include "ui/MessageDialog.h"
#include "ui/OpenWithDialog.h"
#include "ui/PreviewDialog.h"
#include "ui/RecoverySettingsDialog.h"
#include "ui/ReportDialog.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTextBrowser>
#include <QTableView>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

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

// The demo disk with every letter of SYS's DOS names moved one on (A to B, Z
// to A) and its other names prefixed: the same layout, other names.
imagebuilder::DiskSpec demoWithOtherNames()
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    std::function<void(std::vector<imagebuilder::Node>&)> rename = [&](std::vector<imagebuilder::Node>& nodes) {
        for (auto& node : nodes) {
            for (char& c : node.name)
                if (std::isupper(static_cast<unsigned char>(c)))
                    c = c == 'Z' ? 'A' : static_cast<char>(c + 1);
            if (node.longName)
                *node.longName = "other " + *node.longName;
            for (auto& record : node.nameSpaceRecords)
                record.name = "other " + record.name;
            rename(node.children);
        }
    };
    rename(sysContents(diskSpec).nodes);
    return diskSpec;
}

TEST_F(WizardBrowsingTest, ASnapshotOfAnotherDiskIsLoadedOnlyWhenTheUserSaysSo)
{
    const std::string written = (dir / "SYS1.VSNP").string();
    {
        WizardRun run({image});
        mountSys(run);
        auto answer = answerFileDialog(QString::fromStdString((dir / "sys1").string()));
        run.window().action(app::CommandId::SaveSnapshot)->trigger();
        ASSERT_TRUE(answer->answered());
    }
    const std::string other = writeImage(dir, "other.img", demoWithOtherNames());
    WizardRun run({other});
    run.clickDisk(0);
    run.pressNext();
    ASSERT_EQ(run.state().wizardStep, 1);
    for (bool load : {false, true}) {
        auto file = answerFileDialog(QString::fromStdString(written));
        DialogAnswer<MessageDialog> question([load](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), words::snapshotOtherDiskQuestion(SnapshotDiskMatch::OtherEntries));
            EXPECT_EQ(dialog.kind(), ui::MessageKind::Question);
            EXPECT_TRUE(dialog.buttonBox()->button(QDialogButtonBox::No)->isDefault()) << "Return must not load it";
            dialog.buttonBox()->button(load ? QDialogButtonBox::Yes : QDialogButtonBox::No)->click();
        });
        run.window().action(app::CommandId::LoadSnapshot)->trigger();
        ASSERT_TRUE(question.answered());
        EXPECT_EQ(run.state().wizardStep, load ? 2 : 1);
    }
    EXPECT_EQ(run.treeChildren({}), (QStringList{"LOGIN", "PUBLIC", "SYSTEM", "USERS"}));
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
        EXPECT_EQ(dialog.text().toStdString(), std::string(texts::kInvalidMagicPrefix) + "vsp4.01");
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
        EXPECT_TRUE(dialog.value(1)->text().startsWith(QStringLiteral("Less than 1 MB ("))) << "and the exact bytes";
        EXPECT_TRUE(dialog.value(1)->text().endsWith(QStringLiteral(" bytes)")));
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
    // Browsing: Next brings the details view back and goes on to recover the
    // selection; with nothing selected it says so.
    DialogAnswer<MessageDialog> nothing([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kNothingSelected);
        dialog.accept();
    });
    run.pressNext();
    EXPECT_TRUE(nothing.answered());
    EXPECT_TRUE(run.fileList()->isVisible());
    EXPECT_EQ(run.state().wizardStep, 2);
    EXPECT_TRUE(run.button("next")->isVisible());

    // Every name fits its cell: the List's columns are as wide as the longest.
    run.window().action(app::CommandId::List)->trigger();
    run.clickTree({"USERS", "ALICE"});
    const QString longest = QStringLiteral("Quarterly Report 1998.doc");
    EXPECT_GT(icons->gridSize().width(), icons->fontMetrics().horizontalAdvance(longest) + 16);
    const QModelIndex at = icons->model()->index(run.listRow(longest), 0);
    EXPECT_GE(icons->visualRect(at).width(), icons->fontMetrics().horizontalAdvance(longest) + 16);
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

// A header click sorts the list by its column, a second reverses it, a
// third brings the listed order back; the order holds from folder to folder.
TEST_F(WizardBrowsingTest, HeaderClicksSortTheListAndTheOrderHoldsAcrossFolders)
{
    WizardRun run({image});
    mountSys(run);
    run.clickTree({"SYSTEM"});
    const QStringList listed = run.listColumn(0);
    ASSERT_EQ(listed.size(), 4);

    clickHeader(run.fileList(), app::ContentsModel::Size);
    EXPECT_EQ(run.listColumn(0), (QStringList{"AUTOEXEC.BAK", "AUTOEXEC.NCF", "SYS$LOG.ERR", "MONITOR.NLM"}));
    clickHeader(run.fileList(), app::ContentsModel::Size);
    EXPECT_EQ(run.listColumn(0), (QStringList{"MONITOR.NLM", "SYS$LOG.ERR", "AUTOEXEC.NCF", "AUTOEXEC.BAK"}));
    clickHeader(run.fileList(), app::ContentsModel::Date);
    EXPECT_EQ(run.listColumn(0).first(), QStringLiteral("MONITOR.NLM")) << "12-Sep-1996 comes first";
    EXPECT_EQ(run.listColumn(0).last(), QStringLiteral("SYS$LOG.ERR")) << "01-Mar-1999 comes last";

    // Another folder is listed in the order chosen; the selection follows its row.
    run.clickTree({"USERS", "ALICE"});
    EXPECT_EQ(run.listColumn(0).first(), QStringLiteral("NOTES.TXT"));
    run.fileList()->selectRow(0);
    clickHeader(run.fileList(), app::ContentsModel::Name);
    EXPECT_EQ(run.listColumn(0),
              (QStringList{"Budget Forecast 1999.xls", "Customer Address List.txt", "NOTES.TXT", "Quarterly Report 1998.doc"}));
    const QModelIndexList selected = run.fileList()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().data().toString(), QStringLiteral("NOTES.TXT"));

    run.clickTree({"SYSTEM"});
    clickHeader(run.fileList(), app::ContentsModel::Name);
    clickHeader(run.fileList(), app::ContentsModel::Name);
    EXPECT_EQ(run.listColumn(0), listed);
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

// F3 shows a text file as text, a binary one as hex, at most its first 64 KiB.
TEST_F(WizardBrowsingTest, PreviewShowsTheStartOfAFileAsTextOrHex)
{
    WizardRun run({image});
    mountSys(run);
    struct Case {
        QStringList folder;
        const char* name;
        bool hex;
    };
    for (const Case& c : {Case{{"PUBLIC"}, "README.TXT", false}, Case{{"SYSTEM"}, "MONITOR.NLM", true}}) {
        // F3 is a window shortcut: the window must be the active one.
        run.window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&run.window()));
        run.clickTree(c.folder);
        const int row = run.listRow(QString::fromUtf8(c.name));
        ASSERT_GE(row, 0);
        QTableView* list = run.fileList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 1)).center());
        const auto data = imagebuilder::expectedData(*demoSys().find(c.name));
        const QByteArray head(reinterpret_cast<const char*>(data.data()),
                              static_cast<qsizetype>(std::min<std::size_t>(data.size(), 65536)));
        DialogAnswer<ui::PreviewDialog> preview([&](ui::PreviewDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Preview - %1").arg(c.name));
            EXPECT_EQ(dialog.showingHex(), c.hex);
            EXPECT_EQ(dialog.shownText(), c.hex ? ui::PreviewDialog::hexDump(head)
                                                : QString::fromLatin1(head).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
            EXPECT_EQ(dialog.extentLabel()->text(),
                      data.size() > 65536 ? QStringLiteral("The first 65536 of %1 bytes shown.").arg(data.size())
                                          : QStringLiteral("All %1 bytes shown.").arg(data.size()));
            dialog.showHex(!c.hex);
            EXPECT_EQ(dialog.showingHex(), !c.hex);
            dialog.reject();
        });
        QTest::keyClick(list, Qt::Key_F3);
        EXPECT_TRUE(preview.answered()) << c.name;
    }
    EXPECT_EQ(ui::PreviewDialog::hexDump(QByteArray("Hello, NetWare!\n\x01", 17)).toStdString(),
              QStringLiteral("00000000  48 65 6c 6c 6f 2c 20 4e  65 74 57 61 72 65 21 0a  |Hello, NetWare!.|\n"
                             "00000010  01                                                |.|\n").toStdString());
}

// Open With lists the desktop's applications for the type and starts the one picked.
TEST_F(WizardBrowsingTest, OpenWithOffersTheDesktopsApplicationsForTheType)
{
    OpenedFilesFolder temp;
    const auto apps = dir / "data" / "applications";
    std::filesystem::create_directories(apps);
    std::ofstream(apps / "notes.desktop") << "[Desktop Entry]\nType=Application\nName=Notes\n"
                                             "Exec=/opt/notes --new-window %f\nMimeType=text/plain;\n";
    // Ours first; the system's folders stay, they hold the MIME database.
    const std::string data = (dir / "data").string();
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (data + ":/usr/local/share:/usr/share").c_str(), 1);
    WizardRun run({image});
    mountSys(run);
    run.clickTree({"PUBLIC"});
    QTableView* list = run.fileList();
    const int row = run.listRow(QStringLiteral("README.TXT"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(row, 1)).center());
    DialogAnswer<ui::OpenWithDialog> choose([](ui::OpenWithDialog& dialog) {
        const QList<QListWidgetItem*> notes = dialog.list()->findItems(QStringLiteral("Notes"), Qt::MatchExactly);
        EXPECT_EQ(notes.size(), 1);
        if (notes.isEmpty()) {
            dialog.reject();
            return;
        }
        dialog.list()->setCurrentItem(notes.front());
        dialog.openButton()->click();
    });
    run.window().action(app::CommandId::OpenWith)->trigger();
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_DATA_DIRS");
    EXPECT_TRUE(choose.answered());
    EXPECT_EQ(run.desktop().programs,
              QStringList{QStringLiteral("/opt/notes --new-window %1").arg(QString::fromStdString((temp.folder() / "README.TXT").string()))});
}

TEST_F(WizardBrowsingTest, DoubleClickOpensAFileFromAPrivateFolderRemovedAtTheEnd)
{
    OpenedFilesFolder temp;
    std::filesystem::path folder;
    {
        WizardRun run({image});
        mountSys(run);
        run.clickTree({"PUBLIC"});
        run.doubleClickRow(run.listRow(QStringLiteral("README.TXT")));
        folder = temp.folder();
        ASSERT_FALSE(folder.empty()) << "made under XDG_RUNTIME_DIR";
        EXPECT_EQ(folder.parent_path(), temp.base().path());
        EXPECT_EQ(folder.filename().string().size(), std::string("tamsin-XXXXXX").size());
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        const std::string opened = (folder / "README.TXT").string();
        EXPECT_EQ(run.desktop().urls, QStringList{QUrl::fromLocalFile(QString::fromStdString(opened)).toString()});
        EXPECT_EQ(temp.read("README.TXT"), imagebuilder::expectedData(*demoSys().find("README.TXT")));

        // A compressed file is not opened; a notice says why.
        run.clickTree({"USERS", "ALICE"});
        DialogAnswer<MessageDialog> notice([](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), app::text::kCompressedOpenNotice);
            dialog.accept();
        });
        run.doubleClickRow(run.listRow(QStringLiteral("Customer Address List.txt")));
        EXPECT_TRUE(notice.answered());
        EXPECT_EQ(run.desktop().urls.size(), 1);
    }
    EXPECT_FALSE(std::filesystem::exists(folder)) << "removed with the window";

    // Without XDG_RUNTIME_DIR the folder is made in TMPDIR; a confirmed Exit,
    // which ends the process at once, removes it first.
    TempDir tmp;
    ::unsetenv("XDG_RUNTIME_DIR");
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous ? previous : "";
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    WizardRun run({image});
    mountSys(run);
    run.clickTree({"PUBLIC"});
    run.doubleClickRow(run.listRow(QStringLiteral("README.TXT")));
    ASSERT_EQ(run.desktop().urls.size(), 1);
    const auto inTmp = std::filesystem::path(QUrl(run.desktop().urls[0]).toLocalFile().toStdString()).parent_path();
    EXPECT_EQ(inTmp.parent_path(), tmp.path());
    EXPECT_TRUE(std::filesystem::exists(inTmp / "README.TXT"));
    DialogAnswer<MessageDialog> yes(
        [](MessageDialog& dialog) { dialog.buttonBox()->button(QDialogButtonBox::Yes)->click(); });
    run.window().action(app::CommandId::Exit)->trigger();
    EXPECT_EQ(run.desktop().exits, 1);
    EXPECT_FALSE(std::filesystem::exists(inTmp));
    if (previous)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST_F(WizardBrowsingTest, HelpContentsShowsTheManualWithItsSectionsAndSearch)
{
    WizardRun run({image});
    EXPECT_EQ(run.window().action(app::CommandId::Contents)->shortcut(), QKeySequence(Qt::Key_F1));
    run.window().action(app::CommandId::Contents)->trigger();
    auto* help = run.window().findChild<ui::HelpWindow*>();
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->browser()->source().toLocalFile().endsWith(QStringLiteral("manual/index.html")));
    EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("ddrescue")));
    QStringList sections;
    for (int i = 0; i < help->contents()->count(); ++i)
        sections << help->contents()->item(i)->text().trimmed();
    for (const char* section : {"The three steps", "Menus and toolbar", "The Damage Report", "Failing disks",
                                "The tamsin command"})
        EXPECT_TRUE(sections.contains(QString::fromUtf8(section))) << section << " in " << sections.join(", ").toStdString();

    // A section's entry brings it into view.
    help->browser()->verticalScrollBar()->setValue(0);
    help->contents()->setCurrentRow(help->contents()->count() - 1);
    EXPECT_GT(help->browser()->verticalScrollBar()->value(), 0);

    // Searching selects the next match and starts over after the last.
    help->searchField()->setText(QStringLiteral("--force-snapshot"));
    ASSERT_TRUE(help->findNext());
    EXPECT_EQ(help->browser()->textCursor().selectedText(), QStringLiteral("--force-snapshot"));
    help->searchField()->setText(QStringLiteral("no such words in the manual"));
    EXPECT_FALSE(help->findNext());

    // Help > Contents again shows the same window.
    run.window().action(app::CommandId::Contents)->trigger();
    EXPECT_EQ(run.window().findChildren<ui::HelpWindow*>().size(), 1);
}

TEST_F(WizardBrowsingTest, AMissingManualIsNamedAndLiveUpdatePointsToThePackages)
{
    WizardRun run({image});
    TempDir empty;
    run.window().setManualFolder(QString::fromStdString(empty.path().string()));
    DialogAnswer<MessageDialog> missing([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kHelpMissing);
        EXPECT_EQ(dialog.kind(), ui::MessageKind::Error);
        dialog.accept();
    });
    run.window().action(app::CommandId::Contents)->trigger();
    EXPECT_TRUE(missing.answered());
    EXPECT_FALSE(run.window().findChild<ui::HelpWindow*>());

    DialogAnswer<MessageDialog> packages([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), app::text::kLiveUpdateBySystem);
        EXPECT_EQ(dialog.kind(), ui::MessageKind::Information);
        dialog.accept();
    });
    run.window().action(app::CommandId::LiveUpdate)->trigger();
    EXPECT_TRUE(packages.answered());
    EXPECT_EQ(run.desktop().exits, 0);
    EXPECT_TRUE(run.desktop().programs.isEmpty());
    EXPECT_TRUE(run.desktop().urls.isEmpty());
}

} // namespace
} // namespace tamsin::test
