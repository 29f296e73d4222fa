#pragma once
// The command's own words for what the engine reports: the copy chooser's
// prompt, refused filters and search ranges, snapshot failures on one line,
// the tables' damage and the labels of the volume reports.

#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReports.h"
#include "search/FileFilters.h"
#include "snapshot/Snapshot.h"
#include "volumes/VolumeInfo.h"
#include "volumes/VolumeSearch.h"

#include <cstdint>
#include <string>

namespace tamsin::cli {

// The copy chooser's heading and message, one line break per line.
const char* copyChooserCaption(TableKind kind);
const char* copyChooserMessage(TableKind kind);

// Why a filter was refused; null for Added.
const char* filterNotice(FilterAddResult result);

// Why a search range was refused; null for None.
const char* rangeMessage(RangeProblem problem);

// Why a snapshot could not be saved or loaded, without trailing blanks; empty for Ok.
std::string snapshotMessage(const SnapshotResult& result);

// The tables' unreadable sectors in one line:
// "FAT copy 1: 0, copy 2: 0; DET copy 1: 1, copy 2: 1[; N directory sector(s) ...]".
std::string tableDamageSummary(const TableReadDamage& damage);

// The labels of the report rows, without the colon that follows them.
const char* volumePropertyLabel(VolumeProperty property);
std::string driveLabel(const DriveRow& row);

} // namespace tamsin::cli
