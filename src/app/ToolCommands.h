#pragma once
// The Tools menu's commands: Find File(s), File Filters, Settings, Drive
// Information, Restore Compress Files and the Damage Report.

class QWidget;

namespace tamsin {
struct Session;
}

namespace tamsin::app {

class BrowsingPage;
class FileTypes;
class NameCodec;
class RecoveryCommands;
class WizardController;
class WizardState;

class ToolCommands {
public:
    ToolCommands(WizardController& controller, BrowsingPage& browsing, RecoveryCommands& recovery, NameCodec& names,
                 FileTypes& types, QWidget* window);

    void findFiles();
    void editFileFilters();
    void showSettings();
    void showDriveInformation();
    void restoreCompressed();
    // Scans the volume for what lies on unreadable sectors, shows the report
    // and marks the damaged entries in the contents list.
    void showDamageReport();

private:
    Session& session_;
    const WizardState& state_;
    BrowsingPage& browsing_;
    RecoveryCommands& recovery_;
    NameCodec* names_;
    FileTypes* types_;
    QWidget* window_;
};

} // namespace tamsin::app
