#pragma once
// The wizard's step logic as plain state: which step it is in, which
// controls are shown and enabled, what the status panel and instruction
// panel hold, and which commands the menu state enables. The window
// follows it; tests drive it without widgets.

#include "Commands.h"
#include "StatusPanelState.h"

#include "mount/MountObserver.h"

#include <cstdint>
#include <string>

namespace tamsin {
struct DiskInfo;
struct VolumeInfo;
} // namespace tamsin

namespace tamsin::app {

enum class IdentifyMode : std::uint16_t { VolumeTable = 1, SearchVolumes = 2 };
enum class StepView { Volume, Browsing };
enum class Direction { Forward, Backward };
enum class ListViewMode { Icons, List, Details };

struct Shown {
    bool visible = false;
    bool enabled = false;
    bool operator==(const Shown&) const = default;
};

struct WizardControls {
    Shown diskTree;
    Shown volumeTree;
    Shown folderTree;
    Shown next;
    Shown back;
    Shown stop;
    bool fileListVisible = false;
    bool sixColumns = false;  // the contents columns; otherwise the one "Details" column
    bool identifyOptionsVisible = false;
    bool selectRangeVisible = false;
    bool progressVisible = false;
    int progress = 0;
};

// What the window must do to the engine after Back.
enum class BackEffect { None, CloseDisk, ReleaseMount };

class WizardState {
public:
    int wizardStep = -1;  // -1 while starting; 0 disk, 1 volume, 2 browsing
    IdentifyMode identifyMode = IdentifyMode::VolumeTable;
    // Set from start-up until the first Next, and while a worker runs.
    bool busy = true;
    bool workerRunning = false;
    MenuState menuState = MenuState::Start;
    StatusPanelState panel;
    std::string instruction;
    WizardControls controls;
    ListViewMode listView = ListViewMode::Details;
    std::string startSectorText;
    std::string endSectorText;
    std::uint32_t searchEnd = 0;  // the end sector of the last search started

    // Start-up: the disk step with its instructions, nothing to press yet.
    void initialise();

    // Disk step.
    void diskSelected(const DiskInfo& disk);
    // Several disks picked: first is read first and sets the search range,
    // shown (the one clicked) fills the geometry rows, and selection (when
    // more than one disk is picked) names them in the status line.
    void disksSelected(const DiskInfo& first, const DiskInfo& shown, const std::string& selection);
    // Every disk was unpicked: nothing to read, no Next.
    void noDiskSelected();
    // The status line naming the picked disks; empty hides it.
    void showDiskSelection(const std::string& selection);
    // selected: the selected disk, whose size presets the range; may be null.
    void chooseIdentifyMode(IdentifyMode mode, const DiskInfo* selected);

    // Next: what every press does first.
    void beginNext();
    // Next on the disk step that ended there (a message, nothing found): Next
    // is offered again for the disk still selected.
    void nextStayedOnDisk();
    // Next with the volume table read and volumes found.
    void enterVolumeStep();
    // Next with a valid search range: the search worker starts.
    void beginVolumeSearch(std::uint32_t endSector);
    void showSearchProgress(std::uint64_t cursor, const std::string& statusLine, int percent);
    void showVolumesFound(std::uint32_t count);
    // The search loop ended, run to its end or stopped.
    void endVolumeSearch();

    // Volume step. rows: the four volume rows, and a fifth about segments
    // for a volume of several.
    void volumeSelected(const VolumeInfo& volume);
    void volumeSelected(const LabelledRows& rows);

    // The mount worker, from start to its end.
    void beginMount();
    void mountStage(MountStage stage);
    void mountStatus(const std::string& text);
    void mountProgress(int percent);
    void mountInstruction(const std::string& text);
    void mountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName);
    void completeMount();
    // A copy chooser was cancelled (or the volume could not be mounted):
    // back to the volume step with selected's properties.
    void abandonMount(const VolumeInfo& selected);
    void abandonMount(const LabelledRows& selectedRows);

    // A snapshot was loaded in the volume step.
    void enterBrowsingFromSnapshot();

    BackEffect back();

    void switchStepView(StepView view, Direction direction);
    void showStatusPanel(StatusPanelMode mode, std::uint32_t endSector = 0);
    void setMenuState(MenuState state) { menuState = state; }

    // The menu state decides, but disk images are added in the disk step only.
    bool commandEnabled(CommandId id) const
    {
        if (id == CommandId::OpenDiskImage)
            return wizardStep == 0 && !workerRunning;
        return !commandGreyed(id, menuState);
    }
    // Loading a snapshot refuses while busy, even where the menu enables it.
    bool canLoadSnapshot() const { return commandEnabled(CommandId::LoadSnapshot) && !busy; }
    // The right-click menu opens only while browsing and idle.
    bool canShowContextMenu() const { return wizardStep == 2 && !busy; }

private:
    void showVolumeProperties(const LabelledRows& rows);
};

} // namespace tamsin::app
