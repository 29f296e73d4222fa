#include "ui/RecoveryReportDialog.h"

#include "ui/ReportExport.h"
#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

RecoveryReportDialog::RecoveryReportDialog(QWidget* parent, const QString& report, const QByteArray& json) :
    QDialog(parent), text_(new QPlainTextEdit(report, this)), export_(new ReportExport(this))
{
    setObjectName(QStringLiteral("recoveryReportDialog"));
    setWindowTitle(QString::fromUtf8(text::kRecoveryReportCaption));
    text_->setObjectName(QStringLiteral("reportText"));
    text_->setReadOnly(true);
    // The report's counts are aligned with blanks.
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setMinimumSize(text_->fontMetrics().averageCharWidth() * 80, text_->fontMetrics().lineSpacing() * 14);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    export_->setReport(report, json);
    auto* row = new QHBoxLayout;
    row->addWidget(export_);
    row->addStretch(1);
    row->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addLayout(row);
}

QString RecoveryReportDialog::text() const
{
    return text_->toPlainText();
}

} // namespace tamsin::ui
