// The menu bar, toolbar and right-click menu of the wizard, and the
// dispatch of their commands.

#include "WizardDialog.h"

#include "ContentsModel.h"
#include "FolderTreeModel.h"

#include "NameCodec.h"

#include "WizardTexts.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QActionGroup>
#include <QMenu>
#include <QSettings>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace tamsin::app {
namespace {

// Theme icon names for the commands that have a picture, with a style icon
// for desktops without an icon theme.
QIcon commandIcon(const QStyle* style, CommandId id)
{
    struct Picture {
        const char* theme;
        QStyle::StandardPixmap fallback;
    };
    Picture picture{nullptr, QStyle::SP_CustomBase};
    switch (id) {
    case CommandId::RecoverSelected:
        picture = {"document-save-as", QStyle::SP_DialogSaveButton};
        break;
    case CommandId::RecoverAll:
        picture = {"drive-harddisk", QStyle::SP_DriveHDIcon};
        break;
    case CommandId::SaveSnapshot:
        picture = {"document-save", QStyle::SP_DialogSaveButton};
        break;
    case CommandId::LoadSnapshot:
        picture = {"document-open", QStyle::SP_DialogOpenButton};
        break;
    case CommandId::OpenDiskImage:
        picture = {"media-optical", QStyle::SP_DriveCDIcon};
        break;
    case CommandId::FindFiles:
        picture = {"edit-find", QStyle::SP_FileDialogContentsView};
        break;
    case CommandId::Settings:
        picture = {"preferences-system", QStyle::SP_FileDialogDetailedView};
        break;
    case CommandId::LiveUpdate:
        picture = {"system-software-update", QStyle::SP_BrowserReload};
        break;
    case CommandId::Exit:
        picture = {"application-exit", QStyle::SP_DialogCloseButton};
        break;
    case CommandId::Contents:
        picture = {"help-contents", QStyle::SP_DialogHelpButton};
        break;
    case CommandId::About:
        picture = {"help-about", QStyle::SP_MessageBoxInformation};
        break;
    case CommandId::DriveInformation:
        picture = {"dialog-information", QStyle::SP_MessageBoxInformation};
        break;
    case CommandId::DamageReport:
        picture = {"dialog-warning", QStyle::SP_MessageBoxWarning};
        break;
    default:
        return {};
    }
    return QIcon::fromTheme(QString::fromUtf8(picture.theme), style->standardIcon(picture.fallback));
}

} // namespace

void WizardDialog::buildMenus()
{
    for (const MenuLayout& layout : menuBarLayout()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(layout.title));
        for (const MenuEntry& entry : layout.entries) {
            if (!entry.id) {
                menu->addSeparator();
                continue;
            }
            const CommandId id = *entry.id;
            QAction* action = menu->addAction(commandIcon(style(), id), QString::fromUtf8(commandText(id)));
            action->setData(static_cast<int>(id));
            connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
            actions_[id] = action;
        }
    }
    action(CommandId::OpenDiskImage)->setShortcut(QKeySequence::Open);
    action(CommandId::Contents)->setShortcut(QKeySequence(Qt::Key_F1));
    action(CommandId::Contents)->setShortcutContext(Qt::ApplicationShortcut);
    for (CommandId id : {CommandId::Icons, CommandId::List, CommandId::Details})
        action(id)->setCheckable(false);
    buildCodePageMenu();
}

void WizardDialog::buildCodePageMenu()
{
    // The code page of the volume's names, below the view modes; always
    // available, since it changes only how names are shown and written.
    QMenu* viewMenu = nullptr;
    for (QAction* entry : menuBar()->actions())
        if (entry->menu() && entry->menu()->actions().contains(action(CommandId::Details)))
            viewMenu = entry->menu();
    if (!viewMenu)
        return;
    viewMenu->addSeparator();
    QMenu* pages = viewMenu->addMenu(QStringLiteral("Code &Page"));
    pages->setObjectName(QStringLiteral("codePageMenu"));
    auto* group = new QActionGroup(pages);
    for (const std::string& page : NameCodec::codePages()) {
        const QString name = QString::fromStdString(page);
        QAction* choice = pages->addAction(name);
        choice->setObjectName(QStringLiteral("codePage") + name);
        choice->setCheckable(true);
        choice->setChecked(page == names_->codePage());
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, page] { setCodePage(page); });
    }
}

void WizardDialog::setCodePage(const std::string& codePage)
{
    if (!names_->setCodePage(codePage))
        return;
    QSettings().setValue(QString::fromUtf8(kCodePageSetting), QString::fromStdString(codePage));
    if (QMenu* pages = findChild<QMenu*>(QStringLiteral("codePageMenu")))
        for (QAction* choice : pages->actions())
            choice->setChecked(choice->text().toStdString() == codePage);
    // Names are converted as they are shown: the views ask again.
    folderModel_->namesChanged();
    contents_->namesChanged();
    fitNameColumns();
}

void WizardDialog::buildToolbar()
{
    QToolBar* bar = addToolBar(QStringLiteral("Commands"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const ToolbarButton& button : toolbarLayout()) {
        // The button shares the menu command, so it is greyed (and does
        // nothing) exactly while the menu entry is.
        QAction* command = action(button.id);
        QAction* tool = bar->addAction(command->icon(), QString::fromUtf8(button.label));
        tool->setToolTip(QString::fromUtf8(button.tooltip));
        tool->setObjectName(QStringLiteral("tool%1").arg(static_cast<int>(button.id)));
        tool->setEnabled(command->isEnabled());
        connect(command, &QAction::changed, tool, [tool, command] { tool->setEnabled(command->isEnabled()); });
        const CommandId id = button.id;
        connect(tool, &QAction::triggered, this, [this, id] { runCommand(id); });
    }

    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    logo_ = new QToolButton(bar);
    logo_->setObjectName(QStringLiteral("homePageLogo"));
    logo_->setAutoRaise(true);
    logo_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    logo_->setIcon(windowIcon());
    logo_->setIconSize(QSize(32, 32));
    logo_->setText(QStringLiteral("Corvane\nTamsin Novell"));
    logo_->setToolTip(QString::fromUtf8(text::kLogoTip));
    connect(logo_, &QToolButton::clicked, this, &WizardDialog::openHomePage);
    bar->addWidget(logo_);
}

void WizardDialog::buildContextMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("contextMenu"));
    auto add = [this](QMenu* menu, const std::vector<MenuEntry>& entries) {
        for (const MenuEntry& entry : entries) {
            if (!entry.id) {
                menu->addSeparator();
                continue;
            }
            const CommandId id = *entry.id;
            QAction* action = menu->addAction(QString::fromUtf8(commandText(id)));
            action->setData(static_cast<int>(id));
            connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
            actions_[id] = action;
        }
    };
    const ContextMenuLayout& layout = contextMenuLayout();
    add(contextMenu_, layout.before);
    QMenu* view = contextMenu_->addMenu(QString::fromUtf8(layout.viewTitle));
    add(view, layout.viewEntries);
    add(contextMenu_, layout.after);
    // F3 previews the marked file from anywhere in the window.
    action(CommandId::Preview)->setShortcut(QKeySequence(Qt::Key_F3));
    addAction(action(CommandId::Preview));
}

void WizardDialog::runCommand(CommandId id)
{
    if (!state_.commandEnabled(id))
        return;
    if (auto equivalent = menuBarEquivalent(id)) {
        // The right-click commands act as their menu-bar twins, but are not
        // subject to the menu states.
        id = *equivalent;
    }
    switch (id) {
    case CommandId::SaveSnapshot:
        saveSnapshot();
        break;
    case CommandId::LoadSnapshot:
        loadSnapshot();
        break;
    case CommandId::OpenDiskImage:
        openDiskImage();
        break;
    case CommandId::Exit:
        if (confirmExit())
            exitProgram();
        break;
    case CommandId::Icons:
        setListView(ListViewMode::Icons);
        break;
    case CommandId::List:
        setListView(ListViewMode::List);
        break;
    case CommandId::Details:
        setListView(ListViewMode::Details);
        break;
    case CommandId::Settings:
        showSettings();
        break;
    case CommandId::DriveInformation:
        showDriveInformation();
        break;
    case CommandId::LiveUpdate:
        liveUpdate();
        break;
    case CommandId::Contents:
        helpContents();
        break;
    case CommandId::About:
        showAbout();
        break;
    case CommandId::Open:
        openEntry(false);
        break;
    case CommandId::OpenWith:
        openEntry(true);
        break;
    case CommandId::Preview:
        previewEntry();
        break;
    case CommandId::Rename:
        startRename();
        break;
    case CommandId::Properties:
        showProperties();
        break;
    case CommandId::RecoverSelected:
        recover(false);
        break;
    case CommandId::RecoverAll:
        recover(true);
        break;
    case CommandId::FindFiles:
        findFiles();
        break;
    case CommandId::FileFilters:
        editFileFilters();
        break;
    case CommandId::RestoreCompressed:
        restoreCompressed();
        break;
    case CommandId::DamageReport:
        showDamageReport();
        break;
    default:
        break;
    }
}

} // namespace tamsin::app
