#pragma once
// A quick look at the start of a file: its text, or a hex dump with the
// printable characters beside it. Opens as text when the bytes read as text,
// else as hex; the user may switch. A line below says how much is shown.

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <cstdint>

class QPlainTextEdit;
class QRadioButton;
class QLabel;

namespace tamsin::ui {

class PreviewDialog : public QDialog {
    Q_OBJECT
public:
    // bytes: the start of the file; text: the same bytes decoded for reading;
    // size: the whole file's size; problem: a line on a damaged read, or empty.
    PreviewDialog(QWidget* parent, const QString& name, const QByteArray& bytes, const QString& text,
                  std::uint64_t size, const QString& problem);

    bool showingHex() const;
    void showHex(bool hex);
    QString shownText() const;
    QLabel* extentLabel() const { return extent_; }

    // Sixteen bytes a line: offset, hex bytes, and the printable ASCII.
    static QString hexDump(const QByteArray& bytes);
    // No NUL among the first bytes, and few other control characters.
    static bool looksLikeText(const QByteArray& bytes);

private:
    QByteArray bytes_;
    QString text_;
    QPlainTextEdit* view_;
    QRadioButton* asText_;
    QRadioButton* asHex_;
    QLabel* extent_;
};

} // namespace tamsin::ui
