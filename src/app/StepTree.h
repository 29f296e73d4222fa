#pragma once
// A tree of the left pane with one root item: a click that hits no item
// selects the root. Its column is as wide as its longest item text. Moving the current item by keyboard reports it as
// keyboardMoved, so a step can treat it as the click it stands for.

#include <QTreeWidget>

namespace tamsin::app {

class StepTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit StepTree(QWidget* parent);

    QTreeWidgetItem* root() const { return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr; }

signals:
    void keyboardMoved(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Widens the column to its longest text, or to the pane when narrower:
    // long item texts scroll sideways rather than being cut. Called when an
    // item is expanded; a tree that adds items calls it after adding them.
    void fitColumn();
};

} // namespace tamsin::app
