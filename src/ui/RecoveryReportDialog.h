#pragma once
// The report of a recovery run as text the user can read, scroll and copy,
// with an OK button.

#include <QDialog>

class QPlainTextEdit;

namespace tamsin::ui {

class RecoveryReportDialog : public QDialog {
    Q_OBJECT
public:
    RecoveryReportDialog(QWidget* parent, const QString& report);

    QString text() const;
    QPlainTextEdit* textArea() const { return text_; }

private:
    QPlainTextEdit* text_;
};

} // namespace tamsin::ui
