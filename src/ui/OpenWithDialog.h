#pragma once
// Open With: the desktop's applications for the file's type to pick from,
// and "Other Program..." for a program the desktop does not list.

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace tamsin::ui {

class OpenWithDialog : public QDialog {
    Q_OBJECT
public:
    OpenWithDialog(QWidget* parent, const QString& fileName, const QString& typeName, const QStringList& names,
                   const QList<QIcon>& icons);

    // The application picked, or -1 (none, or Other Program).
    int chosen() const;
    bool otherProgramChosen() const { return other_; }

    QListWidget* list() const { return list_; }
    QPushButton* openButton() const { return open_; }
    QPushButton* otherButton() const { return otherButton_; }

private:
    QListWidget* list_;
    QPushButton* open_;
    QPushButton* otherButton_;
    bool other_ = false;
};

} // namespace tamsin::ui
