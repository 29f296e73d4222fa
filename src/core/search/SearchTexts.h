#pragma once
// Notices of the file filter table and the file search's one question, as
// displayed (the surrounding blanks are part of the texts).

namespace tamsin::texts {

inline constexpr const char* kTooManyFilters = "      You cannot add more Filters     ";
inline constexpr const char* kFilterTooLong = "      Filter too long     ";
inline constexpr const char* kBlankFilter = "      You can not add a blank entry.     ";
inline constexpr const char* kFilterExists = "      Filter already exists in the list     ";

inline constexpr const char* kStopSearchQuestion = "Do you want to stop file searching ?";

} // namespace tamsin::texts
