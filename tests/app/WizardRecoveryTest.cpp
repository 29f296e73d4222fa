// The recovery commands on the real window: the whole volume and selections
// copied out byte for byte, Stop Saving and Skip File pressed while a read
// is held, the create-error question, and the checksum notice.

#include "Images.h"
#include "FolderTreeView.h"
#include "WizardFixture.h"

#include "GuiTest.h"

#include "imagebuilder/Demo.h"
#include "imagebuilder/Manifest.h"
#include "recovery/Extraction.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryProgressDialog.h"
#include "ui/ReportExport.h"
#include "ui/RecoveryReportDialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QDialogButtonBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

namespace fs = std::filesystem;
using app::CommandId;
using Bytes = std::vector<std::uint8_t>;
using ui::MessageDialog;

// Every file of the manifest by its path below the volume ("USERS/ALICE/NOTES.TXT").
std::map<std::string, Bytes> manifestFiles(const imagebuilder::VolumeManifest& sys)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : sys.entries) {
        if (entry.folder)
            continue;
        std::string path;
        for (const std::string& folder : holdingFolders(sys, entry))
            path += folder + "/";
        files[path + entry.name] = imagebuilder::expectedData(entry);
    }
    return files;
}

// Every file under root, by its path below root.
std::map<std::string, Bytes> recoveredFiles(const fs::path& root)
{
    std::map<std::string, Bytes> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file())
            continue;
        std::ifstream in(item.path(), std::ios::binary);
        files[fs::relative(item.path(), root).string()] = Bytes{std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

std::map<std::string, Bytes> under(const std::map<std::string, Bytes>& files, const std::vector<std::string>& prefixes)
{
    std::map<std::string, Bytes> picked;
    for (const auto& [path, bytes] : files)
        for (const std::string& prefix : prefixes)
            if (path.starts_with(prefix))
                picked[path] = bytes;
    return picked;
}

class WizardRecoveryTest : public ::testing::Test {
protected:
    // A fresh, existing destination folder.
    fs::path destination(const std::string& name)
    {
        const fs::path path = dir / name;
        fs::create_directories(path);
        return path;
    }

    // Runs command with the folder chooser answered by out, and returns the
    // text of the report that ends the run.
    QString recoverInto(WizardRun& run, CommandId command, const fs::path& out)
    {
        return recoverInto([&] { run.window().action(command)->trigger(); }, out);
    }

    QString recoverInto(const std::function<void()>& press, const fs::path& out)
    {
        auto folder = answerFileDialog(QString::fromStdString(out.string()));
        QString report;
        DialogAnswer<ui::RecoveryReportDialog> answer([&](ui::RecoveryReportDialog& dialog) {
            report = dialog.text();
            dialog.accept();
        });
        press();
        EXPECT_TRUE(folder->answered());
        EXPECT_TRUE(answer.answered());
        return report;
    }

    void selectRows(WizardRun& run, const QStringList& names)
    {
        QTableView* list = run.fileList();
        for (int i = 0; i < names.size(); ++i) {
            const int row = run.listRow(names[i]);
            ASSERT_GE(row, 0) << names[i].toStdString();
            // A click marks the list as the focused pane; Ctrl adds to the selection.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, i == 0 ? Qt::NoModifier : Qt::ControlModifier,
                              list->visualRect(list->model()->index(row, 1)).center());
        }
    }

    TempDir dir;
    const std::map<std::string, Bytes> sysFiles = manifestFiles(demoSys());
};

TEST_F(WizardRecoveryTest, RecoverAllCopiesTheWholeVolumeByteForByte)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    const fs::path out = destination("all");
    const QString report = recoverInto(run, CommandId::RecoverAll, out);

    EXPECT_EQ(recoveredFiles(out), sysFiles);
    std::uint64_t bytes = 0;
    for (const auto& [path, data] : sysFiles)
        bytes += data.size();
    EXPECT_TRUE(report.startsWith(QStringLiteral("Recovered %1 file(s), %2 bytes, into %3\n")
                                      .arg(sysFiles.size())
                                      .arg(bytes)
                                      .arg(QString::fromStdString(out.string()))))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("Failed:                    0\n")));
    EXPECT_FALSE(report.contains(QStringLiteral("Problems:")));

    // The report is copied and saved as text or JSON.
    const fs::path saved = destination("saved");
    DialogAnswer<ui::RecoveryReportDialog> exported([&](ui::RecoveryReportDialog& dialog) {
        dialog.exportButtons()->copyButton()->click();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), dialog.text());
        for (const char* name : {"report.json", "report"}) {
            auto file = answerFileDialog(QString::fromStdString((saved / name).string()));
            dialog.exportButtons()->saveButton()->click();
            EXPECT_TRUE(file->answered());
        }
        dialog.accept();
    });
    auto again = answerFileDialog(QString::fromStdString(saved.string()));
    run.window().action(CommandId::RecoverAll)->trigger();
    EXPECT_TRUE(exported.answered());
    std::ifstream textFile(saved / "report.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(textFile), {}).substr(0, 10), "Recovered ");
    std::ifstream jsonFile(saved / "report.json");
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(jsonFile), {})))
            .object();
    EXPECT_EQ(json["filesWritten"].toInteger(), static_cast<qint64>(sysFiles.size()));
    EXPECT_EQ(json["bytesWritten"].toInteger(), static_cast<qint64>(bytes));
    EXPECT_EQ(json["destination"].toString(), QString::fromStdString(saved.string()));
    EXPECT_TRUE(json["problems"].toArray().isEmpty());

    // Again into the same folder: the duplicate rule (Rename) keeps both.
    recoverInto(run, CommandId::RecoverAll, out);
    EXPECT_EQ(recoveredFiles(out).size(), 2 * sysFiles.size());
    EXPECT_TRUE(fs::exists(out / "PUBLIC" / "Copy (1 ) of README.TXT"));
}

TEST_F(WizardRecoveryTest, RecoverSelectedTakesListRowsOrTheTreeFolder)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();

    // Folder rows of the list bring their whole subtree.
    const fs::path folders = destination("folders");
    selectRows(run, {"LOGIN", "USERS"});
    recoverInto(run, CommandId::RecoverSelected, folders);
    EXPECT_EQ(recoveredFiles(folders), under(sysFiles, {"LOGIN/", "USERS/"}));

    // File rows, from the right-click menu, go into their folder's path.
    run.clickTree({"USERS", "ALICE"});
    const fs::path files = destination("files");
    selectRows(run, {"NOTES.TXT", "Customer Address List.txt"});
    recoverInto(run, CommandId::ContextRecoverSelected, files);
    EXPECT_EQ(recoveredFiles(files),
              under(sysFiles, {"USERS/ALICE/NOTES.TXT", "USERS/ALICE/Customer Address List.txt"}));

    // With the tree as the focused pane, its selected folder is taken.
    run.clickTree({"SYSTEM"});
    const fs::path tree = destination("tree");
    recoverInto(run, CommandId::RecoverSelected, tree);
    EXPECT_EQ(recoveredFiles(tree), under(sysFiles, {"SYSTEM/"}));

    // Next while browsing recovers the selection as well, and stays offered.
    const fs::path next = destination("next");
    recoverInto([&] { run.pressNext(); }, next);
    EXPECT_EQ(recoveredFiles(next), under(sysFiles, {"SYSTEM/"}));
    EXPECT_TRUE(run.button("next")->isVisible());
    EXPECT_EQ(run.state().wizardStep, 2);
}

TEST_F(WizardRecoveryTest, TickedFoldersJoinTheSelectedRowsEachFileOnce)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    run.clickTree({"USERS", "ALICE"});
    selectRows(run, {"NOTES.TXT"});
    const QStringList shown = run.listColumn(0);

    // A click on a check box ticks the folder and leaves the list as it is.
    auto* tree = qobject_cast<app::FolderTreeView*>(run.folderTree());
    ASSERT_TRUE(tree);
    auto tick = [&](const QStringList& path) {
        const QModelIndex index = run.treeIndex(path);
        const QRect box = tree->checkBoxRect(index);
        ASSERT_FALSE(box.isEmpty());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
    };
    tick({"SYSTEM"});
    tick({"USERS", "ALICE"});
    EXPECT_EQ(run.treeIndex({"SYSTEM"}).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(run.treeIndex({"USERS"}).data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(run.treeIndex({}).data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
    EXPECT_EQ(run.listColumn(0), shown);
    EXPECT_EQ(run.fileList()->selectionModel()->selectedRows().size(), 1);

    // NOTES.TXT is both ticked (through ALICE) and selected: copied once.
    const fs::path out = destination("union");
    const QString report = recoverInto(run, CommandId::RecoverSelected, out);
    const auto expected = under(sysFiles, {"SYSTEM/", "USERS/ALICE/"});
    EXPECT_EQ(recoveredFiles(out), expected);
    EXPECT_TRUE(report.startsWith(QStringLiteral("Recovered %1 file(s)").arg(expected.size()))) << report.toStdString();

    // Unticked again, with no row selected, nothing is taken and it says so.
    tick({"SYSTEM"});
    tick({"USERS", "ALICE"});
    run.fileList()->clearSelection();
    QTest::mouseClick(run.fileList()->viewport(), Qt::LeftButton, {}, QPoint(2, run.fileList()->viewport()->height() - 2));
    run.fileList()->clearSelection();
    DialogAnswer<MessageDialog> nothing([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text(),
                  QStringLiteral("Nothing is selected: tick folders in the tree or select files in the list."));
        dialog.accept();
    });
    run.window().action(CommandId::RecoverSelected)->trigger();
    EXPECT_TRUE(nothing.answered());
}

TEST_F(WizardRecoveryTest, RightClickOnASelectedRowKeepsTheSelection)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    run.clickTree({"USERS", "ALICE"});
    selectRows(run, {"NOTES.TXT", "Customer Address List.txt"});
    QTableView* list = run.fileList();
    const QPoint at = list->visualRect(list->model()->index(run.listRow("NOTES.TXT"), 1)).center();
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &menuEvent);
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, at);
    auto* menu = run.window().findChild<QMenu*>(QStringLiteral("contextMenu"));
    ASSERT_TRUE(menu);
    EXPECT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    menu->hide();
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 2);

    const fs::path out = destination("both");
    recoverInto(run, CommandId::ContextRecoverSelected, out);
    EXPECT_EQ(recoveredFiles(out),
              under(sysFiles, {"USERS/ALICE/NOTES.TXT", "USERS/ALICE/Customer Address List.txt"}));
}

// LOGIN.EXE, the first file of a whole-volume run, with its blocks apart so
// that the run flags are seen after its first block.
imagebuilder::DiskSpec demoWithScatteredLogin()
{
    return demoWithNode("LOGIN.EXE",
                        [](imagebuilder::Node& node) { node.chain.order = imagebuilder::BlockOrder::Interleaved; });
}

class HeldRecoveryTest : public WizardRecoveryTest {
protected:
    void SetUp() override
    {
        diskSpec = demoWithScatteredLogin();
        const auto planned = imagebuilder::planImage(diskSpec);
        ASSERT_TRUE(planned.ok());
        layout = *planned;
        run = std::make_unique<WizardRun>(std::vector<std::string>{writeImage(dir, "held.img", diskSpec)}, true);
        run->mountFirstVolume();
        // Hold the run at its first data read, LOGIN.EXE's first block.
        const auto& sys = *layout.volume("SYS");
        const auto& login = *sys.find("LOGIN.EXE");
        run->gate()->closeAt(sys.blockSector(login.dataBlocks.at(0)), 1);
        loginData = imagebuilder::expectedData(login);
    }

    // Presses button of the progress dialog once the run is held, after
    // checking what the dialog shows, then lets the run go on.
    std::unique_ptr<ModalWatcher> pressWhenHeld(QPushButton* (ui::RecoveryProgressDialog::*button)() const)
    {
        return std::make_unique<ModalWatcher>([this, button](QWidget* widget) {
            auto* progress = qobject_cast<ui::RecoveryProgressDialog*>(widget);
            if (!progress || !run->gate()->holding())
                return false;
            EXPECT_EQ(progress->windowTitle(), QStringLiteral("Saving the data please wait"));
            EXPECT_TRUE(waitUntil([&] { return progress->fileNameValue()->text() == QStringLiteral("LOGIN.EXE"); }));
            EXPECT_TRUE(progress->pathValue()->text().endsWith(QStringLiteral("/LOGIN/LOGIN.EXE")));
            EXPECT_EQ(progress->totalFilesValue()->text(), QStringLiteral("0"));
            EXPECT_TRUE(progress->overallBar()->isVisible());
            EXPECT_TRUE(progress->overallValue()->text().startsWith(
                QStringLiteral("File 1 of %1, 0 bytes of ").arg(manifestFiles(*layout.volume("SYS")).size())))
                << progress->overallValue()->text().toStdString();
            (progress->*button)()->click();
            run->gate()->open();
            return true;
        });
    }

    imagebuilder::DiskSpec diskSpec;
    imagebuilder::BuiltLayout layout;
    std::unique_ptr<WizardRun> run;
    Bytes loginData;
};

TEST_F(HeldRecoveryTest, StopSavingKeepsThePartialFileAndStartsNoOther)
{
    const fs::path out = destination("stopped");
    auto stop = pressWhenHeld(&ui::RecoveryProgressDialog::stopButton);
    const QString report = recoverInto(*run, CommandId::RecoverAll, out);
    ASSERT_TRUE(stop->answered());

    const auto files = recoveredFiles(out);
    ASSERT_EQ(files.size(), 1u);
    const Bytes& partial = files.at("LOGIN/LOGIN.EXE");
    EXPECT_EQ(partial.size(), 4096u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), loginData.begin()));
    EXPECT_TRUE(report.contains(QStringLiteral("The recovery was stopped: %1 file(s) not started.").arg(sysFiles.size() - 1)))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("/LOGIN/LOGIN.EXE: skipped during the copy; the partial file was kept")));
    EXPECT_TRUE(run->window().session().recovery.recoveryAborted);
}

TEST_F(HeldRecoveryTest, SkipFileMovesToTheNextFile)
{
    const fs::path out = destination("skipped");
    auto skip = pressWhenHeld(&ui::RecoveryProgressDialog::skipButton);
    const QString report = recoverInto(*run, CommandId::RecoverAll, out);
    ASSERT_TRUE(skip->answered());

    auto files = recoveredFiles(out);
    ASSERT_EQ(files.count("LOGIN/LOGIN.EXE"), 1u);
    EXPECT_EQ(files.at("LOGIN/LOGIN.EXE").size(), 4096u);
    files.erase("LOGIN/LOGIN.EXE");
    auto expected = manifestFiles(*layout.volume("SYS"));
    expected.erase("LOGIN/LOGIN.EXE");
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(report.contains(QStringLiteral("Skipped during the copy:   1\n"))) << report.toStdString();
    EXPECT_FALSE(report.contains(QStringLiteral("stopped")));
}

TEST_F(WizardRecoveryTest, ACreateErrorAsksWhetherToGoOn)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    // Overwrite keeps the taken name, and a folder there cannot be opened as a file.
    ASSERT_TRUE(run.window().session().settings.setDuplicateAction(2));
    for (const bool goOn : {false, true}) {
        const fs::path out = destination(goOn ? "yes" : "no");
        fs::create_directories(out / "LOGIN" / "LOGIN.EXE");
        const std::string blocked = (out / "LOGIN" / "LOGIN.EXE").string();
        DialogAnswer<MessageDialog> question([&](MessageDialog& dialog) {
            EXPECT_EQ(dialog.text().toStdString(), "Error creating file : " + blocked + ".  Continue Recovery ? ");
            EXPECT_EQ(dialog.kind(), ui::MessageKind::Question);
            dialog.buttonBox()->button(goOn ? QDialogButtonBox::Yes : QDialogButtonBox::No)->click();
        });
        const QString report = recoverInto(run, CommandId::RecoverAll, out);
        EXPECT_TRUE(question.answered());
        EXPECT_TRUE(report.contains(QStringLiteral("Failed:                    1\n"))) << report.toStdString();
        auto expected = sysFiles;
        expected.erase("LOGIN/LOGIN.EXE");
        if (goOn) {
            EXPECT_EQ(recoveredFiles(out), expected);
        } else {
            EXPECT_TRUE(recoveredFiles(out).empty());
            EXPECT_TRUE(report.contains(
                QStringLiteral("The recovery was stopped: %1 file(s) not started.").arg(sysFiles.size() - 1)));
        }
    }
}

TEST_F(WizardRecoveryTest, ACompressedFileWithAWrongHeaderShowsTheChecksumNotice)
{
    const auto diskSpec = demoWithNode("CUSTOMER.TXT", [](imagebuilder::Node& node) { node.compressed->checkSize = 1; });
    WizardRun run({writeImage(dir, "bad.img", diskSpec)});
    run.mountFirstVolume();
    run.clickTree({"USERS", "ALICE"});
    selectRows(run, {"Customer Address List.txt"});
    const fs::path out = destination("bad");
    DialogAnswer<MessageDialog> notice([](MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(), "Compress File CheckSum Error");
        dialog.accept();
    });
    const QString report = recoverInto(run, CommandId::RecoverSelected, out);
    EXPECT_TRUE(notice.answered());
    EXPECT_TRUE(report.contains(QStringLiteral("Failed:                    1\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("compressed file: the stored header does not match")));
    EXPECT_EQ(recoveredFiles(out), (std::map<std::string, Bytes>{{"USERS/ALICE/Customer Address List.txt", {}}}));
}

} // namespace
} // namespace tamsin::test
