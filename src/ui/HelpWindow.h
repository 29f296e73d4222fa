#pragma once
// The user manual's window: a contents list of the manual's sections beside
// the page, and a search field that finds the next match of its text.

#include <QDialog>

class QLineEdit;
class QListWidget;
class QTextBrowser;

namespace tamsin::ui {

class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(QWidget* parent, const QString& caption, const QString& searchPlaceholder);

    // Shows the page (an HTML file) and lists its h2 and h3 sections that
    // carry an anchor.
    void openPage(const QString& path);

    QTextBrowser* browser() const { return browser_; }
    QListWidget* contents() const { return contents_; }
    QLineEdit* searchField() const { return search_; }

    // Selects the next match of the search field's text after the cursor,
    // from the top again after the last; false when there is none.
    bool findNext();

private:
    void fillContents(const QString& html);

    QListWidget* contents_;
    QTextBrowser* browser_;
    QLineEdit* search_;
};

} // namespace tamsin::ui
