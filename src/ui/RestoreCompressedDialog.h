#pragma once
// Shown while the compressed files of the volume are examined: a text area
// that receives the report, and "Finish", enabled once the work is over.
// Until then Escape and the close box are ignored.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace tamsin::ui {

class RestoreCompressedDialog : public QDialog {
    Q_OBJECT
public:
    explicit RestoreCompressedDialog(QWidget* parent);

    // The work is over: shows its report and enables "Finish".
    void finishWork(const QString& report);
    bool workFinished() const { return finished_; }

    QString text() const;
    QPlainTextEdit* textArea() const { return text_; }
    QPushButton* finishButton() const { return finish_; }

public slots:
    void reject() override;

private:
    QPlainTextEdit* text_;
    QPushButton* finish_;
    bool finished_ = false;
};

} // namespace tamsin::ui
