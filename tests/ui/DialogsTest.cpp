#include "GuiTest.h"

#include "ui/CopyChooserDialog.h"
#include "ui/MessageDialog.h"
#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace tamsin::ui {
namespace {

using test::DialogAnswer;

TEST(MessageDialog, ShowsTheTextAsStoredUnderTheProgramCaption)
{
    const std::string text = "No Volume Found  !! \r\nSelect Search Volumes and than Click Next.";
    DialogAnswer<MessageDialog> answer([&](MessageDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Corvane Tamsin Novell"));
        EXPECT_EQ(dialog.text().toStdString(), text);
        EXPECT_EQ(dialog.kind(), MessageKind::Information);
        EXPECT_TRUE(dialog.buttonBox()->button(QDialogButtonBox::Ok));
        EXPECT_FALSE(dialog.buttonBox()->button(QDialogButtonBox::Yes));
        dialog.buttonBox()->button(QDialogButtonBox::Ok)->click();
    });
    MessageDialog::show(nullptr, text, MessageKind::Information);
    EXPECT_TRUE(answer.answered());
}

// A long one-line message wraps at a readable width; its text stays whole.
TEST(MessageDialog, LongLinesWrapAtAReadableWidth)
{
    const QString line = QStringLiteral("the volume table could not be read from this disk ").repeated(8);
    MessageDialog dialog(nullptr, line, MessageKind::Error, MessageDialog::Buttons::Ok);
    const int readable = dialog.fontMetrics().averageCharWidth() * 72;
    EXPECT_LT(dialog.sizeHint().width(), readable + 200);
    EXPECT_EQ(dialog.text(), line);
    MessageDialog shortOne(nullptr, QStringLiteral("Done."), MessageKind::Information, MessageDialog::Buttons::Ok);
    EXPECT_LT(shortOne.sizeHint().width(), readable);
}

TEST(MessageDialog, AskReturnsWhichButtonWasPressed)
{
    for (const bool yes : {true, false}) {
        DialogAnswer<MessageDialog> answer([&](MessageDialog& dialog) {
            EXPECT_EQ(dialog.kind(), MessageKind::Question);
            EXPECT_FALSE(dialog.buttonBox()->button(QDialogButtonBox::Ok));
            dialog.buttonBox()->button(yes ? QDialogButtonBox::Yes : QDialogButtonBox::No)->click();
        });
        EXPECT_EQ(MessageDialog::ask(nullptr, "Do you want to stop the current process ?"), yes);
        EXPECT_TRUE(answer.answered());
    }
}

TEST(MessageDialog, ClosingAQuestionCountsAsNo)
{
    DialogAnswer<MessageDialog> answer([](MessageDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(MessageDialog::ask(nullptr, "Do you really want to exit ?"));
}

TEST(MessageDialog, OpensCentredOnTheMainWindowEvenFromAnUnplacedDialog)
{
    QWidget main;
    main.setGeometry(300, 200, 800, 600);
    main.show();
    // A dialog of the window that has not been placed yet raises the message.
    QDialog progress(&main);
    progress.setGeometry(0, 0, 200, 100);
    QPoint centre;
    DialogAnswer<MessageDialog> answer([&](MessageDialog& dialog) {
        centre = dialog.geometry().center();
        dialog.accept();
    });
    MessageDialog::show(&progress, "Compress File CheckSum Error", MessageKind::Information);
    ASSERT_TRUE(answer.answered());
    EXPECT_LE((centre - main.geometry().center()).manhattanLength(), 4);
}

TEST(CopyChooserDialog, WordingFollowsTheTable)
{
    CopyChooserDialog fat(nullptr, TableKind::Fat);
    EXPECT_EQ(fat.windowTitle(), QStringLiteral("Select File Allocation Table"));
    EXPECT_EQ(fat.message()->text(),
              QStringLiteral("File Allocation Tables Mis-Matched !! \r\n\r\nPlease select the copy to use"));
    EXPECT_EQ(fat.firstCopy()->text(), QStringLiteral("Use First Copy"));
    EXPECT_EQ(fat.secondCopy()->text(), QStringLiteral("Use Second Copy"));
    // Wide enough for the window system to show the whole caption.
    fat.adjustSize();
    EXPECT_GT(fat.width(), fat.fontMetrics().horizontalAdvance(fat.windowTitle()) + 64);

    CopyChooserDialog det(nullptr, TableKind::Det);
    EXPECT_EQ(det.windowTitle(), QStringLiteral("Select Directory Entry Table"));
    EXPECT_EQ(det.message()->text().toStdString(), text::kDetChooserMessage);
}

TEST(CopyChooserDialog, OkWithoutTouchingChoosesTheFirstCopy)
{
    DialogAnswer<CopyChooserDialog> answer([](CopyChooserDialog& dialog) {
        EXPECT_TRUE(dialog.firstCopy()->isChecked());
        EXPECT_FALSE(dialog.secondCopy()->isChecked());
        auto* ok = qobject_cast<QPushButton*>(dialog.buttonBox()->buttons().at(0));
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->text(), QStringLiteral("OK"));
        EXPECT_TRUE(ok->isDefault());
        ok->click();
    });
    EXPECT_EQ(CopyChooserDialog::ask(nullptr, TableKind::Fat), CopyChoice::First);
}

TEST(CopyChooserDialog, SecondCopyAndCancel)
{
    {
        DialogAnswer<CopyChooserDialog> answer([](CopyChooserDialog& dialog) {
            dialog.secondCopy()->click();
            dialog.accept();
        });
        EXPECT_EQ(CopyChooserDialog::ask(nullptr, TableKind::Det), CopyChoice::Second);
    }
    {
        // Cancel wins even with a copy marked.
        DialogAnswer<CopyChooserDialog> answer([](CopyChooserDialog& dialog) {
            dialog.secondCopy()->click();
            for (QAbstractButton* button : dialog.buttonBox()->buttons())
                if (button->text() == QStringLiteral("Cancel"))
                    button->click();
        });
        EXPECT_EQ(CopyChooserDialog::ask(nullptr, TableKind::Det), CopyChoice::Cancel);
    }
}

} // namespace
} // namespace tamsin::ui
