// The browsing step: moving between folders in the tree and the list, the
// keys and the right-click menu, view modes, renaming and the reports.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "DesktopLauncher.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "NameCodec.h"
#include "RecoveryWords.h"
#include "WizardTexts.h"

#include "mount/FolderContents.h"
#include "mount/VolumeReports.h"
#include "recovery/DestinationNames.h"
#include "recovery/FilePreview.h"
#include "recovery/RecoveryRun.h"
#include "ui/MessageDialog.h"
#include "ui/PreviewDialog.h"
#include "ui/RecoverySettingsDialog.h"
#include "ui/ReportDialog.h"

#include <QLocale>
#include <QAction>
#include <QCursor>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QStringDecoder>
#include <QTableView>
#include <QTreeView>

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

void WizardDialog::showFolderOfItem(std::uint32_t treeItem)
{
    const TreeNode* folder = session_.mounted.folderForItem(treeItem);
    contents_->showFolder(folder ? folder->ownId : 0, session_.filters);
}

void WizardDialog::selectTreeItem(std::uint32_t treeItem)
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

void WizardDialog::onTreeClicked(const QModelIndex& index)
{
    if (state_.wizardStep != 2 || state_.busy || !index.isValid())
        return;
    focusPane_ = Pane::Tree;
    const std::uint32_t item = FolderTreeModel::itemFor(index);
    contents_->clear();
    showFolderOfItem(item);
    selectTreeItem(item);
}

void WizardDialog::onTreeCurrentChanged(const QModelIndex& current)
{
    if (quietTree_ || treeMousePressed_ || state_.wizardStep != 2 || state_.busy || !current.isValid())
        return;
    showFolderOfItem(FolderTreeModel::itemFor(current));
}

void WizardDialog::onListActivated(const QModelIndex& index)
{
    if (state_.wizardStep != 2 || state_.busy || !index.isValid())
        return;
    focusPane_ = Pane::List;
    openEntry(false);
}

int WizardDialog::markedRow() const
{
    const QModelIndex current = detailsView_->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void WizardDialog::openEntry(bool openWith)
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
    NoticeObserver notices(this);
    DesktopLauncher launcher(this, *desktop_);
    const std::string name = safeFileName(names_->toDisplay(file.name).toStdString());
    openFile(session_.mounted, session_.reader, session_.recovery, notices, file, name, openedFiles_.path(), openWith,
             launcher);
}

void WizardDialog::previewEntry()
{
    const int row = markedRow();
    if (state_.wizardStep != 2 || state_.busy || focusPane_ != Pane::List || row < 0 || contents_->isFolderRow(row))
        return;
    const TreeNode& file = contents_->node(row);
    const QString name = names_->toDisplay(file.name);
    const FileStart start = readFileStart(session_.mounted, session_.reader, file);
    if (start.compressed) {
        ui::MessageDialog::show(this, "\"" + name.toStdString() + "\" is stored compressed; its data cannot be shown.",
                                ui::MessageKind::Information);
        return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(start.bytes.data()), static_cast<qsizetype>(start.bytes.size()));
    // UTF-8 when the bytes are valid UTF-8, else the volume's code page.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = names_->toDisplay(bytes.toStdString());
    ui::PreviewDialog dialog(this, name, bytes, text, file.size, QString::fromStdString(words::describeProblem(start.result)));
    dialog.exec();
}

void WizardDialog::showContextMenu(const QPoint& globalPos)
{
    const int row = markedRow();
    if (focusPane_ != Pane::List || !state_.canShowContextMenu() || row < 0)
        return;
    action(CommandId::OpenWith)->setEnabled(!contents_->isFolderRow(row));
    action(CommandId::Preview)->setEnabled(!contents_->isFolderRow(row));
    contextMenu_->popup(globalPos);
}

void WizardDialog::startRename()
{
    const int row = markedRow();
    if (focusPane_ != Pane::List || row < 0 || state_.wizardStep != 2)
        return;
    labelEditing_ = true;
    QAbstractItemView* view = state_.listView == ListViewMode::Details ? static_cast<QAbstractItemView*>(detailsView_)
                                                                       : static_cast<QAbstractItemView*>(iconView_);
    view->edit(contents_->index(row, ContentsModel::Name));
}

void WizardDialog::setListView(ListViewMode mode)
{
    state_.listView = mode;
    applyState();
}

void WizardDialog::showDriveInformation()
{
    // The volume's own rows, then where it lies: segments, partitions, hot-fix
    // and mirrors. A volume found by a search has no layout read from the
    // partition, so there is nothing more to tell.
    ui::ReportDialog::Rows rows = driveInformationRows(session_.mounted);
    if (session_.mounted.layout) {
        const ui::ReportDialog::Rows layout = layoutRows(layoutReport(session_.mounted, session_.reader));
        rows.insert(rows.end(), layout.begin(), layout.end());
    }
    const ui::ReportDialog::Rows damage = tableDamageRows(session_.mounted.tableDamage);
    rows.insert(rows.end(), damage.begin(), damage.end());
    ui::ReportDialog dialog(this, QStringLiteral("Drive Information"), rows);
    dialog.exec();
}

void WizardDialog::showProperties()
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
    const PropertiesReport report = propertiesFor(session_.mounted, contentsRow);
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
    ui::ReportDialog dialog(this, QStringLiteral("File/Folder Properties"), rows, true);
    dialog.exec();
}

void WizardDialog::showSettings()
{
    ui::RecoverySettingsDialog dialog(this, session_.settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    session_.settings.setSectorsPerAttempt(dialog.sectorsPerAttempt());
    session_.settings.setDuplicateAction(dialog.duplicateAction());
    session_.settings.setDeletedFilesAction(dialog.deletedFilesAction());
    session_.setRetryCount(dialog.retryCount());
}

bool WizardDialog::handleBrowsingKey(QKeyEvent* event)
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

bool WizardDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (!folderTree_ || !detailsView_ || !iconView_)
        return QMainWindow::eventFilter(watched, event);
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
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tamsin::app
