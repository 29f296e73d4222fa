#include "DiskTree.h"
#include "DiskWords.h"

#include "WizardTexts.h"

#include "disk/RescueMap.h"

#include <QFileIconProvider>
#include <QPainter>
#include <QSignalBlocker>

#include <algorithm>
#include <filesystem>

namespace tamsin::app {

namespace {

// What tells the disk apart beside its number: an image's name and
// container format (its model), a device's name and model.
QString diskLabel(const DiskInfo& disk)
{
    std::string label = disk.model;
    if (!disk.isImage && !disk.path.empty())
        label = std::filesystem::path(disk.path).filename().string() + (label.empty() ? "" : ", " + label);
    return label.empty() ? QString() : QStringLiteral(" - ") + QString::fromStdString(label);
}

} // namespace

DiskTree::DiskTree(QWidget* parent) : StepTree(parent)
{
    setObjectName(QStringLiteral("diskTree"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &StepTree::keyboardMoved, this, [this](QTreeWidgetItem* item) { onItem(item); });
    connect(this, &QTreeWidget::itemSelectionChanged, this, &DiskTree::followSelection);
}

void DiskTree::populate(const DiskTable& disks)
{
    clear();
    picked_.clear();
    const QFileIconProvider icons;
    auto* root = new QTreeWidgetItem(this, {QString::fromUtf8(text::kMyComputer)});
    root->setIcon(0, icons.icon(QFileIconProvider::Computer));
    // Only disks are picked: a range drawn over the root takes the disks alone.
    root->setFlags(root->flags() & ~Qt::ItemIsSelectable);
    for (std::uint16_t n = 0; n < disks.diskCount; ++n) {
        const DiskInfo& disk = disks.entries[n];
        auto* item = new QTreeWidgetItem(root, {QString::fromStdString(words::diskItemText(n)) + diskLabel(disk)});
        item->setIcon(0, icons.icon(QFileIconProvider::Drive));
        item->setData(0, Qt::UserRole, n);
        QString tip = QString::fromStdString(disk.path);
        const std::string map = disk.rescueMap.empty() && disk.isImage ? mapBesideImage(disk.path) : disk.rescueMap;
        if (!map.empty())
            tip += QStringLiteral("\nRescue map: ") + QString::fromStdString(map);
        item->setToolTip(0, tip);
    }
    root->setExpanded(true);
    fitColumn();
}

bool DiskTree::showsEmptyHint() const
{
    return root() && root()->childCount() == 0;
}

QString DiskTree::emptyHint()
{
    return QStringLiteral("No disks are listed. To read a disk image, choose Recovery > Open Disk Image... (Ctrl+O) "
                          "or drop the image file here.");
}

void DiskTree::paintEvent(QPaintEvent* event)
{
    StepTree::paintEvent(event);
    if (!showsEmptyHint())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    const QRect below = viewport()->rect().adjusted(8, visualItemRect(root()).bottom() + 8, -8, -8);
    painter.drawText(below, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, emptyHint());
}

QTreeWidgetItem* DiskTree::diskItem(int n) const
{
    QTreeWidgetItem* top = root();
    return top && n >= 0 && n < top->childCount() ? top->child(n) : nullptr;
}

void DiskTree::selectDisks(const std::vector<int>& indexes)
{
    {
        const QSignalBlocker blocker(this);
        clearSelection();
        for (int n : indexes)
            if (QTreeWidgetItem* item = diskItem(n))
                item->setSelected(true);
        if (!indexes.empty())
            if (QTreeWidgetItem* item = diskItem(indexes.front()))
                setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    picked_.clear();
    for (int n : indexes)
        if (diskItem(n) && std::find(picked_.begin(), picked_.end(), n) == picked_.end())
            picked_.push_back(n);
}

void DiskTree::followSelection()
{
    std::vector<int> selected;
    if (QTreeWidgetItem* top = root())
        for (int n = 0; n < top->childCount(); ++n)
            if (top->child(n)->isSelected())
                selected.push_back(n);
    // Disks still selected keep their order; newly selected ones follow.
    std::vector<int> picked;
    for (int n : picked_)
        if (std::find(selected.begin(), selected.end(), n) != selected.end())
            picked.push_back(n);
    for (int n : selected)
        if (std::find(picked.begin(), picked.end(), n) == picked.end())
            picked.push_back(n);
    if (picked == picked_)
        return;
    picked_ = std::move(picked);
    emit pickedChanged();
}

void DiskTree::onItem(QTreeWidgetItem* item)
{
    if (item && item != root())
        emit diskClicked(item->data(0, Qt::UserRole).toInt());
}

} // namespace tamsin::app
