#pragma once
// The right pane's status panel: five label/value rows, the status line and
// the progress bar, shown as the wizard state says.

#include "StatusPanelState.h"

#include <QWidget>

#include <array>

class QLabel;
class QProgressBar;

namespace tamsin::app {

class StatusPanel : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget* parent);

    void apply(const StatusPanelState& state, bool progressVisible, int progress);

    QLabel* label(std::size_t row) const { return labels_.at(row); }
    QLabel* value(std::size_t row) const { return values_.at(row); }
    QLabel* statusLine() const { return statusLine_; }
    QProgressBar* progressBar() const { return progress_; }

private:
    std::array<QLabel*, StatusPanelState::kRows> labels_{};
    std::array<QLabel*, StatusPanelState::kRows> values_{};
    QLabel* statusLine_;
    QProgressBar* progress_;
};

} // namespace tamsin::app
