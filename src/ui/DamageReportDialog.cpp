#include "ui/DamageReportDialog.h"

#include "ui/ReportExport.h"
#include "ui/UiTexts.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

DamageReportDialog::DamageReportDialog(QWidget* parent, std::atomic<bool>& stop) :
    QDialog(parent),
    stop_(stop),
    progress_(new QProgressBar(this)),
    text_(new QPlainTextEdit(this)),
    stopButton_(new QPushButton(QString::fromUtf8(text::kStopDamageScan), this)),
    finish_(new QPushButton(QString::fromUtf8(text::kFinish), this)), export_(new ReportExport(this))
{
    setObjectName(QStringLiteral("damageReportDialog"));
    setWindowTitle(QString::fromUtf8(text::kDamageReportCaption));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    text_->setObjectName(QStringLiteral("report"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setPlainText(QString::fromUtf8(text::kDamageScanRunning));
    text_->setMinimumSize(text_->fontMetrics().averageCharWidth() * 90, text_->fontMetrics().lineSpacing() * 16);

    stopButton_->setObjectName(QStringLiteral("stop"));
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        stop_ = true;
        stopButton_->setEnabled(false);
    });
    finish_->setObjectName(QStringLiteral("finish"));
    finish_->setDefault(true);
    finish_->setEnabled(false);
    connect(finish_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(export_);
    buttons->addStretch(1);
    buttons->addWidget(stopButton_);
    buttons->addWidget(finish_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress_);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);
}

void DamageReportDialog::setProgress(int percent)
{
    progress_->setValue(percent);
}

void DamageReportDialog::finishWork(const QString& report, bool stopped, const QByteArray& json)
{
    text_->setPlainText(report);
    export_->setReport(report, json);
    finished_ = true;
    if (!stopped)
        progress_->setValue(100);
    stopButton_->setEnabled(false);
    finish_->setEnabled(true);
    finish_->setFocus();
}

QString DamageReportDialog::text() const
{
    return text_->toPlainText();
}

void DamageReportDialog::reject()
{
    if (finished_) {
        QDialog::reject();
        return;
    }
    stop_ = true;
    stopButton_->setEnabled(false);
}

} // namespace tamsin::ui
