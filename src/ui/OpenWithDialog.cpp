#include "ui/OpenWithDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

OpenWithDialog::OpenWithDialog(QWidget* parent, const QString& fileName, const QString& typeName,
                               const QStringList& names, const QList<QIcon>& icons) :
    QDialog(parent), list_(new QListWidget(this)), open_(new QPushButton(QStringLiteral("&Open"), this)),
    otherButton_(new QPushButton(QStringLiteral("Other &Program..."), this))
{
    setObjectName(QStringLiteral("openWithDialog"));
    setWindowTitle(QStringLiteral("Open With"));
    auto* heading = new QLabel(names.isEmpty()
                                   ? QStringLiteral("No application of this desktop opens %1 (%2).").arg(fileName, typeName)
                                   : QStringLiteral("Open %1 (%2) with:").arg(fileName, typeName),
                               this);
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);

    list_->setObjectName(QStringLiteral("applications"));
    list_->setIconSize(QSize(24, 24));
    for (qsizetype i = 0; i < names.size(); ++i)
        new QListWidgetItem(i < icons.size() ? icons[i] : QIcon(), names[i], list_);
    if (list_->count() > 0)
        list_->setCurrentRow(0);
    list_->setVisible(list_->count() > 0);

    open_->setObjectName(QStringLiteral("open"));
    open_->setDefault(true);
    open_->setEnabled(list_->count() > 0);
    otherButton_->setObjectName(QStringLiteral("otherProgram"));
    otherButton_->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(otherButton_, QDialogButtonBox::ActionRole);
    buttons->addButton(open_, QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8(text::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(otherButton_, &QPushButton::clicked, this, [this] {
        other_ = true;
        accept();
    });
    connect(list_, &QListWidget::itemActivated, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    resize(sizeHint().width(), std::max(sizeHint().height(), 320));
}

int OpenWithDialog::chosen() const
{
    if (other_ || result() != QDialog::Accepted)
        return -1;
    return list_->currentRow();
}

} // namespace tamsin::ui
