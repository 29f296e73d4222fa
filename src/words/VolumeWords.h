#pragma once
// The Properties report of a file or folder, the names of its NetWare
// attributes, and the values of the Drive Information rows that name more
// than a number, as both front ends show them.

#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReports.h"
#include "volumes/VolumeLayout.h"

#include <cstdint>
#include <string>

namespace tamsin::words {

struct PropertiesReport {
    std::string name;
    std::string size;       // "3 KB" for a file, "3 MB" / "Less than 1 MB" for a folder
    std::string contains;   // folders only: "1 File(s) and 2 Folder(s)"
    std::string dosName;           // the name in the DOS name space
    std::string creationDate;      // the entry's creation stamp: "07-Mar-1998 13:05:42"
    std::string modificationDate;  // its modification stamp; empty when none is recorded
    std::uint64_t bytes = 0;       // the exact size behind the rounded one (a folder: its subtree's files)
    std::string attributes;        // "Read Only, Hidden, Compressed", "None" when no bit is set
};

// The names of the NetWare attribute bits set in the entry's attribute bytes
// 4 and 7, joined by ", "; "None" when none is.
std::string attributeNames(std::uint8_t attributes, std::uint8_t attributesHigh);

// The report for a contents row.
PropertiesReport propertiesFor(const MountedVolume& volume, const ContentsRow& row);

// The rows shown below the volume's own: segments, data area, hot-fix and mirrors.
std::vector<DriveRow> layoutInformation(const LayoutReport& report);

// Rows counting the table sectors the mount could not read, per copy, and the
// directory sectors lost in both; none when every table sector read.
std::vector<DriveRow> tableDamageInformation(const TableReadDamage& damage);

} // namespace tamsin::words
