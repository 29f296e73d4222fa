#pragma once
// The wizard's texts for the volume search and the file search, as displayed
// (the blanks are part of the texts).

namespace tamsin::texts {

// The volume search: refused ranges and the status line.
inline constexpr const char* kBadStartMessage = "      Start sector value is not valid, It should be a positive number";
inline constexpr const char* kBadEndMessage = "      End sector value is not valid, It should be a positive number";
inline constexpr const char* kEndNotAfterStartMessage = "      End sector should be bigger than start sector";
inline constexpr const char* kSearchingStatus = "Searching for volumes. This may take long time. Pleae wait";

// The file search's one question.
inline constexpr const char* kStopSearchQuestion = "Do you want to stop file searching ?";

} // namespace tamsin::texts
