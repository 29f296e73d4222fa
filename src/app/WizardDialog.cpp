#include "WizardDialog.h"

#include "BrowsingPage.h"
#include "Desktop.h"
#include "DiskStepPage.h"
#include "DiskTree.h"
#include "FileTypes.h"
#include "FolderTreeView.h"
#include "HelpCommands.h"
#include "ManualFolder.h"
#include "NameCodec.h"
#include "QuickHelp.h"
#include "RecoveryCommands.h"
#include "SnapshotCommands.h"
#include "StatusPanel.h"
#include "ToolCommands.h"
#include "VolumeStepPage.h"
#include "VolumeTree.h"
#include "WizardActions.h"
#include "WizardTexts.h"

#include "ui/MessageDialog.h"
#include "ui/ReturnPressesButtons.h"

#ifndef TAMSIN_HOME_PAGE
#define TAMSIN_HOME_PAGE ""
#endif

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace tamsin::app {
namespace {

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
    QMainWindow(parent), desktop_(desktop), names_(std::make_unique<NameCodec>()),
    types_(std::make_unique<FileTypes>())
{
    if (!desktop_) {
        ownDesktop_ = std::make_unique<SystemDesktop>();
        desktop_ = ownDesktop_.get();
    }
    controller_ = std::make_unique<WizardController>(std::move(disks), *names_, this);
    // Return presses the focused button here and in every dialog opened from here.
    new ui::ReturnPressesButtons(this);
    // The code page chosen last time; an unknown one leaves CP437.
    names_->setCodePage(QSettings().value(QString::fromUtf8(kCodePageSetting)).toString().toStdString());

    setObjectName(QStringLiteral("wizardDialog"));
    setWindowTitle(QString::fromUtf8(text::kCaption));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("drive-harddisk"), style()->standardIcon(QStyle::SP_DriveHDIcon)));
    resize(820, 560);

    diskStep_ = std::make_unique<DiskStepPage>(*controller_, this);
    volumeStep_ = std::make_unique<VolumeStepPage>(*controller_, *names_, this);
    browsing_ = std::make_unique<BrowsingPage>(*controller_, *names_, *types_, *desktop_, this);
    controller_->attachPages(*diskStep_, *volumeStep_, *browsing_);
    buildControls();
    actions_ = std::make_unique<WizardActions>(this, names_->codePage());
    recovery_ = std::make_unique<RecoveryCommands>(*controller_, *browsing_, *names_, this);
    snapshots_ = std::make_unique<SnapshotCommands>(*controller_, *browsing_, *names_, this);
    tools_ = std::make_unique<ToolCommands>(*controller_, *browsing_, *recovery_, *names_, *types_, this);
    help_ = std::make_unique<HelpCommands>(*desktop_, this);
    help_->setHomePage(QString::fromUtf8(TAMSIN_HOME_PAGE));
    help_->setManualFolder(defaultManualFolder());
    wire();

    controller_->state().wizardStep = -1;
    diskStep_->populate();
    controller_->state().initialise();
    applyState();
}

WizardDialog::~WizardDialog()
{
    // The worker ends before the pages it reports to; the pages then go
    // before the session their models read.
    controller_->shutDown();
}

void WizardDialog::setDiskOpener(DiskOpener opener)
{
    controller_->setDiskOpener(std::move(opener));
}

void WizardDialog::setHomePage(const QString& address)
{
    help_->setHomePage(address);
}

void WizardDialog::setManualFolder(const QString& folder)
{
    help_->setManualFolder(folder);
}

QAction* WizardDialog::action(CommandId id) const
{
    return actions_->action(id);
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
    for (QWidget* tree : {static_cast<QWidget*>(diskStep_->tree()), static_cast<QWidget*>(volumeStep_->tree()),
                          static_cast<QWidget*>(browsing_->tree())}) {
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
    rightPane_->addWidget(statusPanel_);
    rightPane_->addWidget(browsing_->listPage());
    return rightPane_;
}

QWidget* WizardDialog::buildBottomRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    stop_ = stepButton(row, QStringLiteral("&Stop"), QStyle::SP_BrowserStop, text::kStopTip, QStringLiteral("stop"));
    layout->addWidget(diskStep_->identifyBox());
    layout->addWidget(diskStep_->rangeBox());
    layout->addStretch(1);
    layout->addWidget(stop_, 0, Qt::AlignBottom);
    return row;
}

void WizardDialog::wire()
{
    connect(controller_.get(), &WizardController::stateChanged, this, &WizardDialog::applyState);
    connect(controller_.get(), &WizardController::recoverSelectedRequested, this, [this] {
        if (QAction* recover = action(CommandId::RecoverSelected); recover && recover->isEnabled())
            recover->trigger();
    });
    connect(back_, &QPushButton::clicked, controller_.get(), &WizardController::back);
    connect(next_, &QPushButton::clicked, controller_.get(), &WizardController::next);
    connect(stop_, &QPushButton::clicked, controller_.get(), &WizardController::confirmStop);
    connect(volumeStep_.get(), &VolumeStepPage::volumePicked, browsing_.get(), &BrowsingPage::clearList);
    connect(browsing_.get(), &BrowsingPage::contextMenuRequested, actions_.get(), &WizardActions::popupContextMenu);
    connect(actions_.get(), &WizardActions::commandTriggered, this, &WizardDialog::runCommand);
    connect(actions_.get(), &WizardActions::codePageChosen, this, &WizardDialog::setCodePage);
    connect(actions_.get(), &WizardActions::homePageRequested, this, [this] { help_->openHomePage(); });

    using C = CommandId;
    handlers_ = {
        {C::OpenDiskImage, [this] { diskStep_->openDiskImage(); }},
        {C::RecoverSelected, [this] { recovery_->recover(false); }},
        {C::RecoverAll, [this] { recovery_->recover(true); }},
        {C::SaveSnapshot, [this] { snapshots_->save(); }},
        {C::LoadSnapshot, [this] { snapshots_->load(); }},
        {C::Exit, [this] { if (confirmExit()) exitProgram(); }},
        {C::Icons, [this] { browsing_->setListView(ListViewMode::Icons); }},
        {C::List, [this] { browsing_->setListView(ListViewMode::List); }},
        {C::Details, [this] { browsing_->setListView(ListViewMode::Details); }},
        {C::FindFiles, [this] { tools_->findFiles(); }},
        {C::FileFilters, [this] { tools_->editFileFilters(); }},
        {C::Settings, [this] { tools_->showSettings(); }},
        {C::DriveInformation, [this] { tools_->showDriveInformation(); }},
        {C::LiveUpdate, [this] { help_->liveUpdate(); }},
        {C::RestoreCompressed, [this] { tools_->restoreCompressed(); }},
        {C::DamageReport, [this] { tools_->showDamageReport(); }},
        {C::Contents, [this] { help_->helpContents(); }},
        {C::About, [this] { help_->showAbout(); }},
        {C::Open, [this] { browsing_->openEntry(false); }},
        {C::OpenWith, [this] { browsing_->openEntry(true); }},
        {C::Preview, [this] { browsing_->previewEntry(); }},
        {C::Rename, [this] { browsing_->startRename(); }},
        {C::Properties, [this] { browsing_->showProperties(); }},
    };
}

void WizardDialog::applyState()
{
    const WizardState& state = controller_->state();
    const WizardControls& c = state.controls;
    follow(diskStep_->tree(), c.diskTree);
    follow(volumeStep_->tree(), c.volumeTree);
    follow(browsing_->tree(), c.folderTree);
    follow(next_, c.next);
    follow(back_, c.back);
    follow(stop_, c.stop);

    browsing_->applyColumns(c.sixColumns);
    rightPane_->setCurrentWidget(c.fileListVisible ? browsing_->listPage() : static_cast<QWidget*>(statusPanel_));
    statusPanel_->apply(state.panel, c.progressVisible, c.progress);
    diskStep_->applyOptions(state);
    instruction_->setText(quickHelpHtml(state.instruction));
    actions_->apply(state);
    browsing_->applyListView(state.listView);
}

void WizardDialog::setCodePage(const std::string& codePage)
{
    if (!names_->setCodePage(codePage))
        return;
    QSettings().setValue(QString::fromUtf8(kCodePageSetting), QString::fromStdString(codePage));
    actions_->checkCodePage(codePage);
    browsing_->namesChanged();
}

void WizardDialog::runCommand(CommandId id)
{
    if (!state().commandEnabled(id))
        return;
    if (auto equivalent = menuBarEquivalent(id)) {
        // The right-click commands act as their menu-bar twins, but are not
        // subject to the menu states.
        id = *equivalent;
    }
    if (auto handler = handlers_.find(id); handler != handlers_.end())
        handler->second();
}

bool WizardDialog::confirmExit()
{
    return ui::MessageDialog::ask(this, text::kExitQuestion);
}

void WizardDialog::exitProgram()
{
    if (!state().workerRunning)
        controller_->releaseVolume();
    help_->openHomePage();
    browsing_->removeOpenedFiles();  // exitNow skips the destructors
    desktop_->exitNow();
}

void WizardDialog::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    const bool files = !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    if (files && state().commandEnabled(CommandId::OpenDiskImage))
        event->acceptProposedAction();
}

void WizardDialog::dropEvent(QDropEvent* event)
{
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            files.push_back(url.toLocalFile());
    if (files.isEmpty() || !state().commandEnabled(CommandId::OpenDiskImage))
        return;
    event->acceptProposedAction();
    diskStep_->addDiskFiles(files);
}

void WizardDialog::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->accept();
        return;
    }
    if (!confirmExit()) {
        event->ignore();
        return;
    }
    if (state().workerRunning) {
        help_->openHomePage();
        browsing_->removeOpenedFiles();
        desktop_->exitNow();
        event->ignore();
        return;
    }
    controller_->releaseVolume();
    help_->openHomePage();
    closing_ = true;
    event->accept();
}

} // namespace tamsin::app
