#include "StepTree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tamsin::app {

StepTree::StepTree(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemExpanded, this, &StepTree::fitColumn);
}

void StepTree::fitColumn()
{
    // At least the pane's width, so a click beside a short name still hits its row.
    resizeColumnToContents(0);
    if (columnWidth(0) < viewport()->width())
        setColumnWidth(0, viewport()->width());
}

void StepTree::resizeEvent(QResizeEvent* event)
{
    QTreeWidget::resizeEvent(event);
    fitColumn();
}

void StepTree::mousePressEvent(QMouseEvent* event)
{
    if (!itemAt(event->position().toPoint()) && root()) {
        setCurrentItem(root());
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void StepTree::keyPressEvent(QKeyEvent* event)
{
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    QTreeWidgetItem* after = currentItem();
    if (after && after != before)
        emit keyboardMoved(after);
}

} // namespace tamsin::app
