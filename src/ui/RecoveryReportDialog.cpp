#include "ui/RecoveryReportDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

RecoveryReportDialog::RecoveryReportDialog(QWidget* parent, const QString& report) :
    QDialog(parent), text_(new QPlainTextEdit(report, this))
{
    setObjectName(QStringLiteral("recoveryReportDialog"));
    setWindowTitle(QString::fromUtf8(text::kRecoveryReportCaption));
    text_->setObjectName(QStringLiteral("reportText"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setMinimumSize(text_->fontMetrics().averageCharWidth() * 80, text_->fontMetrics().lineSpacing() * 14);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addWidget(buttons);
}

QString RecoveryReportDialog::text() const
{
    return text_->toPlainText();
}

} // namespace tamsin::ui
