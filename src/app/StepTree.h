#pragma once
// A tree of the left pane with one root item: a click that hits no item
// selects the root. Moving the current item by keyboard reports it as
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
};

} // namespace tamsin::app
