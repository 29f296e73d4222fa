#include "ui/AboutDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tamsin::ui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QString::fromUtf8(text::kMessageCaption));

    auto* picture = new QLabel(this);
    const QIcon icon = QIcon::fromTheme(QStringLiteral("drive-harddisk"), style()->standardIcon(QStyle::SP_DriveHDIcon));
    picture->setPixmap(icon.pixmap(48, 48));
    auto* line = new QLabel(QString::fromUtf8(text::kAboutLine), this);
    line->setObjectName(QStringLiteral("aboutText"));
    // This build's own version, below the product line.
    auto* build = new QLabel(QStringLiteral("Tamsin " TAMSIN_VERSION), this);
    build->setObjectName(QStringLiteral("buildVersion"));
    auto* texts = new QVBoxLayout;
    texts->addWidget(line);
    texts->addWidget(build);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* body = new QHBoxLayout;
    body->addWidget(picture);
    body->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace tamsin::ui
