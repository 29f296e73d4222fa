#include "WizardDialog.h"

#include "ContentsModel.h"
#include "Desktop.h"
#include "DiskTree.h"
#include "FileTypes.h"
#include "FolderTreeModel.h"
#include "FolderTreeView.h"
#include "ManualFolder.h"
#include "NameCodec.h"
#include "QuickHelp.h"
#include "StatusPanel.h"
#include "VolumeTree.h"
#include "WizardTexts.h"
#include "WorkerThread.h"

#include "disk/FileDevice.h"
#include "ui/ReturnPressesButtons.h"
#include "disk/RescueMap.h"

#ifndef TAMSIN_HOME_PAGE
#define TAMSIN_HOME_PAGE ""
#endif

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tamsin::app {
namespace {

// Opens the disk; an image is read through the rescue map the user gave for
// it or else the one beside it (IMAGE.map or IMAGE.mapfile), and a map that
// cannot be used refuses the disk with the reason.
bool openWithReader(SectorReader& reader, const DiskInfo& disk, std::string& error)
{
    OpenError failure;
    if (!reader.openDisk(disk, &failure)) {
        error = failure.message;
        return false;
    }
    std::string mapPath;
    std::string why;
    if (useRescueMap(reader, disk.rescueMap, true, mapPath, why))
        return true;
    reader.closeDisk();
    error = "The rescue map " + mapPath + " cannot be used: " + why;
    return false;
}

QToolButton* helpButton(QWidget* parent, const char* tooltip, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(QStringLiteral("?"));
    button->setAutoRaise(true);
    button->setToolTip(QString::fromUtf8(tooltip));
    return button;
}

QPushButton* stepButton(QWidget* parent, const QString& text, QStyle::StandardPixmap icon, const char* tooltip,
                        const QString& name)
{
    auto* button = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    button->setObjectName(name);
    button->setToolTip(QString::fromUtf8(tooltip));
    button->setAutoDefault(false);
    return button;
}

void follow(QWidget* widget, const Shown& shown)
{
    widget->setVisible(shown.visible);
    widget->setEnabled(shown.enabled);
}

} // namespace

WizardDialog::WizardDialog(DiskTable disks, Desktop* desktop, QWidget* parent) :
    QMainWindow(parent), session_(disks.accessMode), desktop_(desktop), openDisk_(openWithReader), names_(std::make_unique<NameCodec>()),
    types_(std::make_unique<FileTypes>())
{
    if (!desktop_) {
        ownDesktop_ = std::make_unique<SystemDesktop>();
        desktop_ = ownDesktop_.get();
    }
    session_.disks = std::move(disks);
    // Return presses the focused button here and in every dialog opened from here.
    new ui::ReturnPressesButtons(this);
    // The code page chosen last time; an unknown one leaves CP437.
    names_->setCodePage(QSettings().value(QString::fromUtf8(kCodePageSetting)).toString().toStdString());
    homePage_ = QString::fromUtf8(TAMSIN_HOME_PAGE);
    manualFolder_ = defaultManualFolder();

    setObjectName(QStringLiteral("wizardDialog"));
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("drive-harddisk"), style()->standardIcon(QStyle::SP_DriveHDIcon)));
    resize(820, 560);

    buildControls();
    buildMenus();
    buildToolbar();
    buildContextMenu();

    state_.wizardStep = -1;
    diskTree_->populate(session_.disks);
    state_.initialise();
    applyState();
}

WizardDialog::~WizardDialog()
{
    // A worker still running may be waiting for this thread; let it finish
    // its reports (which do nothing now) and end at its next poll.
    closing_ = true;
    if (worker_) {
        session_.mounted.stopRequested = true;
        while (!worker_->wait(10)) {
            session_.mounted.stopRequested = true;
            QCoreApplication::processEvents();
        }
    }
    // The views stop watching; the models read the session, which goes before them.
    for (QObject* watched : {static_cast<QObject*>(folderTree_), static_cast<QObject*>(folderTree_->viewport()),
                             static_cast<QObject*>(detailsView_), static_cast<QObject*>(detailsView_->viewport()),
                             static_cast<QObject*>(iconView_), static_cast<QObject*>(iconView_->viewport())})
        watched->removeEventFilter(this);
    folderTree_->setModel(nullptr);
    detailsView_->setModel(nullptr);
    iconView_->setModel(nullptr);
}

QAction* WizardDialog::action(CommandId id) const
{
    auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void WizardDialog::buildControls()
{
    auto* central = new QWidget(this);
    auto* top = new QHBoxLayout;
    top->addWidget(buildLeftPane(), 2);
    auto* right = new QVBoxLayout;
    right->addWidget(buildRightPane(), 1);
    right->addWidget(buildBottomRow());
    top->addLayout(right, 5);

    instruction_ = new QLabel(central);
    instruction_->setObjectName(QStringLiteral("instructionPanel"));
    instruction_->setTextFormat(Qt::RichText);
    instruction_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    instruction_->setWordWrap(true);
    auto* help = new QGroupBox(QStringLiteral("Quick Help"), central);
    auto* helpLayout = new QVBoxLayout(help);
    helpLayout->setContentsMargins(6, 0, 6, 4);
    helpLayout->addWidget(instruction_);
    help->setMinimumHeight(instruction_->fontMetrics().lineSpacing() * 5);

    back_ = stepButton(central, QStringLiteral("&Back"), QStyle::SP_ArrowBack, text::kBackTip, QStringLiteral("back"));
    next_ = stepButton(central, QStringLiteral("&Next"), QStyle::SP_ArrowForward, text::kNextTip, QStringLiteral("next"));
    connect(back_, &QPushButton::clicked, this, &WizardDialog::onBack);
    connect(next_, &QPushButton::clicked, this, &WizardDialog::onNext);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help, 1);
    auto* steps = new QVBoxLayout;
    steps->addStretch(1);
    auto* stepRow = new QHBoxLayout;
    stepRow->addWidget(back_);
    stepRow->addWidget(next_);
    steps->addLayout(stepRow);
    bottom->addLayout(steps);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
    setCentralWidget(central);
    setAcceptDrops(true);
}

QWidget* WizardDialog::buildLeftPane()
{
    auto* pane = new QWidget(this);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);

    diskTree_ = new DiskTree(pane);
    volumeTree_ = new VolumeTree(pane);
    folderTree_ = new FolderTreeView(pane);
    folderTree_->setObjectName(QStringLiteral("folderTree"));
    folderTree_->setHeaderHidden(true);
    folderTree_->setIconSize(QSize(16, 16));
    folderTree_->setUniformRowHeights(true);
    folderTree_->setSelectionMode(QAbstractItemView::SingleSelection);
    folderTree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    folderModel_ = new FolderTreeModel(session_.mounted, *names_, *types_, this);
    folderTree_->setModel(folderModel_);
    connect(folderTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &WizardDialog::onTreeCurrentChanged);
    folderTree_->installEventFilter(this);
    folderTree_->viewport()->installEventFilter(this);

    connect(diskTree_, &DiskTree::diskClicked, this, &WizardDialog::onDiskClicked);
    connect(diskTree_, &DiskTree::pickedChanged, this, [this] {
        const QTreeWidgetItem* current = diskTree_->currentItem();
        showPickedDisks(current && current != diskTree_->root() ? current->data(0, Qt::UserRole).toInt() : -1);
    });
    connect(volumeTree_, &VolumeTree::volumeClicked, this, &WizardDialog::onVolumeClicked);
    connect(volumeTree_, &VolumeTree::segmentClicked, this, &WizardDialog::onSegmentClicked);
    connect(folderTree_, &QTreeView::clicked, this, &WizardDialog::onTreeClicked);

    for (QWidget* tree : {static_cast<QWidget*>(diskTree_), static_cast<QWidget*>(volumeTree_),
                          static_cast<QWidget*>(folderTree_)}) {
        tree->setMinimumWidth(200);
        layout->addWidget(tree);
    }
    return pane;
}

QWidget* WizardDialog::buildRightPane()
{
    rightPane_ = new QStackedWidget(this);
    rightPane_->setObjectName(QStringLiteral("rightPane"));
    rightPane_->setFrameShape(QFrame::StyledPanel);
    statusPanel_ = new StatusPanel(rightPane_);

    contents_ = new ContentsModel(session_.mounted, *names_, *types_, this);
    listViews_ = new QStackedWidget(rightPane_);
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
    listPage_ = new QWidget(rightPane_);
    filterNotice_ = new QLabel(listPage_);
    filterNotice_->setObjectName(QStringLiteral("filterNotice"));
    filterNotice_->setTextFormat(Qt::RichText);
    filterNotice_->setContentsMargins(6, 3, 6, 3);
    filterNotice_->hide();
    connect(filterNotice_, &QLabel::linkActivated, this, &WizardDialog::clearFileFilters);
    auto* listLayout = new QVBoxLayout(listPage_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(filterNotice_);
    listLayout->addWidget(listViews_, 1);
    rightPane_->addWidget(statusPanel_);
    rightPane_->addWidget(listPage_);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(detailsView_),
                                    static_cast<QAbstractItemView*>(iconView_)}) {
        connect(view, &QAbstractItemView::doubleClicked, this, &WizardDialog::onListActivated);
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
    return rightPane_;
}

QWidget* WizardDialog::buildBottomRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    identifyBox_ = new QGroupBox(QString::fromUtf8(text::kIdentifyOptions), row);
    identifyBox_->setObjectName(QStringLiteral("identifyOptions"));
    useTable_ = new QRadioButton(QString::fromUtf8(text::kUseVolumeTable), identifyBox_);
    useTable_->setObjectName(QStringLiteral("useVolumeTable"));
    searchVolumes_ = new QRadioButton(QString::fromUtf8(text::kSearchVolumes), identifyBox_);
    searchVolumes_->setObjectName(QStringLiteral("searchVolumes"));
    identifyHelp_ = helpButton(identifyBox_, text::kIdentifyOptionsHelp, QStringLiteral("identifyHelp"));
    auto* identifyLayout = new QGridLayout(identifyBox_);
    identifyLayout->addWidget(useTable_, 0, 0);
    identifyLayout->addWidget(searchVolumes_, 1, 0);
    identifyLayout->addWidget(identifyHelp_, 0, 1, 2, 1, Qt::AlignTop);
    connect(useTable_, &QRadioButton::clicked, this, &WizardDialog::onIdentifyModeChosen);
    connect(searchVolumes_, &QRadioButton::clicked, this, &WizardDialog::onIdentifyModeChosen);

    rangeBox_ = new QGroupBox(QString::fromUtf8(text::kSelectRange), row);
    rangeBox_->setObjectName(QStringLiteral("selectRange"));
    startSector_ = new QLineEdit(rangeBox_);
    startSector_->setObjectName(QStringLiteral("startSector"));
    endSector_ = new QLineEdit(rangeBox_);
    endSector_->setObjectName(QStringLiteral("endSector"));
    for (QLineEdit* edit : {startSector_, endSector_}) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        edit->setMaxLength(20);
    }
    connect(startSector_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.startSectorText = text.toStdString(); });
    connect(endSector_, &QLineEdit::textEdited, this,
            [this](const QString& text) { state_.endSectorText = text.toStdString(); });
    rangeHelp_ = helpButton(rangeBox_, text::kSelectRangeHelp, QStringLiteral("rangeHelp"));
    auto* rangeLayout = new QGridLayout(rangeBox_);
    rangeLayout->addWidget(new QLabel(QString::fromUtf8(text::kStartSector), rangeBox_), 0, 0);
    rangeLayout->addWidget(startSector_, 0, 1);
    rangeLayout->addWidget(new QLabel(QString::fromUtf8(text::kEndSector), rangeBox_), 1, 0);
    rangeLayout->addWidget(endSector_, 1, 1);
    rangeLayout->addWidget(rangeHelp_, 0, 2, 2, 1, Qt::AlignTop);

    stop_ = stepButton(row, QStringLiteral("&Stop"), QStyle::SP_BrowserStop, text::kStopTip, QStringLiteral("stop"));
    connect(stop_, &QPushButton::clicked, this, &WizardDialog::confirmStop);

    layout->addWidget(identifyBox_);
    layout->addWidget(rangeBox_);
    layout->addStretch(1);
    layout->addWidget(stop_, 0, Qt::AlignBottom);
    return row;
}

void WizardDialog::fitNameColumns()
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

void WizardDialog::applyState()
{
    const WizardControls& c = state_.controls;
    follow(diskTree_, c.diskTree);
    follow(volumeTree_, c.volumeTree);
    follow(folderTree_, c.folderTree);
    follow(next_, c.next);
    follow(back_, c.back);
    follow(stop_, c.stop);

    contents_->setSixColumns(c.sixColumns);
    if (detailsView_->isSortingEnabled() != c.sixColumns)
        detailsView_->setSortingEnabled(c.sixColumns);
    rightPane_->setCurrentWidget(c.fileListVisible ? listPage_
                                                   : static_cast<QWidget*>(statusPanel_));
    statusPanel_->apply(state_.panel, c.progressVisible, c.progress);

    identifyBox_->setVisible(c.identifyOptionsVisible);
    rangeBox_->setVisible(c.selectRangeVisible);
    useTable_->setChecked(state_.identifyMode == IdentifyMode::VolumeTable);
    searchVolumes_->setChecked(state_.identifyMode == IdentifyMode::SearchVolumes);
    if (startSector_->text().toStdString() != state_.startSectorText)
        startSector_->setText(QString::fromStdString(state_.startSectorText));
    if (endSector_->text().toStdString() != state_.endSectorText)
        endSector_->setText(QString::fromStdString(state_.endSectorText));

    instruction_->setText(quickHelpHtml(state_.instruction));

    for (auto& [id, action] : actions_)
        action->setEnabled(state_.commandEnabled(id));

    const bool details = state_.listView == ListViewMode::Details;
    listViews_->setCurrentWidget(details ? static_cast<QWidget*>(detailsView_) : static_cast<QWidget*>(iconView_));
    if (!details) {
        const bool icons = state_.listView == ListViewMode::Icons;
        iconView_->setViewMode(icons ? QListView::IconMode : QListView::ListMode);
        iconView_->setFlow(icons ? QListView::LeftToRight : QListView::TopToBottom);
        iconView_->setWrapping(true);
        iconView_->setIconSize(QSize(16, 16));
        iconView_->setWordWrap(icons);
        iconView_->setMovement(QListView::Static);
        // The cells follow the folder (on each listing) and the mode: not every state change.
        if (gridFittedFor_ != state_.listView)
            fitIconGrid();
    }
}

void WizardDialog::fitIconGrid()
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

} // namespace tamsin::app
