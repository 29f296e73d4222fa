#pragma once
// The main window: the three-step wizard (disk, volume, browsing), its
// menus and toolbar, and the workers it starts. Its controls follow the
// plain WizardState; the engine state lives in the Session it owns.

#include "Commands.h"
#include "MountReporter.h"
#include "SearchReporter.h"
#include "WizardState.h"

#include "PrivateFolder.h"
#include "session/Session.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class QAbstractItemView;
class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableView;
class QToolButton;
class QTreeView;

namespace tamsin {
struct RecoverySelection;
}

namespace tamsin::ui {
class HelpWindow;
}

namespace tamsin::app {

class ContentsModel;
class Desktop;
class DiskTree;
class FileTypes;
class FolderTreeModel;
class FolderTreeView;
class NameCodec;
class StatusPanel;
class VolumeTree;
class WorkerThread;

class WizardDialog : public QMainWindow, private SearchDisplay, private MountDisplay {
    Q_OBJECT
public:
    // Opens the selected disk for reading; false with a message when it cannot.
    using DiskOpener = std::function<bool(SectorReader& reader, const DiskInfo& disk, std::string& error)>;

    // disks: the listing to show. desktop: null for the real desktop.
    explicit WizardDialog(DiskTable disks, Desktop* desktop = nullptr, QWidget* parent = nullptr);
    ~WizardDialog() override;

    void setDiskOpener(DiskOpener opener) { openDisk_ = std::move(opener); }
    // The address the logo and the exit open (empty: none); the build's
    // TAMSIN_HOME_PAGE by default.
    void setHomePage(const QString& address) { homePage_ = address; }
    // The folder holding the user manual; found beside the program by default.
    void setManualFolder(const QString& folder) { manualFolder_ = folder; }

    Session& session() { return session_; }
    const WizardState& state() const { return state_; }
    QAction* action(CommandId id) const;
    bool workerRunning() const { return state_.workerRunning; }

    // Runs a command as its menu entry or toolbar button would: greyed
    // commands do nothing.
    void runCommand(CommandId id);

    // Shows and writes names in codePage from now on (an iconv name; one the
    // system does not know is ignored) and remembers it for the next start.
    void setCodePage(const std::string& codePage);
    // The settings key that remembers the code page.
    static constexpr const char* kCodePageSetting = "names/codePage";

protected:
    void closeEvent(QCloseEvent* event) override;
    // Image files and rescue maps dropped on the window at the disk step.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Pane { Tree, List };

    // Construction (WizardDialog.cpp, WizardMenus.cpp).
    void buildControls();
    QWidget* buildLeftPane();
    QWidget* buildRightPane();
    QWidget* buildBottomRow();
    void buildMenus();
    void buildToolbar();
    void buildContextMenu();
    void buildCodePageMenu();
    void applyState();
    // Widens the Name and Type columns of the details view to their content.
    void fitNameColumns();
    // The List and Icons views' cells: in List as wide as the longest name.
    void fitIconGrid();

    // Disk and volume steps (WizardSteps.cpp).
    void onDiskClicked(int index);
    // Shows the picked disks; shown is the disk whose geometry the panel shows.
    void showPickedDisks(int shown);
    // The status line naming the picked disks in reading order; empty for one.
    std::string selectionLine() const;
    void openDiskImage();
    // Lists image files as more disks; rescue maps among them (told by
    // content) go with their images, or alone with the picked image disk.
    void addDiskFiles(const QStringList& files);
    void onIdentifyModeChosen();
    // Opens the picked disks after the first into the session; false (with
    // the further disks closed again) when one cannot be opened.
    bool openMoreDisks();
    // Empties the volume table and lets go of the further disks; the records
    // and the picked volume point at them, so they go first.
    void closeMoreDisks();
    void listVolumes();
    void onVolumeClicked(int position);
    void onSegmentClicked(int position);
    // segment: the segment item was clicked, not its volume's.
    void pickVolume(int position, bool segment);
    void onNext();
    void onBack();
    void confirmStop();
    void nextFromDiskStep();
    bool confirmExit();
    void exitProgram();

    // Workers (WizardWorkers.cpp).
    void startVolumeSearch(SearchRange range);
    void startMount();
    void startWorker(std::function<void()> body);
    void showSearchProgress(std::uint64_t cursor, std::uint64_t scanned, std::uint64_t total, int percent) override;
    void addFoundVolume(const VolumeInfo& volume, std::uint32_t count) override;
    void searchFinished(const SearchOutcome& outcome) override;
    void showMountStatus(const std::string& text) override;
    void showMountProgress(int percent) override;
    void showMountInstruction(const std::string& text) override;
    void enterMountStage(MountStage stage) override;
    void showMountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName) override;
    CopyChoice askCopy(TableKind kind) override;
    void mountFinished(MountResult result) override;

    // Browsing step (WizardBrowsing.cpp).
    void showFolderOfItem(std::uint32_t treeItem);
    void selectTreeItem(std::uint32_t treeItem);
    void onTreeClicked(const QModelIndex& index);
    // The tree's current folder moved by keyboard: the list shows it.
    void onTreeCurrentChanged(const QModelIndex& current);
    void onListActivated(const QModelIndex& index);
    void openEntry(bool openWith);
    // Shows the start of the marked file in the preview dialog.
    void previewEntry();
    void showContextMenu(const QPoint& globalPos);
    void startRename();
    void setListView(ListViewMode mode);
    void showDriveInformation();
    void showProperties();
    void showSettings();
    int markedRow() const;
    bool handleBrowsingKey(QKeyEvent* event);

    // Commands of the Recovery, Tools and Help menus (WizardCommands.cpp).
    void saveSnapshot();
    void loadSnapshot();
    void liveUpdate();
    void helpContents();
    void showAbout();
    void openHomePage();

    // Recovery commands (WizardRecovery.cpp).
    void recover(bool all);
    // Asks for the destination folder and recovers selection into it.
    void recoverWithChooser(const RecoverySelection& selection);
    // The ticked folders of the tree and the selected rows of the list; with
    // nothing ticked and the tree as the focused pane, its current folder
    // instead of the rows. False when nothing is selected.
    bool collectSelection(RecoverySelection& selection) const;
    void runRecoveryInto(const QString& destination, const RecoverySelection& selection);

    // Tools commands (WizardTools.cpp).
    void findFiles();
    // Shows the folder holding the file in the tree and selects its row.
    void showFoundFile(std::uint32_t filePosition);
    void editFileFilters();
    // Shows, while file filters are set, how many files of the folder they
    // let through, with a link that clears them.
    void showFilterNotice();
    void clearFileFilters();
    void restoreCompressed();
    // Scans the volume for what lies on unreadable sectors, shows the report
    // and marks the damaged entries in the contents list.
    void showDamageReport();

    Session session_;
    WizardState state_;
    std::unique_ptr<Desktop> ownDesktop_;
    Desktop* desktop_;
    DiskOpener openDisk_;
    std::unique_ptr<NameCodec> names_;
    std::unique_ptr<FileTypes> types_;
    std::unique_ptr<WorkerThread> worker_;
    QString homePage_;
    QString manualFolder_;
    ui::HelpWindow* help_ = nullptr;  // made on first use, owned by the window
    QString lastDestination_;  // the folder the last recovery wrote into
    PrivateFolder openedFiles_;  // files extracted for Open and Open With; removed on exit
    LabelledRows pickedRows_;  // the status-panel rows of the volume picked last
    std::vector<int> sessionDisks_;
    ListViewMode gridFittedFor_ = ListViewMode::Details;  // the view mode the List/Icons cells were last fitted for  // the disk list's numbers of the open disks, the selected one first
    bool closing_ = false;

    // Browsing state.
    Pane focusPane_ = Pane::List;
    bool labelEditing_ = false;
    // Widths the user dragged a details column to, by column; kept from
    // folder to folder. settingWidths_ tells our own changes from theirs.
    std::map<int, int> userWidths_;
    bool settingWidths_ = false;
    // Set while the window itself moves the tree's current folder, and while
    // a mouse button is down in the tree (the click shows the folder).
    bool quietTree_ = false;
    bool treeMousePressed_ = false;

    // Controls.
    DiskTree* diskTree_ = nullptr;
    VolumeTree* volumeTree_ = nullptr;
    FolderTreeView* folderTree_ = nullptr;
    FolderTreeModel* folderModel_ = nullptr;
    ContentsModel* contents_ = nullptr;
    QStackedWidget* rightPane_ = nullptr;
    StatusPanel* statusPanel_ = nullptr;
    QStackedWidget* listViews_ = nullptr;
    QWidget* listPage_ = nullptr;  // the filter notice above the list views
    QLabel* filterNotice_ = nullptr;
    QTableView* detailsView_ = nullptr;
    QListView* iconView_ = nullptr;
    QGroupBox* identifyBox_ = nullptr;
    QRadioButton* useTable_ = nullptr;
    QRadioButton* searchVolumes_ = nullptr;
    QToolButton* identifyHelp_ = nullptr;
    QGroupBox* rangeBox_ = nullptr;
    QLineEdit* startSector_ = nullptr;
    QLineEdit* endSector_ = nullptr;
    QToolButton* rangeHelp_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* instruction_ = nullptr;
    QToolButton* logo_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    std::map<CommandId, QAction*> actions_;
};

} // namespace tamsin::app
