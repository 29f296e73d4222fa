#include "FolderTreeModel.h"

#include "FileTypes.h"
#include "NameCodec.h"

#include "mount/MountedVolume.h"

namespace tamsin::app {

FolderTreeModel::FolderTreeModel(const MountedVolume& volume, const NameCodec& names, const FileTypes& types,
                                 QObject* parent) :
    QAbstractItemModel(parent), volume_(volume), names_(names), types_(types)
{
}

void FolderTreeModel::recreate(const QString& rootLabel)
{
    beginResetModel();
    hasRoot_ = true;
    attached_ = false;
    rootLabel_ = rootLabel;
    rowInParent_.clear();
    endResetModel();
}

void FolderTreeModel::attach()
{
    beginResetModel();
    attached_ = true;
    const FolderTree& tree = volume_.tree;
    rowInParent_.assign(tree.size(), 0);
    for (std::uint32_t item = 0; item < tree.size(); ++item) {
        const auto& children = tree.item(item).children;
        for (std::size_t row = 0; row < children.size(); ++row)
            rowInParent_[children[row]] = static_cast<std::uint32_t>(row);
    }
    endResetModel();
}

void FolderTreeModel::clear()
{
    beginResetModel();
    hasRoot_ = false;
    attached_ = false;
    rowInParent_.clear();
    endResetModel();
}

const std::vector<std::uint32_t>* FolderTreeModel::childrenOf(std::uint32_t item) const
{
    if (!attached_ || !volume_.tree.contains(item))
        return nullptr;
    return &volume_.tree.item(item).children;
}

QModelIndex FolderTreeModel::indexForItem(std::uint32_t item) const
{
    if (!hasRoot_)
        return {};
    if (item == FolderTree::kRootItem)
        return createIndex(0, 0, quintptr{0});
    if (!attached_ || item >= rowInParent_.size())
        return {};
    return createIndex(static_cast<int>(rowInParent_[item]), 0, quintptr{item});
}

void FolderTreeModel::itemRenamed(std::uint32_t item)
{
    const QModelIndex changed = indexForItem(item);
    if (changed.isValid())
        emit dataChanged(changed, changed, {Qt::DisplayRole});
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0)
        return {};
    if (!parent.isValid())
        return hasRoot_ && row == 0 ? createIndex(0, 0, quintptr{0}) : QModelIndex();
    const auto* children = childrenOf(itemFor(parent));
    if (!children || static_cast<std::size_t>(row) >= children->size())
        return {};
    return createIndex(row, 0, quintptr{(*children)[static_cast<std::size_t>(row)]});
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const std::uint32_t item = itemFor(child);
    if (item == FolderTree::kRootItem || !attached_)
        return {};
    return indexForItem(volume_.tree.item(item).parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return hasRoot_ ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    const auto* children = childrenOf(itemFor(parent));
    return children ? static_cast<int>(children->size()) : 0;
}

int FolderTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const std::uint32_t item = itemFor(index);
    switch (role) {
    case Qt::DisplayRole:
        if (item == FolderTree::kRootItem)
            return rootLabel_;
        if (const TreeNode* folder = volume_.folderForItem(item))
            return names_.toDisplay(folder->name);
        return {};
    case Qt::DecorationRole:
        return item == FolderTree::kRootItem ? types_.volumeIcon() : types_.folderIcon();
    case Qt::CheckStateRole:
        // Every item carries the unchecked state image.
        return Qt::Unchecked;
    default:
        return {};
    }
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace tamsin::app
