#include "ui/ReportDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {
namespace {

// A row label ending in ":" keeps its text, blanks included, but is drawn
// as its words at the left and the colon at the right edge, so that the
// colons of all rows stand in one column whatever the font.
class ColonLabel final : public QLabel {
public:
    using QLabel::QLabel;

    QSize sizeHint() const override
    {
        const QSize hint = QLabel::sizeHint();
        return {fontMetrics().horizontalAdvance(words() + QStringLiteral("  :")) + contentsMargins().left()
                    + contentsMargins().right(),
                hint.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
        painter.drawText(area, Qt::AlignLeft | vertical, words());
        painter.drawText(area, Qt::AlignRight | vertical, QStringLiteral(":"));
    }

private:
    QString words() const { return text().chopped(1).trimmed(); }
};

} // namespace

ReportDialog::ReportDialog(QWidget* parent, const QString& caption, const Rows& rows, bool tallFirstValue) :
    QDialog(parent)
{
    setObjectName(QStringLiteral("reportDialog"));
    setWindowTitle(caption);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString labelText = QString::fromStdString(rows[i].first);
        auto* label = labelText.endsWith(QLatin1Char(':')) ? new ColonLabel(labelText, this) : new QLabel(labelText, this);
        auto* value = new QLabel(QString::fromStdString(rows[i].second), this);
        label->setTextFormat(Qt::PlainText);
        value->setTextFormat(Qt::PlainText);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
        value->setObjectName(QStringLiteral("reportValue%1").arg(i));
        if (i == 0 && tallFirstValue) {
            value->setWordWrap(true);
            value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            value->setMinimumHeight(fontMetrics().lineSpacing() * 3);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        grid->addWidget(label, static_cast<int>(i), 0);
        grid->addWidget(value, static_cast<int>(i), 1);
        values_.push_back(value);
    }

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace tamsin::ui
