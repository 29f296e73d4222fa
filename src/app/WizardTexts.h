#pragma once
// The wizard's own texts, as displayed: caption, instructions, questions,
// messages, control labels and tooltips.

#include "recovery/Extraction.h"

#include <string>

namespace tamsin::app::text {

inline constexpr const char* kCaption = "Corvane Tamsin Novell (Traditional Volumes)";

// Tree roots.
inline constexpr const char* kMyComputer = "My Computer";
inline constexpr const char* kStorageDevicePrefix = "Storage Device ";

// Instruction panel.
inline constexpr const char* kDiskAtStartInstruction =
    "\r\n                1. Select the disk to recover from left pane.\r\n                2. Select the Volume Identify "
    "Option.\r\n                3. Click Next Button.";
inline constexpr const char* kDiskAfterBackInstruction =
    "\r\n                1. Select the disk to scan from left pane.\r\n                2. Select the scan "
    "type.\r\n                3. Click Next Button.";
inline constexpr const char* kVolumeAfterBackInstruction =
    "\r\n                1. Select the partition to recover from left pane or use Search Partitions for a quick search "
    "of missing partitions.\r\n                2. Click Next Button";

// Questions and messages.
inline constexpr const char* kNoVolumeFound = "No Volume Found  !! \r\nSelect Search Volumes and than Click Next.";
inline constexpr const char* kStopQuestion = "Do you want to stop the current process ?";
inline constexpr const char* kExitQuestion = "Do you really want to exit ?";
inline constexpr const char* kLiveUpdateBySystem =
    "Tamsin has no updater of its own on this system. Updates come with the system's packages: update the tamsin "
    "package with your distribution's software updater or package manager (for example, apt upgrade).";
inline constexpr const char* kHelpMissing = " Corvane Tamsin Novell.chm not found";

// After a mount some of whose table sectors did not read; the counts, a row
// a line, go between the two.
inline constexpr const char* kTableDamageHead = "The volume is mounted, but some sectors of its tables could not be read:";
inline constexpr const char* kTableDamageTail =
    "Entries in unreadable directory sectors are missing from the tree.\r\nDrive Information shows these counts; "
    "the Damage Report names the damaged files.";

// Recover Selected with no folder ticked and no file selected.
inline constexpr const char* kNothingSelected =
    "Nothing is selected: tick folders in the tree or select files in the list.";

// Our caption of the folder chooser of the recovery commands.
inline constexpr const char* kDestinationCaption = "Select the folder to save the recovered data in";

// The user manual's first page, in the manual folder.
inline constexpr const char* kManualPage = "index.html";
// The help window's caption and its search field's placeholder.
inline constexpr const char* kHelpCaption = "Tamsin User Manual";
inline constexpr const char* kHelpSearchPlaceholder = "Search the manual";

// Controls.
inline constexpr const char* kIdentifyOptions = "Volume Identify Options";
inline constexpr const char* kUseVolumeTable = "Use Volume Table";
inline constexpr const char* kSearchVolumes = "Search Volumes";
inline constexpr const char* kSelectRange = "Select Range";
inline constexpr const char* kStartSector = "Start Sector";
inline constexpr const char* kEndSector = "End Sector";
inline constexpr const char* kStopTip = "Stops the current process";
inline constexpr const char* kBackTip = "Go to previous step";
inline constexpr const char* kNextTip = "Go to next step";
inline constexpr const char* kLogoTip = "Click here to visit software home page";
inline constexpr const char* kDetailsColumn = "                                            Details";

// The help buttons' rich-text tooltips.
inline constexpr const char* kIdentifyOptionsHelp =
    "<b>Volume Identify Options</b><hr>"
    "<p><b>Use Volume Table</b><br>This is fast mode for recovering data.<br>"
    "Select this if your volume table is intact.</p>"
    "<p><b>Search Volumes</b><br>This is deep and more efficient method<br>for recovering data , select this if<br>"
    "Partition Table is deleted or volume is missing.</p>";
inline constexpr const char* kSelectRangeHelp =
    "<b>Scan Control</b><hr>"
    "<p>Here select the disk area to scan. Don't change <br>if you want to scan the whole disk.</p>";

// What an extraction tells the user, and the question when a destination
// cannot be created.
inline constexpr const char* kChecksumErrorNotice = "Compress File CheckSum Error";
inline constexpr const char* kCompressedOpenNotice =
    "You cannot open the compressed file, although you can recover the compressed file(s).";
inline std::string createErrorQuestion(const std::string& path)
{
    return "Error creating file : " + path + ".  Continue Recovery ? ";
}
inline const char* noticeText(ExtractNotice notice)
{
    return notice == ExtractNotice::ChecksumError ? kChecksumErrorNotice : kCompressedOpenNotice;
}

} // namespace tamsin::app::text
