#include "ui/RestoreCompressedDialog.h"

#include "ui/UiTexts.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

RestoreCompressedDialog::RestoreCompressedDialog(QWidget* parent) :
    QDialog(parent), text_(new QPlainTextEdit(this)), finish_(new QPushButton(QString::fromUtf8(text::kFinish), this))
{
    setObjectName(QStringLiteral("restoreCompressedDialog"));
    setWindowTitle(QString::fromUtf8(text::kRestoreCaption));
    text_->setObjectName(QStringLiteral("report"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setMinimumSize(text_->fontMetrics().averageCharWidth() * 80, text_->fontMetrics().lineSpacing() * 14);

    finish_->setObjectName(QStringLiteral("finish"));
    finish_->setDefault(true);
    finish_->setEnabled(false);
    connect(finish_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(finish_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);
}

void RestoreCompressedDialog::finishWork(const QString& report)
{
    text_->setPlainText(report);
    finished_ = true;
    finish_->setEnabled(true);
    finish_->setFocus();
}

QString RestoreCompressedDialog::text() const
{
    return text_->toPlainText();
}

void RestoreCompressedDialog::reject()
{
    if (finished_)
        QDialog::reject();
}

} // namespace tamsin::ui
