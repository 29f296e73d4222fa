#pragma once
// The status line and instruction texts the wizard shows for a mount's
// phases, as displayed (the blanks and line breaks are part of the texts).

namespace tamsin::texts {

inline constexpr const char* kReadingFirstFat = "Reading First FAT";
inline constexpr const char* kReadingSecondFat = "Reading Second FAT";
inline constexpr const char* kMatchingFat = "Matching FAT Copies";
inline constexpr const char* kReadingFirstDet = "Reading First Directory Entry Table";
inline constexpr const char* kReadingSecondDet = "Reading Second Directory Entry Table";
inline constexpr const char* kMatchingDet = "Matching Directory Entry Copies";
inline constexpr const char* kMountingPrefix = "Mounting ";
inline constexpr const char* kMountingSuffix = ", Please wait";
inline constexpr const char* kSearchingLostData = "Searching Lost Data ...";
inline constexpr const char* kCreatingTree = "Creating Tree Structure, Please wait";

inline constexpr const char* kMountingInstruction =
    "\r\n                Please Wait, Tamsin is mounting the selected file system. Once this process is completed, it "
    "will show you the                       data.";
inline constexpr const char* kBrowsingInstruction =
    "\r\n                Please select the file(s) and folder(s) to recover from right pane and copy using   Recover "
    "Selected      or                             Recover All options from the Recovery Menu.\r\n                You "
    "can open a file by Double Clicking it.";
inline constexpr const char* kSelectVolumeInstruction =
    "\r\n                1. Select the Volume to recover from left pane.\r\n                2. Click Next Button.";

} // namespace tamsin::texts
