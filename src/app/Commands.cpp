#include "Commands.h"

namespace tamsin::app {

const char* commandText(CommandId id)
{
    switch (id) {
    case CommandId::RecoverSelected:
    case CommandId::ContextRecoverSelected:
        return "&Recover Selected...";
    case CommandId::RecoverAll:
    case CommandId::ContextRecoverAll:
        return "Recover &All...";
    case CommandId::SaveSnapshot:
        return "&Save Recovery Snapshot...";
    case CommandId::LoadSnapshot:
        return "&Load Recovery Snapshot...";
    case CommandId::Exit:
        return "E&xit...";
    case CommandId::Icons:
        return "Ico&ns";
    case CommandId::ContextIcons:
        return "Ico&ns     ";
    case CommandId::List:
    case CommandId::ContextList:
        return "&List";
    case CommandId::Details:
    case CommandId::ContextDetails:
        return "&Details";
    case CommandId::FindFiles:
    case CommandId::ContextFindFiles:
        return "&Find Files...";
    case CommandId::FileFilters:
        return "File Fi&lters...";
    case CommandId::Settings:
        return "Se&ttings...";
    case CommandId::ContextSettings:
        return "&Settings...";
    case CommandId::DriveInformation:
        return "&Drive Information";
    case CommandId::LiveUpdate:
        return "Live &Update";
    case CommandId::RestoreCompressed:
        return "Restore &Compress Files";
    case CommandId::Contents:
        return "&Contents";
    case CommandId::About:
        return "&About Corvane Tamsin Novell...";
    case CommandId::Open:
        return "&Open";
    case CommandId::OpenWith:
        return "Open &With...";
    case CommandId::Rename:
        return "Re&name";
    case CommandId::Properties:
        return "&Properties...";
    case CommandId::OpenDiskImage:
        return "Open Disk &Image...";
    case CommandId::DamageReport:
        return "Damage &Report";
    case CommandId::Preview:
        return "Pre&view";
    }
    return "";
}

bool commandGreyed(CommandId id, MenuState state)
{
    switch (id) {
    case CommandId::Settings:
        return false;
    case CommandId::LoadSnapshot:
        return state != MenuState::Volumes;
    case CommandId::RecoverSelected:
    case CommandId::RecoverAll:
    case CommandId::SaveSnapshot:
    case CommandId::Icons:
    case CommandId::List:
    case CommandId::Details:
    case CommandId::FindFiles:
    case CommandId::FileFilters:
    case CommandId::RestoreCompressed:
    case CommandId::DriveInformation:
    case CommandId::DamageReport:
        return state != MenuState::Browsing;
    default:
        return false;
    }
}

std::optional<CommandId> menuBarEquivalent(CommandId id)
{
    switch (id) {
    case CommandId::ContextRecoverSelected:
        return CommandId::RecoverSelected;
    case CommandId::ContextRecoverAll:
        return CommandId::RecoverAll;
    case CommandId::ContextIcons:
        return CommandId::Icons;
    case CommandId::ContextList:
        return CommandId::List;
    case CommandId::ContextDetails:
        return CommandId::Details;
    case CommandId::ContextFindFiles:
        return CommandId::FindFiles;
    case CommandId::ContextSettings:
        return CommandId::Settings;
    default:
        return std::nullopt;
    }
}

const std::vector<MenuLayout>& menuBarLayout()
{
    using C = CommandId;
    static const std::vector<MenuLayout> layout = {
        {"&Recovery",
         {{C::OpenDiskImage}, {}, {C::RecoverSelected}, {C::RecoverAll}, {}, {C::SaveSnapshot}, {C::LoadSnapshot}, {}, {C::Exit}}},
        {"&View", {{C::Icons}, {C::List}, {C::Details}}},
        {"&Tools",
         {{C::FindFiles}, {C::FileFilters}, {C::Settings}, {}, {C::DriveInformation}, {}, {C::LiveUpdate}, {},
          {C::RestoreCompressed}, {C::DamageReport}}},
        {"&Help", {{C::Contents}, {C::About}}},
    };
    return layout;
}

const ContextMenuLayout& contextMenuLayout()
{
    using C = CommandId;
    static const ContextMenuLayout layout = {
        {{C::Open}, {C::OpenWith}, {C::Preview}, {}, {C::ContextRecoverSelected}, {C::ContextRecoverAll}, {}},
        "&View",
        {{C::ContextIcons}, {C::ContextList}, {C::ContextDetails}},
        {{}, {C::ContextFindFiles}, {}, {C::Rename}, {}, {C::ContextSettings}, {}, {C::Properties}},
    };
    return layout;
}

const std::vector<ToolbarButton>& toolbarLayout()
{
    static const std::vector<ToolbarButton> layout = {
        {CommandId::RecoverSelected, "Copy the selected file(s) and folder(s) to your computer", "Recover"},
        {CommandId::RecoverAll, "Copy all the file(s) and folder(s) to your computer", "Recover All"},
        {CommandId::SaveSnapshot,
         "Saves the snapshot of scan information, so that later on you need not to scan the disk again", "Save"},
        {CommandId::LoadSnapshot, "Loads the data from previously saved scan information", "Load"},
        {CommandId::FindFiles, "Search the file(s) in the recovered data", "Find"},
        {CommandId::Settings, "Configures the software", "Settings"},
        {CommandId::LiveUpdate, "Updates the software with latest changes from internet", "Update"},
    };
    return layout;
}

} // namespace tamsin::app
