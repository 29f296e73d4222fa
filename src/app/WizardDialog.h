#pragma once
// The main window of the three-step wizard (disk, volume, browsing). It
// builds the step pages, the actions and the controller, wires them, and
// lays out the controls; the controls follow the WizardState the
// controller keeps beside the engine's Session.

#include "Commands.h"
#include "WizardController.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tamsin::app {

class BrowsingPage;
class Desktop;
class DiskStepPage;
class FileTypes;
class HelpCommands;
class NameCodec;
class RecoveryCommands;
class SnapshotCommands;
class StatusPanel;
class ToolCommands;
class VolumeStepPage;
class WizardActions;

class WizardDialog : public QMainWindow {
    Q_OBJECT
public:
    using DiskOpener = WizardController::DiskOpener;

    // disks: the listing to show. desktop: null for the real desktop.
    explicit WizardDialog(DiskTable disks, Desktop* desktop = nullptr, QWidget* parent = nullptr);
    ~WizardDialog() override;

    void setDiskOpener(DiskOpener opener);
    // The address the logo and the exit open (empty: none); the build's
    // TAMSIN_HOME_PAGE by default.
    void setHomePage(const QString& address);
    // The folder holding the user manual; found beside the program by default.
    void setManualFolder(const QString& folder);

    Session& session() { return controller_->session(); }
    const WizardState& state() const { return controller_->state(); }
    QAction* action(CommandId id) const;
    bool workerRunning() const { return state().workerRunning; }

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

private:
    void buildControls();
    QWidget* buildLeftPane();
    QWidget* buildRightPane();
    QWidget* buildBottomRow();
    void wire();
    void applyState();
    bool confirmExit();
    void exitProgram();

    std::unique_ptr<Desktop> ownDesktop_;
    Desktop* desktop_;
    std::unique_ptr<NameCodec> names_;
    std::unique_ptr<FileTypes> types_;
    // Members go in reverse order: the commands and pages before the
    // controller and its session, the controller before the codec and the
    // file types the pages' models read.
    std::unique_ptr<WizardController> controller_;
    std::unique_ptr<DiskStepPage> diskStep_;
    std::unique_ptr<VolumeStepPage> volumeStep_;
    std::unique_ptr<BrowsingPage> browsing_;
    std::unique_ptr<WizardActions> actions_;
    std::unique_ptr<RecoveryCommands> recovery_;
    std::unique_ptr<SnapshotCommands> snapshots_;
    std::unique_ptr<ToolCommands> tools_;
    std::unique_ptr<HelpCommands> help_;
    std::map<CommandId, std::function<void()>> handlers_;  // what each menu-bar command does
    bool closing_ = false;

    StatusPanel* statusPanel_ = nullptr;
    QStackedWidget* rightPane_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* instruction_ = nullptr;
};

} // namespace tamsin::app
