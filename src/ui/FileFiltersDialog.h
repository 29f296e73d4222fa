#pragma once
// File Filters: edits the filter table. Add and Remove change the dialog's
// list (newest on top); closing it by any road (Close, Escape, the close
// box) writes the list into the table, top to bottom. Refused entries show
// their notice and leave everything as it was.

#include "search/FileFilters.h"

#include <QDialog>

#include <functional>
#include <string>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tamsin::ui {

// The notice shown for a refused filter; null for Added.
const char* filterNotice(FilterAddResult result);

class FileFiltersDialog : public QDialog {
    Q_OBJECT
public:
    // Filters are kept as bytes in the volume's code page: toRaw turns typed
    // text into them, toDisplay shows them.
    using ToRaw = std::function<std::string(const QString&)>;
    using ToDisplay = std::function<QString(const std::string&)>;

    FileFiltersDialog(QWidget* parent, FileFilters& table, ToRaw toRaw, ToDisplay toDisplay);

    QLineEdit* filterEdit() const { return edit_; }
    QListWidget* filterList() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* closeButton() const { return close_; }

    void done(int result) override;

private:
    void addFilter();
    void removeFilter();

    FileFilters& table_;
    FileFilters working_;
    ToRaw toRaw_;
    ToDisplay toDisplay_;
    QLineEdit* edit_;
    QListWidget* list_;
    QPushButton* add_;
    QPushButton* remove_;
    QPushButton* close_;
};

} // namespace tamsin::ui
