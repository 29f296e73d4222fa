#pragma once
// The commands of the menu bar, toolbar and right-click menu by their ids,
// the menus they are built into, and which are greyed in each menu state.

#include <cstdint>
#include <optional>
#include <vector>

namespace tamsin::app {

enum class CommandId : int {
    RecoverSelected = 32806,
    RecoverAll = 32807,
    SaveSnapshot = 32772,
    LoadSnapshot = 32773,
    Exit = 32774,
    Icons = 32808,
    List = 59410,
    Details = 59411,
    FindFiles = 32813,
    FileFilters = 32814,
    Settings = 32815,
    DriveInformation = 32840,
    LiveUpdate = 32842,
    RestoreCompressed = 32843,
    Contents = 32816,
    About = 32817,
    // Right-click menu of the file list.
    Open = 32827,
    OpenWith = 32829,
    ContextRecoverSelected = 32825,
    ContextRecoverAll = 32826,
    ContextIcons = 32819,
    ContextList = 32820,
    ContextDetails = 32837,
    ContextFindFiles = 32836,
    Rename = 32839,
    ContextSettings = 32828,
    Properties = 32830,
    // Ours: lists an image file as one more disk in the disk step.
    OpenDiskImage = 40001,
    // Ours: lists what lies on unreadable sectors and marks it in the list.
    DamageReport = 40002,
    // Ours: shows the start of the marked file as text or hex.
    Preview = 40003,
};

// The columns of the menu-state table.
enum class MenuState { Start, Volumes, Browsing, Disk };

// The command text with its "&" mark.
const char* commandText(CommandId id);

// Whether the menu-state table greys the command in state. Commands outside
// the table (Exit, Contents, About, Live Update, the right-click menu) are
// never greyed.
bool commandGreyed(CommandId id, MenuState state);

// The menu-bar command a right-click command stands for, if any.
std::optional<CommandId> menuBarEquivalent(CommandId id);

// One entry of a menu: a command, or a separator when id is empty.
struct MenuEntry {
    std::optional<CommandId> id;
};

struct MenuLayout {
    const char* title;
    std::vector<MenuEntry> entries;
};

// The menu bar in order: Recovery, View, Tools, Help; Recovery opens with
// "Open Disk &Image..." and a separator.
const std::vector<MenuLayout>& menuBarLayout();

// The right-click menu; the entries of the "&View" submenu are viewEntries.
struct ContextMenuLayout {
    std::vector<MenuEntry> before;  // up to the View submenu
    const char* viewTitle;
    std::vector<MenuEntry> viewEntries;
    std::vector<MenuEntry> after;
};
const ContextMenuLayout& contextMenuLayout();

// The seven toolbar buttons, left to right, with their tooltips.
struct ToolbarButton {
    CommandId id;
    const char* tooltip;
    const char* label;  // the short text under the icon
};
const std::vector<ToolbarButton>& toolbarLayout();

} // namespace tamsin::app
