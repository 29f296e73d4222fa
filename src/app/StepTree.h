#pragma once
// A tree of the left pane with one root item: a click that hits no item
// selects the root.

#include <QTreeWidget>

namespace tamsin::app {

class StepTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit StepTree(QWidget* parent);

    QTreeWidgetItem* root() const { return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace tamsin::app
