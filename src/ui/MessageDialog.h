#pragma once
// The one message dialog of the program: caption "Corvane Tamsin Novell",
// an icon by kind, the text as stored, and either OK or Yes and No. It opens
// centred on the main window it was raised from, even when raised from a
// dialog that the window system has not placed yet.

#include <QDialog>
#include <QString>

#include <string>

class QDialogButtonBox;
class QLabel;

namespace tamsin::ui {

enum class MessageKind { Information, Error, Question };

class MessageDialog : public QDialog {
    Q_OBJECT
public:
    enum class Buttons { Ok, YesNo };

    MessageDialog(QWidget* parent, const QString& text, MessageKind kind, Buttons buttons);

    QString text() const;
    MessageKind kind() const { return kind_; }
    QDialogButtonBox* buttonBox() const { return buttons_; }

    // Shows text modally with an OK button.
    static void show(QWidget* parent, const std::string& text, MessageKind kind);
    // Which button Return presses in a question.
    enum class Default { Yes, No };
    // Asks text with Yes and No (question kind); true when Yes was pressed.
    // A question whose Yes could do harm makes No the default.
    static bool ask(QWidget* parent, const std::string& text, Default answer = Default::Yes);

protected:
    void showEvent(QShowEvent* event) override;

private:
    MessageKind kind_;
    QLabel* text_;
    QDialogButtonBox* buttons_;
};

} // namespace tamsin::ui
