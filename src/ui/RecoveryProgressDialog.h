#pragma once
// Shown while a recovery run copies files: the file being written, how many
// files were started, its progress, the whole run's progress (files, bytes
// and time left, once the run has said how much it holds), and the buttons
// that stop the run or
// skip the file. The buttons only set the run's flags; the worker acts on
// them. The dialog closes when the run ends.

#include "recovery/Extraction.h"

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tamsin::ui {

class RecoveryProgressDialog : public QDialog {
    Q_OBJECT
public:
    RecoveryProgressDialog(QWidget* parent, RecoveryRunState& run);

    // The file being written: its destination path and name, and the files
    // of the run started before it.
    void showFile(const QString& path, const QString& name, std::uint32_t filesStarted);
    void showProgress(int percent);
    // The whole run: a line such as "File 3 of 19, 120 KB of 446 KB" and its share done.
    void showOverall(const QString& text, int percent);
    // The run is over: the dialog closes.
    void finish();
    bool finished() const { return finished_; }

    QLabel* pathValue() const { return path_; }
    QLabel* fileNameValue() const { return name_; }
    QLabel* totalFilesValue() const { return total_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* overallValue() const { return overall_; }
    QProgressBar* overallBar() const { return overallBar_; }
    QPushButton* stopButton() const { return stop_; }
    QPushButton* skipButton() const { return skip_; }
    QPushButton* cancelButton() const { return cancel_; }

public slots:
    // Escape and the close box: the dialog stays until the run ends ("&Stop
    // Saving" ends it).
    void reject() override;

private:
    RecoveryRunState& run_;
    QLabel* path_;
    QLabel* name_;
    QLabel* total_;
    QProgressBar* progress_;
    QLabel* overall_;
    QProgressBar* overallBar_;
    QPushButton* stop_;
    QPushButton* skip_;
    QPushButton* cancel_;
    bool finished_ = false;
};

} // namespace tamsin::ui
