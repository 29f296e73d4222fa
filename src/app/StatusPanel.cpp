#include "StatusPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tamsin::app {

StatusPanel::StatusPanel(QWidget* parent) :
    QWidget(parent), statusLine_(new QLabel(this)), progress_(new QProgressBar(this))
{
    setObjectName(QStringLiteral("statusPanel"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    QFont bold = font();
    bold.setBold(true);
    for (std::size_t i = 0; i < StatusPanelState::kRows; ++i) {
        labels_[i] = new QLabel(this);
        values_[i] = new QLabel(this);
        labels_[i]->setObjectName(QStringLiteral("panelLabel%1").arg(i));
        values_[i]->setObjectName(QStringLiteral("panelValue%1").arg(i));
        labels_[i]->setTextFormat(Qt::PlainText);
        values_[i]->setTextFormat(Qt::PlainText);
        labels_[i]->setFont(bold);
        values_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // A long value (the paths of a volume's segments) wraps within the
        // pane rather than widening the window.
        values_[i]->setWordWrap(true);
        values_[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        grid->addWidget(labels_[i], static_cast<int>(i), 0);
        grid->addWidget(values_[i], static_cast<int>(i), 1);
    }
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setTextFormat(Qt::PlainText);
    // A line naming several picked disks wraps rather than widening the window.
    statusLine_->setWordWrap(true);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setRange(0, 100);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 12);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addWidget(statusLine_);
    layout->addWidget(progress_);
}

void StatusPanel::apply(const StatusPanelState& state, bool progressVisible, int progress)
{
    for (std::size_t i = 0; i < StatusPanelState::kRows; ++i) {
        const PanelRow& row = state.rows[i];
        labels_[i]->setText(QString::fromStdString(row.label));
        values_[i]->setText(QString::fromStdString(row.value));
        labels_[i]->setVisible(row.visible);
        values_[i]->setVisible(row.visible);
    }
    statusLine_->setText(QString::fromStdString(state.statusLine));
    statusLine_->setVisible(state.statusLineVisible);
    progress_->setValue(progress);
    progress_->setVisible(progressVisible);
}

} // namespace tamsin::app
