#include "ui/MessageDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace tamsin::ui {
namespace {

QStyle::StandardPixmap iconFor(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QStyle::SP_MessageBoxInformation;
    case MessageKind::Error:
        return QStyle::SP_MessageBoxCritical;
    case MessageKind::Question:
        return QStyle::SP_MessageBoxQuestion;
    }
    return QStyle::SP_MessageBoxInformation;
}

} // namespace

MessageDialog::MessageDialog(QWidget* parent, const QString& text, MessageKind kind, Buttons buttons) :
    QDialog(parent), kind_(kind), text_(new QLabel(text, this)),
    buttons_(new QDialogButtonBox(buttons == Buttons::Ok ? QDialogButtonBox::Ok
                                                         : QDialogButtonBox::Yes | QDialogButtonBox::No,
                                  this))
{
    setWindowTitle(QString::fromUtf8(text::kMessageCaption));
    setObjectName(QStringLiteral("messageDialog"));

    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(iconFor(kind), nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);

    // The text is shown as stored: plain, its line breaks and blanks kept.
    text_->setObjectName(QStringLiteral("messageText"));
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long lines wrap at a readable width instead of widening the box to
    // the screen; shorter texts keep the width of their longest line.
    const QFontMetrics metrics(text_->font());
    const int readable = metrics.averageCharWidth() * 72;
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    text_->setWordWrap(true);
    text_->setMinimumWidth(std::min(widest, readable) + 2);
    text_->setMaximumWidth(readable + 2);

    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addWidget(text_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->activate();

    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (QPushButton* yes = buttons_->button(QDialogButtonBox::Yes))
        yes->setDefault(true);
}

void MessageDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous() || !parentWidget())
        return;
    QWidget* anchor = parentWidget()->window();
    while (anchor->parentWidget())
        anchor = anchor->parentWidget()->window();
    if (anchor->isVisible())
        move(anchor->geometry().center() - QPoint(width() / 2, height() / 2));
}

QString MessageDialog::text() const
{
    return text_->text();
}

void MessageDialog::show(QWidget* parent, const std::string& text, MessageKind kind)
{
    MessageDialog dialog(parent, QString::fromStdString(text), kind, Buttons::Ok);
    dialog.exec();
}

bool MessageDialog::ask(QWidget* parent, const std::string& text, Default answer)
{
    MessageDialog dialog(parent, QString::fromStdString(text), MessageKind::Question, Buttons::YesNo);
    if (answer == Default::No) {
        QPushButton* no = dialog.buttons_->button(QDialogButtonBox::No);
        no->setDefault(true);
        no->setFocus();
    }
    return dialog.exec() == QDialog::Accepted;
}

} // namespace tamsin::ui
