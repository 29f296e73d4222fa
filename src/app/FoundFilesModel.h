#pragma once
// The rows of a file search: "File Name", "Path" and "Size", appended in
// batches as the search finds them. Names and paths are kept as the
// volume's bytes and shown through the code page. Sorted by a column, rows
// found later take their place in that order.

#include "search/FindFiles.h"

#include "SortableTableModel.h"

#include <vector>

namespace tamsin::app {

class FileTypes;
class NameCodec;

class FoundFilesModel : public SortableTableModel {
    Q_OBJECT
public:
    enum Column { FileName = 0, Path, Size, ColumnCount };

    FoundFilesModel(const NameCodec& names, const FileTypes& types, QObject* parent);

    void clear();
    void append(std::vector<FoundFile>&& rows);
    const FoundFile& row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<std::size_t> sortedOrder() const override;
    void applyOrder(const std::vector<std::size_t>& order) override;

    const NameCodec& names_;
    const FileTypes& types_;
    std::vector<FoundFile> rows_;
    std::vector<std::uint32_t> found_;  // each row's place in the order found
};

} // namespace tamsin::app
