#pragma once
// The contents list of one folder: subfolders first, then the files the
// filters pass, each in discovery order, in six columns (Name, Type, Size,
// Date, Time and the key column "Sector"); sorted by a column, folders stay
// before files. Only node positions are held;
// texts, icons and colours are made when a view asks, and rows are handed
// to the view in batches as it scrolls, so a folder with a million entries
// costs a vector of positions, not a million rows of text.

#include "SortableTableModel.h"

#include <QColor>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tamsin {
class FileFilters;
class MountedVolume;
struct TreeNode;
enum class RowColour;
} // namespace tamsin

namespace tamsin::app {

class FileTypes;
class NameCodec;

// The colour that shows a row of the given colour class (deleted grey, compressed red).
QColor colourOf(RowColour colour);

class ContentsModel : public SortableTableModel {
    Q_OBJECT
public:
    enum Column { Name = 0, Type, Size, Date, Time, Key, ColumnCount };
    static constexpr int kBatch = 512;

    ContentsModel(MountedVolume& volume, const NameCodec& names, const FileTypes& types, QObject* parent);

    // Empties the list.
    void clear();
    // The code page changed: every cell is shown anew.
    void namesChanged();
    // Six columns, or the single "Details" column of the volume step.
    void setSixColumns(bool six);
    bool sixColumns() const { return six_; }
    // Lists the children of the folder whose ownId is id (0: the root).
    void showFolder(std::uint32_t id, const FileFilters& filters);
    std::uint32_t folderId() const { return folderId_; }
    // Files of the shown folder, and how many of them the filters passed.
    std::size_t folderFiles() const { return folderFiles_; }
    std::size_t shownFiles() const { return shownFiles_; }

    // Rows in the folder, including those not yet handed to the view.
    int totalRows() const { return static_cast<int>(rows_.size()); }
    bool isFolderRow(int row) const;
    const TreeNode& node(int row) const;
    // The row's position in the volume's folders or files list.
    std::uint32_t position(int row) const { return rows_.at(static_cast<std::size_t>(row)).position; }
    std::uint32_t key(int row) const;
    std::string typeText(int row) const;
    // Marks a file (or folder) of the volume as lying on unreadable sectors:
    // its Name cell carries a warning emblem and a tooltip with the bytes
    // lost. Marks outlive folder changes; clearDamage drops them all.
    struct DamageMark {
        bool folder = false;
        std::uint32_t position = 0;
        std::uint64_t unreadableBytes = 0;
        std::uint64_t totalBytes = 0;  // 0: a folder whose entry was lost
    };
    void markDamaged(const std::vector<DamageMark>& marks);
    void clearDamage();
    bool isDamaged(int row) const;
    std::size_t damagedCount() const { return damage_.size(); }

    // Column widths in pixels.
    static int columnWidth(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A name edit: an empty text keeps the old name.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A folder row was renamed; its tree item shows the new name.
    void folderRenamed(std::uint32_t treeItem);

private:
    struct RowRef {
        bool folder;
        std::uint32_t position;
        std::uint32_t listed;  // its place in the folder's unsorted list
    };

    std::vector<std::size_t> sortedOrder() const override;
    void applyOrder(const std::vector<std::size_t>& order) override;

    TreeNode& mutableNode(int row);
    QString cellText(int row, int column) const;

    MountedVolume& volume_;
    const NameCodec& names_;
    const FileTypes& types_;
    bool six_ = true;
    std::uint32_t folderId_ = 0;
    std::size_t folderFiles_ = 0;
    std::size_t shownFiles_ = 0;
    std::vector<RowRef> rows_;
    struct Damage {
        std::uint64_t unreadableBytes;
        std::uint64_t totalBytes;
    };
    static std::uint64_t damageKey(bool folder, std::uint32_t position)
    {
        return (std::uint64_t{folder} << 32) | position;
    }
    const Damage* damageOf(int row) const;
    std::unordered_map<std::uint64_t, Damage> damage_;
    int fetched_ = 0;
};

} // namespace tamsin::app
