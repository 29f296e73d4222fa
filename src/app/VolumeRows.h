#pragma once
// The label/value rows the wizard shows of a volume: its properties in the
// status panel, and Drive Information. Labels are padded as displayed.

#include "StatusPanelState.h"

#include "mount/VolumeReports.h"
#include "volumes/VolumeInfo.h"

namespace tamsin::app {

// Volume Type, Start, End and Size.
LabelledRows volumePropertyRows(const VolumeInfo& volume);

// Drive Information's rows of the volume itself.
LabelledRows driveInformationRows(const MountedVolume& volume);
// The rows shown below them: segments, data area, hot-fix and mirrors.
LabelledRows layoutRows(const LayoutReport& report);
// The table sectors the mount could not read; none when every one read.
LabelledRows tableDamageRows(const TableReadDamage& damage);

// The labels, as displayed.
const char* volumePropertyLabel(VolumeProperty property);
std::string driveLabel(const DriveRow& row);

} // namespace tamsin::app
