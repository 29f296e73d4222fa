#include "VolumeTree.h"

#include "WizardTexts.h"

#include <QFileIconProvider>

namespace tamsin::app {

VolumeTree::VolumeTree(QWidget* parent) : StepTree(parent)
{
    setObjectName(QStringLiteral("volumeTree"));
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { onItem(item); });
}

void VolumeTree::recreate(int disk)
{
    clear();
    auto* root = new QTreeWidgetItem(this, {QString::fromUtf8(text::kStorageDevicePrefix) + QString::number(disk)});
    root->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Drive));
}

void VolumeTree::addVolume(const QString& name, int position)
{
    auto* item = new QTreeWidgetItem(root(), {name});
    item->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Folder));
    item->setData(0, Qt::UserRole, position);
    root()->setExpanded(true);
}

QTreeWidgetItem* VolumeTree::volumeItem(int position) const
{
    QTreeWidgetItem* top = root();
    if (!top)
        return nullptr;
    for (int i = 0; i < top->childCount(); ++i)
        if (top->child(i)->data(0, Qt::UserRole).toInt() == position)
            return top->child(i);
    return nullptr;
}

void VolumeTree::onItem(QTreeWidgetItem* item)
{
    if (item && item != root())
        emit volumeClicked(item->data(0, Qt::UserRole).toInt());
}

} // namespace tamsin::app
