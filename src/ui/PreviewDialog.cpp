#include "ui/PreviewDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tamsin::ui {

PreviewDialog::PreviewDialog(QWidget* parent, const QString& name, const QByteArray& bytes, const QString& text,
                             std::uint64_t size, const QString& problem) :
    QDialog(parent), bytes_(bytes), text_(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))), view_(new QPlainTextEdit(this)),
    asText_(new QRadioButton(QStringLiteral("&Text"), this)), asHex_(new QRadioButton(QStringLiteral("&Hex"), this)),
    extent_(new QLabel(this))
{
    setObjectName(QStringLiteral("previewDialog"));
    setWindowTitle(QStringLiteral("Preview - %1").arg(name));
    view_->setObjectName(QStringLiteral("previewText"));
    view_->setReadOnly(true);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A whole hex line and the scroll bar.
    view_->setMinimumSize(view_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 80 + 60,
                          view_->fontMetrics().lineSpacing() * 24);
    asText_->setObjectName(QStringLiteral("asText"));
    asHex_->setObjectName(QStringLiteral("asHex"));
    connect(asHex_, &QRadioButton::toggled, this, [this](bool hex) { showHex(hex); });

    extent_->setObjectName(QStringLiteral("extent"));
    QString extent = static_cast<std::uint64_t>(bytes.size()) >= size
                         ? QStringLiteral("All %1 bytes shown.").arg(size)
                         : QStringLiteral("The first %1 of %2 bytes shown.").arg(bytes.size()).arg(size);
    if (!problem.isEmpty())
        extent += QLatin1Char(' ') + problem;
    extent_->setText(extent);
    extent_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* modes = new QHBoxLayout;
    modes->addWidget(asText_);
    modes->addWidget(asHex_);
    modes->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(modes);
    layout->addWidget(view_, 1);
    layout->addWidget(extent_);
    layout->addWidget(buttons);

    const bool hex = !looksLikeText(bytes);
    (hex ? asHex_ : asText_)->setChecked(true);
    showHex(hex);
}

bool PreviewDialog::showingHex() const
{
    return asHex_->isChecked();
}

void PreviewDialog::showHex(bool hex)
{
    if (asHex_->isChecked() != hex)
        (hex ? asHex_ : asText_)->setChecked(true);
    view_->setPlainText(hex ? hexDump(bytes_) : text_);
}

QString PreviewDialog::shownText() const
{
    return view_->toPlainText();
}

QString PreviewDialog::hexDump(const QByteArray& bytes)
{
    static const char* const kDigits = "0123456789abcdef";
    QString dump;
    dump.reserve((bytes.size() / 16 + 1) * 78);
    for (qsizetype line = 0; line < bytes.size(); line += 16) {
        dump += QStringLiteral("%1  ").arg(line, 8, 16, QLatin1Char('0'));
        QString printable;
        for (qsizetype i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                const auto byte = static_cast<unsigned char>(bytes[i]);
                dump += QLatin1Char(kDigits[byte >> 4]);
                dump += QLatin1Char(kDigits[byte & 15]);
                printable += byte >= 0x20 && byte < 0x7f ? QLatin1Char(static_cast<char>(byte)) : QLatin1Char('.');
            } else {
                dump += QStringLiteral("  ");
            }
            dump += i == line + 7 || i == line + 15 ? QStringLiteral("  ") : QStringLiteral(" ");
        }
        dump += QLatin1Char('|') + printable + QStringLiteral("|\n");
    }
    return dump;
}

bool PreviewDialog::looksLikeText(const QByteArray& bytes)
{
    const qsizetype sample = std::min<qsizetype>(bytes.size(), 4096);
    qsizetype controls = 0;
    for (qsizetype i = 0; i < sample; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0)
            return false;
        // Tab, line feed, form feed, carriage return and the DOS end-of-file mark are text.
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\f' && byte != '\r' && byte != 0x1a)
            ++controls;
    }
    return controls * 20 <= sample;
}

} // namespace tamsin::ui
