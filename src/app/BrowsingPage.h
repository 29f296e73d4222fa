#pragma once
// The browsing step's controls: the folder tree, the contents list in its
// three view modes below the filter notice, and what is done in them:
// moving between folders by mouse and keys, the right-click menu, opening,
// previewing, renaming, the properties of the marked row, the selection to
// recover, and the widths of the columns and cells.

#include "ContentsModel.h"
#include "PrivateFolder.h"
#include "WizardState.h"

#include <QObject>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class QEvent;
class QKeyEvent;
class QLabel;
class QListView;
class QModelIndex;
class QStackedWidget;
class QTableView;
class QWidget;

namespace tamsin {
struct RecoverySelection;
struct Session;
} // namespace tamsin

namespace tamsin::app {

class Desktop;
class FileTypes;
class FolderTreeModel;
class FolderTreeView;
class NameCodec;
class WizardController;

class BrowsingPage : public QObject {
    Q_OBJECT
public:
    // window: the parent of the controls and of the dialogs. The page goes
    // before the session and the window's controls.
    BrowsingPage(WizardController& controller, NameCodec& names, FileTypes& types, Desktop& desktop, QWidget* window);
    ~BrowsingPage() override;

    FolderTreeView* tree() const { return folderTree_; }
    // The filter notice above the list views.
    QWidget* listPage() const { return listPage_; }

    // The views follow the state.
    void applyColumns(bool sixColumns);
    void applyListView(ListViewMode mode);

    // The list lets go of the folder it shows.
    void clearList();
    // The tree and the list let go of the volume's folders.
    void releaseFolders();
    // The list forgets the damage marks of the volume before.
    void clearDamage();
    // The tree starts over with only its root, named volumeName.
    void newFolderTree(const QString& volumeName);
    // The tree takes the folders of the volume just mounted or loaded.
    void attachFolders();
    // The tree lets go of its folders.
    void dropFolders();
    // The list shows the root folder and the list is the focused pane;
    // current: the root also becomes the tree's current folder.
    void showRoot(bool current);
    // Names are shown through another code page.
    void namesChanged();
    void markDamaged(const std::vector<ContentsModel::DamageMark>& marks);
    // Removes the files extracted for Open and Open With.
    void removeOpenedFiles() { openedFiles_.remove(); }

    // The ticked folders of the tree and the selected rows of the list; with
    // nothing ticked and the tree as the focused pane, its current folder
    // instead of the rows. False when nothing is selected.
    bool collectSelection(RecoverySelection& selection) const;
    // Shows the folder holding the file in the tree and selects its row.
    void showFoundFile(std::uint32_t filePosition);
    // The tree takes the focus on its root; the list shows the root folder
    // through the file filters now set.
    void showRootThroughFilters();

    // Commands.
    void openEntry(bool openWith);
    // Shows the start of the marked file in the preview dialog.
    void previewEntry();
    void startRename();
    void showProperties();
    void setListView(ListViewMode mode);

signals:
    // The right-click menu, for the marked row; fileRow: it is a file.
    void contextMenuRequested(const QPoint& globalPos, bool fileRow);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Pane { Tree, List };

    void buildTree();
    void buildList();
    // Widens the Name and Type columns of the details view to their content.
    void fitNameColumns();
    // The List and Icons views' cells: in List as wide as the longest name.
    void fitIconGrid();
    // Shows, while file filters are set, how many files of the folder they
    // let through, with a link that clears them.
    void showFilterNotice();
    void clearFileFilters();

    void showFolderOfItem(std::uint32_t treeItem);
    void selectTreeItem(std::uint32_t treeItem);
    void onTreeClicked(const QModelIndex& index);
    // The tree's current folder moved by keyboard: the list shows it.
    void onTreeCurrentChanged(const QModelIndex& current);
    void onListActivated(const QModelIndex& index);
    void showContextMenu(const QPoint& globalPos);
    int markedRow() const;
    bool handleBrowsingKey(QKeyEvent* event);

    WizardController& controller_;
    Session& session_;
    WizardState& state_;
    NameCodec* names_;
    FileTypes* types_;
    Desktop* desktop_;
    QWidget* window_;
    PrivateFolder openedFiles_;  // files extracted for Open and Open With; removed on exit

    Pane focusPane_ = Pane::List;
    bool labelEditing_ = false;
    // Widths the user dragged a details column to, by column; kept from
    // folder to folder. settingWidths_ tells our own changes from theirs.
    std::map<int, int> userWidths_;
    bool settingWidths_ = false;
    ListViewMode gridFittedFor_ = ListViewMode::Details;  // the view mode the List/Icons cells were last fitted for
    // Set while the page itself moves the tree's current folder, and while
    // a mouse button is down in the tree (the click shows the folder).
    bool quietTree_ = false;
    bool treeMousePressed_ = false;

    FolderTreeView* folderTree_ = nullptr;
    FolderTreeModel* folderModel_ = nullptr;
    ContentsModel* contents_ = nullptr;
    QStackedWidget* listViews_ = nullptr;
    QWidget* listPage_ = nullptr;
    QLabel* filterNotice_ = nullptr;
    QTableView* detailsView_ = nullptr;
    QListView* iconView_ = nullptr;
};

} // namespace tamsin::app
