#pragma once
// Captions, button texts and messages the dialogs show, as displayed.

namespace tamsin::ui::text {

inline constexpr const char* kMessageCaption = "Corvane Tamsin Novell";

// The copy chooser.
inline constexpr const char* kFatChooserCaption = "Select File Allocation Table";
inline constexpr const char* kFatChooserMessage = "File Allocation Tables Mis-Matched !! \r\n\r\nPlease select the copy to use";
inline constexpr const char* kDetChooserCaption = "Select Directory Entry Table";
inline constexpr const char* kDetChooserMessage =
    "Directory Entry Tables Mis-Matched !! \r\n\r\nPlease select the copy to use";
inline constexpr const char* kUseFirstCopy = "Use First Copy";
inline constexpr const char* kUseSecondCopy = "Use Second Copy";

inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kAboutLine = "Corvane Tamsin Novell Version 4.02";

// Recovery progress and report.
inline constexpr const char* kSavingCaption = "Saving the data please wait";
inline constexpr const char* kStopSaving = "&Stop Saving";
inline constexpr const char* kSkipFile = "S&kip File";
inline constexpr const char* kRecoveryReportCaption = "Recovery Report";

// Find File(s).
inline constexpr const char* kFindCaption = "Find File(s)";
inline constexpr const char* kRecoverFoundFiles = "Recover Found Files...";
inline constexpr const char* kStartSearch = "&Start Search";
inline constexpr const char* kStopSearch = "S&top Search";

// File Filters.
inline constexpr const char* kFiltersCaption = "File Filters";
inline constexpr const char* kAdd = "&Add";
inline constexpr const char* kRemove = "&Remove";
inline constexpr const char* kClose = "&Close";
// Notices of a refused filter (the surrounding blanks are part of the texts).
inline constexpr const char* kTooManyFilters = "      You cannot add more Filters     ";
inline constexpr const char* kFilterTooLong = "      Filter too long     ";
inline constexpr const char* kBlankFilter = "      You can not add a blank entry.     ";
inline constexpr const char* kFilterExists = "      Filter already exists in the list     ";

// Restoring compressed files.
inline constexpr const char* kRestoreCaption = "Restoring Compressed Files, Please wait.";
inline constexpr const char* kFinish = "Finish";

// The damage report.
inline constexpr const char* kDamageReportCaption = "Damage Report";
inline constexpr const char* kStopDamageScan = "&Stop";
inline constexpr const char* kDamageScanRunning = "Reading the volume's tables and the data of every file...";

} // namespace tamsin::ui::text
