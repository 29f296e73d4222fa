#pragma once
// Find File(s): a pattern, the list of matching files, the latest match and
// the count, and the buttons that start and stop a search. The dialog only
// keeps its controls in step; the search itself is run by whoever listens
// to startRequested and stopRequested. While a search runs, Escape and the
// close box are ignored. Double-click or Enter on a result asks for its file
// to be shown; "Recover Found Files..." asks for the results to be recovered
// once a search has ended with some.

#include <QDialog>

#include <cstdint>

class QAbstractItemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tamsin::ui {

class FindFilesDialog : public QDialog {
    Q_OBJECT
public:
    explicit FindFilesDialog(QWidget* parent);

    // The rows to show (the list does not own the model).
    void setResultsModel(QAbstractItemModel* model);

    // A search started: Start greyed, Stop enabled, the labels emptied.
    void searchStarted();
    // The latest match and the number of matches so far.
    void showFound(const QString& lastName, std::uint32_t count);
    // The search is over (run to its end or stopped): Start enabled, Stop greyed.
    void searchEnded();
    // The stop question was answered No: Stop is enabled again while the search runs.
    void searchResumed();
    bool searching() const { return searching_; }

    QLineEdit* patternEdit() const { return pattern_; }
    QTableView* results() const { return results_; }
    QLabel* lastFile() const { return lastFile_; }
    QLabel* filesFound() const { return filesFound_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* recoverButton() const { return recover_; }

signals:
    void startRequested(const QString& pattern);
    // Stop was pressed; the button is greyed until searchResumed or searchEnded.
    void stopRequested();
    void showRequested(int row);
    void recoverRequested();

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* pattern_;
    QTableView* results_;
    QLabel* lastFile_;
    QLabel* filesFound_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* cancel_;
    QPushButton* recover_;
    void updateRecover();
    bool searching_ = false;
};

} // namespace tamsin::ui
