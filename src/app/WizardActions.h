#pragma once
// The wizard's commands as actions: the menu bar with its code-page menu,
// the toolbar with the home-page logo, and the right-click menu of the
// contents list. Each command's actions are enabled as the WizardState
// decides; triggering one asks for the command by its id.

#include "Commands.h"

#include <QObject>

#include <map>
#include <string>

class QAction;
class QMainWindow;
class QMenu;
class QPoint;
class QToolButton;

namespace tamsin::app {

class WizardState;

class WizardActions : public QObject {
    Q_OBJECT
public:
    // Builds the menus and the toolbar into window; codePage is the one
    // checked in the code-page menu.
    WizardActions(QMainWindow* window, const std::string& codePage);

    // The action of id (the right-click menu's own for its commands).
    QAction* action(CommandId id) const;
    // Enables each action as state decides.
    void apply(const WizardState& state);
    // Checks codePage in the code-page menu.
    void checkCodePage(const std::string& codePage);
    // Opens the right-click menu; Open With and Preview only for a file.
    void popupContextMenu(const QPoint& globalPos, bool fileRow);

signals:
    void commandTriggered(CommandId id);
    void codePageChosen(const std::string& codePage);
    void homePageRequested();

private:
    void buildMenus();
    void buildCodePageMenu();
    void buildToolbar();
    void buildContextMenu();

    QMainWindow* window_;
    std::map<CommandId, QAction*> actions_;
    QMenu* codePages_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QToolButton* logo_ = nullptr;
};

} // namespace tamsin::app
