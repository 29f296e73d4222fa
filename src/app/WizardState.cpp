#include "WizardState.h"
#include "DiskWords.h"

#include "MountTexts.h"
#include "VolumeRows.h"
#include "WizardTexts.h"

#include "disk/DiskInfo.h"

namespace tamsin::app {

void WizardState::initialise()
{
    wizardStep = 0;
    busy = true;
    workerRunning = false;
    setMenuState(MenuState::Start);
    controls = WizardControls{};
    controls.diskTree = {true, true};
    controls.identifyOptionsVisible = true;
    showStatusPanel(StatusPanelMode::Disk);
    instruction = text::kDiskAtStartInstruction;
    identifyMode = IdentifyMode::VolumeTable;
    listView = ListViewMode::Details;
}

void WizardState::diskSelected(const DiskInfo& disk)
{
    disksSelected(disk, disk, {});
}

void WizardState::disksSelected(const DiskInfo& first, const DiskInfo& shown, const std::string& selection)
{
    if (wizardStep != 0 || workerRunning)
        return;
    startSectorText = "0";
    endSectorText = std::to_string(first.totalSectors);
    panel.setValues(words::diskGeometryRows(shown));
    showDiskSelection(selection);
    controls.next = {true, true};
}

void WizardState::showDiskSelection(const std::string& selection)
{
    if (wizardStep != 0 || workerRunning)
        return;
    panel.statusLine = selection;
    panel.statusLineVisible = !selection.empty();
}

void WizardState::noDiskSelected()
{
    if (wizardStep != 0 || workerRunning)
        return;
    showDiskSelection({});
    controls.next = {false, false};
}

void WizardState::chooseIdentifyMode(IdentifyMode mode, const DiskInfo* selected)
{
    identifyMode = mode;
    controls.selectRangeVisible = mode == IdentifyMode::SearchVolumes;
    if (mode == IdentifyMode::SearchVolumes) {
        startSectorText = "0";
        endSectorText = std::to_string(selected ? selected->totalSectors : 0);
    }
}

void WizardState::beginNext()
{
    listView = ListViewMode::Details;
    busy = false;
    controls.next = {false, false};
}

void WizardState::nextStayedOnDisk()
{
    if (wizardStep == 0 && !workerRunning)
        controls.next = {true, true};
}

void WizardState::enterVolumeStep()
{
    controls.volumeTree = {true, true};
    switchStepView(StepView::Volume, Direction::Forward);
    setMenuState(MenuState::Volumes);
    showStatusPanel(StatusPanelMode::VolumeSearch);
    instruction = texts::kSelectVolumeInstruction;
    wizardStep = 1;
}

void WizardState::beginVolumeSearch(std::uint32_t endSector)
{
    searchEnd = endSector;
    switchStepView(StepView::Volume, Direction::Forward);
    showStatusPanel(StatusPanelMode::VolumeSearch, endSector);
    controls.volumeTree = {true, false};
    busy = true;
    workerRunning = true;
}

void WizardState::showSearchProgress(std::uint64_t cursor, const std::string& statusLine, int percent)
{
    panel.rows[1].value = std::to_string(cursor);
    panel.statusLine = statusLine;
    controls.progress = percent;
}

void WizardState::showVolumesFound(std::uint32_t count)
{
    panel.rows[0].value = std::to_string(count);
}

void WizardState::endVolumeSearch()
{
    controls.volumeTree.enabled = true;
    controls.progressVisible = false;
    panel.statusLine.clear();
    panel.statusLineVisible = false;
    controls.stop = {false, false};
    controls.back = {true, true};
    setMenuState(MenuState::Volumes);
    showStatusPanel(StatusPanelMode::Volume);
    instruction = texts::kSelectVolumeInstruction;
    busy = false;
    workerRunning = false;
    wizardStep = 1;
}

void WizardState::volumeSelected(const VolumeInfo& volume)
{
    volumeSelected(volumePropertyRows(volume));
}

void WizardState::volumeSelected(const LabelledRows& rows)
{
    if (wizardStep != 1 || workerRunning)
        return;
    showVolumeProperties(rows);
    controls.next = {true, true};
}

void WizardState::showVolumeProperties(const LabelledRows& rows)
{
    panel.setValues(rows);
    // The volume rows keep their labels; a fifth row, about segments, comes
    // and goes with the volume picked.
    constexpr std::size_t kSegmentRow = 4;
    PanelRow& extra = panel.rows[kSegmentRow];
    if (rows.size() > kSegmentRow)
        extra = {rows[kSegmentRow].first, rows[kSegmentRow].second, true};
    else
        extra = PanelRow{};
}

void WizardState::beginMount()
{
    controls.folderTree = {false, false};
    controls.back = {false, false};
    busy = true;
    workerRunning = true;
}

void WizardState::mountStage(MountStage stage)
{
    switch (stage) {
    case MountStage::ReadingTables:
        showStatusPanel(StatusPanelMode::Mount);
        controls.progressVisible = true;
        controls.progress = 0;
        controls.next = {false, false};
        controls.volumeTree.enabled = false;
        break;
    case MountStage::Matching:
        controls.stop = {true, true};
        break;
    case MountStage::WalkingDirectory:
        switchStepView(StepView::Browsing, Direction::Forward);
        break;
    case MountStage::BuildingTree:
        controls.stop = {false, false};
        wizardStep = 2;
        controls.sixColumns = true;
        controls.progress = 0;
        break;
    }
}

void WizardState::mountStatus(const std::string& text)
{
    panel.statusLine = text;
}

void WizardState::mountProgress(int percent)
{
    controls.progress = percent;
}

void WizardState::mountInstruction(const std::string& text)
{
    instruction = text;
}

void WizardState::mountCounters(std::uint32_t folders, std::uint32_t files, const std::string& lastName)
{
    panel.rows[0].value = std::to_string(files);
    panel.rows[1].value = std::to_string(folders);
    panel.rows[2].value = lastName;
}

void WizardState::completeMount()
{
    wizardStep = 2;
    controls.stop = {false, false};
    controls.folderTree = {true, true};
    controls.fileListVisible = true;
    controls.sixColumns = true;
    controls.next = {true, true};
    controls.progressVisible = false;
    controls.back = {true, true};
    setMenuState(MenuState::Browsing);
    busy = false;
    workerRunning = false;
}

void WizardState::abandonMount(const VolumeInfo& selected)
{
    abandonMount(volumePropertyRows(selected));
}

void WizardState::abandonMount(const LabelledRows& selectedRows)
{
    controls.stop = {false, false};
    controls.progressVisible = false;
    controls.progress = 0;
    controls.volumeTree = {true, true};
    controls.folderTree = {false, false};
    controls.back = {true, true};
    controls.next = {true, true};
    showStatusPanel(StatusPanelMode::Volume);
    showVolumeProperties(selectedRows);
    instruction = texts::kSelectVolumeInstruction;
    busy = false;
    workerRunning = false;
    wizardStep = 1;
}

void WizardState::enterBrowsingFromSnapshot()
{
    // The loader has built the tree already; the window shows it at once.
    wizardStep = 2;
    switchStepView(StepView::Browsing, Direction::Forward);
    controls.progress = 0;
    controls.folderTree.enabled = true;
    panel.hideAll();
    controls.fileListVisible = true;
    controls.back = {true, true};
    controls.progressVisible = false;
    setMenuState(MenuState::Browsing);
    busy = false;
}

BackEffect WizardState::back()
{
    if (workerRunning)
        return BackEffect::None;
    listView = ListViewMode::Details;
    controls.next = {false, false};
    controls.fileListVisible = false;

    switch (wizardStep) {
    case 1:
        switchStepView(StepView::Volume, Direction::Backward);
        setMenuState(MenuState::Disk);
        showStatusPanel(StatusPanelMode::Disk);
        wizardStep = 0;
        instruction = text::kDiskAfterBackInstruction;
        return BackEffect::CloseDisk;
    case 2:
        switchStepView(StepView::Browsing, Direction::Backward);
        wizardStep = 1;
        setMenuState(MenuState::Volumes);
        showStatusPanel(StatusPanelMode::VolumeSearch, searchEnd);
        instruction = text::kVolumeAfterBackInstruction;
        panel.statusLine.clear();
        panel.statusLineVisible = false;
        return BackEffect::ReleaseMount;
    default:
        return BackEffect::None;
    }
}

void WizardState::switchStepView(StepView view, Direction direction)
{
    const bool search = identifyMode == IdentifyMode::SearchVolumes;
    if (view == StepView::Volume && direction == Direction::Forward) {
        controls.diskTree = {false, false};
        controls.identifyOptionsVisible = false;
        controls.back = {true, true};
        if (search) {
            controls.next = {false, false};
            controls.back = {false, false};
            controls.stop = {true, true};
            controls.progressVisible = true;
            controls.progress = 0;
        }
    } else if (view == StepView::Volume) {
        controls.diskTree = {true, true};
        controls.volumeTree = {false, false};
        controls.identifyOptionsVisible = true;
        controls.back = {false, false};
        if (search)
            controls.selectRangeVisible = true;
    } else if (direction == Direction::Forward) {
        controls.volumeTree = {false, false};
        controls.folderTree = {true, false};
        controls.sixColumns = true;
    } else {
        controls.volumeTree = {true, true};
        controls.folderTree = {false, false};
        controls.sixColumns = false;
    }
}

void WizardState::showStatusPanel(StatusPanelMode mode, std::uint32_t endSector)
{
    const bool tableRoad = identifyMode == IdentifyMode::VolumeTable;
    panel.show(mode, mode == StatusPanelMode::VolumeSearch && tableRoad, endSector);
    if (mode == StatusPanelMode::VolumeSearch)
        controls.selectRangeVisible = false;
}

} // namespace tamsin::app
