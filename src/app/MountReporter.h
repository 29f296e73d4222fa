#pragma once
// Carries the mount's reports from its worker to the window, worded as the
// wizard shows them, and asks the copy chooser on the window's thread while
// the mount waits.

#include "UiBridge.h"

#include "mount/Mount.h"
#include "mount/MountObserver.h"

#include <QObject>

namespace tamsin::app {

// The instruction panel's text.
const char* mountInstructionText(MountInstruction instruction);

// What the window shows of a mount; called on the UI thread only.
class MountDisplay {
public:
    virtual ~MountDisplay() = default;
    virtual void showMountStatus(const std::string& text) = 0;
    virtual void showMountProgress(int percent) = 0;
    virtual void showMountInstruction(const std::string& text) = 0;
    virtual void enterMountStage(MountStage stage) = 0;
    virtual void showMountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName) = 0;
    virtual CopyChoice askCopy(TableKind kind) = 0;
    virtual void mountFinished(MountResult result) = 0;
};

class MountReporter final : public MountObserver {
public:
    MountReporter(QObject* context, MountDisplay& display);

    void mountStatus(MountStatus status, const std::string& volumeName) override;
    void mountProgress(int percent) override;
    void mountInstruction(MountInstruction instruction) override;
    void mountStage(MountStage stage) override;
    void mountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName) override;
    CopyChoice chooseCopy(TableKind kind) override;
    // The mount has returned: the window enters the step that follows.
    void finish(MountResult result);

private:
    struct Counters {
        std::uint32_t folders, files;
        std::string lastName;
    };

    // Runs f on the UI thread after the pending frequent reports.
    void ordered(const std::function<void()>& f);

    QObject* context_;
    MountDisplay& display_;
    Coalesced<int> progress_;
    Coalesced<Counters> counters_;
};

} // namespace tamsin::app
