#pragma once
// The folder tree's view: a click on a folder's check box ticks or unticks
// it without making it the current folder, so the list keeps its selection.

#include <QTreeView>

namespace tamsin::app {

class FolderTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent) : QTreeView(parent) {}

    // The check box of index in viewport coordinates; empty when it has none.
    QRect checkBoxRect(const QModelIndex& index) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool onCheckBox(const QMouseEvent* event) const;
};

} // namespace tamsin::app
