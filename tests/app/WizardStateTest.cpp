#include "WizardState.h"
#include "MountTexts.h"
#include "SearchTexts.h"
#include "StatusWords.h"
#include "VolumeRows.h"
#include "WizardTexts.h"

#include "disk/DiskInfo.h"

#include <gtest/gtest.h>

namespace tamsin::app {
namespace {

DiskInfo disk(std::uint32_t totalSectors)
{
    DiskInfo d;
    d.model = "QEMU HARDDISK";
    d.cylinders = 1000;
    d.heads = 255;
    d.sectorsPerTrack = 63;
    d.totalSectors = totalSectors;
    return d;
}

VolumeInfo volume()
{
    VolumeInfo v;
    v.name = "SYS";
    v.startSector = 1'000'000;
    v.sizeSectors = 4'194'304;
    v.blockCount = 524'288;
    v.sectorsPerBlock = 8;
    return v;
}

std::vector<std::string> labels(const StatusPanelState& panel)
{
    std::vector<std::string> shown;
    for (const PanelRow& row : panel.rows)
        if (row.visible)
            shown.push_back(row.label);
    return shown;
}

const Shown hidden{false, false};
const Shown active{true, true};

TEST(MenuStates, FollowTheTable)
{
    using C = CommandId;
    const std::vector<C> browsingOnly = {C::RecoverSelected, C::RecoverAll, C::SaveSnapshot,      C::Icons,
                                         C::List,            C::Details,    C::FindFiles,         C::FileFilters,
                                         C::RestoreCompressed, C::DriveInformation};
    for (MenuState state : {MenuState::Start, MenuState::Volumes, MenuState::Browsing, MenuState::Disk}) {
        for (C id : browsingOnly)
            EXPECT_EQ(commandGreyed(id, state), state != MenuState::Browsing) << static_cast<int>(id);
        EXPECT_EQ(commandGreyed(C::LoadSnapshot, state), state != MenuState::Volumes);
        for (C id : {C::Settings, C::Exit, C::Contents, C::About, C::LiveUpdate, C::Open, C::OpenWith, C::Rename,
                     C::Properties, C::ContextRecoverAll, C::ContextFindFiles})
            EXPECT_FALSE(commandGreyed(id, state)) << static_cast<int>(id);
    }
}

class WizardStateTest : public ::testing::Test {
protected:
    void SetUp() override { state.initialise(); }

    void toVolumeStepByTable()
    {
        state.diskSelected(disk(16'065'000));
        state.beginNext();
        state.enterVolumeStep();
    }

    WizardState state;
};

TEST_F(WizardStateTest, StartsInTheDiskStepWithNothingToPress)
{
    EXPECT_EQ(state.wizardStep, 0);
    EXPECT_TRUE(state.busy);
    EXPECT_EQ(state.menuState, MenuState::Start);
    EXPECT_EQ(state.identifyMode, IdentifyMode::VolumeTable);
    EXPECT_EQ(state.controls.diskTree, active);
    EXPECT_EQ(state.controls.next, hidden);
    EXPECT_EQ(state.controls.back, hidden);
    EXPECT_EQ(state.controls.stop, hidden);
    EXPECT_TRUE(state.controls.identifyOptionsVisible);
    EXPECT_FALSE(state.controls.selectRangeVisible);
    EXPECT_FALSE(state.controls.progressVisible);
    EXPECT_FALSE(state.controls.fileListVisible);
    EXPECT_EQ(state.instruction, text::kDiskAtStartInstruction);
    EXPECT_EQ(labels(state.panel), (std::vector<std::string>{"Model                  ", "Capacity              ",
                                                             "Cylinders              ", "Head                   ",
                                                             "Sectors Per Track "}));
    EXPECT_FALSE(state.panel.statusLineVisible);
}

TEST_F(WizardStateTest, SelectingADiskFillsTheGeometryAndPresetsTheRange)
{
    state.diskSelected(disk(16'065'000));
    EXPECT_EQ(state.panel.rows[0].value, "QEMU HARDDISK");
    EXPECT_EQ(state.panel.rows[1].value, "7844 MB ( Approx )");
    EXPECT_EQ(state.panel.rows[2].value, "1000");
    EXPECT_EQ(state.panel.rows[3].value, "255");
    EXPECT_EQ(state.panel.rows[4].value, "63");
    EXPECT_EQ(state.startSectorText, "0");
    EXPECT_EQ(state.endSectorText, "16065000");
    EXPECT_EQ(state.controls.next, active);

    state.chooseIdentifyMode(IdentifyMode::SearchVolumes, nullptr);
    EXPECT_TRUE(state.controls.selectRangeVisible);
    const DiskInfo other = disk(2048);
    state.chooseIdentifyMode(IdentifyMode::SearchVolumes, &other);
    EXPECT_EQ(state.endSectorText, "2048");
    state.chooseIdentifyMode(IdentifyMode::VolumeTable, &other);
    EXPECT_FALSE(state.controls.selectRangeVisible);
}

TEST_F(WizardStateTest, AFifthRowAboutSegmentsComesAndGoesWithTheVolume)
{
    toVolumeStepByTable();
    LabelledRows rows = volumePropertyRows(volume());
    rows.emplace_back("Segments        ", "2 of 2 on a.img, b.img");
    state.volumeSelected(rows);
    EXPECT_EQ(labels(state.panel), (std::vector<std::string>{"Volume Type  ", "Volume Start    ", "Volume End      ",
                                                             "Volume Size     ", "Segments        "}));
    EXPECT_EQ(state.panel.rows[4].value, "2 of 2 on a.img, b.img");

    state.volumeSelected(volume());
    EXPECT_FALSE(state.panel.rows[4].visible);
    EXPECT_EQ(state.panel.rows[4].value, "");

    // A cancelled mount comes back to the rows of the volume picked.
    state.volumeSelected(rows);
    state.beginNext();
    state.beginMount();
    state.mountStage(MountStage::ReadingTables);
    state.abandonMount(rows);
    EXPECT_EQ(state.panel.rows[4].value, "2 of 2 on a.img, b.img");
    EXPECT_EQ(state.panel.rows[1].label, "Volume Start    ");
}

TEST_F(WizardStateTest, VolumeTableRoadShowsEmptyVolumeRows)
{
    toVolumeStepByTable();
    EXPECT_EQ(state.wizardStep, 1);
    EXPECT_EQ(state.menuState, MenuState::Volumes);
    EXPECT_TRUE(state.canLoadSnapshot());
    EXPECT_EQ(state.controls.diskTree, hidden);
    EXPECT_EQ(state.controls.volumeTree, active);
    EXPECT_EQ(state.controls.back, active);
    EXPECT_EQ(state.controls.next, hidden);
    EXPECT_FALSE(state.controls.identifyOptionsVisible);
    EXPECT_EQ(state.instruction, texts::kSelectVolumeInstruction);
    // The volume rows, empty until a volume is picked; none of the disk's
    // values stays behind under the new labels.
    EXPECT_EQ(state.panel.rows[0].label, "Volume Type  ");
    EXPECT_EQ(state.panel.rows[0].value, "");
    EXPECT_FALSE(state.panel.rows[4].visible);

    state.volumeSelected(volume());
    EXPECT_EQ(state.panel.rows[0].value, "Novell Traditional Volume");
    EXPECT_EQ(state.panel.rows[1].value, "1000000");
    EXPECT_EQ(state.panel.rows[2].value, "5194304");
    EXPECT_EQ(state.panel.rows[3].value, "2048 MB ( Aprox )");
    EXPECT_EQ(state.controls.next, active);
}

TEST_F(WizardStateTest, SearchRunsWithStopOnlyAndEndsInTheVolumeStep)
{
    state.diskSelected(disk(5000));
    state.chooseIdentifyMode(IdentifyMode::SearchVolumes, nullptr);
    state.beginNext();
    state.beginVolumeSearch(5000);
    EXPECT_TRUE(state.busy);
    EXPECT_TRUE(state.workerRunning);
    EXPECT_EQ(state.menuState, MenuState::Start);  // kept while the search runs
    EXPECT_FALSE(state.canLoadSnapshot());
    EXPECT_EQ(state.controls.next, hidden);
    EXPECT_EQ(state.controls.back, hidden);
    EXPECT_EQ(state.controls.stop, active);
    EXPECT_EQ(state.controls.volumeTree, (Shown{true, false}));
    EXPECT_TRUE(state.controls.progressVisible);
    EXPECT_FALSE(state.controls.selectRangeVisible);
    EXPECT_EQ(labels(state.panel), (std::vector<std::string>{"Volume(s) Found  ", "Current Sector", "End Sector     "}));
    EXPECT_EQ(state.panel.rows[2].value, "5000");
    EXPECT_EQ(state.panel.statusLine, texts::kSearchingStatus);
    EXPECT_TRUE(state.panel.statusLineVisible);

    state.showSearchProgress(60, words::scanningStatus(60, 5000), 1);
    state.showVolumesFound(2);
    EXPECT_EQ(state.panel.rows[0].value, "2");
    EXPECT_EQ(state.panel.rows[1].value, "60");
    EXPECT_EQ(state.panel.statusLine, "Scanning sector 60 Of 5000");
    EXPECT_EQ(state.controls.progress, 1);

    state.endVolumeSearch();
    EXPECT_EQ(state.wizardStep, 1);
    EXPECT_FALSE(state.busy);
    EXPECT_EQ(state.menuState, MenuState::Volumes);
    EXPECT_EQ(state.controls.stop, hidden);
    EXPECT_EQ(state.controls.back, active);
    EXPECT_EQ(state.controls.volumeTree, active);
    EXPECT_FALSE(state.controls.progressVisible);
    EXPECT_FALSE(state.panel.statusLineVisible);
    EXPECT_EQ(labels(state.panel),
              (std::vector<std::string>{"Volume Type  ", "Volume Start    ", "Volume End      ", "Volume Size     "}));
    EXPECT_EQ(state.instruction, texts::kSelectVolumeInstruction);
}

TEST_F(WizardStateTest, MountShowsItsStagesAndEntersBrowsing)
{
    toVolumeStepByTable();
    state.volumeSelected(volume());
    state.beginNext();
    state.beginMount();
    EXPECT_EQ(state.controls.back, hidden);
    EXPECT_FALSE(state.canLoadSnapshot());  // menu still says volumes, but a worker runs
    state.mountStage(MountStage::ReadingTables);
    EXPECT_EQ(labels(state.panel), (std::vector<std::string>{"File(s) Found  ", "Folder(s) Found  ", "Last File/Folder  "}));
    EXPECT_TRUE(state.panel.statusLineVisible);
    EXPECT_TRUE(state.controls.progressVisible);
    EXPECT_EQ(state.controls.stop, hidden);
    state.mountStage(MountStage::Matching);
    EXPECT_EQ(state.controls.stop, active);
    state.mountStage(MountStage::WalkingDirectory);
    EXPECT_EQ(state.controls.volumeTree, hidden);
    EXPECT_EQ(state.controls.folderTree, (Shown{true, false}));
    state.mountCounters(3, 17, "NOTES.TXT");
    EXPECT_EQ(state.panel.rows[0].value, "17");
    EXPECT_EQ(state.panel.rows[1].value, "3");
    EXPECT_EQ(state.panel.rows[2].value, "NOTES.TXT");
    state.mountStage(MountStage::BuildingTree);
    EXPECT_EQ(state.controls.stop, hidden);
    EXPECT_EQ(state.wizardStep, 2);
    state.completeMount();
    EXPECT_EQ(state.menuState, MenuState::Browsing);
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.commandEnabled(CommandId::SaveSnapshot));
    EXPECT_FALSE(state.commandEnabled(CommandId::LoadSnapshot));
    EXPECT_EQ(state.controls.folderTree, active);
    EXPECT_TRUE(state.controls.fileListVisible);
    EXPECT_TRUE(state.controls.sixColumns);
    EXPECT_EQ(state.controls.back, active);
    EXPECT_FALSE(state.controls.progressVisible);
    EXPECT_TRUE(state.canShowContextMenu());
}

TEST_F(WizardStateTest, SnapshotLoadEntersBrowsingWithThePanelHidden)
{
    toVolumeStepByTable();
    const std::string before = state.instruction;
    state.enterBrowsingFromSnapshot();
    EXPECT_EQ(state.wizardStep, 2);
    EXPECT_EQ(state.menuState, MenuState::Browsing);
    EXPECT_FALSE(state.busy);
    EXPECT_EQ(state.controls.volumeTree, hidden);
    EXPECT_EQ(state.controls.folderTree, active);
    EXPECT_TRUE(state.controls.fileListVisible);
    EXPECT_TRUE(state.controls.sixColumns);
    EXPECT_EQ(state.controls.back, active);
    EXPECT_TRUE(labels(state.panel).empty());
    EXPECT_FALSE(state.panel.statusLineVisible);
    EXPECT_EQ(state.instruction, before);  // only a completed mount changes it
}

} // namespace
} // namespace tamsin::app
