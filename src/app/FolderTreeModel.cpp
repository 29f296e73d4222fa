#include "FolderTreeModel.h"

#include "ContentsModel.h"
#include "FileTypes.h"
#include "NameCodec.h"

#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"

#include <QBrush>

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
    ticked_.assign(1, false);
    shown_.assign(1, Qt::Unchecked);
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
    ticked_.assign(tree.size(), false);
    shown_.assign(tree.size(), Qt::Unchecked);
    endResetModel();
}

void FolderTreeModel::clear()
{
    beginResetModel();
    hasRoot_ = false;
    attached_ = false;
    rowInParent_.clear();
    ticked_.clear();
    shown_.clear();
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
        return checkState(item);
    case Qt::ForegroundRole:
        // Deleted folders are grey here as in the list.
        if (const TreeNode* folder = volume_.folderForItem(item); folder && folder->isDeleted())
            return QBrush(colourOf(RowColour::Grey));
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable : Qt::NoItemFlags;
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    setChecked(itemFor(index), value.toInt() == Qt::Checked);
    return true;
}

void FolderTreeModel::namesChanged()
{
    const QModelIndex root = indexForItem(FolderTree::kRootItem);
    if (!root.isValid())
        return;
    emit dataChanged(root, root, {Qt::DisplayRole});
    for (std::uint32_t item = 0; item < itemCount(); ++item)
        emitChildrenChanged(item, {Qt::DisplayRole});
}

std::uint32_t FolderTreeModel::itemCount() const
{
    return static_cast<std::uint32_t>(shown_.size());
}

Qt::CheckState FolderTreeModel::checkState(std::uint32_t item) const
{
    return item < shown_.size() ? shown_[item] : Qt::Unchecked;
}

bool FolderTreeModel::anyChecked() const
{
    return !shown_.empty() && shown_[FolderTree::kRootItem] != Qt::Unchecked;
}

Qt::CheckState FolderTreeModel::derivedState(std::uint32_t item) const
{
    bool all = ticked_[item];
    bool any = ticked_[item];
    if (const auto* children = childrenOf(item))
        for (std::uint32_t child : *children) {
            const Qt::CheckState state = checkState(child);
            all = all && state == Qt::Checked;
            any = any || state != Qt::Unchecked;
        }
    return all ? Qt::Checked : any ? Qt::PartiallyChecked : Qt::Unchecked;
}

void FolderTreeModel::emitChildrenChanged(std::uint32_t item, const QList<int>& roles)
{
    const auto* children = childrenOf(item);
    if (!children || children->empty())
        return;
    emit dataChanged(indexForItem(children->front()), indexForItem(children->back()), roles);
}

void FolderTreeModel::setChecked(std::uint32_t item, bool checked)
{
    if (item >= itemCount())
        return;
    // The subtree takes the tick; every folder in it is then wholly ticked
    // or wholly clear.
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    std::vector<std::uint32_t> pending{item};
    while (!pending.empty()) {
        const std::uint32_t current = pending.back();
        pending.pop_back();
        if (current >= itemCount())
            continue;
        ticked_[current] = checked;
        shown_[current] = state;
        if (const auto* children = childrenOf(current)) {
            pending.insert(pending.end(), children->begin(), children->end());
            emitChildrenChanged(current, {Qt::CheckStateRole});
        }
    }
    const QModelIndex changed = indexForItem(item);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
    // The ancestors show what their subtrees now hold.
    for (std::uint32_t up = item; up != FolderTree::kRootItem;) {
        up = volume_.tree.item(up).parent;
        if (up >= itemCount())
            break;
        shown_[up] = derivedState(up);
        const QModelIndex ancestor = indexForItem(up);
        emit dataChanged(ancestor, ancestor, {Qt::CheckStateRole});
    }
}

void FolderTreeModel::checkedFolders(std::vector<std::uint32_t>& subtrees,
                                     std::vector<std::uint32_t>& ownFilesOnly) const
{
    if (shown_.empty())
        return;
    std::vector<std::uint32_t> pending{FolderTree::kRootItem};
    while (!pending.empty()) {
        const std::uint32_t current = pending.back();
        pending.pop_back();
        if (current >= itemCount() || shown_[current] == Qt::Unchecked)
            continue;
        if (shown_[current] == Qt::Checked) {
            subtrees.push_back(current);
            continue;
        }
        if (ticked_[current])
            ownFilesOnly.push_back(current);
        if (const auto* children = childrenOf(current))
            pending.insert(pending.end(), children->rbegin(), children->rend());
    }
}

} // namespace tamsin::app
