#pragma once
// The damage report: a progress bar while the volume's tables and file data
// are read, then the list of what lies on unreadable sectors. "Stop" ends
// the scan early (the report then covers what was read); "Finish" closes
// the dialog once the scan is over. Until then Escape and the close box
// ask for a stop.

#include <QDialog>

#include <atomic>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tamsin::ui {

class ReportExport;

class DamageReportDialog : public QDialog {
    Q_OBJECT
public:
    // stop is set when the user asks the scan to stop.
    DamageReportDialog(QWidget* parent, std::atomic<bool>& stop);

    void setProgress(int percent);
    // The scan is over: shows its report, enables "Finish" and the report's
    // Copy and Save As. A stopped scan leaves the bar where it stood.
    void finishWork(const QString& report, bool stopped = false, const QByteArray& json = {});
    bool workFinished() const { return finished_; }

    QString text() const;
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* finishButton() const { return finish_; }
    ReportExport* exportButtons() const { return export_; }

public slots:
    void reject() override;

private:
    std::atomic<bool>& stop_;
    QProgressBar* progress_;
    QPlainTextEdit* text_;
    QPushButton* stopButton_;
    QPushButton* finish_;
    ReportExport* export_;
    bool finished_ = false;
};

} // namespace tamsin::ui
