#pragma once
// The folder tree of the mounted volume as a model: one root row (the
// volume) and below it the folder tree as built by the mount, siblings in
// the tree's sorted order. Rows are made only as a view asks for them, so a
// volume with a million folders builds nothing up front but a row lookup.

#include <QAbstractItemModel>

#include <cstdint>
#include <vector>

namespace tamsin {
class MountedVolume;
}

namespace tamsin::app {

class FileTypes;
class NameCodec;

class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    FolderTreeModel(const MountedVolume& volume, const NameCodec& names, const FileTypes& types, QObject* parent);

    // A new tree with only its root, labelled rootLabel. The volume's folders
    // stay out of the model (a mount may be changing them) until attach().
    void recreate(const QString& rootLabel);
    // Shows the folders of the volume's tree under the root.
    void attach();
    // No rows at all.
    void clear();

    // The index of a tree item (0 is the root), or an invalid index.
    QModelIndex indexForItem(std::uint32_t item) const;
    // The tree item of an index.
    static std::uint32_t itemFor(const QModelIndex& index) { return static_cast<std::uint32_t>(index.internalId()); }
    // The folder's name changed.
    void itemRenamed(std::uint32_t item);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const std::vector<std::uint32_t>* childrenOf(std::uint32_t item) const;

    const MountedVolume& volume_;
    const NameCodec& names_;
    const FileTypes& types_;
    bool hasRoot_ = false;
    bool attached_ = false;
    QString rootLabel_;
    std::vector<std::uint32_t> rowInParent_;  // by tree item
};

} // namespace tamsin::app
