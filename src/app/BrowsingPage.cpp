// The browsing step: moving between folders in the tree and the list, the
// keys and the right-click menu, view modes, renaming and the reports.

#include "BrowsingPage.h"
#include "VolumeWords.h"

#include "ContentsModel.h"
#include "DesktopLauncher.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "NameCodec.h"
#include "RecoveryWords.h"
#include "WizardController.h"
#include "WizardTexts.h"

#include "mount/FolderContents.h"
#include "mount/FolderPaths.h"
#include "mount/VolumeReports.h"
#include "recovery/DestinationNames.h"
#include "recovery/FilePreview.h"
#include "recovery/RecoveryRun.h"
#include "ui/MessageDialog.h"
#include "ui/PreviewDialog.h"
#include "ui/ReportDialog.h"

#include <QLocale>
#include <QCursor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tamsin::app {
namespace {

// Shows notices of an extraction (a compressed file refused, a checksum).
class NoticeObserver final : public ExtractionObserver {
public:
    explicit NoticeObserver(QWidget* parent) : parent_(parent) {}
    void notice(ExtractNotice notice) override
    {
        ui::MessageDialog::show(parent_, text::noticeText(notice), ui::MessageKind::Information);
    }

private:
    QWidget* parent_;
};

} // namespace

BrowsingPage::BrowsingPage(WizardController& controller, NameCodec& names, FileTypes& types, Desktop& desktop,
                           QWidget* window) :
    controller_(controller), session_(controller.session()), state_(controller.state()), names_(&names),
    types_(&types), desktop_(&desktop), window_(window)
{
    buildTree();
    buildList();
}

BrowsingPage::~BrowsingPage()
{
    // The views outlive the page: they stop watching and let go of the
    // models, which go with the page.
    for (QObject* watched : {static_cast<QObject*>(folderTree_), static_cast<QObject*>(folderTree_->viewport()),
                             static_cast<QObject*>(detailsView_), static_cast<QObject*>(detailsView_->viewport()),
                             static_cast<QObject*>(iconView_), static_cast<QObject*>(iconView_->viewport())})
        watched->removeEventFilter(this);
    folderTree_->setModel(nullptr);
    detailsView_->setModel(nullptr);
    iconView_->setModel(nullptr);
}

void BrowsingPage::buildTree()
{
    folderTree_ = new FolderTreeView(window_);
    folderTree_->setObjectName(QStringLiteral("folderTree"));
    folderTree_->setHeaderHidden(true);
    folderTree_->setIconSize(QSize(16, 16));
    folderTree_->setUniformRowHeights(true);
    folderTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    folderTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderModel_ = new FolderTreeModel(session_.mounted, *names_, *types_, this);
    folderTree_->setModel(folderModel_);
    connect(folderTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &BrowsingPage::onTreeCurrentChanged);
    folderTree_->installEventFilter(this);
    folderTree_->viewport()->installEventFilter(this);
    connect(folderTree_, &QTreeView::clicked, this, &BrowsingPage::onTreeClicked);
}

void BrowsingPage::buildList()
{
    contents_ = new ContentsModel(session_.mounted, *names_, *types_, this);
    listViews_ = new QStackedWidget(window_);
    detailsView_ = new QTableView(listViews_);
    detailsView_->setObjectName(QStringLiteral("fileList"));
    detailsView_->setModel(contents_);
    detailsView_->setShowGrid(true);
    detailsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    detailsView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    detailsView_->setEditTriggers(QAbstractItemView::SelectedClicked);
    // A header click sorts by its column; a third click brings the listed order back.
    detailsView_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    detailsView_->horizontalHeader()->setSortIndicatorClearable(true);
    detailsView_->setWordWrap(false);
    detailsView_->setIconSize(QSize(16, 16));
    detailsView_->verticalHeader()->hide();
    detailsView_->verticalHeader()->setDefaultSectionSize(detailsView_->fontMetrics().height() + 6);
    detailsView_->horizontalHeader()->setHighlightSections(false);
    detailsView_->horizontalHeader()->setStretchLastSection(false);
    detailsView_->setContextMenuPolicy(Qt::CustomContextMenu);
    detailsView_->installEventFilter(this);
    detailsView_->viewport()->installEventFilter(this);

    iconView_ = new QListView(listViews_);
    iconView_->setObjectName(QStringLiteral("iconList"));
    iconView_->setModel(contents_);
    iconView_->setSelectionModel(detailsView_->selectionModel());
    iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    iconView_->setEditTriggers(QAbstractItemView::SelectedClicked);
    iconView_->setResizeMode(QListView::Adjust);
    iconView_->setUniformItemSizes(true);
    iconView_->setContextMenuPolicy(Qt::CustomContextMenu);
    iconView_->installEventFilter(this);
    iconView_->viewport()->installEventFilter(this);

    listViews_->addWidget(detailsView_);
    listViews_->addWidget(iconView_);
    listPage_ = new QWidget(window_);
    filterNotice_ = new QLabel(listPage_);
    filterNotice_->setObjectName(QStringLiteral("filterNotice"));
    filterNotice_->setTextFormat(Qt::RichText);
    filterNotice_->setContentsMargins(6, 3, 6, 3);
    filterNotice_->hide();
    connect(filterNotice_, &QLabel::linkActivated, this, &BrowsingPage::clearFileFilters);
    auto* listLayout = new QVBoxLayout(listPage_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(filterNotice_);
    listLayout->addWidget(listViews_, 1);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(detailsView_),
                                    static_cast<QAbstractItemView*>(iconView_)}) {
        connect(view, &QAbstractItemView::doubleClicked, this, &BrowsingPage::onListActivated);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            const QModelIndex hit = view->indexAt(pos);
            if (!hit.isValid())
                return;
            focusPane_ = Pane::List;
            // A row of a selection of several keeps the selection for the menu.
            if (view->selectionModel()->isSelected(hit))
                view->selectionModel()->setCurrentIndex(hit, QItemSelectionModel::NoUpdate);
            else
                view->setCurrentIndex(hit);
            showContextMenu(view->viewport()->mapToGlobal(pos));
        });
    }
    connect(contents_, &QAbstractItemModel::modelReset, this, [this] {
        settingWidths_ = true;
        for (int column = 0; column < contents_->columnCount(); ++column)
            detailsView_->setColumnWidth(column, ContentsModel::columnWidth(contents_->sixColumns() ? column : -1));
        fitNameColumns();
        fitIconGrid();
        showFilterNotice();
        if (contents_->sixColumns())
            for (const auto& [column, width] : userWidths_)
                detailsView_->setColumnWidth(column, width);
        settingWidths_ = false;
    });
    connect(detailsView_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!settingWidths_ && contents_->sixColumns())
            userWidths_[column] = width;
    });
    connect(contents_, &ContentsModel::folderRenamed, folderModel_, &FolderTreeModel::itemRenamed);
    connect(detailsView_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] { labelEditing_ = false; });
    connect(iconView_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] { labelEditing_ = false; });
}

void BrowsingPage::applyColumns(bool sixColumns)
{
    contents_->setSixColumns(sixColumns);
    if (detailsView_->isSortingEnabled() != sixColumns)
        detailsView_->setSortingEnabled(sixColumns);
}

void BrowsingPage::applyListView(ListViewMode mode)
{
    const bool details = mode == ListViewMode::Details;
    listViews_->setCurrentWidget(details ? static_cast<QWidget*>(detailsView_) : static_cast<QWidget*>(iconView_));
    if (!details) {
        const bool icons = mode == ListViewMode::Icons;
        iconView_->setViewMode(icons ? QListView::IconMode : QListView::ListMode);
        iconView_->setFlow(icons ? QListView::LeftToRight : QListView::TopToBottom);
        iconView_->setWrapping(true);
        iconView_->setIconSize(QSize(16, 16));
        iconView_->setWordWrap(icons);
        iconView_->setMovement(QListView::Static);
        // The cells follow the folder (on each listing) and the mode: not every state change.
        if (gridFittedFor_ != mode)
            fitIconGrid();
    }
}

void BrowsingPage::fitNameColumns()
{
    if (!contents_->sixColumns())
        return;
    // Name, Type and Size grow to their longest text; their set widths are
    // the least. A width the user chose stays.
    const bool wasSetting = std::exchange(settingWidths_, true);
    for (int column : {int(ContentsModel::Name), int(ContentsModel::Type), int(ContentsModel::Size)}) {
        if (userWidths_.contains(column))
            continue;
        detailsView_->resizeColumnToContents(column);
        const int fitted = detailsView_->columnWidth(column);
        detailsView_->setColumnWidth(column, std::max(fitted, ContentsModel::columnWidth(column)));
    }
    settingWidths_ = wasSetting;
}

void BrowsingPage::fitIconGrid()
{
    gridFittedFor_ = state_.listView;
    if (state_.listView == ListViewMode::Details)
        return;
    const QFontMetrics metrics = iconView_->fontMetrics();
    if (state_.listView == ListViewMode::Icons) {
        // A fixed cell, names wrapped on up to three lines below the icon.
        iconView_->setGridSize(QSize(ContentsModel::columnWidth(ContentsModel::Name), 16 + 3 * metrics.lineSpacing() + 10));
        return;
    }
    // List: every column as wide as the folder's longest name, within the pane.
    int widest = 0;
    const int rows = std::min(contents_->totalRows(), 100000);
    for (int row = 0; row < rows; ++row)
        widest = std::max(widest, metrics.horizontalAdvance(names_->toDisplay(contents_->node(row).name)));
    const int limit = std::max(iconView_->viewport()->width() - 8, ContentsModel::columnWidth(ContentsModel::Name));
    iconView_->setGridSize(QSize(std::min(widest + 16 + 16, limit), std::max(metrics.height(), 16) + 6));
}

void BrowsingPage::clearList()
{
    contents_->clear();
}

void BrowsingPage::releaseFolders()
{
    folderModel_->clear();
    contents_->clear();
}

void BrowsingPage::clearDamage()
{
    contents_->clearDamage();
}

void BrowsingPage::newFolderTree(const QString& volumeName)
{
    folderModel_->recreate(volumeName);
}

void BrowsingPage::attachFolders()
{
    folderModel_->attach();
}

void BrowsingPage::dropFolders()
{
    folderModel_->clear();
}

void BrowsingPage::showRoot(bool current)
{
    focusPane_ = Pane::List;
    showFolderOfItem(FolderTree::kRootItem);
    const QModelIndex root = folderModel_->indexForItem(FolderTree::kRootItem);
    folderTree_->expand(root);
    if (!current)
        return;
    quietTree_ = true;
    folderTree_->setCurrentIndex(root);
    quietTree_ = false;
}

void BrowsingPage::namesChanged()
{
    // Names are converted as they are shown: the views ask again.
    folderModel_->namesChanged();
    contents_->namesChanged();
    fitNameColumns();
}

void BrowsingPage::markDamaged(const std::vector<ContentsModel::DamageMark>& marks)
{
    contents_->markDamaged(marks);
}

bool BrowsingPage::collectSelection(RecoverySelection& selection) const
{
    // A file both in a ticked folder and among the rows is copied once: the
    // run takes each file at its first mention.
    folderModel_->checkedFolders(selection.folderItems, selection.folderFiles);
    const bool ticked = !selection.folderItems.empty() || !selection.folderFiles.empty();
    if (focusPane_ == Pane::Tree && !ticked) {
        const QModelIndex current = folderTree_->currentIndex();
        if (!current.isValid())
            return false;
        selection.folderItems.push_back(FolderTreeModel::itemFor(current));
        return true;
    }
    // The icon views select single cells, the details view whole rows.
    std::vector<int> rows;
    for (const QModelIndex& index : detailsView_->selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (!contents_->isFolderRow(row)) {
            selection.files.push_back(contents_->position(row));
            continue;
        }
        // A folder row outside the tree has no subtree to take; its key 0
        // would name the root and with it the whole volume.
        const std::uint32_t item = contents_->key(row);
        if (item != FolderTree::kRootItem)
            selection.folderItems.push_back(item);
    }
    return !selection.files.empty() || !selection.folderItems.empty();
}

void BrowsingPage::showFoundFile(std::uint32_t filePosition)
{
    if (filePosition >= session_.mounted.files.size())
        return;
    const std::uint32_t item = parentItemOf(session_.mounted, session_.mounted.files[filePosition]);
    showFolderOfItem(item);
    selectTreeItem(item);
    // The list is the focused pane, so Recover Selected takes the file.
    focusPane_ = Pane::List;
    for (int row = 0; row < contents_->rowCount(); ++row) {
        if (contents_->isFolderRow(row) || contents_->position(row) != filePosition)
            continue;
        QAbstractItemView* list = state_.listView == ListViewMode::Details
            ? static_cast<QAbstractItemView*>(detailsView_)
            : static_cast<QAbstractItemView*>(iconView_);
        list->setCurrentIndex(contents_->index(row, ContentsModel::Name));
        list->scrollTo(contents_->index(row, ContentsModel::Name));
        list->setFocus();
        break;
    }
}

void BrowsingPage::showRootThroughFilters()
{
    selectTreeItem(FolderTree::kRootItem);
    contents_->showFolder(0, session_.filters);
}

void BrowsingPage::showFilterNotice()
{
    if (session_.filters.count() == 0 || state_.wizardStep != 2) {
        filterNotice_->hide();
        return;
    }
    filterNotice_->setText(QStringLiteral("Filter active: %1 of %2 files shown &nbsp; <a href=\"clear\">Clear filter</a>")
                               .arg(contents_->shownFiles())
                               .arg(contents_->folderFiles()));
    filterNotice_->show();
}

void BrowsingPage::clearFileFilters()
{
    if (state_.wizardStep != 2 || state_.busy)
        return;
    session_.filters.clear();
    contents_->showFolder(contents_->folderId(), session_.filters);
}

void BrowsingPage::showFolderOfItem(std::uint32_t treeItem)
{
    const TreeNode* folder = session_.mounted.folderForItem(treeItem);
    contents_->showFolder(folder ? folder->ownId : 0, session_.filters);
}

void BrowsingPage::selectTreeItem(std::uint32_t treeItem)
{
    const QModelIndex index = folderModel_->indexForItem(treeItem);
    if (!index.isValid())
        return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        folderTree_->expand(up);
    folderTree_->expand(folderModel_->indexForItem(FolderTree::kRootItem));
    quietTree_ = true;
    folderTree_->setCurrentIndex(index);
    quietTree_ = false;
    folderTree_->scrollTo(index);
    folderTree_->setFocus();
    focusPane_ = Pane::Tree;
}

void BrowsingPage::onTreeClicked(const QModelIndex& index)
{
    if (state_.wizardStep != 2 || state_.busy || !index.isValid())
        return;
    focusPane_ = Pane::Tree;
    const std::uint32_t item = FolderTreeModel::itemFor(index);
    contents_->clear();
    showFolderOfItem(item);
    selectTreeItem(item);
}

void BrowsingPage::onTreeCurrentChanged(const QModelIndex& current)
{
    if (quietTree_ || treeMousePressed_ || state_.wizardStep != 2 || state_.busy || !current.isValid())
        return;
    showFolderOfItem(FolderTreeModel::itemFor(current));
}

void BrowsingPage::onListActivated(const QModelIndex& index)
{
    if (state_.wizardStep != 2 || state_.busy || !index.isValid())
        return;
    focusPane_ = Pane::List;
    openEntry(false);
}

int BrowsingPage::markedRow() const
{
    const QModelIndex current = detailsView_->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void BrowsingPage::openEntry(bool openWith)
{
    if (state_.wizardStep != 2)
        return;
    if (focusPane_ == Pane::Tree) {
        const QModelIndex current = folderTree_->currentIndex();
        if (current.isValid()) {
            const std::uint32_t item = FolderTreeModel::itemFor(current);
            showFolderOfItem(item);
            selectTreeItem(item);
        }
        return;
    }
    const int row = markedRow();
    if (row < 0)
        return;
    // Placeholder folders are folder rows too: they open, they are not files.
    if (contents_->isFolderRow(row)) {
        const std::uint32_t item = contents_->key(row);
        showFolderOfItem(item);
        selectTreeItem(item);
        return;
    }
    const TreeNode& file = contents_->node(row);
    NoticeObserver notices(window_);
    DesktopLauncher launcher(window_, *desktop_);
    const std::string name = safeFileName(names_->toDisplay(file.name).toStdString());
    openFile(session_.mounted, session_.reader, session_.recovery, notices, file, name, openedFiles_.path(), openWith,
             launcher);
}

void BrowsingPage::previewEntry()
{
    const int row = markedRow();
    if (state_.wizardStep != 2 || state_.busy || focusPane_ != Pane::List || row < 0 || contents_->isFolderRow(row))
        return;
    const TreeNode& file = contents_->node(row);
    const QString name = names_->toDisplay(file.name);
    const FileStart start = readFileStart(session_.mounted, session_.reader, file);
    if (start.compressed) {
        ui::MessageDialog::show(window_, "\"" + name.toStdString() + "\" is stored compressed; its data cannot be shown.",
                                ui::MessageKind::Information);
        return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(start.bytes.data()), static_cast<qsizetype>(start.bytes.size()));
    // UTF-8 when the bytes are valid UTF-8, else the volume's code page.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = names_->toDisplay(bytes.toStdString());
    ui::PreviewDialog dialog(window_, name, bytes, text, file.size, QString::fromStdString(words::describeProblem(start.result)));
    dialog.exec();
}

void BrowsingPage::showContextMenu(const QPoint& globalPos)
{
    const int row = markedRow();
    if (focusPane_ != Pane::List || !state_.canShowContextMenu() || row < 0)
        return;
    emit contextMenuRequested(globalPos, !contents_->isFolderRow(row));
}

void BrowsingPage::startRename()
{
    const int row = markedRow();
    if (focusPane_ != Pane::List || row < 0 || state_.wizardStep != 2)
        return;
    labelEditing_ = true;
    QAbstractItemView* view = state_.listView == ListViewMode::Details ? static_cast<QAbstractItemView*>(detailsView_)
                                                                       : static_cast<QAbstractItemView*>(iconView_);
    view->edit(contents_->index(row, ContentsModel::Name));
}

void BrowsingPage::setListView(ListViewMode mode)
{
    state_.listView = mode;
    controller_.applyState();
}

void BrowsingPage::showProperties()
{
    const int row = markedRow();
    if (row < 0)
        return;
    ContentsRow contentsRow;
    contentsRow.isFolder = contents_->isFolderRow(row);
    contentsRow.node = contents_->position(row);
    contentsRow.name = contents_->node(row).name;
    contentsRow.type = contents_->typeText(row);
    contentsRow.key = contents_->key(row);
    auto cell = [&](int column) { return contents_->index(row, column).data().toString().toStdString(); };
    contentsRow.size = cell(ContentsModel::Size);
    contentsRow.date = cell(ContentsModel::Date);
    contentsRow.time = cell(ContentsModel::Time);
    const words::PropertiesReport report = words::propertiesFor(session_.mounted, contentsRow);
    ui::ReportDialog::Rows rows = {
        {"Name :", names_->toDisplay(report.name).toStdString()},
        {"Size                            :", report.size + " (" + QLocale().toString(static_cast<qulonglong>(report.bytes)).toStdString() + " bytes)"},
        {"Contains                     :", report.contains},
        {"Creation Date              :", report.creationDate},
        {"Modification Date       :", report.modificationDate},
        {"Attributes                  :", report.attributes},
    };
    // A name from another name space is shown; the DOS name follows it.
    if (!report.dosName.empty() && report.dosName != report.name)
        rows.insert(rows.begin() + 1,
                    {"DOS Name                    :", names_->toDisplay(report.dosName).toStdString()});
    ui::ReportDialog dialog(window_, QStringLiteral("File/Folder Properties"), rows, true);
    dialog.exec();
}

bool BrowsingPage::handleBrowsingKey(QKeyEvent* event)
{
    if (state_.wizardStep != 2 || labelEditing_)
        return false;
    QAbstractItemView* list = state_.listView == ListViewMode::Details ? static_cast<QAbstractItemView*>(detailsView_)
                                                                       : static_cast<QAbstractItemView*>(iconView_);
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (focusPane_ == Pane::List) {
            folderTree_->setFocus(Qt::TabFocusReason);
            focusPane_ = Pane::Tree;
        } else {
            list->setFocus(Qt::TabFocusReason);
            focusPane_ = Pane::List;
        }
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        openEntry(false);
        return true;
    case Qt::Key_F2:
        if (focusPane_ == Pane::List)
            startRename();
        return true;
    case Qt::Key_Menu:
        showContextMenu(QCursor::pos());
        return true;
    default:
        return false;
    }
}

bool BrowsingPage::eventFilter(QObject* watched, QEvent* event)
{
    if (!folderTree_ || !detailsView_ || !iconView_)
        return QObject::eventFilter(watched, event);
    const bool inTree = watched == folderTree_ || watched == folderTree_->viewport();
    const bool inList = watched == detailsView_ || watched == detailsView_->viewport() || watched == iconView_
        || watched == iconView_->viewport();
    if (event->type() == QEvent::MouseButtonPress) {
        if (inTree) {
            focusPane_ = Pane::Tree;
            auto* press = static_cast<QMouseEvent*>(event);
            if (watched == folderTree_->viewport() && !folderTree_->indexAt(press->position().toPoint()).isValid()) {
                // A click that hits no item selects the root; the list stays.
                quietTree_ = true;
                folderTree_->setCurrentIndex(folderModel_->indexForItem(FolderTree::kRootItem));
                quietTree_ = false;
                return true;
            }
            if (watched == folderTree_->viewport())
                treeMousePressed_ = true;
        } else if (inList) {
            focusPane_ = Pane::List;
        }
    } else if (event->type() == QEvent::MouseButtonRelease && watched == folderTree_->viewport()) {
        treeMousePressed_ = false;
    } else if (event->type() == QEvent::KeyPress && (inTree || inList)) {
        if (handleBrowsingKey(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tamsin::app
