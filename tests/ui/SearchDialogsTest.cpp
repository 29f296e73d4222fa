// The dialogs of the search tools on their own: Find File(s)' buttons and
// close rule, and the File Filters' notices, Remove and closing.

#include "GuiTest.h"

#include "ui/FileFiltersDialog.h"
#include "ui/FindFilesDialog.h"
#include "ui/MessageDialog.h"
#include "ui/UiTexts.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace tamsin::ui {
namespace {

TEST(FindFilesDialog, StartAndStopFollowTheSearch)
{
    FindFilesDialog dialog(nullptr);
    QSignalSpy starts(&dialog, &FindFilesDialog::startRequested);
    QSignalSpy stops(&dialog, &FindFilesDialog::stopRequested);
    EXPECT_EQ(dialog.startButton()->text(), QStringLiteral("&Start Search"));
    EXPECT_EQ(dialog.stopButton()->text(), QStringLiteral("S&top Search"));
    EXPECT_FALSE(dialog.stopButton()->isEnabled());
    dialog.show();
    EXPECT_FALSE(dialog.cancelButton()->isVisible());

    QTest::keyClicks(dialog.patternEdit(), QStringLiteral("*.doc"));
    QTest::keyClick(dialog.patternEdit(), Qt::Key_Return);
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(starts.at(0).at(0).toString(), QStringLiteral("*.doc"));

    dialog.searchStarted();
    EXPECT_FALSE(dialog.startButton()->isEnabled());
    EXPECT_TRUE(dialog.stopButton()->isEnabled());
    EXPECT_EQ(dialog.filesFound()->text(), QStringLiteral("0"));
    dialog.showFound(QStringLiteral("A.DOC"), 1);
    EXPECT_EQ(dialog.lastFile()->text(), QStringLiteral("A.DOC"));
    EXPECT_EQ(dialog.filesFound()->text(), QStringLiteral("1"));
    // Enter starts nothing while a search runs; Escape and the close box are ignored.
    QTest::keyClick(dialog.patternEdit(), Qt::Key_Return);
    EXPECT_EQ(starts.size(), 1);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.cancelButton()->click();
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());

    // Stop greys itself until the question is answered.
    dialog.stopButton()->click();
    EXPECT_EQ(stops.size(), 1);
    EXPECT_FALSE(dialog.stopButton()->isEnabled());
    dialog.searchResumed();
    EXPECT_TRUE(dialog.stopButton()->isEnabled());

    dialog.searchEnded();
    EXPECT_TRUE(dialog.startButton()->isEnabled());
    EXPECT_FALSE(dialog.stopButton()->isEnabled());
    dialog.searchResumed();  // an answer after the end enables nothing
    EXPECT_FALSE(dialog.stopButton()->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

class FileFiltersDialogTest : public ::testing::Test {
protected:
    // Filters as plain text: the tests use ASCII only.
    std::unique_ptr<FileFiltersDialog> open()
    {
        return std::make_unique<FileFiltersDialog>(
            nullptr, table, [](const QString& text) { return text.toStdString(); },
            [](const std::string& raw) { return QString::fromStdString(raw); });
    }

    // Types text, presses Add and answers the notice that must follow.
    void addRefused(FileFiltersDialog& dialog, const QString& text, const char* notice)
    {
        test::DialogAnswer<MessageDialog> answer([&](MessageDialog& message) {
            EXPECT_EQ(message.text().toStdString(), notice);
            EXPECT_EQ(message.kind(), MessageKind::Information);
            message.accept();
        });
        dialog.filterEdit()->setText(text);
        dialog.addButton()->click();
        EXPECT_TRUE(answer.answered()) << text.toStdString();
    }

    QStringList listed(const FileFiltersDialog& dialog)
    {
        QStringList items;
        for (int i = 0; i < dialog.filterList()->count(); ++i)
            items << dialog.filterList()->item(i)->text();
        return items;
    }

    FileFilters table;
};

TEST_F(FileFiltersDialogTest, AddPutsNewFiltersOnTopAndRefusesWithANotice)
{
    auto dialog = open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("File Filters"));
    EXPECT_TRUE(dialog->addButton()->isDefault());
    dialog->show();

    // Enter adds; the edit box is emptied.
    QTest::keyClicks(dialog->filterEdit(), QStringLiteral("*.TXT"));
    QTest::keyClick(dialog->filterEdit(), Qt::Key_Return);
    EXPECT_TRUE(dialog->filterEdit()->text().isEmpty());
    dialog->filterEdit()->setText(QStringLiteral("ABCDEFGHIJKLMNOPQRS"));  // 19 characters
    dialog->addButton()->click();
    EXPECT_EQ(listed(*dialog), (QStringList{"ABCDEFGHIJKLMNOPQRS", "*.TXT"}));

    addRefused(*dialog, QStringLiteral("ABCDEFGHIJKLMNOPQRST"), text::kFilterTooLong);
    EXPECT_EQ(dialog->filterEdit()->selectedText(), QStringLiteral("ABCDEFGHIJKLMNOPQRS"));
    addRefused(*dialog, QString(), text::kBlankFilter);
    addRefused(*dialog, QStringLiteral("*.TXT"), text::kFilterExists);
    EXPECT_EQ(dialog->filterEdit()->selectedText(), QStringLiteral("*.TXT"));
    EXPECT_EQ(listed(*dialog).size(), 2);

    // The duplicate test is case-sensitive, and blanks are not empty.
    dialog->filterEdit()->setText(QStringLiteral("*.txt"));
    dialog->addButton()->click();
    dialog->filterEdit()->setText(QStringLiteral("  "));
    dialog->addButton()->click();
    EXPECT_EQ(listed(*dialog), (QStringList{"  ", "*.txt", "ABCDEFGHIJKLMNOPQRS", "*.TXT"}));
    // The table changes only when the dialog closes.
    EXPECT_EQ(table.count(), 0u);
    dialog->closeButton()->click();
    EXPECT_EQ(table.list(), (std::vector<std::string>{"  ", "*.txt", "ABCDEFGHIJKLMNOPQRS", "*.TXT"}));
}

TEST_F(FileFiltersDialogTest, TheHundredthFilterIsRefusedBeforeTheTextIsRead)
{
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(table.add("F" + std::to_string(i)), FilterAddResult::Added);
    auto dialog = open();
    dialog->show();
    EXPECT_EQ(dialog->filterList()->count(), 99);
    EXPECT_EQ(dialog->filterList()->item(0)->text(), QStringLiteral("F98"));
    addRefused(*dialog, QString(), text::kTooManyFilters);  // not the blank notice
    EXPECT_EQ(dialog->filterList()->count(), 99);
}

TEST_F(FileFiltersDialogTest, RemoveTakesTheSelectedEntryAndEveryCloseWritesTheList)
{
    for (const char* filter : {"*.DOC", "REPORT", "A?C", "B*"})
        table.add(filter);
    for (const int road : {0, 1, 2}) {
        auto dialog = open();
        dialog->show();
        dialog->removeButton()->click();  // nothing selected: nothing removed
        ASSERT_EQ(dialog->filterList()->count(), 4 - road);
        dialog->filterList()->setCurrentRow(0);
        dialog->removeButton()->click();
        EXPECT_EQ(dialog->filterList()->count(), 3 - road);
        // Close, Escape and the close box all write the list.
        if (road == 0)
            dialog->closeButton()->click();
        else if (road == 1)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            dialog->close();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(table.count(), static_cast<std::size_t>(3 - road));
    }
    EXPECT_EQ(table.list(), (std::vector<std::string>{"*.DOC"}));
}

} // namespace
} // namespace tamsin::ui
