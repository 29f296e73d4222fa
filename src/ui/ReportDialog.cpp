#include "ui/ReportDialog.h"

#include "ui/UiTexts.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {

ReportDialog::ReportDialog(QWidget* parent, const QString& caption, const Rows& rows, bool tallFirstValue) :
    QDialog(parent)
{
    setObjectName(QStringLiteral("reportDialog"));
    setWindowTitle(caption);

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* label = new QLabel(QString::fromStdString(rows[i].first), this);
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
