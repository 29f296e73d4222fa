#include "ui/ReportExport.h"

#include "ui/MessageDialog.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSaveFile>

namespace tamsin::ui {
namespace {

const QString kTextFilter = QStringLiteral("Text (*.txt)");
const QString kJsonFilter = QStringLiteral("JSON (*.json)");

} // namespace

ReportExport::ReportExport(QWidget* parent) :
    QWidget(parent), copy_(new QPushButton(QStringLiteral("&Copy"), this)),
    save_(new QPushButton(QStringLiteral("Save &As..."), this))
{
    copy_->setObjectName(QStringLiteral("copyReport"));
    save_->setObjectName(QStringLiteral("saveReport"));
    for (QPushButton* button : {copy_, save_}) {
        button->setAutoDefault(false);
        button->setEnabled(false);
    }
    connect(copy_, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(text_); });
    connect(save_, &QPushButton::clicked, this, &ReportExport::saveAs);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(copy_);
    layout->addWidget(save_);
}

void ReportExport::setReport(const QString& text, const QByteArray& json)
{
    text_ = text;
    json_ = json;
    copy_->setEnabled(true);
    save_->setEnabled(true);
}

void ReportExport::saveAs()
{
    QFileDialog dialog(window());
    dialog.setObjectName(QStringLiteral("saveReportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kTextFilter, kJsonFilter});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter == kJsonFilter ? QStringLiteral("json") : QStringLiteral("txt"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    QSaveFile file(path);
    const QByteArray bytes = json ? json_ : text_.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        MessageDialog::show(window(), "Cannot save the report to " + path.toStdString() + ": " + file.errorString().toStdString(),
                            MessageKind::Error);
}

} // namespace tamsin::ui
