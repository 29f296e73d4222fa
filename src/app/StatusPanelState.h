#pragma once
// The five label/value rows of the status panel and the status line, with
// the panel's modes.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsin::app {

// Label/value rows, labels as displayed.
using LabelledRows = std::vector<std::pair<std::string, std::string>>;

enum class StatusPanelMode { Hidden, Disk, VolumeSearch, Mount, Volume };

struct PanelRow {
    std::string label;
    std::string value;
    bool visible = false;
};

struct StatusPanelState {
    static constexpr std::size_t kRows = 5;

    std::array<PanelRow, kRows> rows;
    std::string statusLine;
    bool statusLineVisible = false;

    // Hides and empties every row and the status line.
    void hideAll();
    // Applies a mode. volumeRowsOnly: the volume-search mode of the
    // volume-table road, which shows the empty volume rows instead of the
    // search rows. endSector fills the search mode's last row.
    void show(StatusPanelMode mode, bool volumeRowsOnly = false, std::uint32_t endSector = 0);
    // Sets the values of the first rows in order.
    void setValues(const LabelledRows& labelledValues);
};

} // namespace tamsin::app
