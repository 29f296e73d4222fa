// The dialogs of the recovery commands on their own: the progress dialog's
// buttons and flags, and the two reports' Finish and close rules.

#include "GuiTest.h"

#include "ui/DamageReportDialog.h"
#include "ui/RecoveryProgressDialog.h"
#include "ui/RecoveryReportDialog.h"
#include "ui/RestoreCompressedDialog.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <atomic>

#include <gtest/gtest.h>

namespace tamsin::ui {
namespace {

TEST(RecoveryProgressDialog, ButtonsOnlySetTheRunFlags)
{
    RecoveryRunState run;
    RecoveryProgressDialog dialog(nullptr, run);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Saving the data please wait"));
    EXPECT_EQ(dialog.stopButton()->text(), QStringLiteral("&Stop Saving"));
    EXPECT_EQ(dialog.skipButton()->text(), QStringLiteral("S&kip File"));
    EXPECT_TRUE(dialog.stopButton()->isDefault());
    EXPECT_EQ(dialog.progressBar()->minimum(), 0);
    EXPECT_EQ(dialog.progressBar()->maximum(), 100);

    dialog.show();
    EXPECT_FALSE(dialog.cancelButton()->isVisible());
    dialog.showFile(QStringLiteral("/out/PUBLIC/README.TXT"), QStringLiteral("README.TXT"), 7);
    dialog.showProgress(40);
    EXPECT_EQ(dialog.pathValue()->text(), QStringLiteral("/out/PUBLIC/README.TXT"));
    EXPECT_EQ(dialog.fileNameValue()->text(), QStringLiteral("README.TXT"));
    EXPECT_EQ(dialog.totalFilesValue()->text(), QStringLiteral("7"));
    EXPECT_EQ(dialog.progressBar()->value(), 40);
    dialog.showFile(QStringLiteral("/out/B"), QStringLiteral("B"), 8);
    EXPECT_EQ(dialog.progressBar()->value(), 0);

    dialog.skipButton()->click();
    EXPECT_TRUE(run.skipCurrentFile);
    EXPECT_FALSE(run.recoveryAborted);
    // Escape and the close box wait for the end of the run.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    dialog.stopButton()->click();
    EXPECT_TRUE(run.recoveryAborted);
    EXPECT_TRUE(dialog.isVisible());

    dialog.finish();
    EXPECT_TRUE(dialog.finished());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(RecoveryReportDialog, ShowsTheReportReadOnly)
{
    const QString report = QStringLiteral("Recovered 2 file(s), 10 bytes, into /out\n\nProblems:\n/out/A: x\n");
    test::DialogAnswer<RecoveryReportDialog> answer([&](RecoveryReportDialog& dialog) {
        EXPECT_EQ(dialog.text(), report);
        EXPECT_TRUE(dialog.textArea()->isReadOnly());
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    RecoveryReportDialog dialog(nullptr, report);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_TRUE(answer.answered());
}

TEST(RestoreCompressedDialog, FinishClosesOnlyOnceTheWorkIsOver)
{
    RestoreCompressedDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Restoring Compressed Files, Please wait."));
    EXPECT_EQ(dialog.finishButton()->text(), QStringLiteral("Finish"));
    EXPECT_TRUE(dialog.finishButton()->isDefault());
    EXPECT_FALSE(dialog.finishButton()->isEnabled());
    EXPECT_TRUE(dialog.text().isEmpty());
    EXPECT_TRUE(dialog.textArea()->isReadOnly());

    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());

    dialog.finishWork(QStringLiteral("No compressed files on volume SYS.\n"));
    EXPECT_EQ(dialog.text(), QStringLiteral("No compressed files on volume SYS.\n"));
    ASSERT_TRUE(dialog.finishButton()->isEnabled());
    dialog.finishButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(DamageReportDialog, TheBarShowsHowFarAStoppedScanCame)
{
    for (const bool stopped : {false, true}) {
        std::atomic<bool> stop{false};
        DamageReportDialog dialog(nullptr, stop);
        dialog.setProgress(40);
        dialog.finishWork(QStringLiteral("report\n"), stopped);
        EXPECT_EQ(dialog.progressBar()->value(), stopped ? 40 : 100);
        EXPECT_TRUE(dialog.finishButton()->isEnabled());
    }
}

} // namespace
} // namespace tamsin::ui
