#pragma once
// The volume tree: one root per open disk, "Storage Device " and the disk's
// number, with an item per volume found on it, each remembering its position
// in the volume table. A volume of several segments sits under the disk of
// its first segment found, with one child item per segment.

#include "StepTree.h"

#include <vector>

namespace tamsin::app {

class VolumeTree : public StepTree {
    Q_OBJECT
public:
    explicit VolumeTree(QWidget* parent);

    // Empties the tree and gives it a root per disk number, in session order.
    void recreate(const std::vector<int>& disks);
    // Adds a volume under the root of the session's disk slot (0: the first
    // root) and expands it; position is the record picked when the item is
    // clicked.
    QTreeWidgetItem* addVolume(const QString& name, int position, std::size_t slot = 0);
    // Adds a segment item below volume; position -1: a missing segment,
    // shown greyed.
    void addSegment(QTreeWidgetItem* volume, const QString& text, int position);
    int volumeCount() const;
    // The volume item whose record is position, or null.
    QTreeWidgetItem* volumeItem(int position) const;
    // The segment item of the record at position, or null.
    QTreeWidgetItem* segmentItem(int position) const;

signals:
    void volumeClicked(int position);
    void segmentClicked(int position);

private:
    void onItem(QTreeWidgetItem* item);
};

} // namespace tamsin::app
