// The Tools commands on the real window: Find File(s) with its Stop
// question, File Filters refilling the list, and Restore Compress Files.

#include "Images.h"
#include "VolumeFixture.h"
#include "WizardFixture.h"

#include "FileSearch.h"
#include "FoundFilesModel.h"
#include "SearchTexts.h"
#include "WizardTexts.h"
#include "GuiTest.h"

#include "imagebuilder/Demo.h"
#include "imagebuilder/Manifest.h"
#include "ui/FileFiltersDialog.h"
#include "ui/FindFilesDialog.h"
#include "ui/DamageReportDialog.h"
#include "ui/ReportExport.h"
#include "ui/MessageDialog.h"
#include "ui/RecoveryReportDialog.h"
#include "ui/ReportDialog.h"
#include "ui/RestoreCompressedDialog.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTreeView>

#include <condition_variable>
#include <filesystem>
#include <set>
#include <fstream>
#include <iterator>
#include <mutex>

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

using app::CommandId;
using ui::MessageDialog;

struct Row {
    QString name, path, size;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name.toStdString() << " | " << row.path.toStdString() << " | " << row.size.toStdString();
}

std::vector<Row> shownRows(const ui::FindFilesDialog& dialog)
{
    std::vector<Row> rows;
    const QAbstractItemModel* model = dialog.results()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        rows.push_back({model->index(row, 0).data().toString(), model->index(row, 1).data().toString(),
                        model->index(row, 2).data().toString()});
    return rows;
}

// The files of the manifest whose upper-cased name passes keep, in list
// order, as the search shows them.
std::vector<Row> expectedRows(const imagebuilder::VolumeManifest& sys, const std::function<bool(const QString&)>& keep)
{
    std::vector<Row> rows;
    for (const auto& entry : sys.entries) {
        const QString name = QString::fromStdString(entry.name).toUpper();
        if (entry.folder || !keep(name))
            continue;
        QString path;
        for (const std::string& folder : holdingFolders(sys, entry))
            path += QLatin1Char('\\') + QString::fromStdString(folder);
        rows.push_back({name, path.isEmpty() ? QStringLiteral("\\") : path, QString::number(entry.size)});
    }
    return rows;
}

// Holds the search's worker after a chosen row until released.
class RowGate {
public:
    void holdAfter(std::uint32_t row)
    {
        std::lock_guard lock(mutex_);
        holdAfter_ = row;
        released_ = false;
    }
    void reached(std::uint32_t row)
    {
        std::unique_lock lock(mutex_);
        if (row != holdAfter_)
            return;
        held_ = true;
        wake_.wait(lock, [this] { return released_; });
        held_ = false;
    }
    void release()
    {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }
    bool held()
    {
        std::lock_guard lock(mutex_);
        return held_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::uint32_t holdAfter_ = 0;
    bool released_ = false;
    bool held_ = false;
};

class WizardToolsTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(WizardToolsTest, FindListsEveryMatchWithItsFolder)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    const auto expected = expectedRows(demoSys(), [](const QString& name) { return name.endsWith(".TXT"); });
    ASSERT_GE(expected.size(), 4u);

    DialogAnswer<ui::FindFilesDialog> find([&](ui::FindFilesDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Find File(s)"));
        const QAbstractItemModel* model = dialog.results()->model();
        EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File Name"));
        EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Path"));
        EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Size"));
        EXPECT_EQ(dialog.results()->columnWidth(1), 250);

        // Enter starts the search; the case of the pattern does not matter.
        QTest::keyClicks(dialog.patternEdit(), QStringLiteral("*.txt"));
        QTest::keyClick(dialog.patternEdit(), Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return !dialog.searching(); }));
        EXPECT_EQ(shownRows(dialog), expected);
        EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        EXPECT_EQ(dialog.filesFound()->text(), QString::number(expected.size()));
        EXPECT_EQ(dialog.lastFile()->text(), expected.back().name);
        EXPECT_TRUE(dialog.startButton()->isEnabled());
        EXPECT_FALSE(dialog.stopButton()->isEnabled());

        // The Size header sorts by the size in bytes; a third click brings the found order back.
        clickHeader(dialog.results(), 2);
        std::vector<Row> bySize = expected;
        std::stable_sort(bySize.begin(), bySize.end(),
                         [](const Row& a, const Row& b) { return a.size.toULongLong() < b.size.toULongLong(); });
        EXPECT_EQ(shownRows(dialog), bySize);
        clickHeader(dialog.results(), 2);
        clickHeader(dialog.results(), 2);
        EXPECT_EQ(shownRows(dialog), expected);

        // A second search replaces the rows; a substring finds README.TXT.
        dialog.patternEdit()->setText(QStringLiteral("readme"));
        dialog.startButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !dialog.searching(); }));
        EXPECT_EQ(shownRows(dialog),
                  expectedRows(demoSys(), [](const QString& name) { return name.contains("README"); }));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    run.window().action(CommandId::FindFiles)->trigger();
    EXPECT_TRUE(find.answered());
}

TEST_F(WizardToolsTest, AFoundFileIsShownInItsFolderAndTheFoundFilesRecovered)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    const std::filesystem::path out = std::filesystem::path(dir.path()) / "found";
    std::filesystem::create_directories(out);

    DialogAnswer<ui::FindFilesDialog> find([&](ui::FindFilesDialog& dialog) {
        EXPECT_FALSE(dialog.recoverButton()->isEnabled());
        dialog.patternEdit()->setText(QStringLiteral("*.txt"));
        dialog.startButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !dialog.searching(); }));
        const std::vector<Row> rows = shownRows(dialog);
        int notes = -1;
        for (std::size_t row = 0; row < rows.size(); ++row)
            if (rows[row].name == QStringLiteral("NOTES.TXT"))
                notes = static_cast<int>(row);
        ASSERT_GE(notes, 0);

        // Enter on a result shows its folder and selects its row; the search
        // is not started again.
        QTableView* results = dialog.results();
        results->setFocus();
        results->setCurrentIndex(results->model()->index(notes, 0));
        QTest::keyClick(results, Qt::Key_Return);
        EXPECT_FALSE(dialog.searching());
        EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({"USERS", "ALICE"}));
        const QModelIndexList selected = run.fileList()->selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), 1);
        EXPECT_EQ(selected.front().data().toString(), QStringLiteral("NOTES.TXT"));

        // A double-click on another result moves there.
        const QRect readme = results->visualRect(results->model()->index(0, 0));
        QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, readme.center());
        QTest::mouseDClick(results->viewport(), Qt::LeftButton, {}, readme.center());
        EXPECT_EQ(run.fileList()->selectionModel()->selectedRows().front().data().toString().toUpper(), rows[0].name);

        // The found files are recovered with their folder paths.
        ASSERT_TRUE(dialog.recoverButton()->isEnabled());
        auto folder = answerFileDialog(QString::fromStdString(out.string()));
        DialogAnswer<ui::RecoveryReportDialog> report([](ui::RecoveryReportDialog& done) { done.accept(); });
        dialog.recoverButton()->click();
        EXPECT_TRUE(folder->answered());
        EXPECT_TRUE(report.answered());
        dialog.reject();
    });
    run.window().action(CommandId::FindFiles)->trigger();
    EXPECT_TRUE(find.answered());

    std::set<std::string> expected;
    for (const auto& entry : demoSys().entries) {
        if (entry.folder || !QString::fromStdString(entry.name).toUpper().endsWith(QStringLiteral(".TXT")))
            continue;
        std::string path;
        for (const std::string& holder : holdingFolders(demoSys(), entry))
            path += holder + "/";
        expected.insert(path + entry.name);
    }
    std::set<std::string> recovered;
    for (const auto& item : std::filesystem::recursive_directory_iterator(out))
        if (item.is_regular_file())
            recovered.insert(std::filesystem::relative(item.path(), out).string());
    EXPECT_EQ(recovered, expected);
}

TEST_F(WizardToolsTest, StopAnsweredNoGoesOnAndYesEndsTheSearch)
{
    WizardRun run({writeImage(dir, "demo.img", imagebuilder::demoDiskSpec())});
    run.mountFirstVolume();
    const auto all = expectedRows(demoSys(), [](const QString&) { return true; });
    ASSERT_GT(all.size(), 5u);

    RowGate gate;
    DialogAnswer<ui::FindFilesDialog> find([&](ui::FindFilesDialog& dialog) {
        auto* search = dialog.findChild<app::FileSearch*>();
        ASSERT_TRUE(search);
        search->setRowHook([&gate](std::uint32_t row) { gate.reached(row); });
        dialog.patternEdit()->setText(QStringLiteral("*"));

        // Asks while the worker is held after its third row; lets it reach
        // the pause, checks nothing more arrives, then answers.
        auto answer = [&](QDialogButtonBox::StandardButton button) {
            return std::make_unique<DialogAnswer<MessageDialog>>([&, button](MessageDialog& question) {
                EXPECT_EQ(question.text().toStdString(), texts::kStopSearchQuestion);
                EXPECT_FALSE(dialog.stopButton()->isEnabled());
                EXPECT_EQ(shownRows(dialog).size(), 3u);
                gate.release();
                EXPECT_TRUE(waitUntil([&] { return search->control().waiting(); }));
                pump(60);
                EXPECT_EQ(shownRows(dialog).size(), 3u);
                question.buttonBox()->button(button)->click();
            });
        };

        for (const auto button : {QDialogButtonBox::No, QDialogButtonBox::Yes}) {
            gate.holdAfter(3);
            dialog.startButton()->click();
            ASSERT_TRUE(waitUntil([&] { return gate.held() && shownRows(dialog).size() == 3; }));
            // Escape is ignored while the search runs.
            QTest::keyClick(&dialog, Qt::Key_Escape);
            EXPECT_TRUE(dialog.isVisible());

            auto question = answer(button);
            dialog.stopButton()->click();
            EXPECT_TRUE(question->answered());
            if (button == QDialogButtonBox::No) {
                // The walk goes on from where it waited: every file once, in order.
                ASSERT_TRUE(waitUntil([&] { return !dialog.searching(); }));
                EXPECT_EQ(shownRows(dialog), all);
                EXPECT_EQ(dialog.filesFound()->text(), QString::number(all.size()));
            } else {
                // No row after the answer; Start is back, Stop stays greyed.
                EXPECT_FALSE(dialog.searching());
                pump(100);
                EXPECT_EQ(shownRows(dialog), std::vector<Row>(all.begin(), all.begin() + 3));
                EXPECT_EQ(dialog.filesFound()->text(), QStringLiteral("3"));
                EXPECT_TRUE(dialog.startButton()->isEnabled());
                EXPECT_FALSE(dialog.stopButton()->isEnabled());
            }
        }
        gate.release();
        dialog.close();
    });
    run.window().action(CommandId::FindFiles)->trigger();
    EXPECT_TRUE(find.answered());
}

TEST_F(WizardToolsTest, ClosingTheFiltersRefillsTheRootListAndNextEmptiesThem)
{
    imagebuilder::DiskSpec diskSpec = imagebuilder::demoDiskSpec();
    for (const char* name : {"REPORT.TXT", "A.DOC", "B.TXT"})
        sysContents(diskSpec).nodes.push_back(imagebuilder::textFileNode(name, "root file\r\n"));
    WizardRun run({writeImage(dir, "root.img", diskSpec)});
    run.mountFirstVolume();
    const QStringList folders = {"LOGIN", "PUBLIC", "SYSTEM", "USERS"};
    EXPECT_EQ(run.listColumn(0), (folders + QStringList{"REPORT.TXT", "A.DOC", "B.TXT"}));

    auto edit = [&](const std::function<void(ui::FileFiltersDialog&)>& change) {
        DialogAnswer<ui::FileFiltersDialog> filters([&](ui::FileFiltersDialog& dialog) { change(dialog); });
        run.window().action(CommandId::FileFilters)->trigger();
        EXPECT_TRUE(filters.answered());
    };
    auto add = [](ui::FileFiltersDialog& dialog, const QString& text) {
        dialog.filterEdit()->setText(text);
        dialog.addButton()->click();
    };

    run.clickTree({"USERS", "ALICE"});
    QTableView* list = run.fileList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 1)).center());
    ASSERT_EQ(run.window().focusWidget(), list);
    edit([&](ui::FileFiltersDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File Filters"));
        EXPECT_EQ(dialog.filterList()->count(), 0);
        add(dialog, QStringLiteral("*.DOC"));
        add(dialog, QStringLiteral("REPORT"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(run.window().session().filters.list(), (std::vector<std::string>{"REPORT", "*.DOC"}));
    // The tree holds the focus on its root and the list shows the root folder.
    EXPECT_EQ(run.folderTree()->currentIndex(), run.treeIndex({}));
    EXPECT_EQ(run.window().focusWidget(), run.folderTree());
    EXPECT_EQ(run.listColumn(0), (folders + QStringList{"REPORT.TXT", "A.DOC"}));

    run.clickTree({"USERS"});
    edit([&](ui::FileFiltersDialog& dialog) {
        ASSERT_EQ(dialog.filterList()->count(), 2);
        EXPECT_EQ(dialog.filterList()->item(0)->text(), QStringLiteral("REPORT"));
        dialog.filterList()->setCurrentRow(0);
        dialog.removeButton()->click();
        dialog.closeButton()->click();
    });
    EXPECT_EQ(run.window().session().filters.list(), (std::vector<std::string>{"*.DOC"}));
    EXPECT_EQ(run.listColumn(0), (folders + QStringList{"A.DOC"}));
    // A notice says the filter hides files; its link clears the filter.
    auto* notice = run.window().findChild<QLabel*>(QStringLiteral("filterNotice"));
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().startsWith(QStringLiteral("Filter active: 1 of 3 files shown"))) << notice->text().toStdString();
    emit notice->linkActivated(QStringLiteral("clear"));
    EXPECT_EQ(run.window().session().filters.count(), 0u);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(run.listColumn(0), (folders + QStringList{"REPORT.TXT", "A.DOC", "B.TXT"}));
    edit([&](ui::FileFiltersDialog& dialog) {
        add(dialog, QStringLiteral("*.DOC"));
        dialog.closeButton()->click();
    });

    // Next empties the filters: after a new mount the dialog opens empty.
    run.pressBack();
    run.clickVolume(0);
    run.pressNext();
    ASSERT_TRUE(run.waitForStep(2));
    EXPECT_EQ(run.window().session().filters.count(), 0u);
    edit([](ui::FileFiltersDialog& dialog) {
        EXPECT_EQ(dialog.filterList()->count(), 0);
        dialog.close();
    });
    EXPECT_EQ(run.listColumn(0), (folders + QStringList{"REPORT.TXT", "A.DOC", "B.TXT"}));
}

TEST_F(WizardToolsTest, RestoreCompressFilesReportsEachStoredHeader)
{
    const QString tail = QStringLiteral(
        "\nCompressed files are recovered as their stored stream, header included, up to the stored length. The "
        "stream format is not public, so they cannot be decompressed.\n");
    const imagebuilder::DiskSpec good = imagebuilder::demoDiskSpec();
    const imagebuilder::DiskSpec bad =
        demoWithNode("CUSTOMER.TXT", [](imagebuilder::Node& node) { node.compressed->checkSize = 7; });
    const QString expected[] = {
        QStringLiteral("1 compressed file(s) on volume SYS:\n\n\\USERS\\ALICE\\Customer Address List.txt\n"
                       "    entry size 61440 bytes; the stored header matches; stored length 20000 bytes\n")
            + tail,
        QStringLiteral("1 compressed file(s) on volume SYS:\n\n\\USERS\\ALICE\\Customer Address List.txt\n"
                       "    entry size 61440 bytes; the stored header does not match (it gives 7 bytes; stored "
                       "length 20000 bytes): it is recovered as an empty file\n")
            + tail,
    };
    int i = 0;
    for (const imagebuilder::DiskSpec* diskSpec : {&good, &bad}) {
        WizardRun run({writeImage(dir, "disk" + std::to_string(i) + ".img", *diskSpec)});
        run.mountFirstVolume();
        DialogAnswer<ui::RestoreCompressedDialog> restore([&](ui::RestoreCompressedDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Restoring Compressed Files, Please wait."));
            ASSERT_TRUE(waitUntil([&] { return dialog.finishButton()->isEnabled(); }));
            EXPECT_EQ(dialog.text(), expected[i]);
            dialog.finishButton()->click();
        });
        run.window().action(CommandId::RestoreCompressed)->trigger();
        EXPECT_TRUE(restore.answered());
        ++i;
    }
}

// A directory sector unreadable in both copies: the mount ends with a message
// giving the counts, and Drive Information lists them.
TEST_F(WizardToolsTest, UnreadableTableSectorsAreToldAfterTheMount)
{
    const std::string image = writeImage(dir, "demo.img", imagebuilder::demoDiskSpec());
    const imagebuilder::ManifestEntry& login = *demoSys().find("LOGIN.EXE");
    std::ofstream(image + ".map") << rescueMapText(std::filesystem::file_size(image),
                                                   {login.entrySector, login.mirrorSector});
    WizardRun run({image});
    DialogAnswer<ui::MessageDialog> told([](ui::MessageDialog& dialog) {
        EXPECT_EQ(dialog.text().toStdString(),
                  std::string(app::text::kTableDamageHead)
                      + "\r\n\r\nUnreadable FAT Sectors : copy 1: 0, copy 2: 0\r\n"
                        "Unreadable DET Sectors : copy 1: 1, copy 2: 1\r\n"
                        "Lost Directory Sectors : 1 (their entries are lost)\r\n\r\n"
                      + app::text::kTableDamageTail);
        dialog.accept();
    });
    run.mountFirstVolume();
    ASSERT_TRUE(told.waitAnswered());

    DialogAnswer<ui::ReportDialog> info([](ui::ReportDialog& dialog) {
        QStringList rows;
        for (std::size_t i = 0; i < dialog.rowCount(); ++i)
            rows << dialog.value(i)->text();
        EXPECT_TRUE(rows.contains(QStringLiteral("copy 1: 1, copy 2: 1"))) << rows.join('|').toStdString();
        EXPECT_TRUE(rows.contains(QStringLiteral("1 (their entries are lost)"))) << rows.join('|').toStdString();
        dialog.accept();
    });
    run.window().action(CommandId::DriveInformation)->trigger();
    EXPECT_TRUE(info.answered());
}

TEST_F(WizardToolsTest, DamageReportNamesFilesOnUnreadSectorsAndMarksTheirRows)
{
    const std::string image = writeImage(dir, "demo.img", imagebuilder::demoDiskSpec());
    const imagebuilder::ManifestEntry& login = *demoSys().find("LOGIN.EXE");
    const std::uint64_t bad = demoSys().blockSector(login.dataBlocks.at(0)) + 2;
    // The rescue map beside the image leaves one sector of LOGIN.EXE unread.
    std::ofstream(image + ".map") << rescueMapText(std::filesystem::file_size(image), {bad});
    WizardRun run({image});
    run.mountFirstVolume();
    DialogAnswer<ui::DamageReportDialog> report([&](ui::DamageReportDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Damage Report"));
        ASSERT_TRUE(waitUntil([&] { return dialog.finishButton()->isEnabled(); }));
        EXPECT_FALSE(dialog.stopButton()->isEnabled());
        EXPECT_EQ(dialog.text(),
                  QStringLiteral("1 damaged table(s), folder(s) and file(s) on volume SYS:\n\n"
                                 "\\LOGIN\\LOGIN.EXE: 512 of %1 bytes unreadable (%2% intact)\n\n"
                                 "Recovered copies of these files hold zeros where their sectors could not be read.\n")
                      .arg(login.size)
                      .arg(100.0 * (login.size - 512) / login.size, 0, 'f', 1));
        auto file = answerFileDialog(QString::fromStdString((dir / "damage.json").string()));
        dialog.exportButtons()->saveButton()->click();
        EXPECT_TRUE(file->answered());
        dialog.finishButton()->click();
    });
    run.window().action(CommandId::DamageReport)->trigger();
    EXPECT_TRUE(report.answered());
    std::ifstream saved(dir / "damage.json");
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(saved), {}))).object();
    ASSERT_EQ(json["rows"].toArray().size(), 1);
    const QJsonObject row = json["rows"].toArray().at(0).toObject();
    EXPECT_EQ(row["path"].toString(), QStringLiteral("\\LOGIN\\LOGIN.EXE"));
    EXPECT_EQ(row["kind"].toString(), QStringLiteral("file"));
    EXPECT_EQ(row["unreadableBytes"].toInteger(), 512);
    EXPECT_EQ(row["totalBytes"].toInteger(), static_cast<qint64>(login.size));

    // The damaged row carries the emblem's tooltip; its neighbours do not.
    run.clickTree({QStringLiteral("LOGIN")});
    const QAbstractItemModel* list = run.fileList()->model();
    const int damaged = run.listRow(QStringLiteral("LOGIN.EXE"));
    ASSERT_GE(damaged, 0);
    EXPECT_TRUE(list->index(damaged, 0).data(Qt::ToolTipRole).toString().startsWith(
        QStringLiteral("Damaged: 512 of %1 bytes unreadable").arg(login.size)));
    for (int row = 0; row < list->rowCount(); ++row) {
        if (row != damaged) {
            EXPECT_FALSE(list->index(row, 0).data(Qt::ToolTipRole).isValid()) << row;
        }
    }
}

} // namespace
} // namespace tamsin::test
