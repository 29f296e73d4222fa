#pragma once
// The folder tree of the mounted volume as a model: one root row (the
// volume) and below it the folder tree as built by the mount, siblings in
// the tree's sorted order. Rows are made only as a view asks for them, so a
// volume with a million folders builds nothing up front but a row lookup.
// Every folder has a check box: ticking one ticks its subtree, and a folder
// whose subtree is ticked only in part shows the partial state.

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
    // The code page changed: every name is shown anew.
    void namesChanged();

    Qt::CheckState checkState(std::uint32_t item) const;
    // Ticks or unticks item and its whole subtree; the ancestors follow.
    void setChecked(std::uint32_t item, bool checked);
    bool anyChecked() const;
    // What the ticks select: the topmost folders whose subtree is wholly
    // ticked, and the partly ticked folders that are ticked themselves (their
    // own files only).
    void checkedFolders(std::vector<std::uint32_t>& subtrees, std::vector<std::uint32_t>& ownFilesOnly) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    const std::vector<std::uint32_t>* childrenOf(std::uint32_t item) const;
    std::uint32_t itemCount() const;
    // The shown state of item from its own tick and its children's states.
    Qt::CheckState derivedState(std::uint32_t item) const;
    void emitChildrenChanged(std::uint32_t item, const QList<int>& roles);

    const MountedVolume& volume_;
    const NameCodec& names_;
    const FileTypes& types_;
    bool hasRoot_ = false;
    bool attached_ = false;
    QString rootLabel_;
    std::vector<std::uint32_t> rowInParent_;  // by tree item
    // By tree item (the root alone until attach): its own tick, and the
    // state shown for it.
    std::vector<bool> ticked_;
    std::vector<Qt::CheckState> shown_;
};

} // namespace tamsin::app
