#pragma once
// A table model whose rows a view may sort by a column header. A sort column
// of -1 is the order the rows came in. Reordering keeps the rows a view has
// selected or current selected and current.

#include <QAbstractTableModel>

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <vector>

namespace tamsin::app {

class SortableTableModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    void sort(int column, Qt::SortOrder order) override
    {
        sortColumn_ = column >= 0 && column < columnCount() ? column : -1;
        sortOrder_ = sortColumn_ < 0 ? Qt::AscendingOrder : order;
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const std::vector<std::size_t> moved = sortedOrder();
        std::vector<int> newRow(moved.size());
        for (std::size_t i = 0; i < moved.size(); ++i)
            newRow[moved[i]] = static_cast<int>(i);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before)
            after << (index.row() < static_cast<int>(newRow.size())
                          ? this->index(newRow[static_cast<std::size_t>(index.row())], index.column())
                          : QModelIndex());
        applyOrder(moved);
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

protected:
    // Row i of the order the model sorts to holds row order[i] of the
    // present order; covers every row the model holds, shown yet or not.
    virtual std::vector<std::size_t> sortedOrder() const = 0;
    // Puts the model's rows in the order given.
    virtual void applyOrder(const std::vector<std::size_t>& order) = 0;

    // The stable order of rows begin..end-1 by less, where less compares
    // two rows in ascending order; a descending sort reverses it, equal rows
    // keep their order either way.
    template <class Less>
    std::vector<std::size_t> stableOrder(std::size_t begin, std::size_t end, Less less) const
    {
        std::vector<std::size_t> order(end - begin);
        std::iota(order.begin(), order.end(), begin);
        if (sortOrder_ == Qt::AscendingOrder)
            std::stable_sort(order.begin(), order.end(), less);
        else
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return less(b, a); });
        return order;
    }

    // Moves rows into order (as sortedOrder gives it).
    template <class Row>
    static void permute(std::vector<Row>& rows, const std::vector<std::size_t>& order)
    {
        std::vector<Row> sorted;
        sorted.reserve(rows.size());
        for (std::size_t from : order)
            sorted.push_back(std::move(rows[from]));
        rows = std::move(sorted);
    }

private:
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

} // namespace tamsin::app
