#include "VolumeTree.h"

#include "WizardTexts.h"

#include <QFileIconProvider>
#include <QHeaderView>

namespace tamsin::app {
namespace {

constexpr int kPositionRole = Qt::UserRole;
constexpr int kSegmentRole = Qt::UserRole + 1;

} // namespace

VolumeTree::VolumeTree(QWidget* parent) : StepTree(parent)
{
    setObjectName(QStringLiteral("volumeTree"));
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &StepTree::keyboardMoved, this, [this](QTreeWidgetItem* item) { onItem(item); });
}

void VolumeTree::recreate(const std::vector<int>& disks)
{
    clear();
    for (int disk : disks) {
        auto* root = new QTreeWidgetItem(this, {QString::fromUtf8(text::kStorageDevicePrefix) + QString::number(disk)});
        root->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Drive));
    }
    fitColumn();
}

QTreeWidgetItem* VolumeTree::addVolume(const QString& name, int position, std::size_t slot)
{
    if (topLevelItemCount() == 0)
        recreate({0});
    QTreeWidgetItem* disk = topLevelItem(slot < static_cast<std::size_t>(topLevelItemCount()) ? static_cast<int>(slot) : 0);
    auto* item = new QTreeWidgetItem(disk, {name});
    item->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Folder));
    item->setData(0, kPositionRole, position);
    disk->setExpanded(true);
    fitColumn();
    return item;
}

int VolumeTree::volumeCount() const
{
    int count = 0;
    for (int i = 0; i < topLevelItemCount(); ++i)
        count += topLevelItem(i)->childCount();
    return count;
}

void VolumeTree::addSegment(QTreeWidgetItem* volume, const QString& text, int position)
{
    auto* item = new QTreeWidgetItem(volume, {text});
    item->setData(0, kPositionRole, position);
    item->setData(0, kSegmentRole, true);
    item->setToolTip(0, text);
    if (position < 0)
        item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    volume->setExpanded(true);
    fitColumn();
}

QTreeWidgetItem* VolumeTree::volumeItem(int position) const
{
    for (int d = 0; d < topLevelItemCount(); ++d) {
        QTreeWidgetItem* disk = topLevelItem(d);
        for (int i = 0; i < disk->childCount(); ++i)
            if (disk->child(i)->data(0, kPositionRole).toInt() == position)
                return disk->child(i);
    }
    return nullptr;
}

QTreeWidgetItem* VolumeTree::segmentItem(int position) const
{
    if (position < 0)
        return nullptr;
    for (int d = 0; d < topLevelItemCount(); ++d) {
        QTreeWidgetItem* disk = topLevelItem(d);
        for (int i = 0; i < disk->childCount(); ++i) {
            QTreeWidgetItem* volume = disk->child(i);
            for (int j = 0; j < volume->childCount(); ++j)
                if (volume->child(j)->data(0, kPositionRole).toInt() == position)
                    return volume->child(j);
        }
    }
    return nullptr;
}

void VolumeTree::onItem(QTreeWidgetItem* item)
{
    // A disk's root picks nothing.
    if (!item || !item->parent())
        return;
    const int position = item->data(0, kPositionRole).toInt();
    if (!item->data(0, kSegmentRole).toBool())
        emit volumeClicked(position);
    else if (position >= 0)
        emit segmentClicked(position);
}

} // namespace tamsin::app
