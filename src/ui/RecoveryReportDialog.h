#pragma once
// The report of a recovery run as text the user can read, scroll and copy,
// with Copy and Save As (text or JSON) and an OK button.

#include <QDialog>

class QPlainTextEdit;

namespace tamsin::ui {

class ReportExport;

class RecoveryReportDialog : public QDialog {
    Q_OBJECT
public:
    RecoveryReportDialog(QWidget* parent, const QString& report, const QByteArray& json = {});

    QString text() const;
    QPlainTextEdit* textArea() const { return text_; }
    ReportExport* exportButtons() const { return export_; }

private:
    QPlainTextEdit* text_;
    ReportExport* export_;
};

} // namespace tamsin::ui
