#include "FoundFilesModel.h"

#include "FileTypes.h"
#include "NameCodec.h"

#include <iterator>

namespace tamsin::app {
namespace {

constexpr const char* kHeadings[FoundFilesModel::ColumnCount] = {"File Name", "Path", "Size"};

} // namespace

FoundFilesModel::FoundFilesModel(const NameCodec& names, const FileTypes& types, QObject* parent) :
    SortableTableModel(parent), names_(names), types_(types)
{
}

void FoundFilesModel::clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    found_.clear();
    found_.shrink_to_fit();
    endResetModel();
}

void FoundFilesModel::append(std::vector<FoundFile>&& rows)
{
    if (rows.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (std::size_t i = 0; i < rows.size(); ++i)
        found_.push_back(static_cast<std::uint32_t>(found_.size()));
    rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
    if (sortColumn() >= 0)
        sort(sortColumn(), sortOrder());
}

std::vector<std::size_t> FoundFilesModel::sortedOrder() const
{
    const int column = sortColumn();
    if (column == FileName || column == Path) {
        std::vector<QString> texts(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i)
            texts[i] = names_.toDisplay(column == FileName ? rows_[i].name : rows_[i].path);
        return stableOrder(0, rows_.size(), [&](std::size_t a, std::size_t b) {
            return QString::compare(texts[a], texts[b], Qt::CaseInsensitive) < 0;
        });
    }
    if (column == Size)
        return stableOrder(0, rows_.size(),
                           [&](std::size_t a, std::size_t b) { return rows_[a].sizeBytes < rows_[b].sizeBytes; });
    return stableOrder(0, rows_.size(), [&](std::size_t a, std::size_t b) { return found_[a] < found_[b]; });
}

void FoundFilesModel::applyOrder(const std::vector<std::size_t>& order)
{
    permute(rows_, order);
    permute(found_, order);
}

int FoundFilesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FoundFilesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FoundFilesModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const FoundFile& found = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case FileName:
            return names_.toDisplay(found.name);
        case Path:
            return names_.toDisplay(found.path);
        case Size:
            return QString::fromStdString(found.size);
        default:
            return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == FileName)
        return types_.icon(names_.toDisplay(found.name));
    return {};
}

QVariant FoundFilesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromUtf8(kHeadings[section]);
}

} // namespace tamsin::app
