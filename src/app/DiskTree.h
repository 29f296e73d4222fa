#pragma once
// The disk tree: "My Computer" with one item per listed disk.

#include "StepTree.h"

#include "disk/DiskInfo.h"

namespace tamsin::app {

class DiskTree : public StepTree {
    Q_OBJECT
public:
    explicit DiskTree(QWidget* parent);

    // Lists the disks with media under the root, in index order.
    void populate(const DiskTable& disks);
    // The item of disk n, or null.
    QTreeWidgetItem* diskItem(int n) const;

signals:
    // A disk item was clicked (or activated from the keyboard).
    void diskClicked(int index);

private:
    void onItem(QTreeWidgetItem* item);
};

} // namespace tamsin::app
