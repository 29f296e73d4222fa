// The menu bar, toolbar and right-click menu of the wizard.

#include "WizardActions.h"

#include "NameCodec.h"
#include "WizardState.h"
#include "WizardTexts.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
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

WizardActions::WizardActions(QMainWindow* window, const std::string& codePage) : window_(window)
{
    buildMenus();
    checkCodePage(codePage);
    buildToolbar();
    buildContextMenu();
}

QAction* WizardActions::action(CommandId id) const
{
    auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void WizardActions::apply(const WizardState& state)
{
    for (auto& [id, action] : actions_)
        action->setEnabled(state.commandEnabled(id));
}

void WizardActions::checkCodePage(const std::string& codePage)
{
    if (codePages_)
        for (QAction* choice : codePages_->actions())
            choice->setChecked(choice->text().toStdString() == codePage);
}

void WizardActions::popupContextMenu(const QPoint& globalPos, bool fileRow)
{
    action(CommandId::OpenWith)->setEnabled(fileRow);
    action(CommandId::Preview)->setEnabled(fileRow);
    contextMenu_->popup(globalPos);
}

void WizardActions::buildMenus()
{
    for (const MenuLayout& layout : menuBarLayout()) {
        QMenu* menu = window_->menuBar()->addMenu(QString::fromUtf8(layout.title));
        for (const MenuEntry& entry : layout.entries) {
            if (!entry.id) {
                menu->addSeparator();
                continue;
            }
            const CommandId id = *entry.id;
            QAction* action = menu->addAction(commandIcon(window_->style(), id), QString::fromUtf8(commandText(id)));
            action->setData(static_cast<int>(id));
            connect(action, &QAction::triggered, this, [this, id] { emit commandTriggered(id); });
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

void WizardActions::buildCodePageMenu()
{
    // The code page of the volume's names, below the view modes; always
    // available, since it changes only how names are shown and written.
    QMenu* viewMenu = nullptr;
    for (QAction* entry : window_->menuBar()->actions())
        if (entry->menu() && entry->menu()->actions().contains(action(CommandId::Details)))
            viewMenu = entry->menu();
    if (!viewMenu)
        return;
    viewMenu->addSeparator();
    QMenu* pages = codePages_ = viewMenu->addMenu(QStringLiteral("Code &Page"));
    pages->setObjectName(QStringLiteral("codePageMenu"));
    auto* group = new QActionGroup(pages);
    for (const std::string& page : NameCodec::codePages()) {
        const QString name = QString::fromStdString(page);
        QAction* choice = pages->addAction(name);
        choice->setObjectName(QStringLiteral("codePage") + name);
        choice->setCheckable(true);
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, page] { emit codePageChosen(page); });
    }
}

void WizardActions::buildToolbar()
{
    QToolBar* bar = window_->addToolBar(QStringLiteral("Commands"));
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
        connect(tool, &QAction::triggered, this, [this, id] { emit commandTriggered(id); });
    }

    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    logo_ = new QToolButton(bar);
    logo_->setObjectName(QStringLiteral("homePageLogo"));
    logo_->setAutoRaise(true);
    logo_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    logo_->setIcon(window_->windowIcon());
    logo_->setIconSize(QSize(32, 32));
    logo_->setText(QStringLiteral("Corvane\nTamsin Novell"));
    logo_->setToolTip(QString::fromUtf8(text::kLogoTip));
    connect(logo_, &QToolButton::clicked, this, &WizardActions::homePageRequested);
    bar->addWidget(logo_);
}

void WizardActions::buildContextMenu()
{
    contextMenu_ = new QMenu(window_);
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
            connect(action, &QAction::triggered, this, [this, id] { emit commandTriggered(id); });
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
    window_->addAction(action(CommandId::Preview));
}

} // namespace tamsin::app
