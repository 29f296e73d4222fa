#pragma once
// The instruction texts the wizard shows as a mount starts and ends, as
// displayed (the blanks and line breaks are part of the texts).

namespace tamsin::texts {

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
