#pragma once
// The volume tree: "Storage Device " and the disk number, with one item per
// volume found, each remembering its position in the volume table. A volume
// of several segments has one child item per segment.

#include "StepTree.h"

namespace tamsin::app {

class VolumeTree : public StepTree {
    Q_OBJECT
public:
    explicit VolumeTree(QWidget* parent);

    // Empties the tree and gives it a new root for disk number disk.
    void recreate(int disk);
    // Adds a volume under the root and expands it; position is the record
    // picked when the item is clicked.
    QTreeWidgetItem* addVolume(const QString& name, int position);
    // Adds a segment item below volume; position -1: a missing segment,
    // shown greyed.
    void addSegment(QTreeWidgetItem* volume, const QString& text, int position);
    int volumeCount() const { return root() ? root()->childCount() : 0; }
    // The volume item whose record is position, or null.
    QTreeWidgetItem* volumeItem(int position) const;
    // The segment item of the record at position, or null.
    QTreeWidgetItem* segmentItem(int position) const;

signals:
    void volumeClicked(int position);
    void segmentClicked(int position);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onItem(QTreeWidgetItem* item);
    // Widens the column to its longest text, or to the pane when narrower.
    void fitColumn();
};

} // namespace tamsin::app
