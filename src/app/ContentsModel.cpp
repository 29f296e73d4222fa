#include "ContentsModel.h"

#include "FileTypes.h"
#include "NameCodec.h"
#include "WizardTexts.h"

#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"
#include "search/FileFilters.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace tamsin::app {
namespace {

constexpr int kWidths[ContentsModel::ColumnCount] = {150, 100, 70, 100, 70, 70};
constexpr const char* kHeadings[ContentsModel::ColumnCount] = {"Name", "Type", "Size", "Date", "Time", "Sector"};
constexpr int kDetailsWidth = 500;

} // namespace

QColor colourOf(RowColour colour)
{
    switch (colour) {
    case RowColour::Grey:
        return {150, 150, 150};
    case RowColour::Red:
        return {255, 0, 0};
    case RowColour::Black:
        break;
    }
    return {0, 0, 0};
}

ContentsModel::ContentsModel(MountedVolume& volume, const NameCodec& names, const FileTypes& types, QObject* parent) :
    SortableTableModel(parent), volume_(volume), names_(names), types_(types)
{
}

void ContentsModel::clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    fetched_ = 0;
    folderFiles_ = shownFiles_ = 0;
    endResetModel();
}

void ContentsModel::markDamaged(const std::vector<DamageMark>& marks)
{
    for (const DamageMark& mark : marks)
        damage_[damageKey(mark.folder, mark.position)] = {mark.unreadableBytes, mark.totalBytes};
    if (!marks.empty() && fetched_ > 0)
        emit dataChanged(index(0, Name), index(fetched_ - 1, Name), {Qt::DecorationRole, Qt::ToolTipRole});
}

void ContentsModel::clearDamage()
{
    damage_.clear();
    if (fetched_ > 0)
        emit dataChanged(index(0, Name), index(fetched_ - 1, Name), {Qt::DecorationRole, Qt::ToolTipRole});
}

const ContentsModel::Damage* ContentsModel::damageOf(int row) const
{
    if (damage_.empty())
        return nullptr;
    const RowRef& ref = rows_.at(static_cast<std::size_t>(row));
    const auto it = damage_.find(damageKey(ref.folder, ref.position));
    return it == damage_.end() ? nullptr : &it->second;
}

bool ContentsModel::isDamaged(int row) const
{
    return damageOf(row) != nullptr;
}

void ContentsModel::setSixColumns(bool six)
{
    if (six == six_)
        return;
    beginResetModel();
    six_ = six;
    endResetModel();
}

void ContentsModel::showFolder(std::uint32_t id, const FileFilters& filters)
{
    beginResetModel();
    folderId_ = id;
    rows_.clear();
    const auto folders = volume_.index.childFolders(id);
    const auto files = volume_.index.childFiles(id);
    rows_.reserve(folders.size() + files.size());
    for (std::uint32_t position : folders)
        rows_.push_back({true, position, static_cast<std::uint32_t>(rows_.size())});
    for (std::uint32_t position : files)
        if (filters.passes(volume_.files[position].name))
            rows_.push_back({false, position, static_cast<std::uint32_t>(rows_.size())});
    folderFiles_ = files.size();
    shownFiles_ = rows_.size() - folders.size();
    if (sortColumn() >= 0)
        applyOrder(sortedOrder());
    fetched_ = std::min<int>(kBatch, static_cast<int>(rows_.size()));
    endResetModel();
}

bool ContentsModel::isFolderRow(int row) const
{
    return rows_.at(static_cast<std::size_t>(row)).folder;
}

const TreeNode& ContentsModel::node(int row) const
{
    const RowRef& ref = rows_.at(static_cast<std::size_t>(row));
    return ref.folder ? volume_.folders[ref.position] : volume_.files[ref.position];
}

TreeNode& ContentsModel::mutableNode(int row)
{
    const RowRef& ref = rows_.at(static_cast<std::size_t>(row));
    return ref.folder ? volume_.folders[ref.position] : volume_.files[ref.position];
}

std::uint32_t ContentsModel::key(int row) const
{
    const TreeNode& n = node(row);
    return isFolderRow(row) ? n.treeItem : n.ordinal;
}

std::string ContentsModel::typeText(int row) const
{
    return tamsin::typeText(node(row), [this](const std::string& raw) {
        return types_.typeName(names_.toDisplay(raw)).toStdString();
    });
}

namespace {

// A date and time as one number that orders like the moment it names.
std::uint64_t momentKey(std::uint32_t packed)
{
    const NetWareDateTime t = decodeNetWareDateTime(packed);
    return ((((std::uint64_t{t.year} * 13 + t.month) * 32 + t.day) * 24 + t.hours) * 60 + t.minutes) * 60 + t.seconds;
}

std::uint64_t timeOfDayKey(std::uint32_t packed)
{
    const NetWareDateTime t = decodeNetWareDateTime(packed);
    return (std::uint64_t{t.hours} * 60 + t.minutes) * 60 + t.seconds;
}

} // namespace

std::vector<std::size_t> ContentsModel::sortedOrder() const
{
    const std::size_t count = rows_.size();
    const std::size_t folders = static_cast<std::size_t>(
        std::count_if(rows_.begin(), rows_.end(), [](const RowRef& ref) { return ref.folder; }));
    const int column = sortColumn();
    const auto sortGroups = [&](auto less) {
        std::vector<std::size_t> order = stableOrder(0, folders, less);
        const std::vector<std::size_t> files = stableOrder(folders, count, less);
        order.insert(order.end(), files.begin(), files.end());
        return order;
    };
    if (column == Name || column == Type) {
        std::vector<QString> texts(count);
        for (std::size_t i = 0; i < count; ++i)
            texts[i] = column == Name ? names_.toDisplay(node(static_cast<int>(i)).name)
                                      : QString::fromStdString(typeText(static_cast<int>(i)));
        return sortGroups([&](std::size_t a, std::size_t b) {
            return QString::compare(texts[a], texts[b], Qt::CaseInsensitive) < 0;
        });
    }
    std::vector<std::uint64_t> keys(count);
    for (std::size_t i = 0; i < count; ++i) {
        const int row = static_cast<int>(i);
        const TreeNode& n = node(row);
        switch (column) {
        case Size:
            keys[i] = isFolderRow(row) ? 0 : n.size;
            break;
        case Date:
            keys[i] = momentKey(n.dateTime);
            break;
        case Time:
            keys[i] = timeOfDayKey(n.dateTime);
            break;
        case Key:
            keys[i] = key(row);
            break;
        default:
            keys[i] = rows_[i].listed;
            break;
        }
    }
    return sortGroups([&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
}

void ContentsModel::applyOrder(const std::vector<std::size_t>& order)
{
    permute(rows_, order);
}

int ContentsModel::columnWidth(int column)
{
    return column >= 0 && column < ColumnCount ? kWidths[column] : kDetailsWidth;
}

QString ContentsModel::cellText(int row, int column) const
{
    const TreeNode& n = node(row);
    switch (column) {
    case Name:
        return names_.toDisplay(n.name);
    case Type:
        return QString::fromStdString(typeText(row));
    case Size:
        return isFolderRow(row) ? QStringLiteral("0") : QString::number(n.size);
    case Date:
        return QString::fromStdString(formatNetWareDateTime(n.dateTime).first);
    case Time:
        return QString::fromStdString(formatNetWareDateTime(n.dateTime).second);
    case Key:
        return QString::number(key(row));
    default:
        return {};
    }
}

int ContentsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : fetched_;
}

int ContentsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : (six_ ? ColumnCount : 1);
}

QVariant ContentsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= fetched_ || index.column() >= columnCount())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return cellText(row, index.column());
    case Qt::DecorationRole: {
        if (index.column() != Name)
            return {};
        const QIcon icon = isFolderRow(row) ? types_.folderIcon() : types_.icon(names_.toDisplay(node(row).name));
        return damageOf(row) ? types_.damagedIcon(icon) : icon;
    }
    case Qt::ToolTipRole: {
        const Damage* damage = index.column() == Name ? damageOf(row) : nullptr;
        if (!damage)
            return {};
        if (damage->totalBytes == 0)
            return QStringLiteral("Damaged: its directory entry lay in an unreadable sector");
        return QStringLiteral("Damaged: %1 of %2 bytes unreadable (%3% intact)")
            .arg(damage->unreadableBytes)
            .arg(damage->totalBytes)
            .arg(100.0 * static_cast<double>(damage->totalBytes - std::min(damage->unreadableBytes, damage->totalBytes))
                     / static_cast<double>(damage->totalBytes),
                 0, 'f', 1);
    }
    case Qt::ForegroundRole:
        return QBrush(colourOf(rowColour(typeText(row))));
    case Qt::BackgroundRole:
        return QBrush(Qt::white);
    case Qt::TextAlignmentRole:
        return index.column() == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                      : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ContentsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return six_ ? QString::fromUtf8(kHeadings[section]) : QString::fromUtf8(text::kDetailsColumn);
    if (role == Qt::TextAlignmentRole)
        return six_ && section == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                       : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ContentsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == Name && six_)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool ContentsModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != Name || role != Qt::EditRole || index.row() >= fetched_)
        return false;
    const QString text = value.toString();
    if (text.isEmpty())
        return false;
    const auto raw = names_.toRaw(text);
    // A name the code page cannot hold, or longer than a node holds, is refused.
    if (!raw || raw->empty() || raw->size() > kMaxNodeNameLength)
        return false;
    TreeNode& n = mutableNode(index.row());
    n.name = *raw;
    emit dataChanged(index.siblingAtColumn(0), index.siblingAtColumn(columnCount() - 1));
    if (isFolderRow(index.row()))
        emit folderRenamed(n.treeItem);
    return true;
}

bool ContentsModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && fetched_ < static_cast<int>(rows_.size());
}

void ContentsModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    const int more = std::min<int>(kBatch, static_cast<int>(rows_.size()) - fetched_);
    beginInsertRows({}, fetched_, fetched_ + more - 1);
    fetched_ += more;
    endInsertRows();
}

} // namespace tamsin::app

namespace tamsin::app {

void ContentsModel::namesChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

} // namespace tamsin::app
