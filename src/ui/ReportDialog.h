#pragma once
// A small report: fixed labels with their values and an OK button. Serves
// Drive Information and File/Folder Properties.

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QLabel;

namespace tamsin::ui {

class ReportDialog : public QDialog {
    Q_OBJECT
public:
    using Rows = std::vector<std::pair<std::string, std::string>>;

    // tallFirstValue gives the first value three lines (a long name wraps).
    ReportDialog(QWidget* parent, const QString& caption, const Rows& rows, bool tallFirstValue = false);

    // The value label of row i, for tests and screenshots.
    QLabel* value(std::size_t i) const { return values_.at(i); }
    std::size_t rowCount() const { return values_.size(); }

private:
    std::vector<QLabel*> values_;
};

} // namespace tamsin::ui
