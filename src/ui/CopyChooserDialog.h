#pragma once
// Asks which copy of a File Allocation Table or Directory Entry Table to use
// when the two copies differ.

#include "mount/MountObserver.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QRadioButton;

namespace tamsin::ui {

class CopyChooserDialog : public QDialog {
    Q_OBJECT
public:
    CopyChooserDialog(QWidget* parent, TableKind kind);

    TableKind kind() const { return kind_; }
    QLabel* message() const { return message_; }
    QRadioButton* firstCopy() const { return first_; }
    QRadioButton* secondCopy() const { return second_; }
    QDialogButtonBox* buttonBox() const { return buttons_; }

    // The copy chosen by OK, or Cancel when the dialog was cancelled or closed.
    CopyChoice choice() const;

    // Shows the dialog modally and returns the answer.
    static CopyChoice ask(QWidget* parent, TableKind kind);

private:
    TableKind kind_;
    QLabel* message_;
    QRadioButton* first_;
    QRadioButton* second_;
    QDialogButtonBox* buttons_;
};

} // namespace tamsin::ui
