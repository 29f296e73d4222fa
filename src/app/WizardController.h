#pragma once
// The wizard's steps and its long work: the Session and the WizardState the
// controls follow, Next, Back and Stop, and the worker thread that searches
// for volumes or mounts one. The worker's reports reach the pages through
// SearchDisplay and MountDisplay on the UI thread. Shutting down stops the
// worker through the engine's stop flag and joins it.

#include "MountReporter.h"
#include "SearchReporter.h"
#include "UiBridge.h"
#include "WizardState.h"

#include "session/Session.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace tamsin::app {

class BrowsingPage;
class DiskStepPage;
class NameCodec;
class VolumeStepPage;
class WorkerThread;

class WizardController : public QObject, private SearchDisplay, private MountDisplay {
    Q_OBJECT
public:
    // Opens the selected disk for reading; false with a message when it cannot.
    using DiskOpener = std::function<bool(SectorReader& reader, const DiskInfo& disk, std::string& error)>;

    // window: what the controller's messages open over.
    WizardController(DiskTable disks, const NameCodec& names, QWidget* window);
    ~WizardController() override;

    // The pages the steps fill; given once, before the first Next. The disk
    // opener reads images through their rescue maps unless set otherwise.
    void attachPages(DiskStepPage& disks, VolumeStepPage& volumes, BrowsingPage& browsing);
    void setDiskOpener(DiskOpener opener) { openDisk_ = std::move(opener); }

    Session& session() { return session_; }
    WizardState& state() { return state_; }
    const WizardState& state() const { return state_; }
    // The controls follow the state (stateChanged).
    void applyState() { emit stateChanged(); }

    void next();
    void back();
    // Asks first; a confirmed Stop reaches the worker through the stop flag.
    void confirmStop();
    // The views let go of the mounted volume, which is then released.
    void releaseVolume();
    // Stops the worker and waits for it to end. A report it is waiting to
    // make is called off: the copy chooser answers Cancel.
    void shutDown();

signals:
    void stateChanged();
    // Next while browsing: the selection is to be recovered.
    void recoverSelectedRequested();

private:
    void nextFromDiskStep();
    // Opens the picked disks after the first into the session; false (with
    // the further disks closed again) when one cannot be opened.
    bool openMoreDisks();
    // Empties the volume table and lets go of the further disks; the records
    // and the picked volume point at them, so they go first.
    void closeMoreDisks();

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

    Session session_;
    WizardState state_;
    const NameCodec& names_;
    QWidget* window_;
    DiskOpener openDisk_;
    DiskStepPage* disks_ = nullptr;
    VolumeStepPage* volumes_ = nullptr;
    BrowsingPage* browsing_ = nullptr;
    std::vector<int> sessionDisks_;  // the disk list's numbers of the open disks, the selected one first
    // The worker's ordered reports run through reports_; closing it releases
    // a worker waiting for one.
    UiCalls reports_;
    std::unique_ptr<WorkerThread> worker_;
    bool closing_ = false;
};

} // namespace tamsin::app
