#pragma once
// The volume tree: "Storage Device " and the disk number, with one item per
// volume found, each remembering its position in the volume table.

#include "StepTree.h"

namespace tamsin::app {

class VolumeTree : public StepTree {
    Q_OBJECT
public:
    explicit VolumeTree(QWidget* parent);

    // Empties the tree and gives it a new root for disk number disk.
    void recreate(int disk);
    // Adds a volume under the root and expands it.
    void addVolume(const QString& name, int position);
    int volumeCount() const { return root() ? root()->childCount() : 0; }
    QTreeWidgetItem* volumeItem(int position) const;

signals:
    void volumeClicked(int position);

private:
    void onItem(QTreeWidgetItem* item);
};

} // namespace tamsin::app
