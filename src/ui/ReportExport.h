#pragma once
// "Copy" and "Save As..." below a finished report. Copy puts the report's
// text on the clipboard; Save As writes the text, or the JSON form when the
// JSON type is picked or the name ends in ".json". Both stay greyed until
// the report is set.

#include <QByteArray>
#include <QString>
#include <QWidget>

class QPushButton;

namespace tamsin::ui {

class ReportExport : public QWidget {
    Q_OBJECT
public:
    explicit ReportExport(QWidget* parent);

    void setReport(const QString& text, const QByteArray& json);

    QPushButton* copyButton() const { return copy_; }
    QPushButton* saveButton() const { return save_; }

private:
    void saveAs();

    QPushButton* copy_;
    QPushButton* save_;
    QString text_;
    QByteArray json_;
};

} // namespace tamsin::ui
