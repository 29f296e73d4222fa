#include "FolderTreeView.h"

#include <QMouseEvent>

namespace tamsin::app {

QRect FolderTreeView::checkBoxRect(const QModelIndex& index) const
{
    if (!index.isValid() || !(index.flags() & Qt::ItemIsUserCheckable))
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.checkState = static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

bool FolderTreeView::onCheckBox(const QMouseEvent* event) const
{
    const QPoint at = event->position().toPoint();
    return event->button() == Qt::LeftButton && checkBoxRect(indexAt(at)).contains(at);
}

void FolderTreeView::mousePressEvent(QMouseEvent* event)
{
    if (!onCheckBox(event)) {
        QTreeView::mousePressEvent(event);
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model()->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    event->accept();
}

void FolderTreeView::mouseReleaseEvent(QMouseEvent* event)
{
    // The press has toggled the box; the delegate must not toggle it back.
    if (onCheckBox(event))
        event->accept();
    else
        QTreeView::mouseReleaseEvent(event);
}

void FolderTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A quick second click on the box toggles it again instead of expanding.
    if (onCheckBox(event))
        mousePressEvent(event);
    else
        QTreeView::mouseDoubleClickEvent(event);
}

} // namespace tamsin::app
