#pragma once
// Captions and button texts the dialogs show, as displayed.

namespace tamsin::ui::text {

inline constexpr const char* kMessageCaption = "Corvane Tamsin Novell";
inline constexpr const char* kUseFirstCopy = "Use First Copy";
inline constexpr const char* kUseSecondCopy = "Use Second Copy";
inline constexpr const char* kOk = "OK";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kAboutLine = "Corvane Tamsin Novell Version 4.02";

} // namespace tamsin::ui::text
