#include "ui/CopyChooserDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tamsin::ui {

CopyChooserDialog::CopyChooserDialog(QWidget* parent, TableKind kind) :
    QDialog(parent), kind_(kind), message_(new QLabel(this)),
    first_(new QRadioButton(QString::fromUtf8(text::kUseFirstCopy), this)),
    second_(new QRadioButton(QString::fromUtf8(text::kUseSecondCopy), this)),
    buttons_(new QDialogButtonBox(this))
{
    const bool fat = kind == TableKind::Fat;
    setObjectName(QStringLiteral("copyChooserDialog"));
    setWindowTitle(QString::fromUtf8(fat ? text::kFatChooserCaption : text::kDetChooserCaption));
    message_->setObjectName(QStringLiteral("copyChooserMessage"));
    message_->setTextFormat(Qt::PlainText);
    message_->setText(QString::fromUtf8(fat ? text::kFatChooserMessage : text::kDetChooserMessage));
    first_->setObjectName(QStringLiteral("useFirstCopy"));
    second_->setObjectName(QStringLiteral("useSecondCopy"));
    first_->setChecked(true);
    // The window system's title bar needs room for the caption besides its
    // buttons; the dialog is sized by its contents, so they carry the width.
    const int captionWidth = fontMetrics().horizontalAdvance(windowTitle()) + 8 * fontMetrics().averageCharWidth() + 96;
    message_->setMinimumWidth(captionWidth);

    QPushButton* ok = buttons_->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole);
    buttons_->addButton(QString::fromUtf8(text::kCancel), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addSpacing(8);
    layout->addWidget(first_);
    layout->addWidget(second_);
    layout->addSpacing(8);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CopyChoice CopyChooserDialog::choice() const
{
    if (result() != QDialog::Accepted)
        return CopyChoice::Cancel;
    return first_->isChecked() ? CopyChoice::First : CopyChoice::Second;
}

CopyChoice CopyChooserDialog::ask(QWidget* parent, TableKind kind)
{
    CopyChooserDialog dialog(parent, kind);
    dialog.exec();
    return dialog.choice();
}

} // namespace tamsin::ui
