#include "StatusPanelState.h"

#include "SearchTexts.h"

namespace tamsin::app {
namespace {

constexpr std::array<const char*, 5> kDiskLabels = {"Model                  ", "Capacity              ",
                                                    "Cylinders              ", "Head                   ",
                                                    "Sectors Per Track "};
constexpr std::array<const char*, 4> kVolumeLabels = {"Volume Type  ", "Volume Start    ", "Volume End      ",
                                                      "Volume Size     "};
constexpr std::array<const char*, 3> kSearchLabels = {"Volume(s) Found  ", "Current Sector", "End Sector     "};
constexpr std::array<const char*, 3> kMountLabels = {"File(s) Found  ", "Folder(s) Found  ", "Last File/Folder  "};

template <std::size_t N>
void relabel(std::array<PanelRow, StatusPanelState::kRows>& rows, const std::array<const char*, N>& labels)
{
    for (std::size_t i = 0; i < N; ++i) {
        rows[i].label = labels[i];
        rows[i].visible = true;
    }
}

} // namespace

void StatusPanelState::hideAll()
{
    for (auto& row : rows)
        row = PanelRow{};
    statusLine.clear();
    statusLineVisible = false;
}

void StatusPanelState::show(StatusPanelMode mode, bool volumeRowsOnly, std::uint32_t endSector)
{
    switch (mode) {
    case StatusPanelMode::Hidden:
        hideAll();
        break;
    case StatusPanelMode::Disk:
        relabel(rows, kDiskLabels);
        statusLineVisible = false;
        break;
    case StatusPanelMode::VolumeSearch:
        hideAll();
        if (volumeRowsOnly) {
            // The volume rows alone, empty until a volume is picked: the disk's
            // values under volume labels would describe nothing.
            relabel(rows, kVolumeLabels);
            break;
        }
        relabel(rows, kSearchLabels);
        rows[0].value = "0";
        rows[1].value = "0";
        rows[2].value = std::to_string(endSector);
        statusLine = texts::kSearchingStatus;
        statusLineVisible = true;
        break;
    case StatusPanelMode::Mount:
        hideAll();
        relabel(rows, kMountLabels);
        statusLineVisible = true;
        break;
    case StatusPanelMode::Volume:
        hideAll();
        relabel(rows, kVolumeLabels);
        break;
    }
}

void StatusPanelState::setValues(const LabelledRows& labelledValues)
{
    for (std::size_t i = 0; i < labelledValues.size() && i < kRows; ++i)
        rows[i].value = labelledValues[i].second;
}

} // namespace tamsin::app
