#pragma once
// The disk tree: "My Computer" with one item per listed disk. A click picks
// one disk; Ctrl- and Shift-clicks pick several, read together.

#include "StepTree.h"

#include "disk/DiskInfo.h"

#include <vector>

namespace tamsin::app {

class DiskTree : public StepTree {
    Q_OBJECT
public:
    explicit DiskTree(QWidget* parent);

    // Lists the disks with media under the root, in index order.
    void populate(const DiskTable& disks);
    // The item of disk n, or null.
    QTreeWidgetItem* diskItem(int n) const;
    // Selects exactly these disks, the first of them first.
    void selectDisks(const std::vector<int>& indexes);
    // The selected disks in the order they were picked; disks picked at once
    // (a Shift-click range) in index order.
    const std::vector<int>& selectedDisks() const { return picked_; }
    // While no disk is listed, the pane says how to open an image.
    bool showsEmptyHint() const;
    static QString emptyHint();

signals:
    // A disk item was clicked (or activated from the keyboard).
    void diskClicked(int index);
    // The selected disks changed (clicks, keys, or a click beside the items).
    void pickedChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onItem(QTreeWidgetItem* item);
    void followSelection();

    std::vector<int> picked_;
};

} // namespace tamsin::app
