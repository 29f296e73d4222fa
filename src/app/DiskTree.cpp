#include "DiskTree.h"

#include "WizardTexts.h"

#include <QFileIconProvider>

namespace tamsin::app {

DiskTree::DiskTree(QWidget* parent) : StepTree(parent)
{
    setObjectName(QStringLiteral("diskTree"));
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { onItem(item); });
}

void DiskTree::populate(const DiskTable& disks)
{
    clear();
    const QFileIconProvider icons;
    auto* root = new QTreeWidgetItem(this, {QString::fromUtf8(text::kMyComputer)});
    root->setIcon(0, icons.icon(QFileIconProvider::Computer));
    for (std::uint16_t n = 0; n < disks.diskCount; ++n) {
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(diskItemText(n))});
        item->setIcon(0, icons.icon(QFileIconProvider::Drive));
        item->setData(0, Qt::UserRole, n);
        const DiskInfo& disk = disks.entries[n];
        item->setToolTip(0, QString::fromStdString(disk.path));
    }
    root->setExpanded(true);
}

QTreeWidgetItem* DiskTree::diskItem(int n) const
{
    QTreeWidgetItem* top = root();
    return top && n >= 0 && n < top->childCount() ? top->child(n) : nullptr;
}

void DiskTree::onItem(QTreeWidgetItem* item)
{
    if (item && item != root())
        emit diskClicked(item->data(0, Qt::UserRole).toInt());
}

} // namespace tamsin::app
